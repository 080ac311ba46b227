#include "receiver.h"

#include "readpace.h"
#include "snmp_engine.h"
#include "udp_linux.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace nrv {
namespace {

// Room in the kernel for a burst while the reader waits for a CPU. The
// default (~200 KiB) holds a few hundred datagrams; without privileges the
// kernel caps the request at net.core.rmem_max.
constexpr int kReceiveBuffer = 16 * 1024 * 1024;
constexpr unsigned kBatch = 32;
// The largest UDP payload is 65507 bytes over IPv4, 65527 over IPv6 (without
// jumbograms): nothing is ever cut.
constexpr std::size_t kDatagramSize = 65536;
// What the reader may hold for the decoder. The reader only copies, so it
// keeps up with a burst that the decoder needs a while to work through; a
// flood beyond this is dropped and counted rather than eating memory.
constexpr std::size_t kQueueLimit = 64 * 1024 * 1024;
// What a queued datagram costs beyond its bytes (block and deque bookkeeping),
// so that a flood of tiny datagrams is bounded too.
constexpr std::size_t kPacketOverhead = 128;
// The reader copies datagrams one after another into blocks of this size, each
// large enough for pages of its own: a thread that allocated every datagram on its
// own grew its heap a page at a time, which took half of its time in a burst.
constexpr std::size_t kBlockSize = 256 * 1024;
// How many milliseconds in a row the decoder leaves the processor to the reader during a
// burst.
constexpr int kFloodPauses = 20;
// A stop reads what the socket held when it began for this long at most, and decodes
// what was received for this long at most after it began.
constexpr auto kStopReading = std::chrono::seconds(1);
constexpr auto kStopDecoding = std::chrono::seconds(3);
// A sender that missed our Response repeats its InformRequest after a timeout
// of a few seconds: within this time the same one is answered but not reported
// again. The second bound keeps a flood of informs from eating memory.
constexpr std::chrono::seconds kInformMemory{60};
constexpr std::size_t kInformLimit = 100000;
// A Response that meets a full send buffer is tried again this often, after
// a growing pause (10, 20, 30 ... ms).
constexpr int kSendAttempts = 5;

thread_local bool tOnCallbackThread = false;
// The full sender of the notification whose callback runs (nrvCallbackSender()).
thread_local const char *tCallbackSender = nullptr;

void logErrno(const std::string &what, int error)
{
    logMessage((what + ": " + std::strerror(error)).c_str());
}

// The short text of a sender address: dotted IPv4 also for an IPv4 sender that reached the
// IPv6 socket (::ffff:a.b.c.d), as IPv4 senders have always been shown.
void formatAddress(const Address &address, char (&text)[INET6_ADDRSTRLEN])
{
    text[0] = '\0';
    if (address.any.sa_family == AF_INET) {
        inet_ntop(AF_INET, &address.v4.sin_addr, text, sizeof text);
    } else if (address.any.sa_family == AF_INET6) {
        const in6_addr &a = address.v6.sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a))
            inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &a, text, sizeof text);
    }
}

std::uint16_t portOf(const Address &address)
{
    return ntohs(address.any.sa_family == AF_INET6 ? address.v6.sin6_port : address.v4.sin_port);
}

} // namespace

const char *callbackSender()
{
    return tCallbackSender;
}

