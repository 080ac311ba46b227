#include "logwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <list>
#include <vector>

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

enum class QueueCopy { Nothing, Copied, Unreadable, ReadFailed, WriteFailed };

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

namespace {

enum class Move { Moved, Kept, Replaced };

// Renames the log file that `locked` holds open and locked. Not when the name no longer
// leads to that file: another program has moved, deleted or replaced it since the opening,
// and whatever lies there now was never asked whether somebody holds it.
Move moveAside(const TSettings &s, const Platform::LogFile &locked, const QDateTime &now)
{
    const QString path = logFilePath(s);
    if (!locked.isAt(QDir::toNativeSeparators(path)))
        return Move::Replaced;
    // Refused while the name is taken (a second rotation within the same second) or the
    // file cannot be moved; the file keeps growing and the next write tries again.
    return QFile::rename(path, rotatedLogPath(s, now)) ? Move::Moved : Move::Kept;
}

} // namespace

static void rotateIfLarge(const TSettings &s, const QDateTime *now, quint8 shareMode)
{
    const QString path = logFilePath(s);
    // Read afresh every time: another program may have moved or cut the file. A missing
    // file reads as 0.
    if (QFileInfo(path).size() <= RotateThreshold)
        return;
    // A rename ignores advisory locks: ask the way the writer asks whether another program
    // holds the file, and keep our own locks over the rename so that none is taken in
    // between.
    Platform::LogFile log;
    if (log.open(QDir::toNativeSeparators(path), shareMode))
        moveAside(s, log, now ? *now : QDateTime::currentDateTime());
}

void rotateLogFile(const TSettings &s, const QDateTime &now, quint8 shareMode)
{
    rotateIfLarge(s, &now, shareMode);
}

void rotateLogFile(const TSettings &s, quint8 shareMode)
{
    // Reading the local time costs a look at the time zone file; most writes need none.
    rotateIfLarge(s, nullptr, shareMode);
}

bool TLogWriter::openLog(const TSettings &settings, Platform::LogFile &log) const
{
    const QString path = logFilePath(settings);
    if (log.open(QDir::toNativeSeparators(path), shareMode))
        return true;
    return recreateFolder(QFileInfo(path).absolutePath()) && log.open(QDir::toNativeSeparators(path), shareMode);
}

namespace {

// Writes one store's lines to the log file and, before a line that finds the file over
// the threshold, moves the file aside and goes on in a new one. Every file stays open, and
// locked, until the store is over, so that a failure can cut each back to where it was.
class RotatingLog
{
public:
    RotatingLog(const TSettings &settings, quint8 shareMode, const std::function<QDateTime()> &clock)
        : settings(settings), shareMode(shareMode), clock(clock)
    {
    }

    bool begin(Platform::LogFile &log)
    {
        const qint64 start = log.seekToEnd();
        if (start < 0)
            return false;
        parts.push_back({&log, start});
        size = start;
        return true;
    }
    // Text as the queue file holds it: a line starts after every LF.
    bool text(const char *data, qint64 n)
    {
        while (n > 0) {
            const char *lf = static_cast<const char *>(std::memchr(data, '\n', size_t(n)));
            const qint64 piece = lf ? lf + 1 - data : n;
            if ((atLineStart && !lineStart()) || !put(data, piece))
                return false;
            atLineStart = lf != nullptr;
            data += piece;
            n -= piece;
        }
        return true;
    }
    // One whole line with its line end, however many LFs it holds.
    bool line(const char *data, qint64 n) { return lineStart() && put(data, n); }
    // Writes what text() and line() were given so far; their buffers may change after it.
    bool flush()
    {
        const char *from = pending;
        const char *to = pendingEnd;
        pending = pendingEnd = nullptr;
        return from == to || parts.back().file->write(from, to - from);
    }
    // Cuts every file back to its size at the start; writing goes on in the newest.
    bool undo()
    {
        pending = pendingEnd = nullptr;
        atLineStart = true;
        bool cut = true;
        for (const Part &part : parts)
            cut = part.file->truncate(part.start) && cut;
        size = parts.back().start;
        return cut;
    }

private:
    bool lineStart()
    {
        // One refusal stands for the rest of the store: what stopped the rename is not
        // gone a line later, and the file simply keeps growing until the next store.
        if (size <= RotateThreshold || refused)
            return true;
        if (!flush())
            return false;
        switch (moveAside(settings, *parts.back().file, clock())) {
        case Move::Moved: break;
        case Move::Kept: refused = true; return true;
        case Move::Replaced: return false; // what went in since the opening is not in the log
        }
        Platform::LogFile &next = opened.emplace_back();
        if (!next.open(QDir::toNativeSeparators(logFilePath(settings)), shareMode))
            return false;
        return begin(next);
    }
    // Consecutive pieces of one buffer go out in one write.
    bool put(const char *data, qint64 n)
    {
        if (data != pendingEnd && !flush())
            return false;
        if (pending == nullptr)
            pending = data;
        pendingEnd = data + n;
        size += n;
        return true;
    }

