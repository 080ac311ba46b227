#include "syslogintake.h"

#include <QDateTime>

#include <pthread.h>

namespace {

// Bursts of tens of thousands of datagrams must wait somewhere while lines are written.
// Only a privileged process gets more than net.core.rmem_max from the kernel; the
// reading thread keeps the kernel's buffer nearly empty anyway.
constexpr int ReceiveBufferBytes = 64 * 1024 * 1024;
// What a held datagram costs beyond its bytes (array header, heap and queue
// bookkeeping), so that a flood of tiny datagrams is bounded too.
constexpr qsizetype ArrivalOverhead = 96;
// How long a trickle of datagrams gathers in the kernel between two reads. A wake-up
// costs more than reading a datagram, so a steady trickle is read ever less often, up to
// MaxTrickleMs; the first pause after a quiet spell is short, and even the longest one
// leaves room in a normal user's socket buffer for a burst that starts meanwhile.
constexpr int TrickleMs = 4;
constexpr int MaxTrickleMs = 12;

} // namespace

TSyslogIntake::TSyslogIntake(QObject *parent) : QObject(parent) {}

TSyslogIntake::~TSyslogIntake()
{
    close();
}

bool TSyslogIntake::bind(quint16 port)
{
    close();
    error.clear();
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
    stopReader();
    socket.close();
    std::lock_guard<std::mutex> lock(mutex);
    arrivals.clear();
    heldBytes = 0;
    announced = false;
    flooding.store(false);
}

void TSyslogIntake::closeKeepingArrivals()
{
    stopReader();
    while (readOnce(false) == Platform::DatagramSocket::Batch) {
    }
    socket.close();
}

int TSyslogIntake::readOnce(bool wait)
{
    incoming.clear();
    const int count = socket.receive(
        [](void *self, const char *data, qsizetype size) {
            static_cast<TSyslogIntake *>(self)->incoming.push_back({QByteArray(data, size), 0});
        },
        this, wait);
    // Every datagram of one read arrived within the last few milliseconds.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const quint64 kernel = socket.kernelDropped();
    if (kernel != kernelBefore) {
        kernelLost.fetch_add(kernel - kernelBefore, std::memory_order_relaxed);
        kernelBefore = kernel;
    }
    if (incoming.empty())
        return count;

    bool announce = false;
    quint64 over = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Arrival &arrival : incoming) {
            const qsizetype cost = arrival.bytes.size() + ArrivalOverhead;
            if (heldBytes + cost > MemoryBound) {
                ++over;
                continue;
            }
            heldBytes += cost;
            arrival.msecsSinceEpoch = now;
            arrivals.push_back(std::move(arrival));
        }
        if (!arrivals.empty() && !announced)
            announce = announced = true;
    }
    if (over)
        overflow.fetch_add(over, std::memory_order_relaxed);
    if (announce)
        emit readyRead();
    return count;
}

void TSyslogIntake::read()
{
    pthread_setname_np(pthread_self(), "syslog-reader");
    bool wait = true;
    int pauseMs = 0;
    for (;;) {
        // A burst is read without waiting, so without looking at the wake-up either.
        if (stopping.load(std::memory_order_relaxed))
            return;
        const int count = readOnce(wait);
        if (count < 0)
            return;
        if (count == Platform::DatagramSocket::Batch) {
            // More is there: a burst, read on at once. Others leave the processor to this
            // thread meanwhile.
            flooding.store(true, std::memory_order_relaxed);
            wait = false;
            pauseMs = 0;
            continue;
        }
        flooding.store(false, std::memory_order_relaxed);
        if (count == 0) {
            // Quiet: wait for the next datagram.
            wait = true;
            pauseMs = 0;
            continue;
        }
        pauseMs = pauseMs ? qMin(2 * pauseMs, MaxTrickleMs) : TrickleMs;
        if (!socket.pause(pauseMs))
            return;
        // What has come meanwhile is read without waiting for more.
        wait = false;
    }
}

std::vector<TSyslogIntake::Arrival> TSyslogIntake::take(int max)
{
    std::vector<Arrival> out;
    std::lock_guard<std::mutex> lock(mutex);
    const size_t n = qMin(size_t(qMax(max, 0)), arrivals.size());
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        heldBytes -= arrivals.front().bytes.size() + ArrivalOverhead;
        out.push_back(std::move(arrivals.front()));
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
