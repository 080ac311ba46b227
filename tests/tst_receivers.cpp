#include "mainwindow.h"
#include "nrvapi_fake.h"
#include "syslogintake.h"
#include "testsupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTextBlock>
#include <QUdpSocket>

#include <memory>
#include <thread>

// The start/stop control of both receivers, against the stand-in trap library.

namespace {

int countOf(const std::string &name)
{
    return NrvFake::count(name);
}

QStringList callsFrom(size_t first)
{
    QStringList list;
    const std::vector<std::string> calls = NrvFake::calls();
    for (size_t i = first; i < calls.size(); ++i)
        list << QString::fromStdString(calls[i]);
    return list;
}

} // namespace

class TestReceivers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { window.reset(); }

    void startRefusedByLibrary_data();
    void startRefusedByLibrary();
    void confirmedOnThirdPoll();
    void neverConfirmedGivesUpOnTheTwentySecondPoll();
    void stopWhileReceiving();
    void neitherEnabledShowsInformation();
    void autoStart_data();
    void autoStart();
    void busySyslogPort_data();
    void busySyslogPort();
    void syslogRebindsAfterStop();
    void lossesShowInToolTips();
    void syslogIntakeKeepsABurst();
    void frozenSocketTakesNothingMore_data();
    void frozenSocketTakesNothingMore();

private:
    void writeSettings(const QVariantMap &values);
    void makeWindow();
    QAction *action(const char *name) const { return window->findChild<QAction *>(name); }
    QLabel *label(const char *name) const { return window->findChild<QLabel *>(name); }
    void waitUntilReceiving();

    std::unique_ptr<TMainWindow> window;
    int snmpPort = 0;
    int syslogPort = 0;
};

void TestReceivers::init()
{
    NrvFake::reset();
    snmpPort = freeUdpPort();
    syslogPort = freeUdpPort();
    writeSettings({});
}

void TestReceivers::writeSettings(const QVariantMap &values)
{
    QVariantMap all{{"SnmpPort", snmpPort}, {"SyslogPort", syslogPort}, {"BalloonEnable", false}};
    all.insert(values);
    writeSettingsFile(all);
}

void TestReceivers::makeWindow()
{
    window = std::make_unique<TMainWindow>();
    window->show();
}

void TestReceivers::waitUntilReceiving()
{
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Recieving on UDP port " + QString::number(snmpPort));
}

void TestReceivers::startRefusedByLibrary_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("grantHint");

    QTest::newRow("busy") << 0 << "bind: Address already in use" << false;
    // The fake binds nothing: the port is only a number here.
    QTest::newRow("port below 1024 not granted") << 162 << "bind: Operation not permitted" << true;
    QTest::newRow("refused above 1024") << 0 << "bind: Permission denied" << false;
}

void TestReceivers::startRefusedByLibrary()
{
    QFETCH(int, port);
    QFETCH(QString, reason);
    QFETCH(bool, grantHint);
    if (port)
        snmpPort = port;
    writeSettings({{"SyslogEnable", false}});
    NrvFake::setStartResult(-1, reason.toStdString());
    makeWindow();
    action("actionStartStop")->trigger();

    QCOMPARE(label("snmpStatusLabel")->text(), "Failed, UDP port " + QString::number(snmpPort) + " probably busy");
    // The system's reason, and how to get the right to a port below 1024.
    const QString toolTip = label("snmpStatusLabel")->toolTip();
    QVERIFY2(toolTip.startsWith(reason), qPrintable(toolTip));
    QCOMPARE(toolTip.contains("group \"ventrix\"") && toolTip.contains("log in again"), grantHint);
    QCOMPARE(callsFrom(2), (QStringList{"nrvStart(0.0.0.0," + QString::number(snmpPort) + ")"}));
    // Not refreshed: the click's checked state stays until something refreshes it.
    QVERIFY(action("actionStartStop")->isChecked());
    QVERIFY(action("actionStartStop")->isEnabled());
    QTest::qWait(300);
    QCOMPARE(countOf("nrvStatus"), 0);
}