struct Receiver::Context {
    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t used = 0;
    };
    struct Packet {
        Address from;
        // The block the datagram's bytes are in, kept until its last packet is gone.
        std::shared_ptr<Block> block;
        const unsigned char *data;
        std::size_t size;
    };

    int socket = -1;
    int wake = -1;
    std::uint64_t generation = 0;
    std::atomic<bool> stopping{false};
    // Set by a stop that delivers what was received: the reader empties the socket
    // before it ends, the decoder the queue.
    std::atomic<bool> finishing{false};
    // The reader's last read filled a whole batch: a burst is arriving.
    std::atomic<bool> flooded{false};
    // Set when the decoder was stopped from one of its own callbacks: nobody
    // can join it then, so it closes the descriptors itself on its way out.
    std::atomic<bool> closeOnExit{false};
    std::thread reader;
    std::thread decoder;

    std::mutex queueMutex;
    bool readerDone = false; // guarded by queueMutex
    std::condition_variable queueReady;
    std::deque<Packet> queue;
    // What the queue, the decoder's work and held cost together, bounded by kQueueLimit.
    std::atomic<std::size_t> pendingBytes{0};
    // When a stop that delivers what was received gives up (set before finishing).
    std::chrono::steady_clock::time_point stopReadingBy;
    std::chrono::steady_clock::time_point stopDecodingBy;
    // Set when a start finds no callback registered, cleared by the next
    // registration: what is decoded meanwhile waits in held (the decoder's).
    std::atomic<bool> holding{false};
    std::deque<Notification> held;
    // InformRequests reported in the last kInformMemory, oldest first (the decoder's).
    std::unordered_set<std::string> recentInforms;
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> informOrder;

    // The reader's own.
    struct Reading {
        std::vector<unsigned char> buffers = std::vector<unsigned char>(kBatch * kDatagramSize);
        mmsghdr messages[kBatch];
        iovec vectors[kBatch];
        Address sources[kBatch];
        std::uint32_t kernelDrops = 0; // the last count the kernel reported
        std::vector<Packet> batch;
        std::shared_ptr<Block> block;
    } reading;

    void close()
    {
        if (socket >= 0)
            ::close(socket);
        if (wake >= 0)
            ::close(wake);
        socket = wake = -1;
    }
};

Receiver::~Receiver()
{
    stop();
}

bool Receiver::start(const char *address, int port)
{
    // Every refusal is logged and kept for nrvLastError().
    stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastError.clear();
    }
    auto fail = [this](const std::string &message) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastError = message;
        }
        logMessage(message.c_str());
    };
    auto failErrno = [&fail](const std::string &what, int error) { fail(what + ": " + std::strerror(error)); };

    const std::string where = std::string(address && *address ? address : "0.0.0.0") + ':' + std::to_string(port);
    if (port <= 0 || port > 65535) {
        fail("cannot listen on " + where + ": not a UDP port");
        return false;
    }
    const auto udpPort = static_cast<std::uint16_t>(port);
    Address addr{};
    const bool everywhere =
        !address || !*address || std::strcmp(address, "0.0.0.0") == 0 || std::strcmp(address, "::") == 0;
    if (!everywhere) {
        if (inet_pton(AF_INET, address, &addr.v4.sin_addr) == 1) {
            addr.v4.sin_family = AF_INET;
            addr.v4.sin_port = htons(udpPort);
        } else if (inet_pton(AF_INET6, address, &addr.v6.sin6_addr) == 1) {
            addr.v6.sin6_family = AF_INET6;
            addr.v6.sin6_port = htons(udpPort);
        } else {
            fail("cannot listen on " + where + ": not an IP address");
            return false;
        }
    }

    auto context = std::make_shared<Context>();
    context->socket =
        everywhere ? Platform::Udp::bindEverywhere(udpPort, kReceiveBuffer, false)
                   : Platform::Udp::bindTo(&addr.any, addr.any.sa_family == AF_INET6 ? sizeof addr.v6 : sizeof addr.v4,
                                           kReceiveBuffer, false);
    if (context->socket < 0) {
        failErrno("cannot listen on " + where, errno);
        return false;
    }
    context->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (context->wake < 0) {
        failErrno("cannot create the receiver's wake-up descriptor", errno);
        context->close();
        return false;
    }
    context->generation = m_generation.fetch_add(1) + 1;
    context->holding.store(!hasCallbacks());
    try {
        context->decoder = std::thread([this, context] { decode(context); });
        context->reader = std::thread([this, raw = context.get()] { read(*raw); });
    } catch (const std::system_error &e) {
        fail(std::string("cannot start the receiver threads: ") + e.what());
        {
            std::lock_guard<std::mutex> lock(context->queueMutex);
            context->stopping.store(true);
        }
        context->queueReady.notify_all();
        if (context->decoder.joinable())
            context->decoder.join();
        context->close();
        m_generation.fetch_add(1);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_context = std::move(context);
    return true;
}

