#include "platform.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
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

// Debian gives every user a group of the same name with nobody else in it, and then
// makes files group-writable by default: such a group is the user alone.
bool isOwnPrivateGroup(gid_t gid)
{
    thread_local gid_t knownGid = gid_t(-1);
    thread_local bool knownAnswer = false;
    if (gid == knownGid)
        return knownAnswer;
    struct passwd user, *pw = nullptr;
    struct group grp, *gr = nullptr;
    char userBuffer[4096], groupBuffer[16384];
    bool own = ::getpwuid_r(::geteuid(), &user, userBuffer, sizeof userBuffer, &pw) == 0 && pw && pw->pw_gid == gid &&
               ::getgrgid_r(gid, &grp, groupBuffer, sizeof groupBuffer, &gr) == 0 && gr &&
               std::strcmp(gr->gr_name, pw->pw_name) == 0;
    for (char **member = own ? gr->gr_mem : nullptr; member && *member; ++member)
        own = own && std::strcmp(*member, pw->pw_name) == 0;
    knownGid = gid;
    knownAnswer = own;
    return own;
}

// Whether another account (root aside) may create, rename or remove names in the folder:
// it can write to it, or owns it, and no sticky bit keeps it to its own names.
bool openToOthers(const struct stat &folder)
{
    if (folder.st_mode & S_ISVTX)
        return false;
    const uid_t me = ::geteuid();
    return (folder.st_uid != me && folder.st_uid != 0 && (folder.st_mode & S_IWUSR)) ||
           ((folder.st_mode & S_IWGRP) && !isOwnPrivateGroup(folder.st_gid)) || (folder.st_mode & S_IWOTH);
}

// "dir/name" as the folder (opened) and the name in it.
int openFolderOf(const QByteArray &path, QByteArray *name, int at = AT_FDCWD)
{
    const qsizetype slash = path.lastIndexOf('/');
    *name = path.mid(slash + 1);
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    return ::openat(at, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Opens a file in a folder that other accounts may share (a shared folder, /tmp/x made by
// someone else) so that none of them can choose what we write to or read from: planting
// "log.txt -> ~/.ssh/authorized_keys" there must not make us append to the user's keys.
// A symlink is followed only when it is ours, and only into a folder that is not open to
// others either; the file itself must be a regular file of ours. Each folder stays open
// while its name is looked at, so that what was checked is what gets opened.
int openOwnFile(const QString &nativePath, int flags)
{
    QByteArray name;
    int folder = openFolderOf(QFile::encodeName(nativePath), &name);
    for (int links = 0; folder != -1; ++links) {
        struct stat info;
        if (::fstat(folder, &info) != 0 || openToOthers(info)) {
            ::close(folder);
            errno = EPERM;
            return -1;
        }
        if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode))
            break;
        char target[PATH_MAX];
        const ssize_t length = info.st_uid == ::geteuid() && links < 8
                                   ? ::readlinkat(folder, name.constData(), target, sizeof target)
                                   : -1;
        const int next = length > 0 && length < ssize_t(sizeof target)
                             ? openFolderOf(QByteArray(target, length), &name, folder)
                             : -1;
        ::close(folder);
        if (next == -1) {
            errno = EPERM;
            return -1;
        }
        folder = next;
    }
    if (folder == -1)
        return -1;
    // O_NONBLOCK: a FIFO planted in the name must not keep us waiting for a reader.
    const int fd = ::openat(folder, name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    ::close(folder);
    if (fd == -1)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

} // namespace

bool folderOpenToOthers(const QString &nativePath)
{
    struct stat info;
    return ::stat(QFile::encodeName(nativePath).constData(), &info) == 0 && S_ISDIR(info.st_mode) && openToOthers(info);
}

LogFile::~LogFile()
{
    close();
}

bool LogFile::open(const QString &nativePath, quint8 shareMode)
{
    close();
    const int fd = openOwnFile(nativePath, O_WRONLY | O_CREAT);
    if (fd == -1)
        return false;
    if (!((shareMode & ShareWrite) ? nobodyLocks(fd) : lockExclusive(fd))) {
        ::close(fd); // also gives back a lock of the one family we may already have
        return false;
    }
    handle = fd;
    return true;
}

bool LogFile::openUnlocked(const QString &nativePath, bool forReading)
{
    close();
    handle = openOwnFile(nativePath, forReading ? O_RDONLY : O_WRONLY | O_CREAT);
    return handle != -1;
}

qint64 LogFile::read(char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::read(int(handle), data, size_t(size));
        if (n >= 0 || errno != EINTR)
            return n;
    }
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