void TestReceivers::confirmedOnThirdPoll()
{
    NrvFake::setConfirmOnPoll(3);
    makeWindow();
    QAction *startStop = action("actionStartStop");
    QElapsedTimer clock;
    clock.start();
    startStop->trigger();

    QCOMPARE(label("snmpStatusLabel")->text(), "Starting...");
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
    QVERIFY(startStop->isChecked());
    QVERIFY(!startStop->isEnabled());
    QVERIFY(!action("actionSettings")->isEnabled());
    QCOMPARE(startStop->toolTip(), "Stop reciever");

    waitUntilReceiving();
    QVERIFY2(clock.elapsed() >= 550, "three polls 200 ms apart");
    QVERIFY(startStop->isEnabled());
    QVERIFY(action("actionSettings")->isEnabled());
    QVERIFY(startStop->isChecked());
    QCOMPARE(callsFrom(2), (QStringList{"nrvStart(0.0.0.0," + QString::number(snmpPort) + ")", "nrvStatus", "nrvStatus",
                                        "nrvStatus", "nrvInitCallbackTable", "nrvSetCallbacks"}));
    const TrapCallbackTable table = NrvFake::callbacks();
    QVERIFY(table.onUnknown && table.onAlarm && table.onBinaryInputChange && table.onSensorChange && table.onStartup &&
            table.onLinkup);
}

void TestReceivers::neverConfirmedGivesUpOnTheTwentySecondPoll()
{
    writeSettings({{"SyslogEnable", false}});
    NrvFake::setConfirmOnPoll(0);
    makeWindow();
    action("actionStartStop")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(label("snmpStatusLabel")->text(),
                              "Failed, UDP port " + QString::number(snmpPort) + " probably busy", 8000);
    QCOMPARE(countOf("nrvStatus"), 22);
    QCOMPARE(callsFrom(2).last(), "nrvStop");
    QVERIFY(!action("actionStartStop")->isChecked());
    QVERIFY(action("actionStartStop")->isEnabled());
    QCOMPARE(action("actionStartStop")->toolTip(), "Start reciever");
    QTest::qWait(400);
    QCOMPARE(countOf("nrvStatus"), 22);
}

void TestReceivers::stopWhileReceiving()
{
    makeWindow();
    QAction *startStop = action("actionStartStop");
    startStop->trigger();
    waitUntilReceiving();

    QElapsedTimer stopping;
    stopping.start();
    startStop->trigger(); // unchecks
    QCOMPARE(label("snmpStatusLabel")->text(), "Stopping...");
    QCOMPARE(label("syslogStatusLabel")->text(), "Disabled");
    QCOMPARE(callsFrom(2).last(), "nrvStop");
    QVERIFY(!startStop->isEnabled());
    QVERIFY(!action("actionSettings")->isEnabled());
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Disabled");
    QVERIFY2(stopping.elapsed() >= 1900, "two seconds (a coarse timer fires up to 5 % early)");
    QVERIFY(startStop->isEnabled());
    QVERIFY(action("actionSettings")->isEnabled());
    QVERIFY(!startStop->isChecked());
    QCOMPARE(startStop->toolTip(), "Start reciever");
}

void TestReceivers::neitherEnabledShowsInformation()
{
    writeSettings({{"SnmpEnable", false}, {"SyslogEnable", false}});
    makeWindow();
    SeenBox box;
    captureNextBox(&box);
    action("actionStartStop")->trigger();
    QVERIFY(box.shown);
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.title, "Information");
    QCOMPARE(box.text, "Neither SNMP traps reciever nor syslog server are enabled!");
    QVERIFY(!action("actionStartStop")->isChecked());
    QCOMPARE(callsFrom(2), QStringList());
}

void TestReceivers::autoStart_data()
{
    QTest::addColumn<bool>("snmp");
    QTest::addColumn<bool>("syslog");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("libraryStarted");

    QTest::newRow("both") << true << true << true << true;
    QTest::newRow("only syslog") << false << true << true << false;
    QTest::newRow("none: nothing, and no box") << false << false << false << false;
}

void TestReceivers::autoStart()
{
    QFETCH(bool, snmp);
    QFETCH(bool, syslog);
    writeSettings({{"AutoStart", true}, {"SnmpEnable", snmp}, {"SyslogEnable", syslog}});
    bool boxShown = false;
    onNextModal([&](QWidget *) { boxShown = true; }, 20);
    window = std::make_unique<TMainWindow>();
    QTest::qWait(250);
    QVERIFY(!boxShown);
    QTEST(action("actionStartStop")->isChecked(), "checked");
    QTEST(countOf("nrvStart(0.0.0.0," + std::to_string(snmpPort) + ")") == 1, "libraryStarted");
    QCOMPARE(label("syslogStatusLabel")->text(),
             syslog ? "Recieving on UDP port " + QString::number(syslogPort) : QString("Disabled"));
}

