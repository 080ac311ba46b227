#include "eventoutput.h"
#include "faultsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// The real program under the faults of an unattended machine: every event that reached
// it must be in the log files exactly once and in order. Syslog and traps flow together,
// each stream numbered by bench/flood.py.
//
// VENTRIX_FAULT_LOCK_SECONDS sets how long the log file stays locked (30 when unset).

using namespace Faults;

namespace {

constexpr int Rate = 1000; // events a second on each receiver

QStringList rotatedFiles(const QString &dataDir)
{
    QStringList files;
    for (const QString &name : QDir(dataDir).entryList({"log_*.txt"}, QDir::Files, QDir::Name))
        files << dataDir + '/' + name;
    return files;
}

// A flood of count events on each receiver, tags "<prefix>S" (syslog) and "<prefix>T".
struct Flood {
    Flood(const Program &program, const QString &prefix, int count, int start = 0)
    {
        startFlood(syslog, "syslog", program.syslogPort, count, Rate, start, prefix + "S");
        startFlood(traps, "trap", program.snmpPort, count, Rate, start, prefix + "T");
    }
    bool wait(int timeoutMs = 120000)
    {
        return syslog.waitForFinished(timeoutMs) && traps.waitForFinished(timeoutMs) && syslog.exitCode() == 0 &&
               traps.exitCode() == 0;
    }
    QProcess syslog;
    QProcess traps;
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lockedLogFile_data();
    void lockedLogFile();
    void rotationUnderLoad();
    void killedWhileLocked();
    void dataFolderRemoved_data();
    void dataFolderRemoved();
    void fullDisk();
    void damagedSettings_data();
    void damagedSettings();

private:
    // Waits until each stream of prefix holds exactly first..first+count-1 in files().
    bool waitForAll(const std::function<QStringList()> &files, const QString &prefix, int count, int first = 0,
                    int timeoutMs = 30000);
    QString check(const QStringList &files, const QString &prefix, int count, int first = 0);

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<Program> program;
    QString mountPoint;
};

void TestFaults::init()
{
    scratch = std::make_unique<QTemporaryDir>(QDir::homePath() + "/faults-XXXXXX");
    QVERIFY(scratch->isValid());
    program = std::make_unique<Program>(scratch->path());
}

void TestFaults::cleanup()
{
    program.reset();
    if (!mountPoint.isEmpty())
        QProcess::execute("umount", {"-l", mountPoint});
    mountPoint.clear();
    if (QTest::currentTestFailed()) {
        scratch->setAutoRemove(false);
        qWarning("left for a look: %s", qPrintable(scratch->path()));
    }
    scratch.reset();
}

QString TestFaults::check(const QStringList &files, const QString &prefix, int count, int first)
{
    QString problems;
    for (const char *stream : {"S", "T"}) {
        const QString v = verdict(sequences(files, (prefix + stream).toLatin1()), first, count);
        if (!v.isEmpty())
            problems += QString(*stream == 'S' ? "syslog: " : "traps: ") + v + "; ";
    }
    return problems;
}

bool TestFaults::waitForAll(const std::function<QStringList()> &files, const QString &prefix, int count, int first,
                            int timeoutMs)
{
    return QTest::qWaitFor([&] { return check(files(), prefix, count, first).isEmpty(); }, timeoutMs);
}

void TestFaults::lockedLogFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("flock") << "flock-ex";
    QTest::newRow("OFD write lock") << "ofd-wr";
    QTest::newRow("POSIX read lock") << "posix-rd";
}

