#include "faultsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Hostile input into the real program, meant for the sanitizer build: random and mutated
// datagrams into both ports, and a MIB folder full of broken modules.
//
// VENTRIX_HOSTILE_COUNT: datagrams per port (100000 when unset).
// VENTRIX_HOSTILE_SEED: the random seed (printed, so that a failure can be replayed).

using namespace Faults;

namespace {

constexpr int MaxDatagram = 65507;

QList<QByteArray> realTraps()
{
    QList<QByteArray> traps;
    const QDir corpus(VENTRIX_SOURCE_DIR "/fuzz/corpus");
    for (const QString &name : corpus.entryList({"*.snmp"}, QDir::Files, QDir::Name))
        traps << readAll(corpus.filePath(name));
    return traps;
}

QByteArray randomBytes(QRandomGenerator &rng, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(rng.bounded(256));
    return bytes;
}

// The i-th hostile datagram: random bytes of every size up to the largest, real traps cut
// short, bit-flipped or with junk after them, NUL bytes and invalid UTF-8.
QByteArray hostile(QRandomGenerator &rng, const QList<QByteArray> &traps, int i)
{
    const QByteArray &trap = traps[rng.bounded(int(traps.size()))];
    switch (i % 10) {
    case 0:
    case 1: return randomBytes(rng, rng.bounded(1500));
    case 2: return randomBytes(rng, rng.bounded(64));
    case 3: return trap.left(rng.bounded(int(trap.size())));
    case 4:
    case 5: {
        QByteArray flipped = trap;
        for (int n = rng.bounded(1, 9); n > 0; --n)
            flipped[rng.bounded(int(flipped.size()))] ^= char(1 << rng.bounded(8));
        return flipped;
    }
    case 6: return trap + randomBytes(rng, rng.bounded(200));
    case 7: {
        static const char pieces[][4] = {{'\0'}, {'\xc3', '\x28'}, {'\xff'}, {'\xe2', '\x82'}, {'\xc0', '\xaf'}};
        QByteArray text = "<13>";
        for (int n = rng.bounded(1, 40); n > 0; --n)
            text += rng.bounded(2) ? QByteArray(pieces[rng.bounded(5)], 2) : QByteArray("abc;\r\n", 6);
        return text;
    }
    case 8: return QByteArray(rng.bounded(1, 300), '\0');
    default: return i % 500 == 9 ? randomBytes(rng, MaxDatagram) : trap.left(trap.size() / 2) + QByteArray(1, '\0');
    }
}

// The log files of dataDir, oldest first.
QStringList logFiles(const QString &dataDir)
{
    QStringList files;
    for (const QString &name : QDir(dataDir).entryList({"log_*.txt"}, QDir::Files, QDir::Name))
        files << dataDir + '/' + name;
    return files << dataDir + "/log.txt";
}

// How often text occurs in the log files of dataDir: "\r\n" for every line, the empty
// columns before a syslog message for every syslog datagram.
qint64 countInLogs(const QString &dataDir, const char *text)
{
    qint64 count = 0;
    for (const QString &file : logFiles(dataDir))
        count += readAll(file).count(text);
    return count;
}
const char SyslogColumns[] = ";;;;;8;;;;;";

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hostileDatagrams();
    void brokenMibFolder();

private:
    void sendValidAndCheck(const QString &prefix);

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<Program> program;
};

void TestHostile::init()
{
    scratch = std::make_unique<QTemporaryDir>(QDir::homePath() + "/hostile-XXXXXX");
    QVERIFY(scratch->isValid());
    program = std::make_unique<Program>(scratch->path());
    program->writeSettings({{"UnknownEnable", true}});
}

void TestHostile::cleanup()
{
    // Ended as a session's end ends it, so that the sanitizers' leak check runs: what they
    // find is in the exit code and on stderr.
    const bool ended = program->terminate();
    const QByteArray errors = readAll(program->home + "/stderr.txt");
    const bool clean = ended && !errors.contains("Sanitizer") && !errors.contains("runtime error");
    program.reset();
    if (QTest::currentTestFailed() || !clean) {
        scratch->setAutoRemove(false);
        qWarning("left for a look: %s", qPrintable(scratch->path()));
    }
    scratch.reset();
    QVERIFY2(clean, errors.right(4000).constData());
}

