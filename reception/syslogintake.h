#pragma once

#include "platform.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The syslog socket and the thread that empties it. The thread only moves datagrams into
// memory, noting when each arrived, so that a burst waits here instead of overflowing the
// kernel's buffer while the GUI thread is busy; the GUI thread takes them out and turns
// them into event lines at its own pace.
class TSyslogIntake : public QObject
{
    Q_OBJECT

public:
    struct Arrival {
        QByteArray bytes;
        qint64 msecsSinceEpoch = 0;
    };

    explicit TSyslogIntake(QObject *parent = nullptr);
    ~TSyslogIntake() override;

    // Binds the port for IPv6 and IPv4 senders on the calling thread and starts reading.
    // On failure false, and errorString() says why in the system's words. Datagrams not
    // yet taken stay, ahead of the new ones.
    bool bind(quint16 port);
    // Stops reading: what arrived before the call, in memory or still in the socket, is
    // kept for take(); nothing that arrives later is. Emptying the socket takes
    // StopDrainMs at most; what it still holds then is counted as abandoned. A later bind
    // of the same port works at once.
    void close();
    static constexpr int StopDrainMs = 1000;
    bool isBound() const { return socket.isBound(); }
    QString errorString() const { return error; }

    // Up to max datagrams in the order of arrival. Their bytes (NUL-terminated) stay
    // valid until the next take() or close().
    std::vector<Arrival> take(int max);
    bool hasArrivals() const;
    // Asks for readyRead() at the next datagram. False, and nothing asked, when datagrams
    // wait already: the caller takes them first. Between the two the reading thread
    // fills memory without waking anybody, so a steady stream costs one wake-up of the
    // GUI thread per frame, not one per datagram.
    bool announceNext();

    // Whether a burst is arriving (some 256,000 datagrams a second or more, or more at
    // once than the pauses between reads let gather): every bit of processor time the
    // reading thread gets now saves datagrams from the kernel's limit.
    bool isFlooded() const { return flooding.load(std::memory_order_relaxed); }

    // Since the program started: datagrams read from the socket, and those lost: discarded
    // by the system with the socket's buffer full, here when memory held as much as it
    // may, or left in the socket when a stop ran out of time.
    quint64 received() const { return receivedCount.load(); }
    quint64 kernelDropped() const { return kernelLost.load(); }
    quint64 overflowed() const { return overflow.load(); }
    quint64 abandoned() const { return leftAtStop.load(); }
    // Why the reading thread ended on its own, in the system's words; empty while it reads
    // or after a normal stop.
    QString readerError() const;
    // The losses or the reader's state have been looked at: the next change is announced.
    void noticeState() { stateAnnounced.store(false); }

    // What memory may hold before further datagrams are dropped.
    static constexpr qsizetype MemoryBound = 64 * 1024 * 1024;

signals:
    // There is something to take; emitted on the reading thread, once until announceNext().
    void readyRead();
    // More datagrams were lost, or the reading thread ended on an error; emitted on the
    // reading thread, once until noticeState().
    void stateChanged();

private:
    void read();
    // One read of the socket into memory: how many datagrams it read, or
    // DatagramSocket::Woken or Failed.
    int readOnce(bool wait);
    // Adds what the socket last said the system dropped; true when that was anything.
    bool countKernelDrops();
    void announceState();
    void stopReader();
    // Copies one datagram into the block being filled (the reading thread's).
    void keep(const char *data, qsizetype size);

    // Datagrams are kept one after another in blocks, each followed by a NUL: the
    // reading thread allocates nothing per datagram.
    struct Block {
        std::unique_ptr<char[]> bytes;
        qsizetype used = 0;
    };
    // An arrival (its bytes a view into its block) and the number of that block.
    struct Held {
        Arrival arrival;
        quint64 block = 0;
    };
    void freeBlocksBefore(quint64 block);

    Platform::DatagramSocket socket;
    QString error;
    std::thread reader;

    mutable std::mutex mutex;
    std::deque<Held> arrivals;
    // Written under the lock, read by the reading thread without it.
    std::atomic<qsizetype> heldBytes{0};
    bool announced = false;
    // The blocks in use, the first of them numbered firstBlock; the reading thread fills
    // the last.
    std::deque<Block> blocks;
    quint64 firstBlock = 0;
    // The first block that datagrams not yet among the arrivals may be in.
    quint64 unpublished = 0;
    // The reading thread's own: the block it fills and its number, one read's
    // datagrams, and the kernel's count seen last.
    Block *filling = nullptr;
    quint64 fillingNumber = 0;
    std::vector<Held> incoming;
    qsizetype incomingCost = 0;
    quint64 incomingOver = 0;
    quint64 kernelBefore = 0;

    std::atomic<bool> flooding{false};
    std::atomic<bool> stopping{false};
    std::atomic<quint64> receivedCount{0};
    std::atomic<quint64> kernelLost{0};
    std::atomic<quint64> overflow{0};
    std::atomic<quint64> leftAtStop{0};
    std::atomic<bool> stateAnnounced{false};
    QString failure; // under the lock
};
