#include "netsupport.h"
#include "platform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

#include <atomic>
#include <csignal>
#include <thread>

// The real program, started as a user would start it (offscreen here), fed by real
// clients: logger and snmptrap, plus raw datagrams of our own.

namespace {

const char Mac[] = "00:11:22:aa:bb:cc";
const char Marker[] = "nrvtrrec_install_uninstall_mutex";
const QString Device = "1.3.6.1.4.1.32473.1";
QString object(int n)
{
    return Device + ".1." + QString::number(n) + ".0";
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void syslogFromLogger_data();
    void syslogFromLogger();
    void rawSyslogDatagrams();
    void trapsOfEveryKind_data();
    void trapsOfEveryKind();
    void unknownTrapsFilteredByDefault();
    void informIsAnswered();
    void ignoredHangUpStaysIgnored();
    // Last: it ends the program.
    void endOfTheProgram();

private:
    QStringList logLines() const;
    // Waits for a line ending in suffix; returns it.
    QString waitForLineEndingWith(const QString &suffix, int timeoutMs = 5000);
    void sendSyslog(const QByteArray &datagram);
    void snmptrap(const QStringList &args);

    QProcess program;
    QString dataDir;
    int snmpPort = 0;
    int syslogPort = 0;
    bool markerBefore = false; // an instance outside the test runs
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable("snmptrap").isEmpty(), "snmptrap (Debian package snmp) is needed");
    QVERIFY2(!QStandardPaths::findExecutable("logger").isEmpty(), "logger is needed");
    snmpPort = freeUdpPort();
    syslogPort = freeUdpPort();
    dataDir = QDir::homePath() + "/data";
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Norvane/Ventrix/Ventrix.ini";
    QSettings ini(config, QSettings::IniFormat);
    ini.setValue("AutoStart", true);
    ini.setValue("SnmpPort", snmpPort);
    ini.setValue("SyslogPort", syslogPort);
    ini.setValue("BalloonEnable", false);
    ini.setValue("DataDir", dataDir);
    ini.sync();

    markerBefore = Platform::instanceMarkerExists(Marker);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    // As the headless recipe starts it: hang-ups ignored.
    program.start("nohup", {VENTRIX_BINARY_DIR "/bin/ventrix", "-platform", "offscreen"});
    QVERIFY(program.waitForStarted());

    // Ready when both receivers have taken a probe each.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            sendSyslog("probe");
            return logLines().filter(";probe").size() > 0;
        }(),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            snmptrap(
                {"-v", "2c", "-c", "public", "127.0.0.1:" + QString::number(snmpPort), "7", "1.3.6.1.6.3.1.1.5.1"});
            return logLines().filter("Startup SNMP trap").size() > 0;
        }(),
        10000);
}

void TestEndToEnd::cleanupTestCase()
{
    program.kill();
    program.waitForFinished();
}

QStringList TestEndToEnd::logLines() const
{
    QFile file(dataDir + "/log.txt");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QStringList lines = QString::fromLatin1(bytes).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString TestEndToEnd::waitForLineEndingWith(const QString &suffix, int timeoutMs)
{
    QString found;
    const bool seen = QTest::qWaitFor(
        [&] {
            const QStringList lines = logLines();
            for (const QString &line : lines)
                if (line.endsWith(suffix))
                    found = line;
            return !found.isEmpty();
        },
        timeoutMs);
    return seen ? found : QString();
}

void TestEndToEnd::sendSyslog(const QByteArray &datagram)
{
    QUdpSocket socket;
    socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(syslogPort));
}

void TestEndToEnd::snmptrap(const QStringList &args)
{
    QProcess tool;
    tool.start("snmptrap", QStringList{"-m", "", "-M", "/nonexistent"} + args);
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE(tool.exitCode(), 0);
}

void TestEndToEnd::syslogFromLogger_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("RFC 3164") << "--rfc3164"
                              << R"(^<13>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \S+ e2e: %1$)";
    QTest::newRow("RFC 5424") << "--rfc5424"
                              << R"(^<13>1 \S+ \S+ e2e - - .*%1$)";
    QTest::newRow("RFC 5424 over IPv6") << "--rfc5424"
                                        << R"(^<13>1 \S+ \S+ e2e - - .*%1$)";
}

