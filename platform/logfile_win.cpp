#include "platform.h"

#include <QDir>

#include <windows.h>

// Windows enforces share modes itself: asking for write access while sharing only reading
// fails when another process has the file open for writing, or open without allowing
// writers, and keeps others from writing until the handle is closed.

namespace Platform {

static_assert(ShareRead == FILE_SHARE_READ && ShareWrite == FILE_SHARE_WRITE && ShareDelete == FILE_SHARE_DELETE,
              "share mode bits are passed through unchanged");

namespace {

HANDLE toHandle(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

LogFile::~LogFile()
{
    close();
}

bool LogFile::open(const QString &nativePath, quint8 shareMode)
{
    close();
    const std::wstring path = QDir::toNativeSeparators(nativePath).toStdWString();
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, shareMode, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle = reinterpret_cast<qintptr>(h);
    return true;
}

qint64 LogFile::seekToEnd()
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(toHandle(handle), zero, &position, FILE_END))
        return -1;
    return position.QuadPart;
}

bool LogFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const DWORD chunk = DWORD(qMin<qint64>(size, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(toHandle(handle), data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool LogFile::truncate(qint64 size)
{
    LARGE_INTEGER position = {};
    position.QuadPart = size;
    return ::SetFilePointerEx(toHandle(handle), position, nullptr, FILE_BEGIN) && ::SetEndOfFile(toHandle(handle));
}

void LogFile::close()
{
    if (handle != -1)
        ::CloseHandle(toHandle(handle));
    handle = -1;
}

} // namespace Platform
