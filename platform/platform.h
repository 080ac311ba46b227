#pragma once

// Operating-system services the program needs in a form the rest of the code can share.
// Linux is the one platform built (the _linux sources); a port to another system would
// implement this header in sources of its own.

#include <QByteArray>
#include <QString>

namespace Platform {

// Makes a system-wide named object exist for as long as this process runs, so that
// installation and removal tools can tell that an instance is running. Any user can
// open it; it disappears when the process ends, however it ends. Failure is ignored,
// and a marker that already exists (another instance) is no error.
void createInstanceMarker(const char *name);

// Whether a marker of that name exists now (for tools and tests).
bool instanceMarkerExists(const char *name);

// Asks the kernel for a receive buffer of this size on a socket (beyond the usual cap
// where the process may), so that bursts wait in the kernel instead of being dropped.
void enlargeReceiveBuffer(qintptr socket, int bytes);

// Share mode bits for LogFile::open, as the Windows share modes.
enum ShareMode : quint8 { ShareRead = 1, ShareWrite = 2, ShareDelete = 4 };

// A log file opened for writing only; created when missing, never truncated.
class LogFile
{
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Fails when the file cannot be opened or created, or when another program holds it
    // in a way that the share mode does not allow beside our writing. While open, other
    // programs may only do what the share mode allows.
    bool open(const QString &nativePath, quint8 shareMode);
    bool isOpen() const { return handle != -1; }
    // The new position, that is the file's size; -1 on failure.
    qint64 seekToEnd();
    // Writes all of it or reports failure (some of it may have been written).
    bool write(const char *data, qint64 size);
    // Cuts the file back to size, for undoing a write that failed part-way.
    bool truncate(qint64 size);
    void close();

private:
    qintptr handle = -1;
};

} // namespace Platform