void Receiver::stop(bool deliverReceived)
{
    // A new generation number at once: isReceiving() is false from here on.
    m_generation.fetch_add(1);
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        context = std::move(m_context);
    }
    if (!context)
        return;
    // From a callback the decoder cannot wait for itself to finish the queue.
    const bool finish = deliverReceived && context->decoder.get_id() != std::this_thread::get_id();
    if (finish) {
        const auto now = std::chrono::steady_clock::now();
        context->stopReadingBy = now + kStopReading;
        context->stopDecodingBy = now + kStopDecoding;
        context->finishing.store(true);
    } else {
        std::lock_guard<std::mutex> lock(context->queueMutex);
        context->stopping.store(true);
    }
    context->queueReady.notify_all();
    const std::uint64_t one = 1;
    if (write(context->wake, &one, sizeof one) < 0) {
        // Cannot fail after a single write; the flag alone would still end
        // the reader at its next datagram.
    }
    context->reader.join();
    if (finish) {
        // The reader has put its last datagrams in the queue; the decoder ends once it is
        // empty.
        {
            std::lock_guard<std::mutex> lock(context->queueMutex);
            context->readerDone = true;
        }
        context->queueReady.notify_all();
    }
    if (context->decoder.get_id() == std::this_thread::get_id()) {
        context->closeOnExit.store(true);
        context->decoder.detach();
    } else {
        context->decoder.join();
        context->close();
    }
}

std::string Receiver::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

void Receiver::fail(const std::string &why)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastError = why;
    }
    logMessage(why.c_str());
    m_receivingGeneration.store(0);
    notifyState();
}

void Receiver::notifyState()
{
    if (const NrvStateCallback callback = m_onState.load())
        callback();
}

bool Receiver::isReceiving() const
{
    const std::uint64_t generation = m_generation.load();
    return generation != 0 && m_receivingGeneration.load() == generation;
}

bool Receiver::onCallbackThread() const
{
    return tOnCallbackThread;
}

void Receiver::setCallbacks(const TrapCallbackTable &table)
{
    m_onUnknown.store(table.onUnknown);
    m_onAlarm.store(table.onAlarm);
    m_onBinaryInput.store(table.onBinaryInputChange);
    m_onSensor.store(table.onSensorChange);
    m_onStartup.store(table.onStartup);
    m_onLinkup.store(table.onLinkup);
    // The decoder may be holding notifications for the first registration.
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        context = m_context;
    }
    if (context) {
        {
            std::lock_guard<std::mutex> lock(context->queueMutex);
            context->holding.store(false);
        }
        context->queueReady.notify_all();
    }
}

bool Receiver::hasCallbacks() const
{
    return m_onUnknown.load() || m_onAlarm.load() || m_onBinaryInput.load() || m_onSensor.load() ||
           m_onStartup.load() || m_onLinkup.load();
}

NrvStatistics Receiver::statistics() const
{
    NrvStatistics stats{};
    stats.datagrams = m_datagrams.load();
    stats.delivered = m_delivered.load();
    stats.dropped = m_dropped.load();
    stats.informs = m_informs.load();
    stats.kernelDropped = m_kernelDropped.load();
    stats.overflowed = m_overflowed.load();
    stats.abandoned = m_abandoned.load();
    return stats;
}

void Receiver::resetStatistics()
{
    m_datagrams.store(0);
    m_delivered.store(0);
    m_dropped.store(0);
    m_informs.store(0);
    m_unanswered.store(0);
    m_kernelDropped.store(0);
    m_overflowed.store(0);
    m_abandoned.store(0);
}

