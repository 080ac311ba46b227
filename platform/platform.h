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

// A UDP socket on every address, IPv6 and IPv4 (IPv4 alone where the system has no IPv6),
// read in batches by a thread of the caller's: bind and close on one thread, receive() on
// one other, wake() from anywhere.
class DatagramSocket
{
public:
    DatagramSocket() = default;
    ~DatagramSocket();
    DatagramSocket(const DatagramSocket &) = delete;
    DatagramSocket &operator=(const DatagramSocket &) = delete;

    // Binds the port at once and asks for a receive buffer of this size (beyond the usual
    // cap where the process may). On failure (no family could be bound): false, and the
    // system's reason for IPv4.
    bool bind(quint16 port, int receiveBufferBytes, QString *error);
    bool isBound() const { return handle != -1; }
    // Waits until datagrams are there or wake() is called, then reads what is there (a
    // batch at most) and hands each datagram to take(). Returns how many it read, -1 once
    // woken, -2 when the socket failed (error() says why). With wait false it only reads
    // what is there, for emptying the socket.
    int receive(void (*take)(void *context, const char *data, qsizetype size), void *context, bool wait = true);
    static constexpr int Batch = 64;
    static constexpr int Woken = -1;
    static constexpr int Failed = -2;
    // Why the socket failed, in the system's words.
    QString error() const { return failure; }
    void wake();
    // From here on the socket takes no more datagrams; those it holds can still be read.
    // For a stop that keeps everything that arrived before it and nothing after.
    void freeze();
    // Reads and discards what the socket still holds: how many datagrams that was.
    quint64 discardHeld();
    // Waits this long unless wake() is called (false then): datagrams that come in the
    // meantime are read together, at the cost of one wake-up instead of one each.
    bool pause(int ms);
    // Datagrams the system discarded since bind because the receive buffer was full.
    quint64 kernelDropped() const { return dropped; }
    void close();

private:
    void countDrops();

    qintptr handle = -1;
    qintptr wakeHandle = -1;
    quint64 dropped = 0;
    int readsUncounted = 0;
    QByteArray buffers;
    QString failure;
};

// Whether a bind of this port failed, by the system's reason, for want of the right to
// ports below 1024 (refused by the system, or by the authbind helper that grants it).
bool refusedForWantOfGrant(int port, const QString &reason);

// Gives memory that has been freed back to the system. After a burst the allocator keeps
// what the burst's datagrams and lines took, in the arena of each thread that took it.
void releaseFreedMemory();
// Sets the allocator up for a log view that grows by a few hundred bytes a line: large
// blocks get pages of their own, so that growing one copies nothing and touches only
// its new pages, and freeing one gives its pages back at once. Call before anything else.
void setUpAllocator();

// Turns the requests to end the process (SIGTERM, SIGINT, SIGHUP) into a descriptor
// that becomes readable, so that the event loop can end normally and store what waits.
// A signal that was ignored when the process started stays ignored (nohup, a background
// job of a script). -1 when it cannot be set up; the signals then keep their effect.
int terminationRequests();

// In a Wayland session that has an X server as well (XWayland), has Qt take its X11
// platform unless the user chose one (QT_QPA_PLATFORM; a -platform argument wins anyway):
// a Wayland client can neither place its window nor learn that the desktop minimised it,
// so the window would start wherever the compositor puts it and never go to the tray.
// Wayland stays the fallback when the X server cannot be reached. Sets QT_QPA_PLATFORM:
// call before the application object is made, and unset it once it is made (true: it
// was set here), so that the programs the window starts inherit the session's own choice.
bool preferX11InWaylandSession();

// Share mode bits for LogFile::open, as the Windows share modes.
enum ShareMode : quint8 { ShareRead = 1, ShareWrite = 2, ShareDelete = 4 };

// Whether accounts other than the user's and root may create, rename or remove names in
// the folder (it is writable by them or theirs, and not sticky). The log and queue files
// are not opened in such a folder.
bool folderOpenToOthers(const QString &nativePath);

// A log file opened for writing only; created when missing, never truncated. Only a
// regular file of the user's is opened, in a folder not open to others; a symlink only
// when the user made it (and then into such a folder as well).
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
    // The same file checks without any lock, for the queue file: for appending (created
    // when missing), or for reading.
    bool openUnlocked(const QString &nativePath, bool forReading);
    bool isOpen() const { return handle != -1; }
    // What was read (0 at the end), -1 on failure.
    qint64 read(char *data, qint64 size);
    // The new position, that is the file's size; -1 on failure.
    qint64 seekToEnd();
    // Writes all of it or reports failure (some of it may have been written).
    bool write(const char *data, qint64 size);
    // Cuts the file back to size, for undoing a write that failed part-way.
    bool truncate(qint64 size);
    // Whether nativePath leads to the file open here (the same device and inode): another
    // program may have moved, deleted or replaced it since it was opened.
    bool isAt(const QString &nativePath) const;
    void close();

private:
    qintptr handle = -1;
};

} // namespace Platform