void TestHostile::sendValidAndCheck(const QString &prefix)
{
    QProcess syslog, traps;
    startFlood(syslog, "syslog", program->syslogPort, 200, 500, 0, prefix + "S");
    startFlood(traps, "trap", program->snmpPort, 200, 500, 0, prefix + "T");
    QVERIFY(syslog.waitForFinished(30000) && traps.waitForFinished(30000));
    for (const QString &tag : {prefix + "S", prefix + "T"})
        QTRY_COMPARE_WITH_TIMEOUT(verdict(sequences(logFiles(program->dataDir), tag.toLatin1()), 0, 200), QString(),
                                  60000);
}

void TestHostile::hostileDatagrams()
{
    const int count = envInt("VENTRIX_HOSTILE_COUNT", 100000);
    const quint32 seed = quint32(envInt("VENTRIX_HOSTILE_SEED", int(QRandomGenerator::global()->generate() >> 1)));
    qInfo("%d datagrams per port, seed %u", count, seed);
    const QList<QByteArray> traps = realTraps();
    QVERIFY(!traps.isEmpty());

    // A small quarantine, so that resident memory shows what the program holds rather
    // than what the sanitizer keeps back from reuse.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    QVERIFY(program->start(VENTRIX_BINARY_DIR "/bin/ventrix",
                           {"ASAN_OPTIONS=" + asan + (asan.isEmpty() ? "" : ":") + "quarantine_size_mb=16"}));
    QVERIFY(program->waitReady());
    const qint64 baseline = statusField(program->pid(), "VmRSS");
    const qint64 linesBefore = countInLogs(program->dataDir, "\r\n");
    const qint64 syslogBefore = countInLogs(program->dataDir, SyslogColumns);

    QRandomGenerator rng(seed);
    QUdpSocket socket;
    qint64 peak = baseline;
    for (int i = 0; i < count; ++i) {
        for (const int port : {program->syslogPort, program->snmpPort}) {
            const QByteArray datagram = hostile(rng, traps, i);
            while (socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port)) < 0)
                QTest::qSleep(1);
        }
        if (i % 500 == 499) {
            // Never more than a few MiB waiting in the kernel: the test is about what the
            // program does with the datagrams, not about overrunning its socket.
            while (socketQueue(program->syslogPort).first > 4 << 20 || socketQueue(program->snmpPort).first > 4 << 20)
                QTest::qSleep(5);
            // Nor more than a few thousand waiting in the program: its memory then shows what
            // it keeps, not what it has yet to write.
            if (i % 5000 == 4999)
                QVERIFY(QTest::qWaitFor(
                    [&] { return countInLogs(program->dataDir, SyslogColumns) - syslogBefore > i - 5000; }, 60000));
            peak = qMax(peak, statusField(program->pid(), "VmRSS"));
            QVERIFY2(program->running(), qPrintable(QString("ended after %1 datagrams a port").arg(i + 1)));
        }
    }
    QVERIFY(QTest::qWaitFor(
        [&] { return socketQueue(program->syslogPort).first == 0 && socketQueue(program->snmpPort).first == 0; },
        120000));
    QCOMPARE(socketQueue(program->syslogPort).second, 0);
    QCOMPARE(socketQueue(program->snmpPort).second, 0);

    sendValidAndCheck("after");
    peak = qMax(peak, statusField(program->pid(), "VmRSS"));
    const qint64 lines = countInLogs(program->dataDir, "\r\n") - linesBefore;
    // Beyond the caches of the allocators (64 MiB) and the view's lines (text and layout,
    // under 1 KiB each), nothing may grow with the flood.
    const qint64 allowedKiB = 64 * 1024 + lines;
    qInfo("resident %lld KiB before, peak %lld KiB, allowed %lld KiB; %lld lines written", baseline, peak,
          baseline + allowedKiB, lines);
    QVERIFY2(peak - baseline < allowedKiB, "memory stays bounded");
}

