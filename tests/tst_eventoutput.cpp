#include "eventoutput.h"

#include <QElapsedTimer>
#include <QTest>

// The output step in frames, without a window: what the view, the balloon and the log
// file are handed, and when.

class TestEventOutput : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void burstInOrderAcrossFrames();
    void balloonsAtMostFourASecond();
    void clearedViewAndTheEnd();

private:
    std::unique_ptr<TEventOutput> output;
    QList<QStringList> viewFrames;
    QList<QStringList> storeFrames;
    QStringList balloons;
    QList<qint64> frameTimes;
    QElapsedTimer clock;
};

void TestEventOutput::init()
{
    viewFrames.clear();
    storeFrames.clear();
    balloons.clear();
    frameTimes.clear();
    clock.start();
    TEventOutput::Sinks sinks;
    sinks.view = [this](const QStringList &lines) { viewFrames << lines; };
    sinks.store = [this](const QStringList &lines) {
        storeFrames << lines;
        frameTimes << clock.elapsed();
    };
    sinks.balloon = [this](const QString &title, const QString &line) { balloons << title + "|" + line; };
    output = std::make_unique<TEventOutput>(std::move(sinks));
}

void TestEventOutput::burstInOrderAcrossFrames()
{
    // A lone event is not held for a frame: it goes out on the next turn of the loop.
    output->add("t", "lone", false);
    QCoreApplication::processEvents();
    QCOMPARE(storeFrames, (QList<QStringList>{{"lone"}}));

    QTest::qWait(TEventOutput::FrameMs + 10);
    QStringList sent;
    for (int i = 0; i < 3 * TEventOutput::FrameLines + TEventOutput::StreamLines; ++i) {
        sent << QString::number(i);
        output->add("t", sent.last(), false);
    }
    QTRY_VERIFY(output->isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(storeFrames.size(), 1 + 4);
    QStringList stored, shown;
    for (int i = 1; i < storeFrames.size(); ++i) {
        QVERIFY(storeFrames[i].size() <= TEventOutput::FrameLines);
        // Frames keep their distance (a coarse timer may fire a millisecond early).
        if (i > 1)
            QVERIFY2(frameTimes[i] - frameTimes[i - 1] >= TEventOutput::BurstFrameMs - 2,
                     qPrintable(QString::number(frameTimes[i] - frameTimes[i - 1])));
        stored += storeFrames[i];
        shown += viewFrames[i];
    }
    QCOMPARE(stored, sent);
    QCOMPARE(shown, sent);
    QVERIFY(balloons.isEmpty());

    // The burst's last frame scrolled by more than a page: the next one waits longer.
    output->add("t", "after", false);
    QTRY_VERIFY(output->isEmpty());
    QCOMPARE(storeFrames.last(), QStringList{"after"});
    QVERIFY(frameTimes.last() - frameTimes[frameTimes.size() - 2] >= TEventOutput::StreamFrameMs - 2);
    // Unless a whole frame's worth is waiting by then: a burst right after a stream.
    QTest::qWait(TEventOutput::FrameMs + 10);
    for (int i = 0; i < TEventOutput::StreamLines; ++i)
        output->add("t", "stream", false);
    QTRY_VERIFY(output->isEmpty());
    for (int i = 0; i < TEventOutput::FrameLines; ++i)
        output->add("t", "burst", false);
    QTRY_VERIFY(output->isEmpty());
    QVERIFY(frameTimes.last() - frameTimes[frameTimes.size() - 2] < TEventOutput::StreamFrameMs / 2);
}

void TestEventOutput::balloonsAtMostFourASecond()
{
    // Far enough apart, every event has a balloon of its own.
    for (const char *line : {"a", "b"}) {
        output->add("title", line, true);
        QTest::qWait(TEventOutput::BalloonMs + 50);
    }
    QCOMPARE(balloons, (QStringList{"title|a", "title|b"}));

    // Close together, only the newest line that asked for one, with its own title.
    balloons.clear();
    output->add("first", "c", true);
    output->add("second", "d", true);
    output->add("quiet", "e", false);
    QTest::qWait(TEventOutput::BalloonMs + 50);
    QCOMPARE(balloons, (QStringList{"second|d"}));
    for (int i = 0; i < 50; ++i) {
        output->add("burst", QString::number(i), true);
        QTest::qWait(10);
    }
    QTest::qWait(TEventOutput::BalloonMs + 50);
    QVERIFY2(balloons.size() >= 2 && balloons.size() <= 1 + 4, qPrintable(balloons.join(' ')));
    QCOMPARE(balloons.last(), QString("burst|49"));
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
    QTest::qWait(TEventOutput::BalloonMs + 50);
    QVERIFY(balloons.isEmpty());
}

QTEST_GUILESS_MAIN(TestEventOutput)
#include "tst_eventoutput.moc"