void TestReceivers::busySyslogPort_data()
{
    QTest::addColumn<QHostAddress>("held");
    QTest::addColumn<bool>("busy");
    QTest::newRow("held for IPv4") << QHostAddress(QHostAddress::AnyIPv4) << true;
    // IPv4 senders are taken as before; only the IPv6 ones go to the other program.
    QTest::newRow("held for IPv6 only") << QHostAddress(QHostAddress::LocalHostIPv6) << false;
}

void TestReceivers::busySyslogPort()
{
    QFETCH(QHostAddress, held);
    QFETCH(bool, busy);
    QUdpSocket holder;
    QVERIFY(holder.bind(held, quint16(syslogPort)));
    writeSettings({{"SnmpEnable", false}});
    makeWindow();
    action("actionStartStop")->trigger();
    QCOMPARE(label("syslogStatusLabel")->text(),
             busy ? "Failed, UDP port " + QString::number(syslogPort) + " probably busy"
                  : "Recieving on UDP port " + QString::number(syslogPort));
    if (busy)
        QVERIFY(!label("syslogStatusLabel")->toolTip().isEmpty());
    QCOMPARE(action("actionStartStop")->isChecked(), !busy);
}

void TestReceivers::syslogRebindsAfterStop()
{
    writeSettings({{"SnmpEnable", false}});
    makeWindow();
    QAction *startStop = action("actionStartStop");
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    QUdpSocket sender;
    for (int round = 0; round < 3; ++round) {
        startStop->trigger();
        QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
        // Each start receives; a line ending in CR is a paragraph of its own, as the
        // view splits the CR off.
        sender.writeDatagram("round " + QByteArray::number(round) + "\r", QHostAddress::LocalHost, quint16(syslogPort));
        QTRY_COMPARE(view->blockCount(), 2 * (round + 1));
        QVERIFY(view->document()->findBlockByNumber(2 * round).text().endsWith(";round " + QString::number(round)));
        startStop->trigger();
        QCOMPARE(label("syslogStatusLabel")->text(), "Disabled");
        // The port is free again at once.
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::AnyIPv4, quint16(syslogPort)));
    }
}

void TestReceivers::lossesShowInToolTips()
{
    // What the receivers count since their start shows as soon as it changes, and stays
    // after a stop; the status text stays as it is.
    makeWindow();
    NrvStatistics stats{};
    stats.datagrams = 100; // before this start
    stats.kernelDropped = 1;
    NrvFake::setStatistics(stats);
    action("actionStartStop")->trigger();
    waitUntilReceiving();
    stats.datagrams = 120;
    stats.kernelDropped = 4;
    stats.overflowed = 2;
    stats.abandoned = 4;
    NrvFake::setStatistics(stats);
    QTRY_COMPARE(label("snmpStatusLabel")->toolTip(),
                 "20 datagrams received since the receiver was started, 9 lost: 3 dropped by the system with the "
                 "receive buffer full, 2 beyond the memory bound, 4 left unhandled when a stop ran out of time.");
    QCOMPARE(label("snmpStatusLabel")->text(), "Recieving on UDP port " + QString::number(snmpPort));
    QUdpSocket sender;
    for (int i = 0; i < 2; ++i)
        sender.writeDatagram("counted", QHostAddress::LocalHost, quint16(syslogPort));
    const QString syslogCounts = "2 datagrams received since the receiver was started, none lost.";
    QTRY_COMPARE(label("syslogStatusLabel")->toolTip(), syslogCounts);
    const QString snmpCounts = label("snmpStatusLabel")->toolTip();
    action("actionStartStop")->trigger();
    QCOMPARE(label("syslogStatusLabel")->text(), "Disabled");
    QCOMPARE(label("syslogStatusLabel")->toolTip(), syslogCounts);
    QCOMPARE(label("snmpStatusLabel")->toolTip(), snmpCounts);
    // The next start counts from 0 (the SNMP receiver may start again once its stop is done).
    QTRY_VERIFY_WITH_TIMEOUT(action("actionStartStop")->isEnabled(), 5000);
    action("actionStartStop")->trigger();
    waitUntilReceiving();
    const QString none = "0 datagrams received since the receiver was started, none lost.";
    QCOMPARE(label("syslogStatusLabel")->toolTip(), none);
    QCOMPARE(label("snmpStatusLabel")->toolTip(), none);

    // The syslog side's own: sent while the window is busy until the kernel drops or more
    // came than memory (64 MiB) and the kernel's buffer hold, what is not shown is counted;
    // a last one, once lines flow, brings the kernel's count in.
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    const auto shown = [&] { return int(view->toPlainText().count(";burst")); };
    const auto lost = [&] {
        static const QRegularExpression count("(\\d+) lost");
        return count.match(label("syslogStatusLabel")->toolTip()).captured(1).toInt();
    };
    const QByteArray datagram = "burst" + QByteArray(65000, '\0'); // a short line
    int sent = 0;
    for (auto kernel = socketQueue(syslogPort); kernel.second == 0 && sent * 65101LL < (66 << 20) + kernel.first;)
        if (sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(syslogPort)) > 0 && ++sent % 16 == 0)
            kernel = socketQueue(syslogPort);
    QTRY_VERIFY(shown() > 0);
    sent += int(sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(syslogPort)) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(shown() + lost(), sent, 20000);
    QVERIFY2(lost() > 0, qPrintable(label("syslogStatusLabel")->toolTip()));

    // Reception that ends on its own says so, with the system's reason, instead of
    // "Recieving" while nothing more arrives.
    NrvFake::failReception("Network is down");
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Failed, UDP port " + QString::number(snmpPort) + " probably busy");
    QCOMPARE(label("snmpStatusLabel")->toolTip(), "Network is down");
    QCOMPARE(callsFrom(2).last(), "nrvStop");
    QVERIFY(action("actionStartStop")->isEnabled());
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
}