void TestEndToEnd::syslogFromLogger()
{
    QFETCH(QString, form);
    QFETCH(QString, pattern);
    const QString message = "door opened " + QString(QTest::currentDataTag()).remove(' ');
    QProcess logger;
    const QString host = message.endsWith("IPv6") ? "::1" : "127.0.0.1";
    logger.start("logger", {"--udp", "-n", host, "-P", QString::number(syslogPort), form, "-t", "e2e", "-p",
                            "user.notice", message});
    QVERIFY(logger.waitForFinished(5000));
    const QString line = waitForLineEndingWith(message);
    QVERIFY2(!line.isEmpty(), "the logger message reached the log file");
    const QStringList columns = line.split(';');
    QCOMPARE(columns.size(), 13);
    QCOMPARE(columns.mid(2, 10), (QStringList{"", "", "", "", "", "8", "", "", "", ""}));
    QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(columns[1]).hasMatch(), qPrintable(columns[1]));
    QVERIFY2(QRegularExpression(pattern.arg(message)).match(columns[12]).hasMatch(), qPrintable(columns[12]));
}

void TestEndToEnd::rawSyslogDatagrams()
{
    sendSyslog("raw-marker-start");
    QVERIFY(!waitForLineEndingWith(";raw-marker-start").isEmpty());
    const int before = logLines().size();

    sendSyslog(QByteArray());
    sendSyslog("a;b");
    sendSyslog("first\r\nsecond");
    sendSyslog(QByteArray("kept\0dropped", 12));
    // Three in one go: one line each, in order.
    QUdpSocket socket;
    for (const char *text : {"burst-1", "burst-2", "burst-3"})
        socket.writeDatagram(QByteArray(text), QHostAddress::LocalHost, quint16(syslogPort));

    QVERIFY(!waitForLineEndingWith(";burst-3").isEmpty());
    QStringList tails;
    for (const QString &line : logLines().mid(before))
        tails << (line.contains(';') ? line.section(';', 2) : line);
    QCOMPARE(tails, (QStringList{";;;;;8;;;;;", ";;;;;8;;;;;a;b", ";;;;;8;;;;;first", "second", ";;;;;8;;;;;kept",
                                 ";;;;;8;;;;;burst-1", ";;;;;8;;;;;burst-2", ";;;;;8;;;;;burst-3"}));
}

