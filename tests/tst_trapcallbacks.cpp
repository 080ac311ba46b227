#include "trapcallbacks.h"

#include <QTest>
#include <QThread>

#include <cstring>
#include <thread>

// What the six callbacks post, from which thread, and to which slot.

class SnmpSink : public QObject
{
    Q_OBJECT
public:
    struct Call {
        QString text;
        int kind;
        QThread *thread;
    };
    QList<Call> calls;
public slots:
    void onSnmp(QString aLogStr, int aTrapType) { calls << Call{aLogStr, aTrapType, QThread::currentThread()}; }
};

namespace {

template <typename Record> Record recordFrom(const char *sender)
{
    Record record{};
    std::strncpy(record.sender, sender, sizeof record.sender - 1);
    return record;
}

// Column n (1-based) of an event text, which starts at the line's third column.
QString eventColumn(const QString &text, int lineColumn)
{
    return text.split(';').value(lineColumn - 3);
}

} // namespace

class TestTrapCallbacks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { gMainWindow = &sink; }
    void init() { sink.calls.clear(); }

    void eachCallbackPostsItsKindFromAnotherThread_data();
    void eachCallbackPostsItsKindFromAnotherThread();
    void tableSlots();
    void concurrentCallbacksKeepEveryEvent();

private:
    SnmpSink sink;
};

void TestTrapCallbacks::eachCallbackPostsItsKindFromAnotherThread_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("description");

    QTest::newRow("unknown") << 0 << 5 << "7"
                             << "Unknown SNMP trap";
    QTest::newRow("alarm") << 1 << 2 << "0"
                           << "Alarm SNMP trap";
    QTest::newRow("binary input") << 2 << 0 << "1"
                                  << "Binary input change SNMP trap";
    QTest::newRow("sensor") << 3 << 1 << "2"
                            << "Sensor change SNMP trap";
    QTest::newRow("startup") << 4 << 3 << "6"
                             << "Startup SNMP trap";
    QTest::newRow("linkup") << 5 << 4 << "5"
                            << "Linkup SNMP trap";
}

void TestTrapCallbacks::eachCallbackPostsItsKindFromAnotherThread()
{
    QFETCH(int, which);
    const auto unknown = recordFrom<UnknownTrapRecord>("10.0.0.1 IF-MIB::linkDown");
    const auto alarm = recordFrom<AlarmTrapRecord>("10.0.0.2");
    const auto input = recordFrom<BinaryInputTrapRecord>("10.0.0.3");
    const auto sensor = recordFrom<SensorTrapRecord>("10.0.0.4");
    const auto shortRecord = recordFrom<ShortTrapRecord>("10.0.0.5");

    std::thread library([&] {
        switch (which) {
        case 0: onUnknownTrap(&unknown); break;
        case 1: onAlarmTrap(&alarm); break;
        case 2: onBinaryInputChangeTrap(&input); break;
        case 3: onSensorChangeTrap(&sensor); break;
        case 4: onStartupTrap(&shortRecord); break;
        case 5: onLinkupTrap(&shortRecord); break;
        }
    });
    library.join();
    // Posted, not called: nothing has reached the slot before the event loop runs.
    QCOMPARE(sink.calls.size(), 0);
    QTRY_COMPARE(sink.calls.size(), 1);

    const SnmpSink::Call call = sink.calls.first();
    QCOMPARE(call.thread, QThread::currentThread());
    QTEST(call.kind, "kind");
    QTEST(eventColumn(call.text, 8), "code");
    QTEST(eventColumn(call.text, 14), "description");
    QCOMPARE(call.text.count(';'), 11);
    QVERIFY2(eventColumn(call.text, 11).startsWith("10.0.0."), qPrintable(call.text));
}

void TestTrapCallbacks::tableSlots()
{
    TrapCallbackTable table{};
    fillTrapCallbackTable(&table);
    QVERIFY(table.onUnknown == &onUnknownTrap);
    QVERIFY(table.onAlarm == &onAlarmTrap);
    QVERIFY(table.onBinaryInputChange == &onBinaryInputChangeTrap);
    QVERIFY(table.onSensorChange == &onSensorChangeTrap);
    QVERIFY(table.onStartup == &onStartupTrap);
    QVERIFY(table.onLinkup == &onLinkupTrap);
}

void TestTrapCallbacks::concurrentCallbacksKeepEveryEvent()
{
    constexpr int PerThread = 2000;
    auto run = [](const char *sender) {
        const auto record = recordFrom<ShortTrapRecord>(sender);
        for (int i = 0; i < PerThread; ++i)
            onStartupTrap(&record);
    };
    std::thread a(run, "10.0.0.1"), b(run, "10.0.0.2");
    a.join();
    b.join();
    QTRY_COMPARE(sink.calls.size(), 2 * PerThread);
    int fromA = 0;
    for (const SnmpSink::Call &call : sink.calls)
        fromA += eventColumn(call.text, 11) == "10.0.0.1";
    QCOMPARE(fromA, PerThread);
}

QTEST_GUILESS_MAIN(TestTrapCallbacks)
#include "tst_trapcallbacks.moc"
