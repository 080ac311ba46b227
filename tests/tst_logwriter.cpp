#include "logwriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 FiveMiB = 5 * 1024 * 1024; // past it the log file is moved aside

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Another program holding the file in one of the ways the helper knows.
class Holder
{
public:
    bool start(const QString &kind, const QString &path)
    {
        process.start(EVENTLOG_HELPER, {"lock", kind, path});
        return process.waitForReadyRead(10000) && process.readLine().trimmed() == "locked";
    }
    void release()
    {
        process.closeWriteChannel();
        process.waitForFinished();
    }
    ~Holder()
    {
        if (process.state() != QProcess::NotRunning)
            release();
    }

private:
    QProcess process;
};

} // namespace

class TestLogWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lockedLogDivertsToQueue_data();
    void lockedLogDivertsToQueue();
    void leftoverQueueMergesFirst();
    void lineFeedInsideLine_data();
    void lineFeedInsideLine();
    void rotationThreshold();
    void rotatedName_data();
    void rotatedName();
    void rotationCollision();
    void rotationWaitsForTheLock();
    void rotationSplitsAFrame_data();
    void rotationSplitsAFrame();
    void dataFolderRemovedAndRestored_data();
    void dataFolderRemovedAndRestored();
    void heldLinesGoToQueueFirst();
    void failedWriteCountsAsNothing_data();
    void failedWriteCountsAsNothing();
    void undeletableQueue_data();
    void undeletableQueue();
    void unreadableQueueLeftAlone();
    void hostileDataFolder_data();
    void hostileDataFolder();

private:
    bool write(const QByteArray &line) { return writer.write(settings, line); }
    QString logPath() const { return logFilePath(settings); }
    QString queuePath() const { return queueFilePath(settings); }

    std::unique_ptr<QTemporaryDir> tmp;
    TSettings settings;
    TLogWriter writer;
};

void TestLogWriter::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp->isValid());
    settings = TSettings();
    settings.DataDir = tmp->filePath("base/data");
    settings.DataFile = "log.txt";
    QVERIFY(QDir().mkpath(settings.DataDir));
    writer = TLogWriter();
}

void TestLogWriter::cleanup()
{
    QFile::setPermissions(settings.DataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    tmp.reset();
}

void TestLogWriter::lockedLogDivertsToQueue_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("diverts");
    QTest::addColumn<bool>("releaseByWrite");

    // A shared lock is a reader that denies writers; only a reader without any lock
    // leaves the file to us.
    const struct {
        const char *name, *kind;
        bool diverts;
    } holders[] = {
        {"flock exclusive", "flock-ex", true},  {"flock shared", "flock-sh", true},
        {"OFD write lock", "ofd-wr", true},     {"OFD read lock", "ofd-rd", true},
        {"POSIX write lock", "posix-wr", true}, {"POSIX read lock", "posix-rd", true},
        {"reader without lock", "read", false},
    };
    for (const auto &h : holders) {
        QTest::addRow("%s, timer flush", h.name) << h.kind << h.diverts << false;
        if (h.diverts)
            QTest::addRow("%s, next event", h.name) << h.kind << h.diverts << true;
    }
}

void TestLogWriter::lockedLogDivertsToQueue()
{
    QFETCH(QString, kind);
    QFETCH(bool, diverts);
    QFETCH(bool, releaseByWrite);

    QVERIFY(write("first"));
    Holder holder;
    QVERIFY(holder.start(kind, QDir::toNativeSeparators(logPath())));
    QCOMPARE(write("second"), !diverts);
    QCOMPARE(write("third"), !diverts);
    if (!diverts) {
        QCOMPARE(contents(logPath()), QByteArray("first\r\nsecond\r\nthird\r\n"));
        QVERIFY(!QFile::exists(queuePath()));
        return;
    }
    QCOMPARE(contents(logPath()), QByteArray("first\r\n"));
    QCOMPARE(contents(queuePath()), QByteArray("second\r\nthird\r\n"));
    QVERIFY(!writer.flush(settings));
    QCOMPARE(contents(logPath()), QByteArray("first\r\n"));

    holder.release();
    if (releaseByWrite)
        QVERIFY(write("fourth"));
    else
        QVERIFY(writer.flush(settings));
    QCOMPARE(contents(logPath()),
             QByteArray(releaseByWrite ? "first\r\nsecond\r\nthird\r\nfourth\r\n" : "first\r\nsecond\r\nthird\r\n"));
    QVERIFY(!QFile::exists(queuePath()));
}

