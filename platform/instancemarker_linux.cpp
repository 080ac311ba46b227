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
// SIGKILL. The marker is a datagram socket: a probe connects a datagram socket of its own
// to the name, which succeeds at once while the name is bound and queues nothing, so any
// number of probes neither fill anything nor block.
//
// A named mutex stays while any instance holds it; a socket name has one owner. So a
// later instance waits and takes the name over when the owner goes away. It waits
// connected to a second name, a stream socket the owner listens on and never accepts
// from: the connection ends with the owner's process. Probes never go there.

namespace {

sockaddr_un markerAddress(const std::string &name, socklen_t *length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t size = std::min(name.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.data(), size); // sun_path[0] == 0: abstract
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

std::string ownerName(const std::string &name)
{
    return name + "/owner";
}

// Binds a new socket of that type to the name; -1 (errno set) when it is taken.
int bindName(int type, const std::string &name)
{
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    socklen_t length = 0;
    const sockaddr_un address = markerAddress(name, &length);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// True when the name is ours now. The descriptors are deliberately never closed: they
// live as long as the process.
bool claim(const std::string &name)
{
    if (bindName(SOCK_DGRAM, name) < 0)
        return false;
    // Without it a waiting instance falls back to asking every 200 ms.
    const int owner = bindName(SOCK_STREAM, ownerName(name));
    if (owner >= 0 && ::listen(owner, 64) != 0)
        ::close(owner);
    return true;
}

void waitAndTakeOver(const std::string &name)
{
    socklen_t length = 0;
    const sockaddr_un owner = markerAddress(ownerName(name), &length);
    for (;;) {
        if (claim(name))
            return;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&owner), length) == 0) {
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
    if (claim(name))
        return;
    if (errno == EADDRINUSE)
        std::thread(waitAndTakeOver, std::string(name)).detach();
}

bool instanceMarkerExists(const char *name)
{
    socklen_t length = 0;
    const sockaddr_un address = markerAddress(name, &length);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool exists = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(fd);
    return exists;
}

} // namespace Platform
