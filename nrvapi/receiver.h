// The UDP socket and the two threads behind it: a reader that only empties
// the socket into memory, and a decoder that decodes each datagram and calls
// the callback of its kind.
#pragma once

#include "nrvapi.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

namespace nrv {

struct Notification;

// A datagram's source, of either family.
union Address {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// The full sender of the notification whose callback runs on this thread, else null.
const char *callbackSender();

class Receiver
{
public:
    Receiver() = default;
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // Binds synchronously; false (and a log line) when the socket cannot be
    // bound. A receiver that is running is stopped first.
    bool start(const char *address, int port);
    // Ends reception and closes the socket; no callback runs once it returns
    // (unless it is called from a callback, which cannot wait for itself). With
    // deliverReceived, what arrived before the call, in the socket or in memory,
    // is decoded and delivered first (InformRequests answered), and nothing that
    // arrives later: a stop loses nothing that arrived. Reading the socket takes a
    // second at most, decoding two; what is left then counts as abandoned.
    void stop(bool deliverReceived = false);
    bool isReceiving() const;
    // Why the last start failed, or why reception ended on its own; empty after a
    // successful start.
    std::string lastError() const;
    // True on the thread that runs the callbacks.
    bool onCallbackThread() const;

    void setCallbacks(const TrapCallbackTable &table);
    bool hasCallbacks() const;
    void setStateCallback(NrvStateCallback callback) { m_onState.store(callback); }
    NrvStatistics statistics() const;
    void resetStatistics();

private:
    struct Context;
    void read(Context &context);
    // One read of the socket into the queue: how many datagrams, -1 on a failure
    // of the socket itself (errno tells).
    int readBatch(Context &context);
    // Adds what the kernel dropped since the last look; true when that was anything.
    bool countKernelDrops(Context &context);
    void fail(const std::string &why);
    // Loss counters grew, or reception ended on an error.
    void notifyState();
    void decode(const std::shared_ptr<Context> &context);
    void process(Context &context, const unsigned char *data, std::size_t length, const void *source);
    // Sends an InformRequest's Response, trying again while the send buffer is full.
    void answer(Context &context, const std::vector<unsigned char> &response, const Address &to);
    // False for a retransmission of an InformRequest reported lately.
    bool firstSighting(Context &context, const Address &from, const Notification &notification);
    void releaseHeld(Context &context);
    void deliver(const Notification &notification);
    template <typename Callback, typename Record> void call(const std::atomic<Callback> &slot, const Record &record);

    mutable std::mutex m_mutex; // guards m_context and m_lastError
    std::string m_lastError;
    std::shared_ptr<Context> m_context;
    // Each start is a generation; the reader marks its own as receiving, so a
    // receiver that is being stopped can never make a later start look ready.
    std::atomic<std::uint64_t> m_generation{0};
    std::atomic<std::uint64_t> m_receivingGeneration{0};

    std::atomic<UnknownTrapCallback> m_onUnknown{nullptr};
    std::atomic<AlarmTrapCallback> m_onAlarm{nullptr};
    std::atomic<BinaryInputTrapCallback> m_onBinaryInput{nullptr};
    std::atomic<SensorTrapCallback> m_onSensor{nullptr};
    std::atomic<ShortTrapCallback> m_onStartup{nullptr};
    std::atomic<ShortTrapCallback> m_onLinkup{nullptr};

    std::atomic<std::uint64_t> m_datagrams{0};
    std::atomic<std::uint64_t> m_delivered{0};
    std::atomic<std::uint64_t> m_dropped{0};
    std::atomic<std::uint64_t> m_informs{0};
    std::atomic<std::uint64_t> m_kernelDropped{0};
    std::atomic<std::uint64_t> m_overflowed{0};
    std::atomic<std::uint64_t> m_abandoned{0};
    std::atomic<std::uint64_t> m_unanswered{0}; // Responses that could not be sent
    std::atomic<NrvStateCallback> m_onState{nullptr};
};

} // namespace nrv