void TestLogWriter::leftoverQueueMergesFirst()
{
    putFile(logPath(), "old\r\n");
    putFile(queuePath(), "queued 1\r\nqueued 2\r\n");
    QVERIFY(write("new"));
    QCOMPARE(contents(logPath()), QByteArray("old\r\nqueued 1\r\nqueued 2\r\nnew\r\n"));
    QVERIFY(!QFile::exists(queuePath()));
}

void TestLogWriter::lineFeedInsideLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("direct");
    QTest::addColumn<QByteArray>("queued");

    QTest::newRow("LF") << QByteArray("a\nb") << QByteArray("a\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\r\nb\r\n");
    QTest::newRow("LF at the end") << QByteArray("a\n") << QByteArray("a\n\r\n") << QByteArray("a\r\n\r\n");
}

void TestLogWriter::lineFeedInsideLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, direct);
    QFETCH(QByteArray, queued);

    QVERIFY(write(line));
    QCOMPARE(contents(logPath()), direct);
    putFile(logPath(), {});

    Holder holder;
    QVERIFY(holder.start("flock-ex", logPath()));
    QVERIFY(!write(line));
    QCOMPARE(contents(queuePath()), queued);
    holder.release();
    QVERIFY(writer.flush(settings));
    QCOMPARE(contents(logPath()), queued);
}

void TestLogWriter::rotationThreshold()
{
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    const QString rotated = settings.DataDir + "/log_240131_235907.txt";
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::WriteOnly));
    QVERIFY(log.resize(FiveMiB));
    log.close();

    rotateLogFile(settings, now);
    QVERIFY(!QFile::exists(rotated));
    QVERIFY(write("x"));
    QCOMPARE(QFileInfo(logPath()).size(), FiveMiB + 3);

    rotateLogFile(settings, now);
    QCOMPARE(QFileInfo(rotated).size(), FiveMiB + 3);
    QVERIFY(!QFile::exists(logPath()));
    QVERIFY(write("y"));
    QCOMPARE(contents(logPath()), QByteArray("y\r\n"));
}

void TestLogWriter::rotatedName_data()
{
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<QString>("rotated");

    QTest::newRow("name and suffix") << "log.txt"
                                     << "log_240131_235907.txt";
    QTest::newRow("no dot") << "events"
                            << "events_240131_235907.";
    QTest::newRow("several dots") << "site.a.txt"
                                  << "site.a_240131_235907.txt";
    QTest::newRow("sub-path") << "sub.d/log.txt"
                              << "log_240131_235907.txt";
}

void TestLogWriter::rotatedName()
{
    QFETCH(QString, dataFile);
    QFETCH(QString, rotated);

    settings.DataFile = dataFile;
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    QCOMPARE(rotatedLogPath(settings, now), settings.DataDir + QDir::separator() + rotated);

    QVERIFY(QDir().mkpath(QFileInfo(logPath()).absolutePath()));
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::WriteOnly));
    QVERIFY(log.resize(FiveMiB + 1));
    log.close();
    rotateLogFile(settings, now);
    QVERIFY(!QFile::exists(logPath()));
    QCOMPARE(QFileInfo(settings.DataDir + "/" + rotated).size(), FiveMiB + 1);
}

void TestLogWriter::rotationCollision()
{
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    writer.clock = [now] { return now; };
    putFile(rotatedLogPath(settings, now), "earlier rotation\r\n");
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::WriteOnly));
    QVERIFY(log.resize(FiveMiB + 1));
    log.close();

    rotateLogFile(settings, now);
    QVERIFY(write("goes on"));
    QCOMPARE(QFileInfo(logPath()).size(), FiveMiB + 1 + 9);
    QCOMPARE(contents(rotatedLogPath(settings, now)), QByteArray("earlier rotation\r\n"));

    rotateLogFile(settings, now.addSecs(1));
    QCOMPARE(QFileInfo(rotatedLogPath(settings, now.addSecs(1))).size(), FiveMiB + 1 + 9);
}