void TestFaults::lockedLogFile()
{
    QFETCH(QString, kind);
    const int seconds = envInt("VENTRIX_FAULT_LOCK_SECONDS", 30);
    program->writeSettings();
    QVERIFY(program->start());
    QVERIFY(program->waitReady());
    const QByteArray before = readAll(program->logFile());

    LockHolder holder;
    QVERIFY(holder.lock(kind, program->logFile()));
    Flood during(*program, "lock", seconds * Rate);
    QVERIFY(during.wait());
    QTRY_VERIFY(QFile::exists(program->queueFile()));
    QCOMPARE(readAll(program->logFile()), before); // nothing written around the lock

    holder.release();
    // Straight after the release, new events race the queue timer: they must still come
    // after everything queued.
    Flood after(*program, "lock", 500, seconds * Rate);
    QVERIFY(after.wait());
    const auto log = [this] { return QStringList{program->logFile()}; };
    QVERIFY2(waitForAll(log, "lock", seconds * Rate + 500), qPrintable(check(log(), "lock", seconds * Rate + 500)));
    QTRY_VERIFY(!QFile::exists(program->queueFile()));
    QVERIFY(readAll(program->logFile()).startsWith(before));
    QVERIFY(program->running());
}

void TestFaults::rotationUnderLoad()
{
    // Just under the threshold: the flood pushes it over within the first few hundred lines.
    QDir().mkpath(program->dataDir);
    QFile log(program->logFile());
    QVERIFY(log.open(QIODevice::WriteOnly));
    const QByteArray filler = QByteArray(98, 'f') + "\r\n";
    const qint64 threshold = 5242880;
    while (log.size() + filler.size() <= threshold - 40000)
        log.write(filler);
    log.close();

    program->writeSettings();
    QVERIFY(program->start());
    // Nothing can receive a datagram sent before its port is bound.
    QTRY_VERIFY(boundUdpPorts(program->pid()).contains(program->syslogPort) &&
                boundUdpPorts(program->pid()).contains(program->snmpPort));
    Flood flood(*program, "rot", 4000);
    QVERIFY(flood.wait());
    const auto files = [this] { return rotatedFiles(program->dataDir) << program->logFile(); };
    QVERIFY2(waitForAll(files, "rot", 4000), qPrintable(check(files(), "rot", 4000)));

    const QStringList rotated = rotatedFiles(program->dataDir);
    QCOMPARE(rotated.size(), 1);
    const QByteArray old = readAll(rotated[0]);
    QVERIFY(old.startsWith(filler));
    // Moved aside by the first frame of lines after it passed the threshold, not later.
    QVERIFY2(old.size() > threshold && old.count('\n') - threshold / filler.size() <= TEventOutput::FrameLines,
             qPrintable(QString::number(old.size())));
    QVERIFY(old.endsWith("\r\n"));
}

