#include "eventoutput.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

// The output step in frames, without a window: what the view, the balloon and the log
// file are handed, and when, held to the figures users are promised (25 frames a second
// at most, the view twice a second while it scrolls, four balloons a second at most).

class TestEventOutput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { QVERIFY2(early.isEmpty(), qPrintable("balloons too early: " + early.join(' '))); }

    void burstInOrderAcrossFrames();
    void balloonsAtMostFourASecond();
    void clearedViewAndTheEnd();

private:
    std::unique_ptr<TEventOutput> output;
    QList<QStringList> viewFrames;
    QList<QStringList> storeFrames;
    QStringList balloons;
    QStringList early;
    QList<qint64> frameTimes;
    QList<qint64> viewTimes;
    qint64 frameStart = 0;
    qint64 balloonAt = 0;
    QElapsedTimer clock;
};

void TestEventOutput::init()
{
    viewFrames.clear();
    storeFrames.clear();
    balloons.clear();
    early.clear();
    frameTimes.clear();
    viewTimes.clear();
    clock.start();
    balloonAt = -250;
    TEventOutput::Sinks sinks;
    // A frame's time is when it began: storing comes after the frame's own work, which
    // under load takes long enough to shift the distance between frames.
    sinks.gather = [this] {
        frameStart = clock.elapsed();
        return true;
    };
    sinks.view = [this](const QStringList &lines) {
        viewFrames << lines;
        viewTimes << clock.elapsed();
    };
    sinks.store = [this](const QStringList &lines) {
        storeFrames << lines;
        frameTimes << frameStart;
    };
    sinks.balloon = [this](const QString &title, const QString &line) {
        balloons << title + "|" + line;
        // A balloon comes with its line's frame or after it, never before, and a quarter
        // of a second after the one before at the soonest.
        if (std::none_of(storeFrames.cbegin(), storeFrames.cend(),
                         [&](const QStringList &f) { return f.contains(line); }) ||
            clock.elapsed() - balloonAt < 248)
            early << line;
        balloonAt = clock.elapsed();
    };
    output = std::make_unique<TEventOutput>(std::move(sinks));
}

void TestEventOutput::burstInOrderAcrossFrames()
{
    // A lone event is not held for a frame: it goes out on the next turn of the loop.
    output->add("t", "lone", false);
    QCoreApplication::processEvents();
    QCOMPARE(storeFrames, (QList<QStringList>{{"lone"}}));
    QCOMPARE(viewFrames, (QList<QStringList>{{"lone"}}));

    QTest::qWait(TEventOutput::FrameMs + 10);
    QStringList sent;
    // A balloon line in the first frame and one in the last: each comes with its frame.
    const int lastBalloon = 3 * TEventOutput::FrameLines + 5;
    for (int i = 0; i < 3 * TEventOutput::FrameLines + TEventOutput::StreamLines; ++i) {
        sent << QString::number(i);
        output->add("t", sent.last(), i == 5 || i == lastBalloon);
    }
    QTRY_VERIFY(output->isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(storeFrames.size(), 1 + 4);
    QStringList stored;
    for (int i = 1; i < storeFrames.size(); ++i) {
        QVERIFY(storeFrames[i].size() <= TEventOutput::FrameLines);
        // Frames keep their distance (a coarse timer may fire a millisecond early).
        if (i > 1)
            QVERIFY2(frameTimes[i] - frameTimes[i - 1] >= 40 - 2,
                     qPrintable(QString::number(frameTimes[i] - frameTimes[i - 1])));
        stored += storeFrames[i];
    }
    QCOMPARE(stored, sent);
    // The view takes every full frame at once, the rest once it has rested.
    QTRY_COMPARE(viewFrames.size(), 1 + 4);
    QStringList shown;
    for (int i = 1; i < viewFrames.size(); ++i)
        shown += viewFrames[i];
    QCOMPARE(shown, sent);
    QVERIFY(viewTimes[4] - viewTimes[3] >= 500 - 2);
    QTRY_COMPARE(balloons, (QStringList{"t|5", "t|" + QString::number(lastBalloon)}));

    // After a page or more, the view rests: a line that follows is stored with its own
    // frame, but shown only half a second after the view's last append.
    output->add("t", "after", false);
    QTRY_COMPARE(storeFrames.last(), QStringList{"after"});
    QVERIFY(output->viewWaiting());
    QTRY_COMPARE(viewFrames.last(), QStringList{"after"});
    QVERIFY(!output->viewWaiting());
    QVERIFY(viewTimes.last() - viewTimes[viewTimes.size() - 2] >= 500 - 2);
    QVERIFY(viewTimes.last() - frameTimes.last() > 250);
    // A burst after a trickle goes out at once, and the view takes a full frame at once.
    QTest::qWait(TEventOutput::FrameMs + 10);
    output->add("t", "trickle", false);
    QTRY_COMPARE(storeFrames.last(), QStringList{"trickle"});
    for (int i = 0; i < TEventOutput::FrameLines; ++i)
        output->add("t", "burst", false);
    QTRY_VERIFY(output->isEmpty());
    QVERIFY(frameTimes.last() - frameTimes[frameTimes.size() - 2] < 100);
    QTRY_COMPARE(viewFrames.last().size(), TEventOutput::FrameLines);
}

void TestEventOutput::balloonsAtMostFourASecond()
{
    // Far enough apart, every event has a balloon of its own.
    output->add("title", "a", true);
    QTRY_COMPARE(balloons, QStringList{"title|a"});
    QTest::qWait(300);
    output->add("title", "b", true);
    QTRY_COMPARE(balloons, (QStringList{"title|a", "title|b"}));

    // Close together, only the newest line that asked for one, with its own title.
    balloons.clear();
    output->add("first", "c", true);
    output->add("second", "d", true);
    output->add("quiet", "e", false);
    QTRY_COMPARE(balloons, QStringList{"second|d"});
    // While they come, a quarter of a second apart (checked as they are shown), and the
    // newest once they stop.
    balloons.clear();
    for (int i = 0; i < 50; ++i) {
        output->add("burst", QString::number(i), true);
        QTest::qWait(10);
    }
    QTRY_VERIFY(!balloons.isEmpty() && balloons.last() == "burst|49");
    QVERIFY2(balloons.size() >= 2, qPrintable(balloons.join(' ')));
}

void TestEventOutput::clearedViewAndTheEnd()
{
    // Lines that wait when the view is cleared are stored but not shown.
    output->add("t", "before clear", false);
    output->forgetForView();
    output->add("t", "after clear", false);
    QTRY_VERIFY(output->isEmpty());
    QCOMPARE(viewFrames, (QList<QStringList>{{"after clear"}}));
    QCOMPARE(storeFrames, (QList<QStringList>{{"before clear", "after clear"}}));

    // At the end everything waiting is stored at once, without view or balloon.
    QTest::qWait(TEventOutput::FrameMs + 10);
    output->add("t", "x", true);
    output->add("t", "y", true);
    output->storeAll();
    QCOMPARE(storeFrames.last(), (QStringList{"x", "y"}));
    QCOMPARE(viewFrames.size(), 1);
    QTest::qWait(300);
    QVERIFY(balloons.isEmpty());
}

QTEST_GUILESS_MAIN(TestEventOutput)
#include "tst_eventoutput.moc"
