#include "syslogintake.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <chrono>
#include <cstring>

#include <pthread.h>

namespace {

// Bursts of tens of thousands of datagrams must wait somewhere while lines are written.
// Only a privileged process gets more than net.core.rmem_max from the kernel; the
// reading thread keeps the kernel's buffer nearly empty anyway.
constexpr int ReceiveBufferBytes = 64 * 1024 * 1024;
// What a held datagram costs beyond its bytes (its NUL and queue bookkeeping), so that
// a flood of tiny datagrams is bounded too.
constexpr qsizetype ArrivalOverhead = 96;
// How long datagrams gather in the kernel between two reads. A wake-up costs more than
// reading a datagram, so a steady trickle is read ever less often, from TrickleMs up to
// MaxTrickleMs. A pause is kept short enough that, at the rate just seen, no more than
// PauseDatagrams gather meanwhile (a tenth of a normal user's socket buffer of typical
// datagrams); a burst faster than that is read without pauses, each read as soon as
// anything is there. Otherwise a burst that goes on while the thread waits for the
// processor after its pause overruns the buffer.
constexpr int TrickleMs = 1;
constexpr int MaxTrickleMs = 16;
constexpr double PauseDatagrams = 1024;
// Datagrams a millisecond from which the socket is flooded (see isFlooded()).
constexpr double FloodPerMs = 256;
// Room for 2,000 or so typical datagrams, and for the largest one with its NUL; large
// enough for pages of its own, given back as soon as it is freed (a steady stream maps
// one every few seconds). A thread that allocated every datagram on its own grew its
// heap a page at a time, which took half of the reading thread's time in a burst.
constexpr qsizetype BlockSize = 256 * 1024;

} // namespace

TSyslogIntake::TSyslogIntake(QObject *parent) : QObject(parent) {}

TSyslogIntake::~TSyslogIntake()
{
    stopReader();
    socket.close();
}

bool TSyslogIntake::bind(quint16 port)
{
    close();
    error.clear();
    {
        std::lock_guard<std::mutex> lock(mutex);
        failure.clear();
    }
    if (!socket.bind(port, ReceiveBufferBytes, &error))
        return false;
    kernelBefore = 0;
    reader = std::thread([this] { read(); });
    return true;
}

void TSyslogIntake::stopReader()
{
    if (!reader.joinable())
        return;
    stopping.store(true);
    socket.wake();
    reader.join();
    stopping.store(false);
}

void TSyslogIntake::close()
{
    if (!socket.isBound())
        return;
    stopReader();
    // Whatever arrived before now is read, whatever comes later is not, so that a stop
    // ends even while a flood goes on.
    socket.freeze();
    QElapsedTimer spent;
    spent.start();
    while (readOnce(false) > 0 && spent.elapsed() < StopDrainMs) {
    }
    if (const quint64 left = socket.discardHeld())
        leftAtStop.fetch_add(left);
    readOnce(false); // the drop count as the socket ends
    socket.close();
    flooding.store(false);
}

QString TSyslogIntake::readerError() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return failure;
}

void TSyslogIntake::announceState()
{
    if (!stateAnnounced.exchange(true))
        emit stateChanged();
}

int TSyslogIntake::readOnce(bool wait)
{
    incoming.clear();
    incomingCost = 0;
    incomingOver = 0;
    const int count = socket.receive(
        [](void *self, const char *data, qsizetype size) { static_cast<TSyslogIntake *>(self)->keep(data, size); },
        this, wait);
    if (count > 0)
        receivedCount.fetch_add(quint64(count), std::memory_order_relaxed);
    // Every datagram of one read arrived within the last few milliseconds.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const quint64 kernel = socket.kernelDropped();
    bool lost = false;
    if (kernel != kernelBefore) {
        kernelLost.fetch_add(kernel - kernelBefore, std::memory_order_relaxed);
        kernelBefore = kernel;
        lost = true;
    }
    if (incomingOver) {
        overflow.fetch_add(incomingOver, std::memory_order_relaxed);
        lost = true;
    }
    if (lost && reader.get_id() == std::this_thread::get_id())
        announceState();
    if (incoming.empty())
        return count;

    bool announce = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Held &held : incoming) {
            held.arrival.msecsSinceEpoch = now;
            arrivals.push_back(std::move(held));
        }
        heldBytes += incomingCost;
        unpublished = fillingNumber;
        if (!announced)
            announce = announced = true;
    }
    if (announce)
        emit readyRead();
    return count;
}

