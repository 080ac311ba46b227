// The real trap library against net-snmp's own command-line clients over
// loopback: every kind from SNMPv1 and SNMPv2c, informs, the variable rules,
// start and stop, hostile datagrams and broken MIB folders.
#include "netsupport.h"
#include "nrvapi.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <atomic>
#include <cstring>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// net-snmp 5.9 leaks its type table on every MIB reload and a node for each
// module that fails to parse; this suite does both on purpose, the program
// loads its folder once. (The module name: net-snmp has no frame pointers, so
// the function names are not always in the stack.) A PDU that we forgot to
// free would still show: we allocate it.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions()
{
    return "leak:libnetsnmp.so\n";
}
#endif

namespace {

QMutex gMutex;
QStringList gRecords; // one line per record, every field, '|' between fields
QStringList gLog;
std::atomic<int> gInsideCallback{0};
std::atomic<int> gCalls{0};
// Records whose sender field disagreed with nrvCallbackSender(): the field holds the full
// sender (an unknown record's followed by its OID) or, where it does not fit, nothing.
std::atomic<int> gSenderMismatches{0};

// A field as the program reads it: up to its NUL, which must lie within it.
template <std::size_t N> QString field(const char (&text)[N])
{
    const void *nul = std::memchr(text, '\0', N);
    if (!nul)
        return QStringLiteral("<no NUL>");
    return QString::fromUtf8(text, static_cast<const char *>(nul) - text);
}

void record(const QStringList &fields)
{
    ++gInsideCallback;
    ++gCalls;
    const QString sender = QString::fromLatin1(nrvCallbackSender());
    if (sender.isEmpty() || !(fields[1] == sender || fields[1].startsWith(sender + ' ') || fields[1].isEmpty()))
        ++gSenderMismatches;
    {
        QMutexLocker lock(&gMutex);
        gRecords << fields.join(QLatin1Char('|'));
    }
    --gInsideCallback;
}

QString n(quint64 value)
{
    return QString::number(value);
}

void onUnknown(const UnknownTrapRecord *r)
{
    record({"unknown", field(r->sender), n(r->uptime)});
}
void onStartup(const ShortTrapRecord *r)
{
    record({"startup", field(r->sender), n(r->uptime)});
}
void onLinkup(const ShortTrapRecord *r)
{
    record({"linkup", field(r->sender), n(r->uptime)});
}
void onAlarm(const AlarmTrapRecord *r)
{
    record({"alarm", field(r->sender), field(r->mac), field(r->deviceName), n(r->uptime), n(r->alarmState),
            n(r->channelIndex), n(r->alarmId), field(r->alarmName)});
}
void onBinaryInput(const BinaryInputTrapRecord *r)
{
    record({"binary", field(r->sender), field(r->mac), field(r->deviceName), n(r->uptime), n(r->channelIndex),
            field(r->channelName), field(r->inputValue), field(r->channelState)});
}
void onSensor(const SensorTrapRecord *r)
{
    record({"sensor", field(r->sender), field(r->mac), field(r->deviceName), n(r->uptime), n(r->channelIndex),
            QString::number(r->value), field(r->channelName), field(r->channelState), field(r->unit)});
}
void onLog(const char *message)
{
    QMutexLocker lock(&gMutex);
    gLog << QString::fromUtf8(message);
}

const TrapCallbackTable kTable = {onUnknown, onAlarm, onBinaryInput, onSensor, onStartup, onLinkup};

QStringList records()
{
    QMutexLocker lock(&gMutex);
    return gRecords;
}

NrvStatistics statistics()
{
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    return stats;
}

// The device variables, as snmptrap arguments.
QStringList device(const QString &name = "Rack A")
{
    return {"nmDeviceName.0", "s", name, "nmDeviceMac.0", "x", "001A2B3C4D5E"};
}

const QStringList kBinaryVars =
    device() + QStringList{"nmChannelIndex.0", "u", "3",    "nmChannelName.0",  "s", "Door",
                           "nmInputValue.0",   "s", "open", "nmChannelState.0", "s", "alarm"};
const QStringList kSensorVars =
    device("Cold store") + QStringList{"nmChannelIndex", "u", "2",     "nmChannelName", "s", "Temperature",
                                       "nmSensorValue",  "i", "-215",  "nmSensorUnit",  "s", "C",
                                       "nmChannelState", "s", "normal"};
const QStringList kAlarmVars =
    device() + QStringList{"nmChannelIndex.0", "u", "7", "nmAlarmName.0", "s", "temperatureOutOfRange",
                           "nmAlarmState.0",   "i", "3", "nmAlarmId.0",   "u", "42"};

} // namespace

