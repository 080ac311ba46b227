#include "nrvapi_fake.h"
#include "trapcallbacks.h"
#include "trapintake.h"

#include <QDateTime>
#include <QTest>

#include <atomic>

#include <cstring>
#include <thread>

// What the six callbacks hand to the window through the trap intake, and how often the
// window is woken for it.

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
    void init()
    {
        trapIntake().take(1 << 30);
        trapIntake().announceNext();
    }

    void eachCallbackPostsItsKindFromAnotherThread_data();
    void eachCallbackPostsItsKindFromAnotherThread();
    void concurrentCallbacksKeepEveryEventWithOneWakeUp();
};

void TestTrapCallbacks::eachCallbackPostsItsKindFromAnotherThread_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("description");
    // The library's full sender where the record's 16 bytes could not hold it.
    QTest::addColumn<QString>("fullSender");

    const QString ipv6 = "2001:db8:85a3::8a2e:370:7334";
    QTest::newRow("unknown") << 0 << 5 << "7"
                             << "Unknown SNMP trap"
                             << "";
    QTest::newRow("alarm") << 1 << 2 << "0"
                           << "Alarm SNMP trap"
                           << "";
    QTest::newRow("binary input") << 2 << 0 << "1"
                                  << "Binary input change SNMP trap"
                                  << "";
    QTest::newRow("sensor") << 3 << 1 << "2"
                            << "Sensor change SNMP trap"
                            << "";
    QTest::newRow("sensor, IPv6 sender") << 3 << 1 << "2"
                                         << "Sensor change SNMP trap" << ipv6;
    QTest::newRow("startup") << 4 << 3 << "6"
                             << "Startup SNMP trap"
                             << "";
    QTest::newRow("linkup, IPv6 sender") << 5 << 4 << "5"
                                         << "Linkup SNMP trap" << ipv6;
}

void TestTrapCallbacks::eachCallbackPostsItsKindFromAnotherThread()
{
    QFETCH(int, which);
    QFETCH(QString, fullSender);
    const QByteArray full = fullSender.toLatin1();
    NrvFake::setCallbackSender(full.isEmpty() ? nullptr : full.constData());
    const auto unknown = recordFrom<UnknownTrapRecord>("10.0.0.1 IF-MIB::linkDown");
    const auto alarm = recordFrom<AlarmTrapRecord>("10.0.0.2");
    const auto input = recordFrom<BinaryInputTrapRecord>("10.0.0.3");
    const auto sensor = recordFrom<SensorTrapRecord>(full.isEmpty() ? "10.0.0.4" : "");
    const auto shortRecord = recordFrom<ShortTrapRecord>(full.isEmpty() ? "10.0.0.5" : "");

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
    NrvFake::setCallbackSender(nullptr);
    const std::vector<TTrapIntake::Trap> traps = trapIntake().take(10);
    QCOMPARE(traps.size(), size_t(1));
    const TTrapIntake::Trap &trap = traps.front();
    QTEST(trap.kind, "kind");
    QTEST(eventColumn(trap.text, 8), "code");
    QTEST(eventColumn(trap.text, 14), "description");
    QCOMPARE(trap.text.count(';'), 11);
    QVERIFY2(full.isEmpty() ? eventColumn(trap.text, 11).startsWith("10.0.0.") : eventColumn(trap.text, 11) == full,
             qPrintable(trap.text));
    QVERIFY(qAbs(trap.msecsSinceEpoch - QDateTime::currentMSecsSinceEpoch()) < 60000);
}

void TestTrapCallbacks::concurrentCallbacksKeepEveryEventWithOneWakeUp()
{
    // Two library threads post at once while the window takes in between: every event
    // comes out once, each thread's in order, and the window is woken again only after it
    // has asked to be.
    std::atomic<int> wakeUps{0};
    const QMetaObject::Connection counting = QObject::connect(
        &trapIntake(), &TTrapIntake::readyRead, &trapIntake(), [&wakeUps] { ++wakeUps; }, Qt::DirectConnection);
    constexpr int PerThread = 2000;
    auto run = [](const char *sender) {
        auto record = recordFrom<AlarmTrapRecord>(sender);
        for (int i = 0; i < PerThread; ++i) {
            record.alarmId = quint32(i);
            onAlarmTrap(&record);
        }
    };
    std::thread a(run, "10.0.0.1"), b(run, "10.0.0.2");
    QMap<QString, int> next;
    int taken = 0;
    int asked = 0;
    while (taken < 2 * PerThread) {
        const std::vector<TTrapIntake::Trap> traps = trapIntake().take(100);
        for (const TTrapIntake::Trap &trap : traps) {
            const QString sender = eventColumn(trap.text, 11);
            QCOMPARE(eventColumn(trap.text, 10).toInt(), next[sender]++);
        }
        taken += int(traps.size());
        if (traps.empty() && trapIntake().announceNext())
            ++asked;
    }
    a.join();
    b.join();
    QObject::disconnect(counting);
    QCOMPARE(next.value("10.0.0.1"), PerThread);
    QCOMPARE(next.value("10.0.0.2"), PerThread);
    QVERIFY2(wakeUps <= asked + 1, qPrintable(QString("%1 wake-ups for %2 requests").arg(wakeUps).arg(asked)));
}

QTEST_GUILESS_MAIN(TestTrapCallbacks)
#include "tst_trapcallbacks.moc"
