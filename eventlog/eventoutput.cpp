#include "eventoutput.h"

#include <QTimer>

TEventOutput::TEventOutput(Sinks sinks, QObject *parent)
    : QObject(parent), sinks(std::move(sinks)), frameTimer(new QTimer(this)), balloonTimer(new QTimer(this)),
      viewTimer(new QTimer(this))
{
    clock.start();
    for (QTimer *timer : {frameTimer, balloonTimer, viewTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(frameTimer, &QTimer::timeout, this, &TEventOutput::flush);
    connect(balloonTimer, &QTimer::timeout, this, &TEventOutput::showBalloon);
    connect(viewTimer, &QTimer::timeout, this, &TEventOutput::showView);
}

void TEventOutput::schedule(QTimer *timer, qint64 dueMs)
{
    timer->start(int(qBound(qint64(0), dueMs - clock.elapsed(), qint64(qMax(StreamFrameMs, BalloonMs)))));
}

void TEventOutput::add(const QString &title, const QString &line, bool balloon)
{
    // The balloon is chosen when the line's frame is handed on: a balloon already due
    // from an earlier frame must not show a line that is neither shown nor stored yet.
    if (balloon) {
        newestAsk = {int(lines.size()), title};
        if (newestAsk.at < FrameLines)
            frameAsk = newestAsk;
    }
    lines << line;
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
    // Lines that gather() added asked for a frame of their own: this is the one. Without
    // lines there is nothing to hand on, and a flood's pace is kept.
    frameTimer->stop();
    if (lines.isEmpty())
        return;
    lastFrame = clock.elapsed();
    QStringList frame;
    if (lines.size() <= FrameLines) {
        frame.swap(lines);
    } else {
        frame = lines.first(FrameLines);
        lines.remove(0, FrameLines);
    }
    if (frameAsk.at >= 0) {
        balloonTitle = frameAsk.title;
        balloonLine = frame.at(frameAsk.at);
        balloonWaiting = true;
    }
    // A line that stays behind waits for its own frame. Of those beyond the next frame too,
    // only the newest is known: the balloon rate merges them into it all the same.
    newestAsk.at = newestAsk.at >= frame.size() ? newestAsk.at - int(frame.size()) : -1;
    frameAsk = newestAsk.at < FrameLines ? newestAsk : BalloonAsk();
    // Half a frame or more is a flood or a burst: its lines reach the log file sooner,
    // which costs one opening of the file per frame; the view rests all the same.
    frameGap = frame.size() >= FrameLines / 2 ? BurstFrameMs : FrameMs;
    const int hidden = qMin(unshown, int(frame.size()));
    unshown -= hidden;
    if (hidden < frame.size())
        unviewed += hidden ? frame.sliced(hidden) : frame;
    if (!unviewed.isEmpty()) {
        if (lastFrame - lastView >= viewGap || unviewed.size() >= FrameLines)
            showView();
        else if (!viewTimer->isActive())
            schedule(viewTimer, lastView + viewGap);
    }
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

void TEventOutput::showView()
{
    viewTimer->stop();
    if (unviewed.isEmpty())
        return;
    lastView = clock.elapsed();
    viewGap = unviewed.size() >= StreamLines ? StreamFrameMs : 0;
    sinks.view(unviewed);
    // Not clear(), here or below, which keeps the capacity of a burst.
    unviewed = QStringList();
}

void TEventOutput::showBalloon()
{
    if (!balloonWaiting)
        return;
    balloonWaiting = false;
    lastBalloon = clock.elapsed();
    sinks.balloon(balloonTitle, balloonLine);
}

void TEventOutput::forgetForView()
{
    unshown = int(lines.size());
    unviewed = QStringList();
}

void TEventOutput::storeAll()
{
    frameTimer->stop();
    balloonTimer->stop();
    viewTimer->stop();
    balloonWaiting = false;
    newestAsk = frameAsk = BalloonAsk();
    unshown = 0;
    unviewed = QStringList();
    if (!lines.isEmpty())
        sinks.store(lines);
    lines.clear();
}