    struct Part {
        Platform::LogFile *file;
        qint64 start;
    };
    const TSettings &settings;
    const quint8 shareMode;
    const std::function<QDateTime()> &clock;
    std::list<Platform::LogFile> opened; // the new files, after the caller's
    std::vector<Part> parts;
    qint64 size = 0; // of the newest file, with what is pending
    const char *pending = nullptr;
    const char *pendingEnd = nullptr;
    bool atLineStart = true;
    bool refused = false;
};

// Copies queue.tmp into the log in chunks of at most 10000 bytes.
QueueCopy copyQueueFile(const QString &queuePath, RotatingLog &log)
{
    if (!QFileInfo::exists(queuePath))
        return QueueCopy::Nothing;
    // One that another account made (in a sticky folder others share) is not ours to copy.
    Platform::LogFile queue;
    if (!queue.openUnlocked(queuePath, true))
        return QueueCopy::Unreadable;
    char chunk[10000];
    for (;;) {
        const qint64 n = queue.read(chunk, sizeof chunk);
        if (n < 0)
            return QueueCopy::ReadFailed;
        if (n == 0)
            return QueueCopy::Copied;
        if (!log.text(chunk, n) || !log.flush())
            return QueueCopy::WriteFailed;
    }
}

} // namespace

// Writes, in this order, the queue file, the lines held in memory and the new lines to the
// open log, as one unit: if any of it fails, the log (and a new one begun on the way) is
// cut back to where it was and nothing counts as written. A queue file that cannot be read
// is left for a later write; the lines after it are not held back for it.
TLogWriter::Outcome TLogWriter::storeWaiting(const TSettings &settings, Platform::LogFile &log,
                                             const QByteArrayList &lines)
{
    RotatingLog out(settings, shareMode, clock);
    if (!out.begin(log))
        return Outcome::Failed;

    const QString queuePath = QDir::toNativeSeparators(queueFilePath(settings));
    const QueueCopy queue = copyQueueFile(queuePath, out);
    const bool undo = queue == QueueCopy::WriteFailed || queue == QueueCopy::ReadFailed;
    if (undo && (!out.undo() || queue == QueueCopy::WriteFailed))
        return Outcome::Failed;
    QByteArray direct;
    for (const QByteArray &line : lines)
        direct.append(line).append(lineEnd, 2);
    bool written = out.text(held.constData(), held.size());
    qsizetype at = 0;
    for (const QByteArray &line : lines) {
        written = written && out.line(direct.constData() + at, line.size() + 2);
        at += line.size() + 2;
    }
    if (!written || !out.flush()) {
        out.undo();
        return Outcome::Failed;
    }
    // Its lines are in the log now and must never be copied a second time: when the file
    // cannot be removed, empty it; when it cannot be emptied either, undo the copy.
    if (queue == QueueCopy::Copied && !QFile::remove(queuePath) && !QFile::resize(queuePath, 0)) {
        out.undo();
        return Outcome::Failed;
    }
    releaseHeld();
    return Outcome::Stored;
}

// Appends what is held in memory and then the new lines (already in the queue file's form)
// to queue.tmp, as one unit.
bool TLogWriter::appendToQueue(const TSettings &settings, const QByteArray &queued)
{
    const QString path = QDir::toNativeSeparators(queueFilePath(settings));
    Platform::LogFile queue;
    if (!queue.openUnlocked(path, false) && !(recreateFolder(settings.DataDir) && queue.openUnlocked(path, false)))
        return false;
    const qint64 before = queue.seekToEnd();
    const bool stored = before >= 0 && (held.isEmpty() || queue.write(held.constData(), held.size())) &&
                        (queued.isEmpty() || queue.write(queued.constData(), queued.size()));
    if (!stored) {
        if (before >= 0)
            queue.truncate(before);
        return false;
    }
    releaseHeld();
    return true;
}

void TLogWriter::hold(const QByteArray &queued, int count)
{
    if (held.size() + queued.size() > HeldBound) {
        if (dropped == droppedReported)
            qWarning("Ventrix: neither the log file nor queue.tmp can be written, and memory holds no more: "
                     "new event lines are lost until one of them can be written again.");
        dropped += quint64(count);
        return;
    }
    held += queued;
    heldCount += count;
}

void TLogWriter::releaseHeld()
{
    held.clear();
    heldCount = 0;
    if (dropped != droppedReported) {
        qWarning("Ventrix: %llu event lines were lost while neither the log file nor queue.tmp could be written.",
                 static_cast<unsigned long long>(dropped - droppedReported));
        droppedReported = dropped;
    }
}

bool TLogWriter::write(const TSettings &settings, const QByteArrayList &lines)
{
    if (lines.isEmpty())
        return flush(settings);
    {
        Platform::LogFile log;
        if (openLog(settings, log) && storeWaiting(settings, log, lines) == Outcome::Stored)
            return true;
    } // the log and its locks are given back before the queue is touched
    QByteArray queued;
    for (const QByteArray &line : lines)
        appendQueued(queued, line);
    if (!appendToQueue(settings, queued))
        hold(queued, int(lines.size()));
    return false;
}

bool TLogWriter::flush(const TSettings &settings)
{
    {
        Platform::LogFile log;
        if (openLog(settings, log) && storeWaiting(settings, log, {}) == Outcome::Stored)
            return true;
    }
    if (heldCount > 0)
        appendToQueue(settings, QByteArray());
    return false;
}
