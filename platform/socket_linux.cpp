#include "platform.h"
#include "udp_linux.h"

#include <cerrno>
#include <cstring>
#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Platform {

namespace {

// The largest UDP payload is 65507 bytes over IPv4, 65527 over IPv6 (without jumbograms):
// nothing is ever cut.
constexpr qsizetype SlotSize = 65536;

} // namespace

bool refusedForWantOfGrant(int port, const QString &reason)
{
    // The kernel says EACCES; authbind's helper, when its file is not the user's to run, EPERM.
    return port > 0 && port < 1024 &&
           (reason.contains(QString::fromLocal8Bit(std::strerror(EACCES))) ||
            reason.contains(QString::fromLocal8Bit(std::strerror(EPERM))));
}

DatagramSocket::~DatagramSocket()
{
    close();
}

bool DatagramSocket::bind(quint16 port, int receiveBufferBytes, QString *error)
{
    close();
    const int fd = Udp::bindEverywhere(port, receiveBufferBytes, true);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    handle = fd;
    wakeHandle = wakeFd;
    dropped = 0;
    readsUncounted = 0;
    failure.clear();
    return true;
}

int DatagramSocket::receive(void (*take)(void *context, const char *data, qsizetype size), void *context, bool wait)
{
    if (handle == -1)
        return Woken;
    if (wait) {
        pollfd fds[2] = {{int(handle), POLLIN, 0}, {int(wakeHandle), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                return 0;
            failure = QString::fromLocal8Bit(std::strerror(errno));
            return Failed;
        }
        if (fds[1].revents)
            return Woken;
    }
    // Only the pages a datagram is written into are ever touched.
    if (buffers.isEmpty())
        buffers = QByteArray(Batch * SlotSize, Qt::Uninitialized);
    mmsghdr messages[DatagramSocket::Batch] = {};
    iovec vectors[DatagramSocket::Batch];
    for (int i = 0; i < Batch; ++i) {
        vectors[i] = {buffers.data() + i * SlotSize, size_t(SlotSize)};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int count = ::recvmmsg(int(handle), messages, Batch, MSG_DONTWAIT, nullptr);
    if (count < 0 && (errno == EBADF || errno == EFAULT || errno == EINVAL || errno == ENOTSOCK)) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        return Failed;
    }
    // EAGAIN after a spurious wake-up; other errors concern one datagram (a pending ICMP
    // error) or a passing shortage, not the socket.
    for (int i = 0; i < count; ++i)
        take(context, static_cast<const char *>(vectors[i].iov_base), qsizetype(messages[i].msg_len));
    if (count > 0 || ++readsUncounted >= 64) {
        // Asked for once a read, not with every datagram (SO_RXQ_OVFL), which cost the
        // reading thread a tenth of its time in a burst.
        readsUncounted = 0;
        countDrops();
    }
    return qMax(count, 0);
}

void DatagramSocket::countDrops()
{
    quint32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof memory;
    if (::getsockopt(int(handle), SOL_SOCKET, SO_MEMINFO, memory, &size) == 0)
        dropped = memory[SK_MEMINFO_DROPS];
}

void DatagramSocket::freeze()
{
    Udp::freeze(int(handle));
}

quint64 DatagramSocket::discardHeld()
{
    if (handle == -1)
        return 0;
    const quint64 discarded = Udp::discardHeld(int(handle));
    countDrops();
    return discarded;
}

bool DatagramSocket::pause(int ms)
{
    pollfd wakeFd = {int(wakeHandle), POLLIN, 0};
    return ::poll(&wakeFd, 1, ms) == 0 || (wakeFd.revents == 0 && errno == EINTR);
}

void DatagramSocket::wake()
{
    const quint64 one = 1;
    if (wakeHandle != -1 && ::write(int(wakeHandle), &one, sizeof one) < 0) {
        // An eventfd only refuses when its counter would overflow: it is signalled anyway.
    }
}

void DatagramSocket::close()
{
    if (handle != -1)
        ::close(int(handle));
    if (wakeHandle != -1)
        ::close(int(wakeHandle));
    handle = wakeHandle = -1;
    buffers = QByteArray();
}

} // namespace Platform