void Receiver::read(Context &context)
{
    pthread_setname_np(pthread_self(), "nrvapi-reader");
    using Clock = std::chrono::steady_clock;
    pollfd fds[2] = {{context.socket, POLLIN, 0}, {context.wake, POLLIN, 0}};
    m_receivingGeneration.store(context.generation);
    // Every read wakes the reader and then the decoder, which costs more than decoding a
    // trap: a steady stream is read in pauses. Decoding makes way for a flood.
    Platform::ReadPace pace(static_cast<int>(kBatch));
    bool wait = true;
    for (;;) {
        // A burst is read without waiting, so without looking at the wake-up either.
        if (context.stopping.load(std::memory_order_relaxed) || context.finishing.load(std::memory_order_relaxed))
            break;
        if (wait) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                fail(std::string("reception ended: ") + std::strerror(errno));
                return;
            }
            if (fds[1].revents != 0)
                break;
        }
        const int count = readBatch(context);
        if (count < 0) {
            fail(std::string("reception ended: ") + std::strerror(errno));
            return;
        }
        const int pauseMs = pace.next(count);
        context.flooded.store(pace.flooded(), std::memory_order_relaxed);
        wait = pauseMs == Platform::ReadPace::Wait;
        if (pauseMs > 0 && poll(&fds[1], 1, pauseMs) > 0)
            break;
    }
    if (!context.finishing.load())
        return;
    // What arrived before the stop is read, what comes later is not. The ones the socket
    // still holds when the time is up are counted.
    Platform::Udp::freeze(context.socket);
    int count;
    while ((count = readBatch(context)) > 0 && Clock::now() < context.stopReadingBy) {
    }
    const std::uint64_t left = Platform::Udp::discardHeld(context.socket);
    m_abandoned.fetch_add(left);
    if (countKernelDrops(context) || left)
        notifyState();
}

bool Receiver::countKernelDrops(Context &context)
{
    // Once a read rather than attached to every datagram, which cost the reader a tenth
    // of its time in a burst. A 32-bit count that may wrap; only ever forward.
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t memorySize = sizeof memory;
    if (getsockopt(context.socket, SOL_SOCKET, SO_MEMINFO, memory, &memorySize) != 0)
        return false;
    const std::uint32_t added = memory[SK_MEMINFO_DROPS] - context.reading.kernelDrops;
    if (added == 0 || added >= 0x80000000u)
        return false;
    m_kernelDropped.fetch_add(added, std::memory_order_relaxed);
    context.reading.kernelDrops = memory[SK_MEMINFO_DROPS];
    return true;
}

int Receiver::readBatch(Context &context)
{
    Context::Reading &r = context.reading;
    std::memset(r.messages, 0, sizeof r.messages);
    for (unsigned i = 0; i < kBatch; ++i) {
        r.vectors[i] = {r.buffers.data() + i * kDatagramSize, kDatagramSize};
        r.messages[i].msg_hdr.msg_name = &r.sources[i];
        r.messages[i].msg_hdr.msg_namelen = sizeof r.sources[i];
        r.messages[i].msg_hdr.msg_iov = &r.vectors[i];
        r.messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int count = recvmmsg(context.socket, r.messages, kBatch, MSG_DONTWAIT, nullptr);
    if (count <= 0) {
        // EAGAIN when empty; other errors concern one datagram (a pending ICMP error, a
        // memory shortage), not the socket.
        if (count < 0 && (errno == EBADF || errno == EFAULT || errno == EINVAL || errno == ENOTSOCK))
            return -1;
        return 0;
    }
    m_datagrams.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
    bool lost = countKernelDrops(context);
    r.batch.clear();
    for (int i = 0; i < count; ++i) {
        msghdr &header = r.messages[i].msg_hdr;
        const sa_family_t family = r.sources[i].any.sa_family;
        if ((header.msg_flags & MSG_TRUNC) || (family != AF_INET && family != AF_INET6) ||
            header.msg_namelen < (family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in))) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const unsigned char *data = r.buffers.data() + static_cast<std::size_t>(i) * kDatagramSize;
        const std::size_t size = r.messages[i].msg_len;
        const std::size_t cost = size + kPacketOverhead;
        // Only the decoder lowers what is pending meanwhile.
        if (context.pendingBytes.load(std::memory_order_relaxed) + cost > kQueueLimit) {
            m_overflowed.fetch_add(1, std::memory_order_relaxed);
            lost = true;
            continue;
        }
        context.pendingBytes.fetch_add(cost, std::memory_order_relaxed);
        if (!r.block || r.block->used + size > kBlockSize)
            r.block =
                std::make_shared<Context::Block>(Context::Block{std::make_unique<unsigned char[]>(kBlockSize), 0});
        unsigned char *at = r.block->bytes.get() + r.block->used;
        std::memcpy(at, data, size);
        r.block->used += size;
        r.batch.push_back({r.sources[i], r.block, at, size});
    }
    if (!r.batch.empty()) {
        bool idle;
        {
            std::lock_guard<std::mutex> lock(context.queueMutex);
            idle = context.queue.empty();
            for (Context::Packet &packet : r.batch)
                context.queue.push_back(std::move(packet));
        }
        // A decoder that has not taken the last batch yet is awake already.
        if (idle)
            context.queueReady.notify_one();
    }
    if (lost)
        notifyState();
    return count;
}

