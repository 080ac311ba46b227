#include "geometry.h"

#include <QTest>

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void centring_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("topLeft");

        QTest::newRow("task bar at the bottom") << QRect(0, 0, 1280, 984) << QSize(620, 460) << QPoint(330, 262);
        QTest::newRow("odd widths truncate each half") << QRect(0, 0, 1279, 984) << QSize(621, 460) << QPoint(329, 262);
        // The available area's own offset is not added: measured from the screen's edge.
        QTest::newRow("task bar on the left") << QRect(60, 0, 1220, 1024) << QSize(620, 460) << QPoint(300, 282);
        QTest::newRow("frame larger than the screen") << QRect(0, 0, 800, 600) << QSize(1001, 701) << QPoint(-100, -50);
    }

    void centring()
    {
        QFETCH(QRect, available);
        QFETCH(QSize, frame);
        const QRect result = centeredGeometry(available, QRect(QPoint(5, 7), frame));
        QTEST(result.topLeft(), "topLeft");
        QCOMPARE(result.size(), frame);
    }

    void balloonPlacement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("topLeft");

        // A 1024x768 screen with a 24 px panel at the top and a 300x100 balloon.
        QTest::newRow("tray at the top right: below") << QRect(1000, 0, 24, 24) << QPoint(724, 24);
        QTest::newRow("tray at the bottom: above") << QRect(500, 744, 24, 24) << QPoint(224, 644);
        QTest::newRow("icon near the left edge: kept inside") << QRect(10, 0, 24, 24) << QPoint(0, 24);
        QTest::newRow("no icon geometry: the corner") << QRect() << QPoint(724, 668);
    }

    void balloonPlacement()
    {
        QFETCH(QRect, icon);
        QTEST(balloonPosition(icon, QRect(0, 0, 1024, 768), QRect(0, 24, 1024, 744), QSize(300, 100)), "topLeft");
    }
};

QTEST_GUILESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
