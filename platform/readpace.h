// The pace of a thread that only empties a UDP socket into memory (the syslog intake's and
// the trap library's readers). Plain C++ without Qt, for both.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace Platform {

// A wake-up costs more than reading a datagram, so a steady trickle is read ever less
// often: after a read that emptied the socket, a pause from 1 ms doubling up to MaxPauseMs,
// kept short enough that at the rate just seen no more than PauseDatagrams (a tenth of a
// normal user's socket buffer of typical datagrams) gather meanwhile. A stream faster than
// that is read without pauses, each read as soon as anything is there; otherwise a burst
// that goes on while the thread waits for the processor after its pause overruns the
// buffer.
//
// Flooded: a burst (more than two pauses' worth read without the socket running empty) or
// a stream of FloodPerMs datagrams a millisecond or more. Whoever shares the processor
// with the reader then makes way for it. A stream read in pauses is no flood, and the flag
// ends once a read finds the socket empty.
class ReadPace
{
public:
    static constexpr int MaxPauseMs = 16;
    static constexpr double PauseDatagrams = 1024;
    static constexpr double FloodPerMs = 256;
    // Wait for the next datagram.
    static constexpr int Wait = -1;

    explicit ReadPace(int batch) : batch(batch) {}

    // After a read of count datagrams: Wait, 0 to read on at once, or how many
    // milliseconds to pause before reading on without waiting.
    int next(int count)
    {
        if (count == 0) {
            flood = false;
            since = 0;
            sinceStart = Clock::now();
            pauseMs = 0;
            return Wait;
        }
        since += std::size_t(count);
        if (count == batch) {
            if (double(since) > 2 * PauseDatagrams)
                flood = true;
            return 0;
        }
        const Clock::time_point now = Clock::now();
        const double ms = std::max(1.0, std::chrono::duration<double, std::milli>(now - sinceStart).count());
        const double perMs = double(since) / ms;
        flood = perMs >= FloodPerMs;
        since = 0;
        sinceStart = now;
        const int longest = perMs * MaxPauseMs > PauseDatagrams ? int(PauseDatagrams / perMs) : MaxPauseMs;
        pauseMs = std::min(pauseMs ? 2 * pauseMs : 1, longest);
        return pauseMs;
    }
    bool flooded() const { return flood; }

private:
    using Clock = std::chrono::steady_clock;
    const int batch;
    bool flood = false;
    int pauseMs = 0;
    // What came since the last read that emptied the socket, and when that was: the rate
    // the next pause is set by.
    std::size_t since = 0;
    Clock::time_point sinceStart = Clock::now();
};

} // namespace Platform
