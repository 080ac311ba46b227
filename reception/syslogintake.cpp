#include "syslogintake.h"

#include "readpace.h"

#include <QDateTime>
#include <QElapsedTimer>

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
    countKernelDrops(); // as the socket ends
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

bool TSyslogIntake::countKernelDrops()
{
    const quint64 kernel = socket.kernelDropped();
    if (kernel == kernelBefore)
        return false;
    kernelLost.fetch_add(kernel - kernelBefore, std::memory_order_relaxed);
    kernelBefore = kernel;
    return true;
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
    bool lost = countKernelDrops();
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
    Platform::ReadPace pace(Platform::DatagramSocket::Batch);
    bool wait = true;
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
        const int pauseMs = pace.next(count);
        flooding.store(pace.flooded(), std::memory_order_relaxed);
        wait = pauseMs == Platform::ReadPace::Wait;
        // What comes meanwhile is read without waiting for more.
        if (pauseMs > 0 && !socket.pause(pauseMs))
            return;
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