void TSyslogIntake::read()
{
    pthread_setname_np(pthread_self(), "syslog-reader");
    using Clock = std::chrono::steady_clock;
    bool wait = true;
    int pauseMs = 0;
    // What came since the last read that emptied the socket, and when that was: the rate
    // the next pause is set by.
    qsizetype since = 0;
    Clock::time_point sinceStart = Clock::now();
    for (;;) {
        // A burst is read without waiting, so without looking at the wake-up either.
        if (stopping.load(std::memory_order_relaxed))
            return;
        const int count = readOnce(wait);
        if (count == Platform::DatagramSocket::Failed) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                failure = socket.error();
            }
            flooding.store(false);
            announceState();
            return;
        }
        if (count < 0)
            return;
        if (count == 0) {
            // Whatever burst there was has been read: frames need not make way for it.
            flooding.store(false, std::memory_order_relaxed);
            since = 0;
            sinceStart = Clock::now();
            pauseMs = 0;
            wait = true;
            continue;
        }
        since += count;
        if (count == Platform::DatagramSocket::Batch) {
            // More is there: read on at once. Twice what a pause lets gather is a burst,
            // and others leave the processor to this thread meanwhile.
            if (since > 2 * PauseDatagrams)
                flooding.store(true, std::memory_order_relaxed);
            wait = false;
            continue;
        }
        const Clock::time_point now = Clock::now();
        const double ms = qMax(1.0, std::chrono::duration<double, std::milli>(now - sinceStart).count());
        const double perMs = double(since) / ms;
        // A steady flood read in pauses is no burst: frames that made way for it would
        // only be late.
        flooding.store(perMs >= FloodPerMs, std::memory_order_relaxed);
        since = 0;
        sinceStart = now;
        const int longest = perMs * MaxTrickleMs > PauseDatagrams ? int(PauseDatagrams / perMs) : MaxTrickleMs;
        pauseMs = qMin(pauseMs ? 2 * pauseMs : TrickleMs, longest);
        if (pauseMs == 0) {
            // Too fast for any pause: read on, and wait only once a read finds nothing, so
            // that the flood flag never outlasts the flood.
            wait = false;
            continue;
        }
        if (!socket.pause(pauseMs))
            return;
        // What has come meanwhile is read without waiting for more.
        wait = false;
    }
}

void TSyslogIntake::keep(const char *data, qsizetype size)
{
    // Only take() changes what is held meanwhile, and it only lowers it.
    const qsizetype cost = size + ArrivalOverhead;
    if (heldBytes.load(std::memory_order_relaxed) + incomingCost + cost > MemoryBound) {
        ++incomingOver;
        return;
    }
    incomingCost += cost;
    if (!filling || filling->used + size + 1 > BlockSize) {
        std::lock_guard<std::mutex> lock(mutex);
        blocks.push_back(Block{std::make_unique<char[]>(BlockSize), 0});
        // The last block is never freed by take(), and adding blocks keeps the others
        // where they are: the pointer stays good without the lock.
        filling = &blocks.back();
        fillingNumber = firstBlock + blocks.size() - 1;
        unpublished = incoming.empty() ? fillingNumber : incoming.front().block;
    }
    char *at = filling->bytes.get() + filling->used;
    std::memcpy(at, data, size_t(size));
    at[size] = '\0';
    filling->used += size + 1;
    incoming.push_back({{QByteArray::fromRawData(at, size), 0}, fillingNumber});
}

void TSyslogIntake::freeBlocksBefore(quint64 block)
{
    // The last block is the one being filled: it stays.
    while (firstBlock < block && blocks.size() > 1) {
        blocks.pop_front();
        ++firstBlock;
    }
}

std::vector<TSyslogIntake::Arrival> TSyslogIntake::take(int max)
{
    std::vector<Arrival> out;
    std::lock_guard<std::mutex> lock(mutex);
    // What the last take() handed out is done with.
    freeBlocksBefore(arrivals.empty() ? unpublished : arrivals.front().block);
    const size_t n = qMin(size_t(qMax(max, 0)), arrivals.size());
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        heldBytes -= arrivals.front().arrival.bytes.size() + ArrivalOverhead;
        out.push_back(std::move(arrivals.front().arrival));
        arrivals.pop_front();
    }
    return out;
}

bool TSyslogIntake::announceNext()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!arrivals.empty())
        return false;
    announced = false;
    return true;
}

bool TSyslogIntake::hasArrivals() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !arrivals.empty();
}
