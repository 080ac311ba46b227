#include "platform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

namespace Platform {

namespace {

int writeEnd = -1;

void onTerminationSignal(int)
{
    // Only async-signal-safe calls here, and errno as the interrupted code left it; a
    // full pipe is already readable.
    const int savedErrno = errno;
    const char byte = 1;
    if (::write(writeEnd, &byte, 1) < 0) {
    }
    errno = savedErrno;
}

} // namespace

int terminationRequests()
{
    static int readEnd = -1;
    if (readEnd != -1)
        return readEnd;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    writeEnd = ends[1];
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // Whoever started us ignored it on purpose (nohup, a background job of a script):
        // the shells' convention is to leave it so.
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
    readEnd = ends[0];
    return readEnd;
}

bool preferX11InWaylandSession()
{
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (!wayland || qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    return qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

void setUpAllocator()
{
    // A fixed threshold: glibc would raise it to the size of every large block freed,
    // and the text of the view would then grow by copying within the heap.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

void releaseFreedMemory()
{
    ::malloc_trim(0);
}

} // namespace Platform