void TestLogWriter::rotationWaitsForTheLock()
{
    // A rename ignores advisory locks: a locked over-large log stays where it is, and what
    // is written meanwhile waits in the queue, for the new log once the lock is gone.
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::WriteOnly));
    QVERIFY(log.resize(FiveMiB + 1));
    log.close();
    Holder holder;
    QVERIFY(holder.start("ofd-wr", logPath()));
    rotateLogFile(settings, now);
    QVERIFY(!writer.write(settings, QByteArrayList{"a", "b"}));
    QVERIFY(!QFile::exists(rotatedLogPath(settings, now)));
    QCOMPARE(QFileInfo(logPath()).size(), FiveMiB + 1);

    holder.release();
    rotateLogFile(settings, now);
    QVERIFY(write("c"));
    QCOMPARE(QFileInfo(rotatedLogPath(settings, now)).size(), FiveMiB + 1);
    QCOMPARE(contents(logPath()), QByteArray("a\r\nb\r\nc\r\n"));
}

void TestLogWriter::rotationSplitsAFrame_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("one write") << 0 << false;
    QTest::newRow("split inside the queue file") << 3 << false;
    QTest::newRow("file replaced before the rename") << 0 << true;
}

void TestLogWriter::rotationSplitsAFrame()
{
    QFETCH(int, queued);
    QFETCH(bool, replaced);

    // 600 bytes below the threshold, five lines of 430 bytes: the second passes it, and
    // the third is the first to find the file over it.
    const QByteArray before = QByteArray(FiveMiB - 600 - 2, '.') + "\r\n";
    QByteArrayList lines;
    QByteArray all;
    for (char c = 'a'; c <= 'e'; ++c) {
        lines << QByteArray(428, c);
        all += lines.back() + "\r\n";
    }
    putFile(logPath(), before);
    if (queued > 0)
        putFile(queuePath(), all.left(430 * queued));
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    const QString moved = tmp->filePath("moved.txt");
    bool replaceFile = replaced;
    writer.clock = [&] {
        if (std::exchange(replaceFile, false)) {
            QFile::rename(logPath(), moved);
            QFile other(logPath());
            if (other.open(QIODevice::WriteOnly))
                other.write("other\r\n");
        }
        return now;
    };
    const bool stored = writer.write(settings, lines.mid(queued));
    if (!replaced) {
        QVERIFY(stored);
        QCOMPARE(contents(rotatedLogPath(settings, now)), before + all.left(2 * 430));
        QCOMPARE(contents(logPath()), all.mid(2 * 430));
        QVERIFY(!QFile::exists(queuePath()));
        return;
    }
    // Only the file whose locks were asked for is renamed; what went into it is taken back
    // and waits for the file now in its place.
    QVERIFY(!stored);
    QVERIFY(!QFile::exists(rotatedLogPath(settings, now)));
    QCOMPARE(contents(moved), before);
    QVERIFY(writer.flush(settings));
    QCOMPARE(contents(logPath()), "other\r\n" + all);
}

void TestLogWriter::dataFolderRemovedAndRestored_data()
{
    QTest::addColumn<bool>("parentToo");

    // Only the data folder gone: made again at once. Its parent gone too (a drive that
    // went away): nothing is made, lines wait in memory until the folder is back.
    QTest::newRow("data folder") << false;
    QTest::newRow("with its parent") << true;
}

void TestLogWriter::dataFolderRemovedAndRestored()
{
    QFETCH(bool, parentToo);

    const QString gone = parentToo ? tmp->filePath("base") : settings.DataDir;
    const QString away = tmp->filePath("away");
    QVERIFY(write("A"));
    QVERIFY(write("B"));
    QVERIFY(QDir().rename(gone, away));
    if (!parentToo) {
        QVERIFY(write("C"));
        QCOMPARE(contents(logPath()), QByteArray("C\r\n"));
        return;
    }
    // Held lines are stored as queued lines are: an LF inside becomes CR LF.
    QVERIFY(!write("C\nc"));
    QVERIFY(!write("D"));
    QVERIFY(!writer.flush(settings));
    QCOMPARE(writer.heldLines(), 2);
    QVERIFY(!QFile::exists(settings.DataDir));

    QVERIFY(QDir().rename(away, gone));
    QVERIFY(write("E"));
    QVERIFY(write("F"));
    QCOMPARE(contents(logPath()), QByteArray("A\r\nB\r\nC\r\nc\r\nD\r\nE\r\nF\r\n"));
    QCOMPARE(writer.heldLines(), 0);
}