void TestReceivers::syslogIntakeKeepsABurst()
{
    // Several blocks' worth arriving while earlier datagrams are taken out: every one
    // comes out whole, NUL-terminated and in order (under the sanitizers: from memory
    // that is still its own).
    TSyslogIntake intake;
    QVERIFY(intake.bind(quint16(syslogPort)));
    const int sent = 12000;
    std::thread sender([this] {
        QUdpSocket socket;
        for (int i = 0; i < sent; ++i) {
            const QByteArray datagram = QByteArray::number(i) + ' ' + QByteArray(200, char('a' + i % 26));
            socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(syslogPort));
        }
    });
    int received = 0;
    int last = -1;
    QElapsedTimer clock;
    clock.start();
    while (quint64(received) + intake.kernelDropped() < quint64(sent) && clock.elapsed() < 20000) {
        const std::vector<TSyslogIntake::Arrival> arrivals = intake.take(256);
        if (arrivals.empty())
            QThread::msleep(1);
        for (const TSyslogIntake::Arrival &arrival : arrivals) {
            const int number = arrival.bytes.left(arrival.bytes.indexOf(' ')).toInt();
            QVERIFY2(number > last, arrival.bytes.constData());
            last = number;
            QCOMPARE(qstrlen(arrival.bytes.constData()), size_t(arrival.bytes.size()));
            QCOMPARE(arrival.bytes.mid(arrival.bytes.indexOf(' ') + 1), QByteArray(200, char('a' + number % 26)));
            ++received;
        }
    }
    sender.join();
    QCOMPARE(quint64(received) + intake.kernelDropped(), quint64(sent));
    QVERIFY(received > sent / 2);
}

void TestReceivers::frozenSocketTakesNothingMore_data()
{
    QTest::addColumn<QHostAddress>("to");
    QTest::newRow("IPv4 sender") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("IPv6 sender") << QHostAddress(QHostAddress::LocalHostIPv6);
}

void TestReceivers::frozenSocketTakesNothingMore()
{
    // What a stop builds on: the socket keeps what it holds and takes nothing more.
    QFETCH(QHostAddress, to);
    Platform::DatagramSocket socket;
    QString error;
    QVERIFY2(socket.bind(quint16(syslogPort), 1 << 20, &error), qPrintable(error));
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram("before", to, quint16(syslogPort)), 6);
    QTest::qWait(20);
    socket.freeze();
    QCOMPARE(sender.writeDatagram("after", to, quint16(syslogPort)), 5);
    QTest::qWait(20);
    QByteArrayList got;
    socket.receive([](void *list, const char *data,
                      qsizetype size) { static_cast<QByteArrayList *>(list)->append(QByteArray(data, size)); },
                   &got, false);
    QCOMPARE(got, QByteArrayList{"before"});
    QCOMPARE(socket.discardHeld(), quint64(0));
}

QTEST_MAIN(TestReceivers)
#include "tst_receivers.moc"
