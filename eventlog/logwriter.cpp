#include "logwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char lineEnd[] = "\r\n";

// The queue file has always been written in Windows text mode, which stores every LF as
// CR LF: the terminator and any LF inside the line alike. Readers of the log file see
// queued lines exactly like that, so do the same here.
void appendQueued(QByteArray &out, const QByteArray &line)
{
    qsizetype from = 0;
    for (qsizetype lf; (lf = line.indexOf('\n', from)) != -1; from = lf + 1) {
        out.append(line.constData() + from, lf - from);
        out.append(lineEnd, 2);
    }
    out.append(line.constData() + from, line.size() - from);
    out.append(lineEnd, 2);
}

// A folder that has disappeared while the program runs (the user removed the data
// folder) is made again, but only one level: a missing parent more likely means an
// unmounted drive, where making folders would put the log in the wrong place.
bool recreateFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (info.exists() || !QFileInfo::exists(info.absolutePath()))
        return false;
    return QDir().mkdir(folder);
}

enum class QueueCopy { Nothing, Copied, Unreadable, WriteFailed };

} // namespace

QString logFilePath(const TSettings &s)
{
    return s.DataDir + QDir::separator() + s.DataFile;
}

QString queueFilePath(const TSettings &s)
{
    return s.DataDir + QDir::separator() + QStringLiteral("queue.tmp");
}

QString rotatedLogPath(const TSettings &s, const QDateTime &now)
{
    const QFileInfo name(s.DataFile);
    return s.DataDir + QDir::separator() + name.completeBaseName() + now.toString(u"_yyMMdd_hhmmss.") + name.suffix();
}

static void rotateIfLarge(const TSettings &s, const QDateTime *now)
{
    const QString path = logFilePath(s);
    // Read afresh every time: another program may have moved or cut the file. A missing
    // file reads as 0.
    if (QFileInfo(path).size() <= RotateThreshold)
        return;
    // Refused while the name is taken (a second rotation within the same second) or the
    // file cannot be moved; the file keeps growing and the next line tries again.
    QFile::rename(path, rotatedLogPath(s, now ? *now : QDateTime::currentDateTime()));
}

void rotateLogFile(const TSettings &s, const QDateTime &now)
{
    rotateIfLarge(s, &now);
}

void rotateLogFile(const TSettings &s)
{
    // Reading the local time costs a look at the time zone file; most lines need none.
    rotateIfLarge(s, nullptr);
}

bool TLogWriter::openLog(const TSettings &settings, Platform::LogFile &log) const
{
    const QString path = logFilePath(settings);
    if (log.open(QDir::toNativeSeparators(path), shareMode))
        return true;
    return recreateFolder(QFileInfo(path).absolutePath()) && log.open(QDir::toNativeSeparators(path), shareMode);
}

// Copies queue.tmp into the log in chunks of at most 10000 bytes.
static QueueCopy copyQueueFile(const QString &queuePath, Platform::LogFile &log)
{
    if (!QFileInfo::exists(queuePath))
        return QueueCopy::Nothing;
    QFile queue(queuePath);
    if (!queue.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QueueCopy::Unreadable;
    char chunk[10000];
    for (;;) {
        const qint64 n = queue.read(chunk, sizeof chunk);
        if (n < 0)
            return QueueCopy::Unreadable;
        if (n == 0)
            return QueueCopy::Copied;
        if (!log.write(chunk, n))
            return QueueCopy::WriteFailed;
    }
}

// Writes, in this order, the queue file, the lines held in memory and the new line (if
// any) to the open log, as one unit: if any of it fails, the log is cut back to where it
// was and nothing counts as written.
TLogWriter::Outcome TLogWriter::storeWaiting(const TSettings &settings, Platform::LogFile &log, const QByteArray *line)
{
    const qint64 start = log.seekToEnd();
    if (start < 0)
        return Outcome::Failed;

    const QString queuePath = QDir::toNativeSeparators(queueFilePath(settings));
    const QueueCopy queue = copyQueueFile(queuePath, log);
    if (queue == QueueCopy::WriteFailed) {
        log.truncate(start);
        return Outcome::Failed;
    }
    if (queue == QueueCopy::Unreadable && !log.truncate(start))
        return Outcome::Failed;
    // An unreadable queue file is left as it is for a later attempt; what waits in memory
    // and the new line are not held back for it.

    QByteArray out;
    for (const QByteArray &h : std::as_const(held))
        out += h + lineEnd;
    if (line)
        out += *line + lineEnd;
    if (!out.isEmpty() && !log.write(out.constData(), out.size())) {
        log.truncate(start);
        return Outcome::Failed;
    }

    // Its lines are in the log now and must never be copied a second time: when the file
    // cannot be removed, empty it; when it cannot be emptied either, undo the copy.
    if (queue == QueueCopy::Copied && !QFile::remove(queuePath) && !QFile::resize(queuePath, 0)) {
        log.truncate(start);
        return Outcome::Failed;
    }
    held.clear();
    return queue == QueueCopy::Unreadable ? Outcome::QueueLeft : Outcome::Stored;
}

// Appends what is held in memory and then the new line (if any) to queue.tmp; whatever
// cannot be appended whole stays in memory, in order.
bool TLogWriter::appendToQueue(const TSettings &settings, const QByteArray *line)
{
    if (held.isEmpty() && !line)
        return true;
    const QString path = QDir::toNativeSeparators(queueFilePath(settings));
    QFile queue(path);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    bool stored = queue.open(mode) || (recreateFolder(settings.DataDir) && queue.open(mode));
    if (stored) {
        const qint64 before = queue.size();
        QByteArray out;
        for (const QByteArray &h : std::as_const(held))
            appendQueued(out, h);
        if (line)
            appendQueued(out, *line);
        stored = queue.write(out) == out.size();
        if (!stored)
            queue.resize(before);
        queue.close();
    }
    if (stored)
        held.clear();
    else if (line)
        held.append(*line);
    return stored;
}

bool TLogWriter::write(const TSettings &settings, const char *bytes, int length)
{
    if (length <= 0)
        return flush(settings);
    const QByteArray line(bytes, length);
    {
        Platform::LogFile log;
        if (openLog(settings, log)) {
            const Outcome outcome = storeWaiting(settings, log, &line);
            if (outcome != Outcome::Failed)
                return outcome == Outcome::Stored;
        }
    } // the log and its locks are given back before the queue is touched
    appendToQueue(settings, &line);
    return false;
}

bool TLogWriter::flush(const TSettings &settings)
{
    {
        Platform::LogFile log;
        if (openLog(settings, log)) {
            const Outcome outcome = storeWaiting(settings, log, nullptr);
            if (outcome != Outcome::Failed)
                return outcome == Outcome::Stored;
        }
    }
    appendToQueue(settings, nullptr);
    return false;
}