void TestLogWriter::heldLinesGoToQueueFirst()
{
    QVERIFY(write("A"));
    Holder holder;
    QVERIFY(holder.start("ofd-wr", logPath()));
    QVERIFY(!write("B"));
    const QString away = tmp->filePath("away");
    QVERIFY(QDir().rename(tmp->filePath("base"), away));
    QVERIFY(!write("C"));
    QCOMPARE(writer.heldLines(), 1);

    // The queue can take lines again while the log is still locked: what waited in
    // memory goes in first.
    QVERIFY(QDir().rename(away, tmp->filePath("base")));
    QVERIFY(!write("D"));
    QCOMPARE(writer.heldLines(), 0);
    QCOMPARE(contents(queuePath()), QByteArray("B\r\nC\r\nD\r\n"));

    holder.release();
    QVERIFY(writer.flush(settings));
    QCOMPARE(contents(logPath()), QByteArray("A\r\nB\r\nC\r\nD\r\n"));
}

void TestLogWriter::failedWriteCountsAsNothing_data()
{
    QTest::addColumn<bool>("queueFull");

    QTest::newRow("log file full") << false;
    QTest::newRow("log and queue full") << true;
}

void TestLogWriter::failedWriteCountsAsNothing()
{
    QFETCH(bool, queueFull);

    // /dev/full opens fine and refuses every write, as a full disk does.
    QVERIFY(QFile::link("/dev/full", logPath()));
    if (queueFull)
        QVERIFY(QFile::link("/dev/full", queuePath()));
    QVERIFY(!write("A"));
    QVERIFY(!write("B"));
    QCOMPARE(writer.heldLines(), queueFull ? 2 : 0);
    if (!queueFull)
        QCOMPARE(contents(queuePath()), QByteArray("A\r\nB\r\n"));

    QVERIFY(QFile::remove(logPath()));
    if (queueFull)
        QVERIFY(QFile::remove(queuePath()));
    QVERIFY(write("C"));
    QCOMPARE(contents(logPath()), QByteArray("A\r\nB\r\nC\r\n"));
    QVERIFY(!QFile::exists(queuePath()));
}

void TestLogWriter::undeletableQueue_data()
{
    QTest::addColumn<bool>("queueWritable");

    QTest::newRow("queue emptied instead") << true;
    QTest::newRow("queue read-only, copy undone") << false;
}

void TestLogWriter::undeletableQueue()
{
    QFETCH(bool, queueWritable);

    // The flush runs in a helper as an unprivileged user, so that the folder's permissions
    // hold even when the tests run as root.
    using P = QFile::Permission;
    const QFile::Permissions all =
        P::ReadOwner | P::WriteOwner | P::ReadGroup | P::WriteGroup | P::ReadOther | P::WriteOther;
    const QFile::Permissions folder =
        P::ReadOwner | P::ExeOwner | P::ReadGroup | P::ExeGroup | P::ReadOther | P::ExeOther;
    for (const QString &path : {tmp->path(), tmp->filePath("base")})
        QVERIFY(QFile::setPermissions(path, folder | P::WriteOwner));
    putFile(logPath(), "A\r\n");
    putFile(queuePath(), "B\r\nC\r\n");
    QVERIFY(QFile::setPermissions(logPath(), all));
    QVERIFY(
        QFile::setPermissions(queuePath(), queueWritable ? all : folder & ~(P::ExeOwner | P::ExeGroup | P::ExeOther)));
    QVERIFY(QFile::setPermissions(settings.DataDir, folder));
    // Each side opens only files of its own.
    const auto handTo = [this](uid_t user) {
        for (const QString &path : {logPath(), queuePath()})
            QVERIFY(::getuid() != 0 || ::chown(QFile::encodeName(path).constData(), user, user) == 0);
    };
    handTo(65534);

    const auto flushAsUser = [&] {
        return QProcess::execute(EVENTLOG_HELPER, {"flush", settings.DataDir, settings.DataFile});
    };
    QCOMPARE(flushAsUser(), queueWritable ? 0 : 1);
    QCOMPARE(flushAsUser(), queueWritable ? 0 : 1);
    if (queueWritable) {
        QCOMPARE(contents(logPath()), QByteArray("A\r\nB\r\nC\r\n"));
        QCOMPARE(QFileInfo(queuePath()).size(), 0);
    } else {
        QCOMPARE(contents(logPath()), QByteArray("A\r\n"));
        QCOMPARE(contents(queuePath()), QByteArray("B\r\nC\r\n"));
    }

    QVERIFY(QFile::setPermissions(settings.DataDir, folder | P::WriteOwner));
    handTo(0);
    QVERIFY(write("D"));
    QCOMPARE(contents(logPath()), QByteArray("A\r\nB\r\nC\r\nD\r\n"));
    QVERIFY(!QFile::exists(queuePath()));
}

