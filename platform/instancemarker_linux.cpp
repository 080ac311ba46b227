#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

// Linux has no named kernel mutex. An abstract-namespace UNIX socket is the closest
// thing: it is visible system-wide by name, needs no file, can be reached by every user,
// and the kernel removes it with the process's last descriptor, also after a crash or
// SIGKILL.
//
// A named mutex stays while any instance holds it; a socket name has one owner. So a
// later instance waits, connected to the owner, and takes the name over when the owner
// goes away.

namespace {

sockaddr_un markerAddress(const char *name, socklen_t *length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t size = std::min(std::strlen(name), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name, size); // sun_path[0] == 0: abstract
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

// True when the name is ours now. The descriptor is deliberately never closed: it
// lives as long as the process.
bool claim(const sockaddr_un &address, socklen_t length)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0 && ::listen(fd, 64) == 0)
        return true;
    ::close(fd);
    return false;
}

void waitAndTakeOver(sockaddr_un address, socklen_t length)
{
    for (;;) {
        if (claim(address, length))
            return;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0) {
            char byte;
            // Returns when the owner's socket is gone (the owner never writes).
            while (::read(fd, &byte, 1) < 0 && errno == EINTR) {
            }
        } else {
            ::usleep(200 * 1000);
        }
        ::close(fd);
    }
}

} // namespace

namespace Platform {

void createInstanceMarker(const char *name)
{
    // One marker per process, however many windows a process builds.
    static std::atomic_bool created{false};
    if (created.exchange(true))
        return;
    socklen_t length = 0;
    const sockaddr_un address = markerAddress(name, &length);
    if (claim(address, length))
        return;
    if (errno == EADDRINUSE)
        std::thread(waitAndTakeOver, address, length).detach();
}

bool instanceMarkerExists(const char *name)
{
    socklen_t length = 0;
    const sockaddr_un address = markerAddress(name, &length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool exists = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(fd);
    return exists;
}

} // namespace Platform