void Receiver::decode(const std::shared_ptr<Context> &shared)
{
    Context &context = *shared;
    tOnCallbackThread = true;
    pthread_setname_np(pthread_self(), "nrvapi-decoder");
    std::deque<Context::Packet> work;
    bool late = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(context.queueMutex);
            context.queueReady.wait(lock, [&context] {
                return context.stopping.load() || context.readerDone || !context.queue.empty() ||
                       (!context.holding.load() && !context.held.empty());
            });
            if (context.stopping.load())
                break;
            if (context.readerDone && context.queue.empty()) {
                lock.unlock();
                releaseHeld(context);
                break;
            }
            work.swap(context.queue);
        }
        if (late) {
            // A stop ran out of time: what the reader still adds is only counted.
            m_abandoned.fetch_add(work.size());
            work.clear();
            continue;
        }
        releaseHeld(context);
        std::size_t done = 0;
        for (; done < work.size(); ++done) {
            if (context.stopping.load())
                break;
            // While a burst fills the socket faster than it is read, the reader needs the
            // processor more than decoding does: what is queued waits, the kernel's
            // buffer (capped for a normal user) does not.
            if (done % kBatch == 0) {
                const bool finishing = context.finishing.load();
                for (int pause = 0;
                     pause < kFloodPauses && !finishing && context.flooded.load(std::memory_order_relaxed); ++pause)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (finishing && std::chrono::steady_clock::now() > context.stopDecodingBy) {
                    late = true;
                    break;
                }
            }
            const Context::Packet &packet = work[done];
            process(context, packet.data, packet.size, &packet.from);
            context.pendingBytes.fetch_sub(packet.size + kPacketOverhead, std::memory_order_relaxed);
        }
        if (late)
            m_abandoned.fetch_add(work.size() - done);
        work.clear();
    }
    // Decoded before any callback was registered, and none will be now.
    if (context.finishing.load() && !context.held.empty()) {
        m_abandoned.fetch_add(context.held.size());
        late = true;
    }
    if (late)
        notifyState();
    if (context.closeOnExit.load())
        context.close();
}