void TestFaults::killedWhileLocked()
{
    program->writeSettings();
    QVERIFY(program->start());
    QVERIFY(program->waitReady());
    const QByteArray before = readAll(program->logFile());

    LockHolder holder;
    QVERIFY(holder.lock("flock-ex", program->logFile()));
    Flood first(*program, "kill", 3000);
    QVERIFY(QTest::qWaitFor([&] { return sequences({program->queueFile()}, "killS").size() > 1000; }, 10000));
    program->kill(); // mid-flood, while lines go to the queue
    const QByteArray leftBehind = readAll(program->queueFile());
    QVERIFY(first.wait());
    QVERIFY(!leftBehind.isEmpty());
    QVERIFY2(leftBehind.endsWith("\r\n"), "the queue holds whole lines only");
    for (const char *tag : {"killS", "killT"}) {
        const QList<int> queued = sequencesIn(leftBehind, tag);
        QVERIFY2(!queued.isEmpty(), tag);
        const QString v = verdict(queued, queued.first(), int(queued.size()));
        QVERIFY2(v.isEmpty(), qPrintable(QString(tag) + " in the queue: " + v));
    }

    // Started again while the lock is still held: new lines join the old queue.
    QVERIFY(program->start());
    QVERIFY(program->waitReady(program->queueFile()));
    Flood second(*program, "kill", 1000, 3000);
    QVERIFY(second.wait());
    // Ended normally right after a burst (a small one: a user's socket buffer takes it while
    // the reading thread pauses), it keeps every line: in the queue, still.
    for (int i = 0; i < 100; ++i)
        program->sendSyslog("<13>termS-" + QByteArray::number(1000000 + i));
    QVERIFY(program->terminate());
    const QString burst = verdict(sequences({program->queueFile()}, "termS"), 1000000, 100);
    QVERIFY2(burst.isEmpty(), qPrintable("the burst in the queue: " + burst));
    QVERIFY(program->start());
    QVERIFY(program->waitReady(program->queueFile()));
    holder.release();

    QVERIFY(QTest::qWaitFor(
        [&] { return !QFile::exists(program->queueFile()) && readAll(program->logFile()).contains("killT-0003999"); },
        20000));
    const QByteArray log = readAll(program->logFile());
    // The queue left behind comes first and whole, right after what was there before.
    QVERIFY(log.startsWith(before + leftBehind));
    for (const char *tag : {"killS", "killT"}) {
        // No duplicates, in order; everything that was in the queue at the kill is in, and
        // so is the whole flood after the restart. What was lost with the kill had only
        // reached the socket buffer or the event queue of the killed process.
        const QList<int> all = sequences({program->logFile()}, tag);
        const QSet<int> unique(all.begin(), all.end());
        QVERIFY2(unique.size() == all.size(), tag);
        QVERIFY2(std::is_sorted(all.begin(), all.end()), tag);
        for (int seq : sequencesIn(leftBehind, tag))
            QVERIFY2(unique.contains(seq), qPrintable(QString("%1-%2 from the queue missing").arg(tag).arg(seq)));
        for (int seq = 3000; seq < 4000; ++seq)
            QVERIFY2(unique.contains(seq), qPrintable(QString("%1-%2 missing").arg(tag).arg(seq)));
    }
}

void TestFaults::dataFolderRemoved_data()
{
    QTest::addColumn<bool>("withParent");
    QTest::newRow("data folder") << false;
    QTest::newRow("data folder and its parent, restored later") << true;
}

void TestFaults::dataFolderRemoved()
{
    QFETCH(bool, withParent);
    const QString site = program->home + "/site";
    program->dataDir = site + "/data";
    program->writeSettings();
    QVERIFY(program->start());
    QVERIFY(program->waitReady());

    // Moved out of the program's reach rather than deleted, so that every line the
    // program wrote stays countable, wherever it landed.
    Flood flood(*program, "dir", 3000);
    QTest::qWait(1000);
    const QString moved = program->home + "/gone";
    QVERIFY(QDir().rename(withParent ? site : program->dataDir, moved));
    if (withParent) {
        QTest::qWait(1500);
        QVERIFY2(!QFileInfo::exists(site), "nothing makes the missing parent again");
        QVERIFY(QDir().mkdir(site));
    }
    QVERIFY(flood.wait());
    const QString movedData = withParent ? moved + "/data" : moved;
    const auto files = [&] { return QStringList{movedData + "/log.txt", program->logFile()}; };
    QVERIFY2(waitForAll(files, "dir", 3000), qPrintable(check(files(), "dir", 3000)));
    QVERIFY(!QFile::exists(movedData + "/queue.tmp"));
    QTRY_VERIFY(!QFile::exists(program->queueFile()));
}

