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
};

QTEST_GUILESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