void TestEndToEnd::trapsOfEveryKind_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("eventText");

    const QString target = "127.0.0.1:" + QString::number(snmpPort);
    const QStringList device{object(1), "s", "pump-7", object(2), "x", "001122AABBCC"};
    const QStringList input = device + QStringList{object(3), "u", "3",    object(4), "s", "Door",
                                                   object(5), "s", "open", object(6), "s", "alarm"};
    const QStringList sensor = device + QStringList{object(3), "u", "2", object(4), "s", "Temp",  object(7), "i", "-15",
                                                    object(8), "s", "C", object(6), "s", "normal"};
    const QStringList alarm = device + QStringList{object(3),  "u", "4", object(9),  "s", "inputStateAlarm",
                                                   object(10), "i", "3", object(11), "u", "77"};
    const QStringList v2{"-v", "2c", "-c", "public", target, "12345"};
    const QStringList v1{"-v", "1", "-c", "private", target, Device, "10.1.2.3"};

    const QString inputText = QString("pump-7;Door;open;;alarm;1;3;;%1;12345;%2;Binary input change SNMP trap");
    const QString sensorText = QString("pump-7;Temp;-1.5;C;normal;2;2;;%1;12345;%2;Sensor change SNMP trap");
    const QString alarmText = QString("pump-7;;;;begin;3;4;77;%1;12345;%2;Binary input alarm SNMP trap");

    QTest::newRow("v2c binary input") << v2 + QStringList{Device + ".0.1"} + input << inputText.arg("127.0.0.1", Mac);
    QTest::newRow("v1 binary input") << v1 + QStringList{"6", "1", "12345"} + input << inputText.arg("10.1.2.3", Mac);
    QTest::newRow("v2c sensor") << v2 + QStringList{Device + ".0.2"} + sensor << sensorText.arg("127.0.0.1", Mac);
    QTest::newRow("v1 sensor") << v1 + QStringList{"6", "2", "12345"} + sensor << sensorText.arg("10.1.2.3", Mac);
    QTest::newRow("v2c alarm") << v2 + QStringList{Device + ".0.3"} + alarm << alarmText.arg("127.0.0.1", Mac);
    QTest::newRow("v1 alarm") << v1 + QStringList{"6", "3", "12345"} + alarm << alarmText.arg("10.1.2.3", Mac);
    QTest::newRow("v2c warm start") << v2 + QStringList{"1.3.6.1.6.3.1.1.5.2"}
                                    << ";;;;;6;;;127.0.0.1;12345;;Startup SNMP trap";
    QTest::newRow("v1 cold start") << v1 + QStringList{"0", "0", "12345"}
                                   << ";;;;;6;;;10.1.2.3;12345;;Startup SNMP trap";
    QTest::newRow("v2c link up") << v2 + QStringList{"1.3.6.1.6.3.1.1.5.4"}
                                 << ";;;;;5;;;127.0.0.1;12345;;Linkup SNMP trap";
    QTest::newRow("v1 link up") << v1 + QStringList{"3", "0", "12345"} << ";;;;;5;;;10.1.2.3;12345;;Linkup SNMP trap";
    // The same socket takes IPv6 senders; IPv4 ones above (::ffff:127.0.0.1 there) show as before.
    QStringList v6 = v2;
    v6.replace(4, "udp6:[::1]:" + QString::number(snmpPort));
    QTest::newRow("v2c sensor over IPv6") << v6 + QStringList{Device + ".0.2"} + sensor << sensorText.arg("::1", Mac);
    QTest::newRow("v2c warm start over IPv6")
        << v6 + QStringList{"1.3.6.1.6.3.1.1.5.2"} << ";;;;;6;;;::1;12345;;Startup SNMP trap";
}

void TestEndToEnd::trapsOfEveryKind()
{
    QFETCH(QStringList, args);
    QFETCH(QString, eventText);
    const int before = logLines().size();
    snmptrap(args);
    QTRY_VERIFY(logLines().size() > before);
    const QString line = logLines().value(before);
    QCOMPARE(line.section(';', 2), eventText);
    QCOMPARE(line.count(';'), 13);
}

void TestEndToEnd::unknownTrapsFilteredByDefault()
{
    const int before = logLines().size();
    const QString target = "127.0.0.1:" + QString::number(snmpPort);
    snmptrap({"-v", "2c", "-c", "public", target, "1", "1.3.6.1.6.3.1.1.5.3"}); // linkDown
    snmptrap({"-v", "2c", "-c", "public", target, "1", "1.3.6.1.6.3.1.1.5.2"}); // and a warm start after it
    QTRY_VERIFY(logLines().size() > before);
    QTest::qWait(200);
    const QStringList added = logLines().mid(before);
    QCOMPARE(added.size(), 1);
    QVERIFY(added[0].endsWith("Startup SNMP trap"));
}

void TestEndToEnd::informIsAnswered()
{
    // Over IPv6 answered over IPv6.
    for (const QString host : {"127.0.0.1", "udp6:[::1]"}) {
        const bool ipv6 = host.startsWith("udp6");
        const QString uptime = ipv6 ? "98" : "99";
        QProcess inform;
        inform.start("snmpinform", {"-m", "", "-M", "/nonexistent", "-v", "2c", "-c", "public", "-t", "2", "-r", "1",
                                    host + ':' + QString::number(snmpPort), uptime, "1.3.6.1.6.3.1.1.5.4"});
        QVERIFY(inform.waitForFinished(10000));
        QCOMPARE(inform.exitCode(), 0);
        QVERIFY(
            !waitForLineEndingWith(QString(ipv6 ? ";::1;" : ";127.0.0.1;") + uptime + ";;Linkup SNMP trap").isEmpty());
    }
}

