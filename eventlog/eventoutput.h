#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

// The output step in frames. Event lines are collected and handed on together, at most 25
// times a second and at once when nothing was going on: one opening of the log file and
// at most one balloon for all the lines of a frame, and one append to the view for them
// (for several frames while a stream scrolls it by pages). Showing and storing cost far
// more per call than per line, so a burst costs little more than a single event; lines
// keep their order.
class TEventOutput : public QObject
{
    Q_OBJECT

public:
    struct Sinks {
        // Called as a frame is due, to add what producers have gathered meanwhile. False
        // asks for the frame a little later: a producer needs the processor more now.
        std::function<bool()> gather;
        // The frame's lines, in order, for the view.
        std::function<void(const QStringList &lines)> view;
        // The frame's lines, in order, for the log file.
        std::function<void(const QStringList &lines)> store;
        // The newest line that asked for a balloon, with its title, once its frame has
        // been handed on.
        std::function<void(const QString &title, const QString &line)> balloon;
    };

    // Frames come this far apart while a trickle of events arrives, and BurstFrameMs apart
    // during a flood or a burst.
    static constexpr int FrameMs = 200;
    static constexpr int BurstFrameMs = 40;
    // The view takes the lines of every frame, but after StreamLines or more at once it
    // takes the next only StreamFrameMs later (or a full frame's worth): it has scrolled
    // by more than a page, faster than anyone reads, and every append lays out and
    // repaints the view, which at a steady thousand events a second costs more than the
    // events themselves. The log file and the balloon do not wait for it.
    static constexpr int StreamLines = 100;
    static constexpr int StreamFrameMs = 500;
    // Balloons further apart than this each get their own; closer ones are merged into
    // the newest, so that each stays readable.
    static constexpr int BalloonMs = 250;
    // Lines handed on in one frame at most; producers that can wait hold back beyond it.
    static constexpr int FrameLines = 6144;
    // A frame a producer asks to wait for comes this much later, this many times at most.
    static constexpr int PostponeMs = 5;
    static constexpr int MaxPostponed = 20;

    explicit TEventOutput(Sinks sinks, QObject *parent = nullptr);

    void add(const QString &title, const QString &line, bool balloon);
    // Whether the current frame has room, for producers that can wait.
    bool hasRoom() const { return int(lines.size()) < FrameLines; }
    bool isEmpty() const { return lines.isEmpty(); }
    // Whether lines already handed on still wait for the view's next append.
    bool viewWaiting() const { return !unviewed.isEmpty(); }
    // The view is being cleared: the lines waiting for it are not shown (they are stored).
    void forgetForView();
    // Stores everything that waits, without view or balloon: the program is ending.
    void storeAll();

signals:
    // A frame has been handed on.
    void frameDone();

private:
    void flush();
    void showView();
    void showBalloon();
    void schedule(QTimer *timer, qint64 dueMs);

    Sinks sinks;
    QStringList lines;
    // How many of the first lines are not for the view, and the lines handed on that
    // the view has not taken yet.
    int unshown = 0;
    QStringList unviewed;
    // A line that asked for a balloon, by its place in lines; -1: none.
    struct BalloonAsk {
        int at = -1;
        QString title;
    };
    // The newest of all, and the newest among the lines of the next frame.
    BalloonAsk newestAsk;
    BalloonAsk frameAsk;
    QString balloonTitle;
    QString balloonLine;
    bool balloonWaiting = false;

    QElapsedTimer clock;
    qint64 lastFrame = -FrameMs;
    int frameGap = FrameMs;
    int postponed = 0;
    qint64 lastBalloon = -BalloonMs;
    qint64 lastView = 0;
    int viewGap = 0;
    QTimer *frameTimer;
    QTimer *balloonTimer;
    QTimer *viewTimer;
};