void TestFaults::fullDisk()
{
    QDir().mkpath(program->dataDir);
    const int rc = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m,mode=0755", "tmpfs", program->dataDir});
    if (rc != 0)
        QSKIP("mounting a small tmpfs as the data folder needs root (scripts/test.sh runs this as root)");
    mountPoint = program->dataDir;

    program->writeSettings();
    QVERIFY(program->start());
    QVERIFY(program->waitReady());
    // Leave room for a few hundred lines only.
    QFile filler(program->dataDir + "/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    QVERIFY(filler.resize(filler.size() - 48 * 1024));

    Flood flood(*program, "full", 2000);
    QVERIFY(flood.wait());
    QTest::qWait(1500);
    const auto log = [this] { return QStringList{program->logFile()}; };
    QVERIFY2(!check(log(), "full", 2000).isEmpty(), "the disk was full for part of the flood");
    QVERIFY(program->running());

    QVERIFY(filler.remove()); // space returns
    QVERIFY2(waitForAll(log, "full", 2000, 0, 15000), qPrintable(check(log(), "full", 2000)));
    QTRY_VERIFY(!QFile::exists(program->queueFile()));
}

void TestFaults::damagedSettings_data()
{
    // {snmp} and {syslog} stand for free ports, {data} for the data folder.
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("asFolder");         // a folder where the file should be: unreadable
    QTest::addColumn<QList<int>>("boundPorts"); // {-2}: the syslog port
    QTest::addColumn<bool>("defaultFolder");    // the log file is in the default data folder

    const QList<int> none;
    QTest::newRow("missing") << QByteArray() << false << none << true;
    QTest::newRow("unreadable") << QByteArray("[General]\nAutoStart=true\n") << true << none << true;
    QTest::newRow("truncated") << QByteArray("[General]\nAutoStart=true\nSnmpEnable=false\nSyslogPort={syslog}\n"
                                             "BalloonEnable=false\nUnknownEna")
                               << false << QList<int>{-2} << true;
    QTest::newRow("ports not numbers")
        << QByteArray("[General]\nAutoStart=true\nSnmpPort=abc\nSyslogPort=5l4\nDataDir={data}\n") << false << none
        << false;
    QTest::newRow("huge numbers") << QByteArray("[General]\nAutoStart=true\nSnmpPort=99999999999999999999\n"
                                                "SyslogPort=4294967809\nDataDir={data}\n")
                                  << false << none << false;
    QTest::newRow("ports out of range")
        << QByteArray("[General]\nAutoStart=true\nSnmpPort=70000\nSyslogPort=-1\nDataDir={data}\n") << false << none
        << false;
    // Blank texts would put the log at the root of the file system: the defaults apply.
    QTest::newRow("empty folder and file name")
        << QByteArray("[General]\nAutoStart=true\nSnmpEnable=false\nSyslogPort={syslog}\nDataDir=\nDataFile=  \n")
        << false << QList<int>{-2} << true;
    static const char garbage[] = "[General]\nAutoStart=true\nSnmpEnable=false\nSyslogPort={syslog}\n"
                                  "\xff\xfe\x00\x01=\x80\nDataDir={data}\nBalloonEnable=\xc3\x28\n[\x00\n";
    QTest::newRow("binary garbage") << QByteArray(garbage, sizeof garbage - 1) << false << QList<int>{-2} << false;
}

void TestFaults::damagedSettings()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, asFolder);
    QFETCH(QList<int>, boundPorts);
    QFETCH(bool, defaultFolder);

    if (asFolder) {
        QVERIFY(QDir().mkpath(program->configFile()));
    } else if (!ini.isEmpty()) {
        ini.replace("{snmp}", QByteArray::number(program->snmpPort))
            .replace("{syslog}", QByteArray::number(program->syslogPort))
            .replace("{data}", program->dataDir.toUtf8());
        QFile file(program->configFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }
    const QString dataDir = defaultFolder ? program->home + "/Documents/Norvane/Ventrix" : program->dataDir;
    QVERIFY(program->start());
    QTRY_VERIFY2(QFileInfo(dataDir).isDir(), "the data folder is made at start-up");
    QTest::qWait(1000); // time for a wrong bind to show
    QVERIFY(program->running());

    QSet<int> expected;
    for (int port : boundPorts)
        expected.insert(port == -2 ? program->syslogPort : port);
    QTRY_COMPARE(boundUdpPorts(program->pid()), expected);
    if (expected.contains(program->syslogPort)) {
        program->sendSyslog("<13>settingsS-0000000");
        QTRY_VERIFY(readAll(dataDir + "/log.txt").contains("settingsS-0000000"));
    }
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
