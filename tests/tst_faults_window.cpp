#include "faultsupport.h"
#include "mainwindow.h"
#include "testsupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <memory>

// The window with the real trap library, driven like an impatient user while syslog and
// traps keep arriving: start and stop pressed over and over, settings accepted during
// reception, and settings files whose ports are no ports.

using Faults::boundUdpPorts;
using Faults::sequences;
using Faults::startFlood;
using Faults::verdict;

namespace {

QString receiving(int port)
{
    return "Recieving on UDP port " + QString::number(port);
}

QString failed(int port)
{
    return "Failed, UDP port " + QString::number(port) + " probably busy";
}

bool portFree(int port)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, quint16(port));
}

} // namespace

class TestFaultsWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void portsThatAreNoPorts_data();
    void portsThatAreNoPorts();
    void startStopPressedRepeatedly();
    void settingsAcceptedWhileReceiving();
    void stopBeforeTheDeferredRestart();

private:
    void writeIni(const QByteArray &body);
    void makeWindow();
    void startBoth();
    void runSettings(int newSnmpPort, int newSyslogPort);
    QAction *action(const char *name) const { return window->findChild<QAction *>(name); }
    QString label(const char *name) const { return window->findChild<QLabel *>(name)->text(); }
    QString logFile() const { return dataDir + "/log.txt"; }
    // Each stream of prefix in the log: no duplicates, in order.
    QString duplicatesOrDisorder(const QString &prefix) const;

    std::unique_ptr<TMainWindow> window;
    int snmpPort = 0;
    int syslogPort = 0;
    QString dataDir;
};

void TestFaultsWindow::init()
{
    snmpPort = freeUdpPort();
    syslogPort = freeUdpPort();
    dataDir = QDir::homePath() + "/data";
    QDir(dataDir).removeRecursively();
    writeIni("[General]\nSnmpPort=" + QByteArray::number(snmpPort) + "\nSyslogPort=" + QByteArray::number(syslogPort) +
             "\nBalloonEnable=false\nDataDir=" + dataDir.toUtf8() + "\n");
}

void TestFaultsWindow::cleanup()
{
    window.reset();
}

