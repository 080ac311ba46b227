#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

// The output step in frames. Event lines are collected and handed on together, at most 25
// times a second and at once when nothing was going on: one append to
// the view, one opening of the log file and at most one balloon for all the lines of a
// frame. Showing and storing cost far more per call than per line, so a burst costs
// little more than a single event; lines keep their order.
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
        // The newest line that asked for a balloon, with its title.
        std::function<void(const QString &title, const QString &line)> balloon;
    };

    // Frames come this far apart while a trickle of events arrives: every frame repaints
    // the view and lays out the lines it shows, which at a steady thousand events a
    // second costs more than the events themselves. A frame of StreamLines or more
    // scrolls the view by more than a page, faster than anyone reads: the next comes
    // StreamFrameMs later. A full frame with more waiting is a burst, to be worked off:
    // the next comes BurstFrameMs later.
    static constexpr int FrameMs = 200;
    static constexpr int StreamLines = 100;
    static constexpr int StreamFrameMs = 500;
    static constexpr int BurstFrameMs = 40;
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
    // The view is being cleared: the lines waiting for it are not shown (they are stored).
    void forgetForView() { unshown = int(lines.size()); }
    // Stores everything that waits, without view or balloon: the program is ending.
    void storeAll();

signals:
    // A frame has been handed on.
    void frameDone();

private:
    void flush();
    void showBalloon();
    void schedule(QTimer *timer, qint64 dueMs);

    Sinks sinks;
    QStringList lines;
    // How many of the first lines are not for the view.
    int unshown = 0;
    QString balloonTitle;
    QString balloonLine;
    bool balloonWaiting = false;

    QElapsedTimer clock;
    qint64 lastFrame = -FrameMs;
    int frameGap = FrameMs;
    int postponed = 0;
    qint64 lastBalloon = -BalloonMs;
    QTimer *frameTimer;
    QTimer *balloonTimer;
};
