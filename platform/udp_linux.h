// UDP sockets for every address of both families, and the freeze that ends reception
// without losing what arrived before it. Plain POSIX without Qt: the program's socket
// (socket_linux.cpp) and the trap library's use the same code.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Platform::Udp {

// A UDP socket bound to address (of either family), nonblocking if asked, with a receive
// buffer of this size asked for (beyond the usual cap where the process may). -1 with errno
// set.
inline int bindTo(const sockaddr *address, socklen_t size, int receiveBufferBytes, bool nonBlocking)
{
    const int fd = ::socket(address->sa_family, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0)
        return -1;
    // SO_RCVBUFFORCE passes net.core.rmem_max for a privileged process (CAP_NET_ADMIN);
    // otherwise the plain option gets as much as the cap allows.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes, sizeof receiveBufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    // IPv4 senders reach an IPv6 socket as ::ffff:a.b.c.d, whatever net.ipv6.bindv6only says.
    // Linux always allows it, so one socket serves both families.
    const int off = 0;
    if (address->sa_family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    // No SO_REUSEADDR: a port that another program has bound must be refused, not shared.
    if (::bind(fd, address, size) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Every address of both families ([::] taking IPv4 senders too), or of IPv4 alone where the
// system has no IPv6 (booted with ipv6.disable=1: no AF_INET6 at all, or no address to bind
// ::). Also IPv4 alone when another program holds the IPv6 port only: an IPv4 user keeps
// the receiver they had. -1 with the IPv4 bind's errno when that fails too. A port that
// another program holds for IPv4 only is refused, not half taken: IPv4 senders would go
// unseen behind a receiver that seems to run.
inline int bindEverywhere(std::uint16_t port, int receiveBufferBytes, bool nonBlocking)
{
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_port = htons(port);
    any6.sin6_addr = in6addr_any;
    const int fd = bindTo(reinterpret_cast<const sockaddr *>(&any6), sizeof any6, receiveBufferBytes, nonBlocking);
    if (fd >= 0)
        return fd;
    sockaddr_in any4{};
    any4.sin_family = AF_INET;
    any4.sin_port = htons(port);
    any4.sin_addr.s_addr = htonl(INADDR_ANY);
    return bindTo(reinterpret_cast<const sockaddr *>(&any4), sizeof any4, receiveBufferBytes, nonBlocking);
}

// From here on the socket takes no more datagrams; those it holds can still be read. A UDP
// socket connected to a peer takes datagrams from that peer only, and its own loopback
// address sends nothing. An IPv6 socket connected to ::1 takes no IPv4 senders either;
// where ::1 is missing (IPv6 off on the loopback device) the IPv4 loopback does it.
inline void freeze(int fd)
{
    sockaddr_storage own{};
    socklen_t size = sizeof own;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&own), &size) != 0)
        return;
    if (own.ss_family == AF_INET6) {
        auto *own6 = reinterpret_cast<sockaddr_in6 *>(&own);
        own6->sin6_addr = in6addr_loopback;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(own6), sizeof *own6) == 0)
            return;
        inet_pton(AF_INET6, "::ffff:127.0.0.1", &own6->sin6_addr);
        ::connect(fd, reinterpret_cast<const sockaddr *>(own6), sizeof *own6);
    } else if (own.ss_family == AF_INET) {
        auto *own4 = reinterpret_cast<sockaddr_in *>(&own);
        own4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<const sockaddr *>(own4), sizeof *own4);
    }
}

// Reads and discards what the socket still holds: how many datagrams that was. A frozen
// socket holds what its buffer held; the bound is for one that could not be frozen while a
// flood goes on.
inline std::uint64_t discardHeld(int fd)
{
    constexpr unsigned batch = 64;
    char byte;
    mmsghdr messages[batch] = {};
    iovec vectors[batch];
    for (unsigned i = 0; i < batch; ++i) {
        vectors[i] = {&byte, 1};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    std::uint64_t discarded = 0;
    int count;
    while (fd >= 0 && discarded < 1000000 && (count = ::recvmmsg(fd, messages, batch, MSG_DONTWAIT, nullptr)) > 0)
        discarded += std::uint64_t(count);
    return discarded;
}

} // namespace Platform::Udp