class TestNrvapi : public QObject
{
    Q_OBJECT

private:
    QString m_mibs = QStringLiteral(VENTRIX_BINARY_DIR "/bin/mibs");
    QTemporaryDir m_scratch;
    int m_port = 0;
    // The receiver's address as the clients write it.
    QString m_host = QStringLiteral("127.0.0.1");

    // Runs one of net-snmp's clients with our modules only.
    int client(const QString &program, const QStringList &args, QByteArray *errors = nullptr)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SNMP_PERSISTENT_DIR", m_scratch.filePath("persistent"));
        process.setProcessEnvironment(env);
        process.start(program, QStringList{"-M", m_mibs, "-m", "ALL"} + args);
        if (!process.waitForFinished(10000))
            return -1;
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // snmptrap -v VERSION ... to the receiver under test (or @p port).
    void trap(const QString &version, const QStringList &args, int port = 0, const QString &community = "public",
              const QStringList &options = {})
    {
        QByteArray errors;
        const QString target = QStringLiteral("%1:%2").arg(m_host).arg(port ? port : m_port);
        const int code =
            client("snmptrap", options + QStringList{"-v", version, "-c", community, target} + args, &errors);
        QVERIFY2(code == 0, errors.constData());
    }

    // snmpinform -v 2c to the receiver under test: 0 once it has been answered.
    int inform(const QStringList &args, QByteArray *errors = nullptr)
    {
        const QString target = QStringLiteral("127.0.0.1:%1").arg(m_port);
        return client("snmpinform", QStringList{"-v", "2c", "-c", "public", "-t", "3", "-r", "0", target} + args,
                      errors);
    }

