#pragma once

#include "platform.h"
#include "settings.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QString>

// DataDir + separator + DataFile, as text (not yet native).
QString logFilePath(const TSettings &settings);
// DataDir + separator + "queue.tmp", as text (not yet native).
QString queueFilePath(const TSettings &settings);

// Rotation: a log file strictly larger than this is moved aside before the next line.
constexpr qint64 RotateThreshold = 5242880;
// DataDir + separator + base name of DataFile + "_yyMMdd_hhmmss." + suffix of DataFile.
// Only the last path component of DataFile counts: the rotated file lies in DataDir.
QString rotatedLogPath(const TSettings &settings, const QDateTime &now);
// Renames an over-large log file to rotatedLogPath(); a failed rename is absorbed, and
// the next call tries again.
void rotateLogFile(const TSettings &settings, const QDateTime &now);
// The same with the current local time, read only when the file is to be renamed.
void rotateLogFile(const TSettings &settings);

// Appends event lines to the log file, diverting them to the pending queue file
// "queue.tmp" while the log file cannot be opened, and copying the queue in ahead of
// the next line once it can. Lines that can be stored in neither file are kept in
// memory, in order, and go out after the queue file's lines and before anything newer.
// The log file is opened and closed for every call, so that other programs can open,
// move or delete it between events.
class TLogWriter
{
public:
    // The log file's share mode (Platform::ShareMode bits).
    explicit TLogWriter(quint8 shareMode = Platform::ShareRead) : shareMode(shareMode) {}

    // Stores one line (without line end). True when it reached the log file and nothing
    // waits any more; false when something waits (in "queue.tmp" or in memory) and a
    // retry by flush() is needed.
    bool write(const TSettings &settings, const char *bytes, int length);

    // The timer's retry: opens the log file and moves everything waiting into it. While
    // the log file stays unavailable, lines held in memory are moved to "queue.tmp" if it
    // can take them. True when the log file could be opened and nothing waits any more.
    bool flush(const TSettings &settings);

    // Lines held in memory because neither file could be written.
    int heldLines() const { return int(held.size()); }

    quint8 shareMode;

private:
    enum class Outcome { Stored, QueueLeft, Failed };

    bool openLog(const TSettings &settings, Platform::LogFile &log) const;
    Outcome storeWaiting(const TSettings &settings, Platform::LogFile &log, const QByteArray *line);
    bool appendToQueue(const TSettings &settings, const QByteArray *line);

    QByteArrayList held;
};
