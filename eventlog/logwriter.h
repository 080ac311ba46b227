#pragma once

#include "platform.h"
#include "settings.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QString>

#include <functional>

// DataDir + separator + DataFile, as text (not yet native).
QString logFilePath(const TSettings &settings);
// DataDir + separator + "queue.tmp", as text (not yet native).
QString queueFilePath(const TSettings &settings);

// Rotation: a log file strictly larger than this is moved aside before the next line.
constexpr qint64 RotateThreshold = 5242880;
// DataDir + separator + base name of DataFile + "_yyMMdd_hhmmss." + suffix of DataFile.
// Only the last path component of DataFile counts: the rotated file lies in DataDir.
QString rotatedLogPath(const TSettings &settings, const QDateTime &now);
// Renames an over-large log file to rotatedLogPath(). A file that another program holds
// locked is left where it is (a rename would ignore the lock, and the program would later
// save over the lines written since), as is one whose new name is taken, and one that
// another program put in place of the file just checked; the next call tries again.
void rotateLogFile(const TSettings &settings, const QDateTime &now, quint8 shareMode = Platform::ShareRead);
// The same with the current local time, read only when the file is to be renamed.
void rotateLogFile(const TSettings &settings, quint8 shareMode = Platform::ShareRead);

// Appends event lines to the log file, diverting them to the pending queue file
// "queue.tmp" while the log file cannot be opened, and copying the queue in ahead of
// the next lines once it can. Lines that can be stored in neither file are kept in
// memory (up to HeldBound bytes), in order, and go out after the queue file's lines and
// before anything newer. The log file is opened and closed for every call, so that other
// programs can open, lock, move or delete it between calls. Every line, whether new,
// queued or held, is checked against RotateThreshold as if it were written on its own: a
// call goes on in a new log file from the line that finds the old one over it.
class TLogWriter
{
public:
    // The log file's share mode (Platform::ShareMode bits).
    explicit TLogWriter(quint8 shareMode = Platform::ShareRead) : shareMode(shareMode) {}

    // Stores lines (without line ends), in order, with one opening of the log file. True
    // when nothing waits for a retry by flush(); false while something waits (in
    // "queue.tmp" or in memory).
    bool write(const TSettings &settings, const QByteArrayList &lines);
    bool write(const TSettings &settings, const QByteArray &line) { return write(settings, QByteArrayList{line}); }

    // The timer's retry: opens the log file and moves everything waiting into it. While
    // the log file stays unavailable, lines held in memory are moved to "queue.tmp" if it
    // can take them. True when nothing waits for a retry any more.
    bool flush(const TSettings &settings);

    // Lines held in memory because neither file could be written, and lines dropped
    // because memory held as much as it may.
    int heldLines() const { return heldCount; }
    quint64 droppedLines() const { return dropped; }

    static constexpr qsizetype HeldBound = 64 * 1024 * 1024;

    quint8 shareMode;
    // The time that a rotated file's name carries, read as the file is moved aside.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

private:
    enum class Outcome { Stored, Failed };

    bool openLog(const TSettings &settings, Platform::LogFile &log) const;
    Outcome storeWaiting(const TSettings &settings, Platform::LogFile &log, const QByteArrayList &lines);
    bool appendToQueue(const TSettings &settings, const QByteArray &queued);
    void hold(const QByteArray &queued, int count);
    void releaseHeld();

    // Held lines, already in the queue file's form.
    QByteArray held;
    int heldCount = 0;
    quint64 dropped = 0;
    quint64 droppedReported = 0;
};