void Receiver::process(Context &context, const unsigned char *data, std::size_t length, const void *source)
{
    const auto *from = static_cast<const Address *>(source);
    char sender[INET6_ADDRSTRLEN];
    formatAddress(*from, sender);
    Notification notification;
    if (!engineDecode(data, length, sender, notification)) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (!notification.response.empty()) {
        answer(context, notification.response, *from);
        if (!firstSighting(context, *from, notification))
            return;
    }
    // The program registers its callbacks once it has seen the receiver
    // running, up to 200 ms after the start: what it would miss waits here.
    if (context.holding.load()) {
        if (context.pendingBytes.load(std::memory_order_relaxed) + sizeof(Notification) <= kQueueLimit) {
            notification.response.clear();
            context.pendingBytes.fetch_add(sizeof(Notification), std::memory_order_relaxed);
            context.held.push_back(std::move(notification));
        } else {
            m_overflowed.fetch_add(1, std::memory_order_relaxed);
            notifyState();
        }
        return;
    }
    releaseHeld(context);
    deliver(notification);
}

void Receiver::answer(Context &context, const std::vector<unsigned char> &response, const Address &to)
{
    int error = 0;
    for (int attempt = 1; attempt <= kSendAttempts; ++attempt) {
        // Back the way it came: to an IPv6 sender over IPv6, to an IPv4 one (mapped or not)
        // over IPv4.
        const ssize_t sent = sendto(context.socket, response.data(), response.size(), MSG_DONTWAIT, &to.any,
                                    to.any.sa_family == AF_INET6 ? sizeof to.v6 : sizeof to.v4);
        if (sent == static_cast<ssize_t>(response.size())) {
            m_informs.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        error = sent < 0 ? errno : EMSGSIZE;
        if ((error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS && error != EINTR) || context.stopping.load())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
    }
    // The sender will repeat its inform, and the repetition is answered; the
    // log says why this one was not.
    const std::uint64_t unanswered = m_unanswered.fetch_add(1, std::memory_order_relaxed) + 1;
    char address[INET6_ADDRSTRLEN];
    formatAddress(to, address);
    logErrno("cannot answer the InformRequest from " + std::string(address) + ':' + std::to_string(portOf(to)) + " (" +
                 std::to_string(unanswered) + " unanswered so far)",
             error);
}

bool Receiver::firstSighting(Context &context, const Address &from, const Notification &notification)
{
    const auto now = std::chrono::steady_clock::now();
    while (!context.informOrder.empty() &&
           (now - context.informOrder.front().first > kInformMemory || context.informOrder.size() >= kInformLimit)) {
        context.recentInforms.erase(context.informOrder.front().second);
        context.informOrder.pop_front();
    }
    // An InformRequest is SNMPv2c: its sender is the datagram's source.
    std::string key = notification.sender;
    key += '/' + std::to_string(portOf(from)) + '/';
    key.append(reinterpret_cast<const char *>(&notification.requestId), sizeof notification.requestId);
    key += notification.community;
    if (!context.recentInforms.insert(key).second)
        return false;
    context.informOrder.emplace_back(now, std::move(key));
    return true;
}

void Receiver::releaseHeld(Context &context)
{
    if (context.holding.load())
        return;
    while (!context.held.empty() && !context.stopping.load()) {
        deliver(context.held.front());
        context.held.pop_front();
        context.pendingBytes.fetch_sub(sizeof(Notification), std::memory_order_relaxed);
    }
}

template <typename Callback, typename Record>
void Receiver::call(const std::atomic<Callback> &slot, const Record &record)
{
    // A null slot drops notifications of that kind.
    if (const Callback callback = slot.load()) {
        m_delivered.fetch_add(1, std::memory_order_relaxed);
        callback(&record);
    }
}

void Receiver::deliver(const Notification &n)
{
    tCallbackSender = n.sender;
    switch (n.kind) {
    case Kind::Unknown: call(m_onUnknown, n.unknown); break;
    case Kind::Alarm: call(m_onAlarm, n.alarm); break;
    case Kind::BinaryInput: call(m_onBinaryInput, n.binaryInput); break;
    case Kind::Sensor: call(m_onSensor, n.sensor); break;
    case Kind::Startup: call(m_onStartup, n.shortRecord); break;
    case Kind::Linkup: call(m_onLinkup, n.shortRecord); break;
    }
    tCallbackSender = nullptr;
}

} // namespace nrv