void TestLogWriter::unreadableQueueLeftAlone()
{
    // A queue file we cannot read is kept for a later write; the line itself is not held
    // back, no retry is due, and a retry all the same leaves the log file untouched.
    QVERIFY(QDir().mkdir(queuePath()));
    QVERIFY(write("A"));
    QCOMPARE(contents(logPath()), QByteArray("A\r\n"));
    QVERIFY(QFileInfo(queuePath()).isDir());
    QCOMPARE(writer.heldLines(), 0);
    const QDateTime modified = QFileInfo(logPath()).fileTime(QFile::FileModificationTime);
    QTest::qWait(20);
    QVERIFY(writer.flush(settings));
    QCOMPARE(QFileInfo(logPath()).fileTime(QFile::FileModificationTime), modified);
}

void TestLogWriter::hostileDataFolder_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("queue");
    QTest::addColumn<int>("held");

    // "victim" stands for a file of the user's outside the data folder, such as
    // ~/.ssh/authorized_keys; "other's" things belong to the account nobody.
    QTest::newRow("own symlink") << "own link"
                                 << "victim" << QByteArray("keys\nA\r\n") << QByteArray() << 0;
    QTest::newRow("own symlink into a folder open to others")
        << "own link, open target"
        << "open/victim" << QByteArray("keys\n") << QByteArray("A\r\n") << 0;
    QTest::newRow("other's symlink") << "other's link"
                                     << "victim" << QByteArray("keys\n") << QByteArray("A\r\n") << 0;
    QTest::newRow("other's file") << "other's file"
                                  << "base/data/log.txt" << QByteArray() << QByteArray("A\r\n") << 0;
    QTest::newRow("FIFO") << "fifo"
                          << "victim" << QByteArray("keys\n") << QByteArray("A\r\n") << 0;
    QTest::newRow("other's queue.tmp in a sticky folder")
        << "other's queue"
        << "base/data/log.txt" << QByteArray("A\r\n") << QByteArray("X\r\n") << 0;
    QTest::newRow("folder writable by others") << "open folder"
                                               << "victim" << QByteArray("keys\n") << QByteArray() << 1;
}

void TestLogWriter::hostileDataFolder()
{
    QFETCH(QString, plant);
    QFETCH(QString, checked);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, queue);
    QFETCH(int, held);

    if (plant.startsWith("other's") && ::geteuid() != 0)
        QSKIP("only root can make files of another account (scripts/test.sh runs this as root)");
    const auto others = [](const QString &path) {
        return ::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
    };
    QString victim = tmp->filePath("victim");
    if (plant == "own link, open target") {
        QVERIFY(QDir().mkdir(tmp->filePath("open")));
        QVERIFY(QFile::setPermissions(tmp->filePath("open"), QFile::Permissions(0x7777)));
        victim = tmp->filePath("open/victim");
    }
    putFile(victim, "keys\n");
    if (plant.endsWith("link") || plant == "own link, open target")
        QVERIFY(QFile::link(victim, logPath()));
    if (plant == "other's link")
        QVERIFY(others(logPath()));
    if (plant == "other's file") {
        putFile(logPath(), QByteArray());
        QVERIFY(others(logPath()));
    }
    if (plant == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(logPath()).constData(), 0666), 0);
    if (plant == "other's queue") {
        putFile(queuePath(), "X\r\n");
        QVERIFY(others(queuePath()));
        QCOMPARE(::chmod(QFile::encodeName(settings.DataDir).constData(), 01777), 0);
    }
    if (plant == "open folder")
        QVERIFY(QFile::setPermissions(settings.DataDir, QFile::Permissions(0x7777)));

    write("A");
    QCOMPARE(contents(tmp->filePath(checked)), content);
    QCOMPARE(contents(queuePath()), queue);
    QCOMPARE(writer.heldLines(), held);
}

QTEST_GUILESS_MAIN(TestLogWriter)
#include "tst_logwriter.moc"
