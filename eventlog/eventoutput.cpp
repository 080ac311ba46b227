#include "eventoutput.h"

#include <QTimer>

TEventOutput::TEventOutput(Sinks sinks, QObject *parent)
    : QObject(parent), sinks(std::move(sinks)), frameTimer(new QTimer(this)), balloonTimer(new QTimer(this))
{
    clock.start();
    for (QTimer *timer : {frameTimer, balloonTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(frameTimer, &QTimer::timeout, this, &TEventOutput::flush);
    connect(balloonTimer, &QTimer::timeout, this, &TEventOutput::showBalloon);
}

void TEventOutput::schedule(QTimer *timer, qint64 dueMs)
{
    timer->start(int(qBound(qint64(0), dueMs - clock.elapsed(), qint64(qMax(StreamFrameMs, BalloonMs)))));
}

void TEventOutput::add(const QString &title, const QString &line, bool balloon)
{
    lines << line;
    if (balloon) {
        balloonTitle = title;
        balloonLine = line;
        balloonWaiting = true;
    }
    // After a quiet spell the frame is due at once: the next turn of the event loop,
    // which still gathers whatever else this turn brings. A whole frame's worth is a
    // burst, handed on at its pace however long the last frame asked to wait.
    if (!frameTimer->isActive())
        schedule(frameTimer, lastFrame + frameGap);
    else if (lines.size() == FrameLines && frameGap > BurstFrameMs)
        schedule(frameTimer, lastFrame + BurstFrameMs);
}

void TEventOutput::flush()
{
    if (sinks.gather && !sinks.gather() && postponed < MaxPostponed) {
        ++postponed;
        frameTimer->start(PostponeMs);
        return;
    }
    postponed = 0;
    lastFrame = clock.elapsed();
    QStringList frame;
    if (lines.size() <= FrameLines) {
        frame.swap(lines);
    } else {
        frame = lines.first(FrameLines);
        lines.remove(0, FrameLines);
    }
    if (frame.size() >= FrameLines)
        frameGap = BurstFrameMs;
    else
        frameGap = frame.size() >= StreamLines ? StreamFrameMs : FrameMs;
    const int hidden = qMin(unshown, int(frame.size()));
    unshown -= hidden;
    if (hidden < frame.size())
        sinks.view(hidden ? frame.sliced(hidden) : frame);
    sinks.store(frame);

    if (balloonWaiting && !balloonTimer->isActive()) {
        if (lastFrame - lastBalloon >= BalloonMs)
            showBalloon();
        else
            schedule(balloonTimer, lastBalloon + BalloonMs);
    }
    if (!lines.isEmpty())
        schedule(frameTimer, lastFrame + frameGap);
    emit frameDone();
}

void TEventOutput::showBalloon()
{
    if (!balloonWaiting)
        return;
    balloonWaiting = false;
    lastBalloon = clock.elapsed();
    sinks.balloon(balloonTitle, balloonLine);
}

void TEventOutput::storeAll()
{
    frameTimer->stop();
    balloonTimer->stop();
    balloonWaiting = false;
    unshown = 0;
    if (!lines.isEmpty())
        sinks.store(lines);
    lines.clear();
}