void TestHostile::brokenMibFolder()
{
    // A copy of the program with a mibs folder of its own: the shipped modules, and beside
    // them broken, circular, empty, binary and huge ones. The folder's name is not ASCII.
    const QString folder = program->home + QString::fromUtf8("/Prüfstand");
    QVERIFY(QDir().mkpath(folder + "/mibs"));
    const QDir bin(VENTRIX_BINARY_DIR "/bin");
    QVERIFY(QFile::copy(bin.filePath("ventrix"), folder + "/ventrix"));
    for (const QString &lib : bin.entryList({"libnrvapi.so*"}, QDir::Files))
        QVERIFY(QFile::copy(QFileInfo(bin.filePath(lib)).canonicalFilePath(), folder + '/' + lib));
    const QDir shipped(VENTRIX_SOURCE_DIR "/mibs");
    for (const QString &mib : shipped.entryList({"*.txt"}, QDir::Files))
        QVERIFY(QFile::copy(shipped.filePath(mib), folder + "/mibs/" + mib));

    auto write = [&](const QString &name, const QByteArray &text) {
        QFile file(folder + "/mibs/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write("EMPTY-MIB.txt", "");
    write("BROKEN-MIB.txt", "BROKEN-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises FROM SNMPv2-SMI;\n"
                            "broken OBJECT IDENTIFIER ::= { enterprises 32473 97 \nbrokenThing OBJECT-TYPE SYNTAX (\n");
    write("LOOP-A-MIB.txt", "LOOP-A-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises, NOTIFICATION-TYPE FROM SNMPv2-SMI\n"
                            "  loopB FROM LOOP-B-MIB;\nloopA OBJECT IDENTIFIER ::= { loopB 1 }\n"
                            "loopANote NOTIFICATION-TYPE STATUS current DESCRIPTION \"a\" ::= { loopA 0 1 }\nEND\n");
    write("LOOP-B-MIB.txt", "LOOP-B-MIB DEFINITIONS ::= BEGIN\nIMPORTS loopA FROM LOOP-A-MIB;\n"
                            "loopB OBJECT IDENTIFIER ::= { loopA 1 }\nEND\n");
    QRandomGenerator rng(7);
    write("BINARY-MIB.txt", randomBytes(rng, 65536));
    QByteArray huge = "HUGE-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises, NOTIFICATION-TYPE FROM SNMPv2-SMI;\n"
                      "huge OBJECT IDENTIFIER ::= { enterprises 32473 99 }\n"
                      "hugeNotes OBJECT IDENTIFIER ::= { huge 0 }\n";
    for (int i = 1; i <= 20000; ++i)
        huge += "hugeNote" + QByteArray::number(i) + " NOTIFICATION-TYPE\n    STATUS current\n    DESCRIPTION \"" +
                QByteArray(200, 'd') + "\"\n    ::= { hugeNotes " + QByteArray::number(i) + " }\n";
    huge += "END\n";
    write("HUGE-MIB.txt", huge);

    QVERIFY(program->start(folder + "/ventrix"));
    QVERIFY(program->waitReady());

    auto trap = [&](const QString &trapOid) {
        QProcess tool;
        tool.start("snmptrap", {"-m", "", "-M", "/nonexistent", "-v", "2c", "-c", "public",
                                "127.0.0.1:" + QString::number(program->snmpPort), "1", trapOid});
        QVERIFY(tool.waitForFinished(5000));
    };
    // Named by the modules that loaded: the shipped ones and the huge one.
    trap("1.3.6.1.6.3.1.1.5.3");
    QTRY_VERIFY(readAll(program->logFile()).contains("IF-MIB::linkDown"));
    trap("1.3.6.1.4.1.32473.99.0.19999");
    QTRY_VERIFY(readAll(program->logFile()).contains("HUGE-MIB::hugeNote19999"));
    // Whatever became of the rest, reception goes on.
    sendValidAndCheck("mibs");
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
