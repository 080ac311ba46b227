#include "platform.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Linux has no share modes, only advisory locks, and two families of them that do not
// see each other: flock() locks and fcntl() record locks (classic POSIX and OFD). The
// Windows behaviour is mapped onto them like this:
//
// - A program that has the file open for writing, or open while denying writers, holds
//   a lock of some kind on it. An exclusive lock is a writer; a shared (read) lock means
//   "nobody writes while I read", which is what a Windows reader without
//   FILE_SHARE_WRITE asks for. Either makes our opening fail.
// - A program that reads without any lock (tail, less, an editor loading the file)
//   allows writers and never stops us, as a Windows reader with FILE_SHARE_WRITE.
//
// Without ShareWrite we therefore take exclusive locks of both families and hold them
// while writing, so that cooperating programs cannot write or read-lock in between;
// lock-free readers still read freely. With ShareWrite we only check that nobody holds a
// lock and hold none ourselves. We take OFD locks, never classic POSIX ones: those are
// dropped whenever the process closes any descriptor of the file, and OFD locks conflict
// with classic POSIX locks of other processes in both directions.

namespace Platform {

namespace {

// A lock refused because someone else holds one. Other errors (ENOLCK, EINVAL,
// EOPNOTSUPP on file systems without lock support) say that locks cannot protect this
// file at all; the file is then used unlocked rather than never.
bool heldByOther(int error)
{
    return error == EWOULDBLOCK || error == EAGAIN || error == EACCES;
}

bool lockExclusive(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && heldByOther(errno))
        return false;
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET; // l_start 0, l_len 0: the whole file, however it grows
    return !(::fcntl(fd, F_OFD_SETLK, &range) != 0 && heldByOther(errno));
}

bool nobodyLocks(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::flock(fd, LOCK_UN);
    else if (heldByOther(errno))
        return false;
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &range) != 0)
        return true;
    return range.l_type == F_UNLCK;
}

} // namespace

LogFile::~LogFile()
{
    close();
}

bool LogFile::open(const QString &nativePath, quint8 shareMode)
{
    close();
    const int fd = ::open(QFile::encodeName(nativePath).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd == -1)
        return false;
    if (!((shareMode & ShareWrite) ? nobodyLocks(fd) : lockExclusive(fd))) {
        ::close(fd); // also gives back a lock of the one family we may already have
        return false;
    }
    handle = fd;
    return true;
}

qint64 LogFile::seekToEnd()
{
    return ::lseek(int(handle), 0, SEEK_END);
}

bool LogFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(int(handle), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool LogFile::truncate(qint64 size)
{
    return ::ftruncate(int(handle), off_t(size)) == 0 && ::lseek(int(handle), off_t(size), SEEK_SET) == size;
}

bool LogFile::isAt(const QString &nativePath) const
{
    struct stat opened, named;
    return handle != -1 && ::fstat(int(handle), &opened) == 0 &&
           ::stat(QFile::encodeName(nativePath).constData(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

void LogFile::close()
{
    // Closing the one description we locked through releases both locks.
    if (handle != -1)
        ::close(int(handle));
    handle = -1;
}

} // namespace Platform