    // What a client sends, caught on a socket of our own.
    QByteArray capture(const QStringList &args)
    {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress::LocalHost, 0))
            return {};
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SNMP_PERSISTENT_DIR", m_scratch.filePath("persistent"));
        process.setProcessEnvironment(env);
        QStringList full = args;
        full.insert(full.indexOf("TARGET"), QStringLiteral("127.0.0.1:%1").arg(socket.localPort()));
        full.removeAll("TARGET");
        process.start("snmptrap", QStringList{"-M", m_mibs, "-m", "ALL"} + full);
        process.waitForFinished(10000);
        if (!socket.waitForReadyRead(5000))
            return {};
        QByteArray datagram(static_cast<int>(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }

    void send(const QByteArray &datagram, int port = 0)
    {
        QUdpSocket socket;
        QCOMPARE(socket.writeDatagram(datagram, QHostAddress::LocalHost, static_cast<quint16>(port ? port : m_port)),
                 qint64(datagram.size()));
    }

    void startReceiver(const char *address = "127.0.0.1")
    {
        m_port = freeUdpPort();
        QCOMPARE(nrvStart(address, m_port), 0);
        QTRY_VERIFY(nrvStatus() != -1);
        nrvSetCallbacks(&kTable);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("snmptrap").isEmpty())
            QSKIP("snmptrap (Debian package snmp) is not installed");
        QVERIFY(QFile::exists(m_mibs + "/NORVANE-MONITOR-MIB.txt"));
        nrvSetLogCallback(onLog);
        nrvInit();
        nrvSetMibDirectory(m_mibs.toLocal8Bit().constData());
        const QStringList log = gLog;
        QVERIFY2(log.isEmpty(), qPrintable("our modules must load silently: " + log.join('\n')));
    }

    void init()
    {
        {
            QMutexLocker lock(&gMutex);
            gRecords.clear();
            gLog.clear();
        }
        m_host = "127.0.0.1";
        startReceiver();
    }

    void cleanup() { nrvStop(); }

    void cleanupTestCase() { nrvShutdown(); }

    void notifications_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");

        const QString mac = "00:1a:2b:3c:4d:5e";
        const QString nm = "NORVANE-MONITOR-MIB::norvaneMonitor";
        const QString v2 = "127.0.0.1|";
        const QString v1 = "10.1.2.3|";
        const QStringList v1Head = {"10.1.2.3"};

        QTest::newRow("binary input v2c")
            << "2c" << QStringList{"1234", "NORVANE-MONITOR-MIB::nmBinaryInputChange"} + kBinaryVars
            << "binary|" + v2 + mac + "|Rack A|1234|3|Door|open|alarm";
        QTest::newRow("binary input v1") << "1" << QStringList{nm, "10.1.2.3", "6", "1", "1234"} + kBinaryVars
                                         << "binary|" + v1 + mac + "|Rack A|1234|3|Door|open|alarm";
        QTest::newRow("sensor v2c") << "2c" << QStringList{"1234", "NORVANE-MONITOR-MIB::nmSensorChange"} + kSensorVars
                                    << "sensor|" + v2 + mac + "|Cold store|1234|2|-215|Temperature|normal|C";
        QTest::newRow("sensor v1") << "1" << QStringList{nm, "10.1.2.3", "6", "2", "1234"} + kSensorVars
                                   << "sensor|" + v1 + mac + "|Cold store|1234|2|-215|Temperature|normal|C";
        QTest::newRow("alarm v2c") << "2c" << QStringList{"1234", "NORVANE-MONITOR-MIB::nmAlarm"} + kAlarmVars
                                   << "alarm|" + v2 + mac + "|Rack A|1234|3|7|42|temperatureOutOfRange";
        QTest::newRow("alarm v1") << "1" << QStringList{nm, "10.1.2.3", "6", "3", "1234"} + kAlarmVars
                                  << "alarm|" + v1 + mac + "|Rack A|1234|3|7|42|temperatureOutOfRange";
        QTest::newRow("coldStart v2c") << "2c" << QStringList{"1234", "SNMPv2-MIB::coldStart"}
                                       << "startup|127.0.0.1|1234";
        QTest::newRow("warmStart v2c") << "2c" << QStringList{"1234", "SNMPv2-MIB::warmStart"}
                                       << "startup|127.0.0.1|1234";
        QTest::newRow("coldStart v1") << "1" << QStringList{nm, "10.1.2.3", "0", "0", "1234"}
                                      << "startup|10.1.2.3|1234";
        QTest::newRow("warmStart v1") << "1" << QStringList{nm, "10.1.2.3", "1", "0", "1234"}
                                      << "startup|10.1.2.3|1234";
        QTest::newRow("linkUp v2c") << "2c" << QStringList{"1234", "IF-MIB::linkUp", "ifIndex.4", "i", "4"}
                                    << "linkup|127.0.0.1|1234";
        QTest::newRow("linkUp v1") << "1" << QStringList{nm, "10.1.2.3", "3", "0", "1234", "ifIndex.4", "i", "4"}
                                   << "linkup|10.1.2.3|1234";
        QTest::newRow("linkDown v2c, named")
            << "2c" << QStringList{"1234", "IF-MIB::linkDown"} << "unknown|127.0.0.1 IF-MIB::linkDown|1234";
        QTest::newRow("linkDown v1, named")
            << "1" << QStringList{nm, "10.1.2.3", "2", "0", "1234"} << "unknown|10.1.2.3 IF-MIB::linkDown|1234";
        QTest::newRow("authenticationFailure v1") << "1" << QStringList{nm, "10.1.2.3", "4", "0", "1234"}
                                                  << "unknown|10.1.2.3 SNMPv2-MIB::authenticationFailure|1234";
        QTest::newRow("other enterprise v2c, numeric")
            << "2c" << QStringList{"1234", "1.3.6.1.4.1.9999.0.5"} << "unknown|127.0.0.1 1.3.6.1.4.1.9999.0.5|1234";
        QTest::newRow("other enterprise v1, numeric")
            << "1" << QStringList{"1.3.6.1.4.1.9999", "10.1.2.3", "6", "5", "1234"}
            << "unknown|10.1.2.3 1.3.6.1.4.1.9999.0.5|1234";
        QTest::newRow("unknown device notification")
            << "1" << QStringList{nm, "10.1.2.3", "6", "9", "1234"} << "unknown|10.1.2.3 1.3.6.1.4.1.32473.1.0.9|1234";
        // A v1 trap whose generic number says "enterprise specific" but the
        // enterprise is the generic one is still not a cold start (RFC 3584).
        QTest::newRow("v1 snmpTraps enterprise")
            << "1" << QStringList{"1.3.6.1.6.3.1.1.5", "10.1.2.3", "6", "1", "1234"}
            << "unknown|10.1.2.3 1.3.6.1.6.3.1.1.5.0.1|1234";
        QTest::newRow("v1 agent 0.0.0.0: datagram source")
            << "1" << QStringList{nm, "0.0.0.0", "0", "0", "1234"} << "startup|127.0.0.1|1234";
        // Rows "over IPv6" go to a receiver on ::1; an inform must be answered over IPv6 too
        // (snmptrap -Ci fails otherwise).
        QTest::newRow("coldStart v2c over IPv6")
            << "2c" << QStringList{"1234", "SNMPv2-MIB::coldStart"} << "startup|::1|1234";
        QTest::newRow("v1 agent 0.0.0.0 over IPv6: datagram source")
            << "1" << QStringList{nm, "0.0.0.0", "0", "0", "1234"} << "startup|::1|1234";
        QTest::newRow("binary input v1 over IPv6: agent address")
            << "1" << QStringList{nm, "10.1.2.3", "6", "1", "1234"} + kBinaryVars
            << "binary|" + v1 + mac + "|Rack A|1234|3|Door|open|alarm";
        QTest::newRow("alarm v2c inform over IPv6")
            << "2c" << QStringList{"1234", "NORVANE-MONITOR-MIB::nmAlarm"} + kAlarmVars
            << "alarm|::1|" + mac + "|Rack A|1234|3|7|42|temperatureOutOfRange";
    }

    void notifications()
    {
        QFETCH(QString, version);
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const QString tag = QTest::currentDataTag();
        if (tag.contains("over IPv6")) {
            nrvStop();
            startReceiver("::1");
            m_host = "udp6:[::1]";
        }
        const QStringList inform{"-Ci", "-t", "3", "-r", "0"};
        gSenderMismatches = 0;
        trap(version, args, 0, "public", tag.contains("inform") ? inform : QStringList{});
        QTRY_COMPARE(records().size(), 1);
        QCOMPARE(records().first(), expected);
        QCOMPARE(gSenderMismatches.load(), 0);
        QCOMPARE(nrvCallbackSender(), nullptr);
    }

    void anyCommunity()
    {
        trap("2c", {"1234", "SNMPv2-MIB::coldStart"}, 0, "not-public");
        trap("1", {"1.3.6.1.4.1.9", "10.0.0.1", "3", "0", "77"}, 0, "");
        QTRY_COMPARE(records(), QStringList({"startup|127.0.0.1|1234", "linkup|10.0.0.1|77"}));
    }

    void informIsAnswered()
    {
        const quint64 informs = statistics().informs;
        QByteArray errors;
        const int code = inform(QStringList{"1234", "NORVANE-MONITOR-MIB::nmAlarm"} + kAlarmVars, &errors);
        QVERIFY2(code == 0, errors.constData());
        QTRY_COMPARE(records().size(), 1);
        QCOMPARE(records().first(), "alarm|127.0.0.1|00:1a:2b:3c:4d:5e|Rack A|1234|3|7|42|temperatureOutOfRange");
        QCOMPARE(statistics().informs - informs, quint64(1));
    }

    // A sender that missed our Response repeats its InformRequest: each copy is
    // answered, the notification reported once. Another source port is another sender.
    void retransmittedInformReportedOnce()
    {
        const QByteArray datagram =
            capture({"-Ci", "-r", "0", "-t", "1", "-v", "2c", "-c", "public", "TARGET", "21", "SNMPv2-MIB::coldStart"});
        QVERIFY(!datagram.isEmpty());
        const quint64 informs = statistics().informs;
        QUdpSocket sender, other;
        QVERIFY(sender.bind(QHostAddress::LocalHost, 0) && other.bind(QHostAddress::LocalHost, 0));
        for (QUdpSocket *socket : {&sender, &sender, &other}) {
            socket->writeDatagram(datagram, QHostAddress::LocalHost, static_cast<quint16>(m_port));
            QVERIFY2(socket->waitForReadyRead(5000), "every copy is answered");
            const QByteArray response = socket->receiveDatagram().data();
            QCOMPARE(quint8(response.at(response.indexOf("public") + 6)), quint8(0xa2));
        }
        QTRY_COMPARE(records().size(), 2);
        QTest::qWait(100);
        QCOMPARE(records(), QStringList({"startup|127.0.0.1|21", "startup|127.0.0.1|21"}));
        QCOMPARE(statistics().informs - informs, quint64(3));
    }

    // How variables are picked out of a notification and cut to their fields.
    void variables_data()
    {
        QTest::addColumn<QStringList>("vars");
        QTest::addColumn<QString>("expected");
        const QString empty = "sensor|127.0.0.1|||1234|0|0|||";
        const QString a98(98, 'a');

        QTest::newRow("none") << QStringList{} << empty;
        QTest::newRow("without instance suffix")
            << QStringList{"nmChannelName", "s", "Door"} << "sensor|127.0.0.1|||1234|0|0|Door||";
        QTest::newRow("first match wins")
            << QStringList{"nmChannelName.0", "s", "First", "nmChannelName", "s", "Second"}
            << "sensor|127.0.0.1|||1234|0|0|First||";
        QTest::newRow("wrong types") << QStringList{"nmDeviceName.0",  "i", "5", "nmChannelIndex.0", "i", "3",
                                                    "nmSensorValue.0", "u", "7", "nmSensorUnit.0",   "i", "1",
                                                    "nmDeviceMac.0",   "i", "1", "nmChannelState.0", "o", "1.3.6"}
                                     << empty;
        QTest::newRow("MAC as text is not a MAC")
            << QStringList{"nmDeviceMac.0", "x", QByteArray("00:11:22:33:44:55").toHex()} << empty;
        QTest::newRow("MAC of five octets") << QStringList{"nmDeviceMac.0", "x", "0011223344"} << empty;
        QTest::newRow("MAC lower-case") << QStringList{"nmDeviceMac.0", "x", "A0B1C2D3E4F5"}
                                        << "sensor|127.0.0.1|a0:b1:c2:d3:e4:f5||1234|0|0|||";
        QTest::newRow("negative and extreme numbers")
            << QStringList{"nmSensorValue.0", "i", "-2147483648", "nmChannelIndex.0", "u", "4294967295"}
            << "sensor|127.0.0.1|||1234|4294967295|-2147483648|||";
        QTest::newRow("text ends at NUL")
            << QStringList{"nmSensorUnit.0", "x", "4300522048"} << "sensor|127.0.0.1|||1234|0|0|||C";
        QTest::newRow("long text cut") << QStringList{"nmChannelName.0", "s", QString(150, 'a')}
                                       << "sensor|127.0.0.1|||1234|0|0|" + QString(99, 'a') + "||";
        QTest::newRow("device name fills 129") << QStringList{"nmDeviceName.0", "s", QString(200, 'd')}
                                               << "sensor|127.0.0.1||" + QString(129, 'd') + "|1234|0|0|||";
        // 99 bytes fit a 100-byte field: a sequence that would straddle the
        // end goes as a whole, one that ends exactly there stays.
        QTest::newRow("cut before a 2-byte sequence")
            << QStringList{"nmChannelName.0", "s", a98 + QString::fromUtf8("\xc3\xa9")}
            << "sensor|127.0.0.1|||1234|0|0|" + a98 + "||";
        QTest::newRow("cut before a 3-byte sequence")
            << QStringList{"nmChannelName.0", "s", QString(97, 'a') + QString::fromUtf8("\xe2\x82\xac") + "z"}
            << "sensor|127.0.0.1|||1234|0|0|" + QString(97, 'a') + "||";
        QTest::newRow("a 3-byte sequence that just fits")
            << QStringList{"nmChannelName.0", "s", QString(96, 'a') + QString::fromUtf8("\xe2\x82\xac") + "z"}
            << "sensor|127.0.0.1|||1234|0|0|" + QString(96, 'a') + QString::fromUtf8("\xe2\x82\xac") + "||";
        QTest::newRow("cut before a 4-byte sequence")
            << QStringList{"nmChannelName.0", "s", QString(97, 'a') + QString::fromUtf8("\xf0\x9f\x94\xa5")}
            << "sensor|127.0.0.1|||1234|0|0|" + QString(97, 'a') + "||";
    }

    void variables()
    {
        QFETCH(QStringList, vars);
        QFETCH(QString, expected);
        // -Ir: send values that the module's types and sizes would refuse.
        trap("2c", QStringList{"1234", "NORVANE-MONITOR-MIB::nmSensorChange"} + vars, 0, "public", {"-Ir"});
        QTRY_COMPARE(records().size(), 1);
        QCOMPARE(records().first(), expected);
    }

    void startRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("port taken") << "127.0.0.1" << -1;
        QTest::newRow("not an address") << "localhost.invalid" << 20000;
        QTest::newRow("port 0") << "127.0.0.1" << 0;
        QTest::newRow("port 65536") << "127.0.0.1" << 65536;
        QTest::newRow("privileged port") << "127.0.0.1" << 1;
    }

    void startRefused()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        if (port == 1) {
            QUdpSocket probe;
            if (probe.bind(QHostAddress::LocalHost, 1))
                QSKIP("this process may bind privileged ports (root or CAP_NET_BIND_SERVICE)");
        }
        QUdpSocket taken;
        if (port == -1) {
            QVERIFY(taken.bind(QHostAddress::LocalHost, 0));
            port = taken.localPort();
        }
        QCOMPARE(nrvStart(address.toLatin1().constData(), port), -1);
        QCOMPARE(nrvStatus(), -1);
        QVERIFY2(!gLog.isEmpty(), "a refused start says why in the log");
    }

    // A stop hands over everything that arrived before it, in order, before it returns.
    void stopThenStartSamePort()
    {
        const QByteArray datagram = capture({"-v", "2c", "-c", "public", "TARGET", "77", "SNMPv2-MIB::coldStart"});
        QVERIFY(!datagram.isEmpty());
        const int burst = 3000;
        const NrvStatistics before = statistics();
        for (int i = 0; i < burst; ++i)
            send(datagram);
        nrvStop();
        const NrvStatistics after = statistics();
        QCOMPARE(quint64(records().size()) + after.kernelDropped - before.kernelDropped, quint64(burst));
        QCOMPARE(after.abandoned, before.abandoned);
        {
            QMutexLocker lock(&gMutex);
            gRecords.clear();
        }
        QCOMPARE(nrvStatus(), -1);
        {
            QUdpSocket probe; // the port is really free again
            QVERIFY(probe.bind(QHostAddress::LocalHost, static_cast<quint16>(m_port)));
        }
        QCOMPARE(nrvStart("127.0.0.1", m_port), 0);
        QTRY_VERIFY(nrvStatus() != -1);
        trap("2c", {"1234", "SNMPv2-MIB::coldStart"});
        QTRY_COMPARE(records(), QStringList{"startup|127.0.0.1|1234"});
    }

    // The program registers its callbacks only once it has seen the receiver running,
    // up to 200 ms after the start: what arrives meanwhile waits, in order, for them,
    // while an inform among it is answered at once.
    void trapsBeforeTheFirstRegistrationWait()
    {
        nrvStop();
        const TrapCallbackTable none{};
        nrvSetCallbacks(&none);
        const quint64 before = statistics().datagrams;
        QCOMPARE(nrvStart("127.0.0.1", m_port), 0);
        QTRY_VERIFY(nrvStatus() != -1);
        for (const char *uptime : {"11", "12"})
            trap("2c", {uptime, "SNMPv2-MIB::coldStart"});
        QCOMPARE(inform({"13", "SNMPv2-MIB::coldStart"}), 0);
        QTRY_COMPARE(statistics().datagrams - before, quint64(3));
        QTest::qWait(100);
        QCOMPARE(records(), QStringList());
        nrvSetCallbacks(&kTable);
        QTRY_COMPARE(records(), (QStringList{"startup|127.0.0.1|11", "startup|127.0.0.1|12", "startup|127.0.0.1|13"}));
    }

    void callbacksReplacedWhileRunning()
    {
        TrapCallbackTable table;
        nrvInitCallbackTable(&table);
        const TrapCallbackTable none{};
        QCOMPARE(std::memcmp(&table, &none, sizeof table), 0);
        table.onLinkup = onLinkup;
        nrvSetCallbacks(&table); // startup now dropped, linkup delivered
        const NrvStatistics before = statistics();
        trap("2c", {"1", "SNMPv2-MIB::coldStart"});
        trap("2c", {"2", "IF-MIB::linkUp"});
        QTRY_COMPARE(records(), QStringList{"linkup|127.0.0.1|2"});
        QCOMPARE(statistics().datagrams - before.datagrams, quint64(2));
        QCOMPARE(statistics().delivered - before.delivered, quint64(1));
        nrvSetCallbacks(&kTable);
        trap("2c", {"3", "SNMPv2-MIB::coldStart"});
        QTRY_COMPARE(records().size(), 2);
        QCOMPARE(records().last(), "startup|127.0.0.1|3");

        // A registered table of null pointers drops; it holds nothing for a later one,
        // and an inform is still answered.
        nrvSetCallbacks(&none);
        const quint64 datagrams = statistics().datagrams;
        trap("2c", {"4", "SNMPv2-MIB::coldStart"});
        QCOMPARE(inform({"5", "SNMPv2-MIB::coldStart"}), 0);
        QTRY_COMPARE(statistics().datagrams - datagrams, quint64(2));
        nrvSetCallbacks(&kTable);
        trap("2c", {"6", "SNMPv2-MIB::coldStart"});
        QTRY_COMPARE(records().size(), 3);
        QCOMPARE(records().last(), "startup|127.0.0.1|6");
    }

    // Datagrams that are not a notification we decode: each one is dropped
    // and counted, and the next real trap still arrives.
    void hostileDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray v2 = capture(
            QStringList{"-v", "2c", "-c", "public", "TARGET", "1234", "NORVANE-MONITOR-MIB::nmAlarm"} + kAlarmVars);
        const QByteArray v1 = capture(QStringList{"-v", "1", "-c", "public", "TARGET",
                                                  "NORVANE-MONITOR-MIB::norvaneMonitor", "10.1.2.3", "6", "3", "1234"} +
                                      kAlarmVars);
        const QByteArray v3 = capture({"-v", "3", "-u", "operator", "-l", "noAuthNoPriv", "-e", "0x8000000001020304",
                                       "TARGET", "1234", "SNMPv2-MIB::coldStart"});
        QVERIFY(!v2.isEmpty() && !v1.isEmpty() && !v3.isEmpty());
        // The PDU tag follows the version and the community "public".
        const int v2Tag = v2.indexOf("public") + 6;
        const int v1Tag = v1.indexOf("public") + 6;
        QCOMPARE(quint8(v2.at(v2Tag)), quint8(0xa7));
        QCOMPARE(quint8(v1.at(v1Tag)), quint8(0xa4));
        auto patched = [](QByteArray d, int at, char value) {
            d[at] = value;
            return d;
        };
        QByteArray garbage(1000, '\0');
        QRandomGenerator random(42);
        for (char &c : garbage)
            c = static_cast<char>(random.bounded(256));

        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one byte") << QByteArray("\x30", 1);
        QTest::newRow("NUL bytes") << QByteArray(200, '\0');
        QTest::newRow("garbage") << garbage;
        QTest::newRow("v2c cut in half") << v2.left(v2.size() / 2);
        QTest::newRow("v2c one byte short") << v2.chopped(1);
        QTest::newRow("v1 one byte short") << v1.chopped(1);
        QTest::newRow("length beyond the datagram") << QByteArray::fromHex("3084 7fffffff 020101 0406 7075626c6963");
        QTest::newRow("huge varbind length") << QByteArray::fromHex(
            "302d 020101 0406 7075626c6963 a720 020101 020100 020100 3015 3013 0608 2b06010201010300 4384 7fffffff");
        QTest::newRow("version 3") << v3;
        QTest::newRow("version 2 (not a version)") << patched(v2, v2.indexOf(QByteArray::fromHex("020101")) + 2, 2);
        QTest::newRow("GetRequest PDU") << patched(v2, v2Tag, char(0xa0));
        QTest::newRow("Response PDU") << patched(v2, v2Tag, char(0xa2));
        QTest::newRow("Report PDU") << patched(v2, v2Tag, char(0xa8));
        QTest::newRow("v1 Trap-PDU in a v2c message") << patched(v2, v2Tag, char(0xa4));
        QTest::newRow("v2 Trap in a v1 message") << patched(v1, v1Tag, char(0xa7));
        QTest::newRow("oversized") << QByteArray(65000, '\x30');
    }

    void hostileDatagrams()
    {
        QFETCH(QByteArray, datagram);
        const QByteArray cold = capture({"-v", "2c", "-c", "public", "TARGET", "99", "SNMPv2-MIB::coldStart"});
        const NrvStatistics before = statistics();
        send(datagram);
        send(cold);
        QTRY_COMPARE(records(), QStringList{"startup|127.0.0.1|99"});
        const NrvStatistics after = statistics();
        QCOMPARE(after.datagrams - before.datagrams, quint64(2));
        QCOMPARE(after.dropped - before.dropped, quint64(1));
        QCOMPARE(after.delivered - before.delivered, quint64(1));
    }

    // Loss is counted where it happens. A callback that holds up the decoder lets the
    // reader's memory bound (64 MiB) fill: what passes it counts as overflowed, not as
    // undecodable. Then a burst faster than the reader: every datagram sent is read or
    // counted as lost in the kernel (how many are lost depends on the machine).
    void lossIsCounted()
    {
        static std::atomic<bool> blocked{false}, release{false};
        TrapCallbackTable slow = kTable;
        slow.onStartup = [](const ShortTrapRecord *) {
            blocked = true;
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        nrvSetCallbacks(&slow);
        const NrvStatistics before = statistics();
        const auto arrived = [&before] {
            const NrvStatistics now = statistics();
            return now.datagrams + now.kernelDropped - before.datagrams - before.kernelDropped;
        };
        trap("2c", {"1", "SNMPv2-MIB::coldStart"});
        QTRY_VERIFY(blocked.load());
        const QByteArray garbage(60000, '\x30');
        const quint64 paced = 1200, burst = 1500; // 1116 fit the bound
        QUdpSocket socket;
        for (quint64 i = 1; i <= paced + burst; ++i) {
            while (socket.writeDatagram(garbage, QHostAddress::LocalHost, static_cast<quint16>(m_port)) < 0)
                QThread::usleep(100);
            if (i <= paced && i % 50 == 0)
                QTRY_COMPARE(arrived(), i + 1);
        }
        QTest::qWait(200);
        send("last"); // brings the kernel's count of what it dropped before it
        release = true;
        QTRY_COMPARE(arrived(), paced + burst + 2);
        const NrvStatistics after = statistics();
        QVERIFY2(after.overflowed - before.overflowed >= paced - 1116, "the memory bound was reached");
        QCOMPARE(after.delivered - before.delivered, quint64(1));
        QTRY_COMPARE(statistics().dropped + statistics().overflowed - before.dropped - before.overflowed,
                     after.datagrams - before.datagrams - 1);
    }

    // Reloaded while the receiver runs, as the program may do.
    void mibFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("linkDown");
        QTest::addColumn<QString>("logged");

        QTest::newRow("missing") << m_scratch.filePath("no-such-folder") << "1.3.6.1.6.3.1.1.5.3"
                                 << "not found";
        QDir(m_scratch.path()).mkpath("empty");
        QTest::newRow("empty") << m_scratch.filePath("empty") << "1.3.6.1.6.3.1.1.5.3"
                               << "";

        const QString broken = m_scratch.filePath("broken");
        QDir().mkpath(broken);
        for (const QString &name : QDir(m_mibs).entryList(QDir::Files))
            QFile::copy(m_mibs + '/' + name, broken + '/' + name);
        auto write = [&broken](const QString &name, const QByteArray &content) {
            QFile file(broken + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        write("BROKEN-MIB.txt", "BROKEN-MIB DEFINITIONS ::= BEGIN\nIMPORTS nothing FROM NOWHERE-MIB;\n"
                                "brokenThing OBJECT-TYPE\n  SYNTAX INTEGER {\n  ::= { nothing 1 }\n");
        write("CUT-MIB.txt", "CUT-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises FROM SNMPv2-SMI;\n"
                             "x OBJECT IDENTIFIER ::= { enterprises");
        write("EMPTY.txt", "");
        QByteArray garbage(4096, '\0');
        QRandomGenerator random(7);
        for (char &c : garbage)
            c = static_cast<char>(random.bounded(256));
        write("garbage.bin", garbage);
        QTest::newRow("broken modules beside good ones") << broken << "IF-MIB::linkDown"
                                                         << "NOWHERE-MIB";
    }

    void mibFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, linkDown);
        QFETCH(QString, logged);
        nrvSetMibDirectory(folder.toLocal8Bit().constData());
        // Numeric OIDs: the client must not depend on the folder under test.
        trap("2c", {"5", "1.3.6.1.6.3.1.1.5.3"});
        trap("2c", {"6", "1.3.6.1.6.3.1.1.5.1"});
        trap("2c", {"7", "1.3.6.1.4.1.32473.1.0.2", "1.3.6.1.4.1.32473.1.1.8.0", "s", "V"});
        QTRY_COMPARE(records().size(), 3);
        const QStringList log = gLog;
        nrvSetMibDirectory(m_mibs.toLocal8Bit().constData());
        QCOMPARE(records(), QStringList({"unknown|127.0.0.1 " + linkDown + "|5", "startup|127.0.0.1|6",
                                         "sensor|127.0.0.1|||7|0|0|||V"}));
        if (!logged.isEmpty())
            QVERIFY2(log.join('\n').contains(logged), qPrintable(log.join('\n')));
    }

    void listenerPrintsEveryField()
    {
        const int port = freeUdpPort();
        QProcess listener;
        listener.start(VENTRIX_BINARY_DIR "/bin/ventrix-traps",
                       {"--port", QString::number(port), "--address", "127.0.0.1", "--mibs", m_mibs, "--count", "1"});
        QVERIFY(listener.waitForStarted());
        QByteArray errors;
        QTRY_VERIFY2((errors += listener.readAllStandardError()).contains("listening"), errors.constData());
        trap("2c", QStringList{"1234", "NORVANE-MONITOR-MIB::nmBinaryInputChange"} + kBinaryVars, port);
        QVERIFY(listener.waitForFinished(10000));
        QCOMPARE(listener.exitCode(), 0);
        QCOMPARE(listener.readAllStandardOutput(),
                 QByteArray("binary-input sender=\"127.0.0.1\" mac=\"00:1a:2b:3c:4d:5e\" device=\"Rack A\" "
                            "uptime=1234 channel=3 channelName=\"Door\" inputValue=\"open\" "
                            "channelState=\"alarm\"\n"));
    }

    // Last: it ends the library. A flood is running while it shuts down.
    void shutdownWhileReceiving()
    {
        const QByteArray datagram =
            capture(QStringList{"-v", "2c", "-c", "public", "TARGET", "1", "NORVANE-MONITOR-MIB::nmBinaryInputChange"} +
                    kBinaryVars);
        QVERIFY(!datagram.isEmpty());
        std::atomic<bool> flooding{true};
        const int port = m_port;
        std::thread flood([&flooding, &datagram, port] {
            QUdpSocket socket;
            while (flooding.load())
                socket.writeDatagram(datagram, QHostAddress::LocalHost, static_cast<quint16>(port));
        });
        QTRY_VERIFY(gCalls.load() > 100);
        nrvShutdown();
        const int calls = gCalls.load();
        QCOMPARE(gInsideCallback.load(), 0);
        QTest::qWait(100);
        flooding.store(false);
        flood.join();
        QCOMPARE(gCalls.load(), calls);
        QCOMPARE(nrvStatus(), -1);

        // The library comes back after a shutdown.
        nrvInit();
        nrvSetMibDirectory(m_mibs.toLocal8Bit().constData());
    }
};

QTEST_GUILESS_MAIN(TestNrvapi)
#include "tst_nrvapi.moc"
