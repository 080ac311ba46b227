#include "trapintake.h"

#include <QDateTime>

namespace {

// What a waiting trap costs beyond its text's characters.
constexpr qsizetype TrapOverhead = 64;

qsizetype costOf(const QString &text)
{
    return text.size() * qsizetype(sizeof(QChar)) + TrapOverhead;
}

} // namespace

void TTrapIntake::post(const QString &text, int kind)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    bool announce = false;
    bool lost = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const qsizetype cost = costOf(text);
        if (heldBytes + cost > MemoryBound) {
            overflow.fetch_add(1);
            lost = true;
        } else {
            heldBytes += cost;
            traps.push_back({text, kind, now});
            if (!announced)
                announce = announced = true;
        }
    }
    if (lost)
        announceState();
    if (announce)
        emit readyRead();
}

std::vector<TTrapIntake::Trap> TTrapIntake::take(int max)
{
    std::vector<Trap> out;
    std::lock_guard<std::mutex> lock(mutex);
    const size_t n = qMin(size_t(qMax(max, 0)), traps.size());
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        heldBytes -= costOf(traps.front().text);
        out.push_back(std::move(traps.front()));
        traps.pop_front();
    }
    return out;
}

bool TTrapIntake::hasTraps() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !traps.empty();
}

bool TTrapIntake::announceNext()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!traps.empty())
        return false;
    announced = false;
    return true;
}

void TTrapIntake::announceState()
{
    if (!stateAnnounced.exchange(true))
        emit stateChanged();
}

TTrapIntake &trapIntake()
{
    static TTrapIntake intake;
    return intake;
}