// Started with hang-ups ignored, the logout's SIGHUP leaves it collecting.
void TestEndToEnd::ignoredHangUpStaysIgnored()
{
    QCOMPARE(::kill(pid_t(program.processId()), SIGHUP), 0);
    // A program that took it as the end would be gone by now.
    QVERIFY(!program.waitForFinished(500));
    sendSyslog("after the hang-up");
    QVERIFY(!waitForLineEndingWith(";after the hang-up").isEmpty());
}

// A second instance, started meanwhile, waits for the marker and keeps it when the first
// ends; it is gone with the last one. The first ends as a session's end ends it, right
// after a burst: every datagram that reached it is in the log, in order.
void TestEndToEnd::endOfTheProgram()
{
    // An instance outside the test would hold the marker throughout.
    const bool checkMarker = !markerBefore;
    QVERIFY(Platform::instanceMarkerExists(Marker));
    QProcess second;
    second.start(VENTRIX_BINARY_DIR "/bin/ventrix", {"-platform", "offscreen"});
    QVERIFY(second.waitForStarted());
    // Waiting means connected to the first instance's second name.
    const auto waiting = [] {
        QFile sockets("/proc/net/unix");
        return sockets.open(QIODevice::ReadOnly) && sockets.readAll().count(QByteArray(" @") + Marker + "/owner\n") > 1;
    };
    if (checkMarker)
        QTRY_VERIFY(waiting());

    const int before = logLines().size();
    const int count = 3000;
    snmptrap({"-v", "2c", "-c", "public", "127.0.0.1:" + QString::number(snmpPort), "777", "1.3.6.1.6.3.1.1.5.1"});
    const qint64 droppedBefore = socketQueue(syslogPort).second;
    QUdpSocket socket;
    for (int i = 0; i < count; ++i)
        socket.writeDatagram("term-" + QByteArray::number(i), QHostAddress::LocalHost, quint16(syslogPort));
    // What the kernel dropped with the socket's buffer full never reached the program.
    const qint64 dropped = socketQueue(syslogPort).second - droppedBefore;
    // A flood that does not end with the program: the end is bounded all the same.
    std::atomic<bool> flooding{true};
    std::thread flood([&flooding, port = syslogPort] {
        QUdpSocket sender;
        for (int i = 0; flooding.load() && i < 1000000; ++i) {
            sender.writeDatagram("flood-" + QByteArray::number(i), QHostAddress::LocalHost, quint16(port));
            if (i % 100 == 99)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    QTest::qWait(500);
    QElapsedTimer ending;
    ending.start();
    program.terminate();
    const bool ended = program.waitForFinished(20000);
    const qint64 endMs = ending.elapsed();
    flooding.store(false);
    flood.join();
    QVERIFY(ended);
    QVERIFY2(endMs < 5000, qPrintable(QString("ended %1 ms after SIGTERM").arg(endMs)));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QStringList got;
    int flooded = -1;
    for (const QString &line : logLines().mid(before)) {
        const QString message = line.section(';', 12);
        if (line.endsWith(";777;;Startup SNMP trap")) {
            got.prepend("trap");
        } else if (message.startsWith("flood-")) {
            // The flood's lines come in order, up to the end.
            QVERIFY2(message.mid(6).toInt() > flooded, qPrintable(message));
            flooded = message.mid(6).toInt();
        } else {
            got << message;
        }
    }
    QVERIFY(flooded > 0);
    QStringList sent{"trap"};
    for (int i = 0; i < count; ++i)
        sent << "term-" + QString::number(i);
    if (dropped == 0)
        QCOMPARE(got, sent);
    else // the kernel's drops, told apart from a loss at the end
        QCOMPARE(got.size(), sent.size() - dropped);

    if (checkMarker) {
        QTRY_VERIFY(Platform::instanceMarkerExists(Marker));
        QTest::qWait(200);
        QVERIFY(Platform::instanceMarkerExists(Marker));
    }
    second.terminate();
    QVERIFY(second.waitForFinished(10000));
    if (checkMarker)
        QTRY_VERIFY(!Platform::instanceMarkerExists(Marker));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
