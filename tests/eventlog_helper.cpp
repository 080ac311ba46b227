// A second process for the event log tests, doing what another program on the machine
// would do:
//   lock KIND FILE            holds a lock of KIND on FILE, says "locked", waits for EOF on stdin
//   date YYYY-MM-DD           prints the date column as this process's locale gives it
//   flush DATADIR DATAFILE    one queue flush as an unprivileged user (exit 0 when all stored)
#include "eventline.h"
#include "logwriter.h"

#include <QDate>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int holdLock(const char *kind, const char *path)
{
    const bool readOnly = std::strcmp(kind, "read") == 0;
    const int fd = ::open(path, readOnly ? O_RDONLY : O_RDWR);
    if (fd < 0)
        return 2;
    int rc = 0;
    struct flock range = {};
    range.l_whence = SEEK_SET;
    if (std::strcmp(kind, "flock-ex") == 0) {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } else if (std::strcmp(kind, "flock-sh") == 0) {
        rc = ::flock(fd, LOCK_SH | LOCK_NB);
    } else if (std::strncmp(kind, "ofd-", 4) == 0 || std::strncmp(kind, "posix-", 6) == 0) {
        range.l_type = std::strstr(kind, "-wr") ? F_WRLCK : F_RDLCK;
        rc = ::fcntl(fd, kind[0] == 'o' ? F_OFD_SETLK : F_SETLK, &range);
    } else if (!readOnly) {
        return 2;
    }
    if (rc != 0)
        return 3;
    std::puts("locked");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    ::close(fd);
    return 0;
}

int flushAsUser(const char *dataDir, const char *dataFile)
{
    // Root may delete anything; the point is a folder we may not change.
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return 2;
    TSettings settings;
    settings.DataDir = QString::fromLocal8Bit(dataDir);
    settings.DataFile = QString::fromLocal8Bit(dataFile);
    TLogWriter writer;
    return writer.flush(settings) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "lock") == 0)
        return holdLock(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "date") == 0) {
        std::puts(
            EventLine::dateText(QDate::fromString(QString::fromLatin1(argv[2]), Qt::ISODate)).toUtf8().constData());
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "flush") == 0)
        return flushAsUser(argv[2], argv[3]);
    return 2;
}
