#include "platform.h"

#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char MarkerName[] = "nrvtrrec_install_uninstall_mutex_test";

// A child process that makes the marker and then waits to be ended.
pid_t startMarkerHolder(int *ready)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        Platform::createInstanceMarker(MarkerName);
        (void)!::write(fds[1], "x", 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    *ready = fds[0];
    return pid;
}

bool waitReady(int fd)
{
    char c;
    const bool ok = ::read(fd, &c, 1) == 1;
    ::close(fd);
    return ok;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void instanceMarkerLivesWithItsProcess_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("ended normally") << int(SIGTERM);
        QTest::newRow("killed") << int(SIGKILL);
    }

    void instanceMarkerLivesWithItsProcess()
    {
        QFETCH(int, signal);
        QVERIFY(!Platform::instanceMarkerExists(MarkerName));
        int ready = -1;
        const pid_t pid = startMarkerHolder(&ready);
        QVERIFY(pid > 0);
        QVERIFY(waitReady(ready));
        QVERIFY2(Platform::instanceMarkerExists(MarkerName), "another process can open the marker");
        ::kill(pid, signal);
        QCOMPARE(::waitpid(pid, nullptr, 0), pid);
        QTRY_VERIFY(!Platform::instanceMarkerExists(MarkerName));
    }

    void markerStaysWhileAnyInstanceRuns()
    {
        int readyFirst = -1, readySecond = -1;
        const pid_t first = startMarkerHolder(&readyFirst);
        QVERIFY(waitReady(readyFirst));
        const pid_t second = startMarkerHolder(&readySecond);
        QVERIFY(waitReady(readySecond));
        // An installer asks as often as it likes, also while an instance waits: no
        // probe fails or blocks.
        for (int probe = 0; probe < 200; ++probe)
            QVERIFY2(Platform::instanceMarkerExists(MarkerName), qPrintable(QString::number(probe)));

        ::kill(first, SIGKILL);
        ::waitpid(first, nullptr, 0);
        // The second instance takes the name over; there is no moment worth a test
        // where the marker is missing for long.
        QTRY_VERIFY(Platform::instanceMarkerExists(MarkerName));
        QTest::qWait(100);
        QVERIFY(Platform::instanceMarkerExists(MarkerName));

        ::kill(second, SIGKILL);
        ::waitpid(second, nullptr, 0);
        QTRY_VERIFY(!Platform::instanceMarkerExists(MarkerName));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