void TestFaultsWindow::writeIni(const QByteArray &body)
{
    QDir().mkpath(QFileInfo(configFile()).absolutePath());
    QFile file(configFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(body);
}

void TestFaultsWindow::makeWindow()
{
    window = std::make_unique<TMainWindow>();
    window->show();
}

void TestFaultsWindow::startBoth()
{
    action("actionStartStop")->trigger();
    QTRY_COMPARE(label("snmpStatusLabel"), receiving(snmpPort));
    QCOMPARE(label("syslogStatusLabel"), receiving(syslogPort));
}

void TestFaultsWindow::runSettings(int newSnmpPort, int newSyslogPort)
{
    const QString title = runSettingsDialog(action("actionSettings"), [&](QDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEditSnmp")->setText(QString::number(newSnmpPort));
        dialog->findChild<QLineEdit *>("lineEditSyslog")->setText(QString::number(newSyslogPort));
    });
    QVERIFY(!title.isEmpty());
}

QString TestFaultsWindow::duplicatesOrDisorder(const QString &prefix) const
{
    QString problems;
    for (const char *stream : {"S", "T"}) {
        const QList<int> seq = sequences({logFile()}, (prefix + stream).toLatin1());
        const QSet<int> unique(seq.begin(), seq.end());
        if (unique.size() != seq.size() || !std::is_sorted(seq.begin(), seq.end()))
            problems += QString("%1%2: %3 lines, %4 distinct, sorted %5; ")
                            .arg(prefix, stream)
                            .arg(seq.size())
                            .arg(unique.size())
                            .arg(std::is_sorted(seq.begin(), seq.end()));
    }
    return problems;
}

void TestFaultsWindow::portsThatAreNoPorts_data()
{
    QTest::addColumn<QByteArray>("snmp");
    QTest::addColumn<QByteArray>("syslog");
    QTest::addColumn<int>("shownSnmp");
    QTest::addColumn<int>("shownSyslog");
    QTest::newRow("not numbers") << QByteArray("abc") << QByteArray("5l4") << 0 << 0;
    QTest::newRow("huge numbers") << QByteArray("99999999999999999999") << QByteArray("4294967809") << 0 << 0;
    QTest::newRow("zero") << QByteArray("0") << QByteArray("0") << 0 << 0;
    QTest::newRow("out of range") << QByteArray("70000") << QByteArray("65536") << 70000 << 65536;
    QTest::newRow("negative") << QByteArray("-1") << QByteArray("-514") << -1 << -514;
}

void TestFaultsWindow::portsThatAreNoPorts()
{
    QFETCH(QByteArray, snmp);
    QFETCH(QByteArray, syslog);
    QFETCH(int, shownSnmp);
    QFETCH(int, shownSyslog);
    writeIni("[General]\nAutoStart=true\nSnmpPort=" + snmp + "\nSyslogPort=" + syslog +
             "\nBalloonEnable=false\nDataDir=" + dataDir.toUtf8() + "\n");
    makeWindow();
    // Refused at once, and said so, instead of receiving on a port nobody configured.
    QCOMPARE(label("snmpStatusLabel"), failed(shownSnmp));
    QCOMPARE(label("syslogStatusLabel"), failed(shownSyslog));
    QVERIFY(!window->findChild<QLabel *>("syslogStatusLabel")->toolTip().isEmpty());
    QVERIFY(!action("actionStartStop")->isChecked());
    QVERIFY(action("actionStartStop")->isEnabled());
    QCOMPARE(boundUdpPorts(QCoreApplication::applicationPid()), QSet<int>());
}

void TestFaultsWindow::startStopPressedRepeatedly()
{
    makeWindow();
    QProcess syslogFlood, trapFlood;
    startFlood(syslogFlood, "syslog", syslogPort, 20000, 1000, 0, "tapS");
    startFlood(trapFlood, "trap", snmpPort, 20000, 1000, 0, "tapT");

    QAction *startStop = action("actionStartStop");
    QElapsedTimer clock;
    clock.start();
    int presses = 0;
    while (clock.elapsed() < 12000) {
        if (startStop->isEnabled()) {
            startStop->trigger();
            ++presses;
        } else {
            startStop->trigger(); // a disabled button does nothing
        }
        // Whenever the button can be pressed, the status bar says what it promises.
        if (startStop->isEnabled()) {
            const bool on = startStop->isChecked();
            QCOMPARE(label("snmpStatusLabel"), on ? receiving(snmpPort) : QString("Disabled"));
            QCOMPARE(label("syslogStatusLabel"), on ? receiving(syslogPort) : QString("Disabled"));
        }
        QTest::qWait(QRandomGenerator::global()->bounded(1, 80));
    }
    QVERIFY2(presses >= 6, qPrintable(QString::number(presses)));

    // The last start is not lost: after it, everything sent arrives.
    QTRY_VERIFY_WITH_TIMEOUT(startStop->isEnabled(), 5000);
    if (!startStop->isChecked())
        startStop->trigger();
    QTRY_COMPARE(label("snmpStatusLabel"), receiving(snmpPort));
    QCOMPARE(label("syslogStatusLabel"), receiving(syslogPort));
    syslogFlood.kill();
    trapFlood.kill();
    syslogFlood.waitForFinished();
    trapFlood.waitForFinished();
    QProcess s, t;
    startFlood(s, "syslog", syslogPort, 500, 1000, 0, "lastS");
    startFlood(t, "trap", snmpPort, 500, 1000, 0, "lastT");
    QVERIFY(
        QTest::qWaitFor([&] { return s.state() == QProcess::NotRunning && t.state() == QProcess::NotRunning; }, 30000));
    for (const char *tag : {"lastS", "lastT"})
        QTRY_COMPARE(verdict(sequences({logFile()}, tag), 0, 500), QString());
    QCOMPARE(duplicatesOrDisorder("tap"), QString());

    startStop->trigger();
    QCOMPARE(label("snmpStatusLabel"), QString("Stopping..."));
    QCOMPARE(label("syslogStatusLabel"), QString("Disabled"));
    QTRY_COMPARE_WITH_TIMEOUT(label("snmpStatusLabel"), QString("Disabled"), 4000);
    QVERIFY(!startStop->isChecked());
    QVERIFY(portFree(snmpPort));
    QVERIFY(portFree(syslogPort));
}

void TestFaultsWindow::settingsAcceptedWhileReceiving()
{
    makeWindow();
    startBoth();
    QProcess syslogFlood, trapFlood;
    startFlood(syslogFlood, "syslog", syslogPort, 3000, 1000, 0, "setS");
    startFlood(trapFlood, "trap", snmpPort, 3000, 1000, 0, "setT");
    QTest::qWait(1000);

    const int newSnmp = freeUdpPort();
    const int newSyslog = freeUdpPort();
    runSettings(newSnmp, newSyslog);
    QCOMPARE(label("snmpStatusLabel"), QString("Stopping..."));
    QCOMPARE(label("syslogStatusLabel"), receiving(newSyslog));
    QTRY_COMPARE_WITH_TIMEOUT(label("snmpStatusLabel"), receiving(newSnmp), 5000);
    QVERIFY(action("actionStartStop")->isChecked());
    QVERIFY(action("actionStartStop")->isEnabled());
    QVERIFY(portFree(snmpPort));
    QVERIFY(portFree(syslogPort));

    QVERIFY(QTest::qWaitFor([&] { return syslogFlood.state() == QProcess::NotRunning; }, 30000));
    QVERIFY(QTest::qWaitFor([&] { return trapFlood.state() == QProcess::NotRunning; }, 30000));
    QProcess s, t;
    startFlood(s, "syslog", newSyslog, 500, 1000, 0, "newS");
    startFlood(t, "trap", newSnmp, 500, 1000, 0, "newT");
    for (const char *tag : {"newS", "newT"})
        QTRY_COMPARE_WITH_TIMEOUT(verdict(sequences({logFile()}, tag), 0, 500), QString(), 15000);
    QCOMPARE(duplicatesOrDisorder("set"), QString());
}

void TestFaultsWindow::stopBeforeTheDeferredRestart()
{
    makeWindow();
    startBoth();
    QProcess syslogFlood;
    startFlood(syslogFlood, "syslog", syslogPort, 5000, 1000, 0, "defS");
    const int newSnmp = freeUdpPort();
    runSettings(newSnmp, syslogPort);
    QCOMPARE(label("snmpStatusLabel"), QString("Stopping..."));
    // Two seconds later the stop has settled and the button can be pressed again; the new
    // start is still half a second away. Stop now.
    QTRY_VERIFY_WITH_TIMEOUT(action("actionStartStop")->isEnabled(), 3000);
    QVERIFY(action("actionStartStop")->isChecked());
    action("actionStartStop")->trigger();
    QCOMPARE(label("syslogStatusLabel"), QString("Disabled"));
    QTest::qWait(1500);
    QCOMPARE(label("snmpStatusLabel"), QString("Disabled"));
    QCOMPARE(label("syslogStatusLabel"), QString("Disabled"));
    QVERIFY(!action("actionStartStop")->isChecked());
    QVERIFY(portFree(newSnmp));

    // And a start after that is a normal start on the new port.
    action("actionStartStop")->trigger();
    QTRY_COMPARE(label("snmpStatusLabel"), receiving(newSnmp));
    QCOMPARE(label("syslogStatusLabel"), receiving(syslogPort));
    syslogFlood.kill();
    syslogFlood.waitForFinished();
}

QTEST_MAIN(TestFaultsWindow)
#include "tst_faults_window.moc"
