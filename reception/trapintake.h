#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

// The event texts of decoded traps on their way from the trap library's thread to the GUI
// thread. The callbacks only add to it; the GUI thread is woken once until it has taken
// everything, so that a stream of traps costs one wake-up of it per frame, not one per trap.
class TTrapIntake : public QObject
{
    Q_OBJECT

public:
    struct Trap {
        QString text;
        int kind = 0;
        qint64 msecsSinceEpoch = 0;
    };

    // From the library's thread: one event text with its trap kind, stamped now.
    void post(const QString &text, int kind);
    // Up to max traps in the order they were posted.
    std::vector<Trap> take(int max);
    bool hasTraps() const;
    // Asks for readyRead() at the next trap. False, and nothing asked, when traps wait
    // already: the caller takes them first.
    bool announceNext();
    // Traps dropped because memory held as much as it may.
    quint64 overflowed() const { return overflow.load(); }
    // The trap library's losses or state have changed (its state callback): stateChanged()
    // is emitted, once until noticeState().
    void announceState();
    void noticeState() { stateAnnounced.store(false); }

    static constexpr qsizetype MemoryBound = 64 * 1024 * 1024;

signals:
    // There is something to take; emitted on the posting thread, once until announceNext().
    void readyRead();
    void stateChanged();

private:
    mutable std::mutex mutex;
    std::deque<Trap> traps;
    qsizetype heldBytes = 0;
    bool announced = false;
    std::atomic<quint64> overflow{0};
    std::atomic<bool> stateAnnounced{false};
};

// The one intake the trap callbacks post to.
TTrapIntake &trapIntake();
