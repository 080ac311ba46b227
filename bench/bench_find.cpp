// Finding text in a large log view: the find bar on a view of LINES typical event lines
// (default 1,000,000) under the offscreen platform, as the user runs it.
//
//   bench_find [LINES]
//
// For each case: the time from the search's start to its end (the match selected, or
// "not found"), and the longest the event loop waited meanwhile (the window's worst
// freeze). The last case searches while lines keep arriving, a frame of 100 every 10 ms.
#include "eventline.h"
#include "findbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

QString typicalLine(int i)
{
    SensorTrapRecord r = {};
    std::strcpy(r.sender, "192.168.10.23");
    std::strcpy(r.mac, "00:20:4a:bd:11:07");
    std::strcpy(r.deviceName, "Server room north");
    std::strcpy(r.channelName, "Temperature rack 4");
    std::strcpy(r.channelState, "normal");
    std::strcpy(r.unit, "C");
    r.uptime = 1000000u + quint32(i) * 100u;
    r.channelIndex = quint32(i % 8);
    r.value = 180 + i % 97;
    return EventLine::snmpLine(EventLine::sensorTrapText(r), QTime(0, 0).addSecs(i % 86400), QDate(2026, 3, 9));
}

struct Result {
    qint64 ms = 0;
    qint64 longestWaitMs = 0;
    bool found = false;
    int line = -1;
};

Result run(TFindBar *bar, QPlainTextEdit *view, const QString &needle, bool backward, bool linesArrive)
{
    view->moveCursor(QTextCursor::Start);
    bar->findChild<QLineEdit *>("findField")->setText(needle);
    Result result;
    // The event loop's turns, as a repaint or a click would get them.
    QElapsedTimer sinceTurn;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout,
                     [&] { result.longestWaitMs = qMax(result.longestWaitMs, sinceTurn.restart()); });
    int arrived = 0;
    QTimer arrivals;
    QObject::connect(&arrivals, &QTimer::timeout, [&] {
        QStringList frame;
        for (int i = 0; i < 100; ++i)
            frame << typicalLine(++arrived);
        view->appendPlainText(frame.join(QChar::ParagraphSeparator));
    });
    bool ended = false;
    const QMetaObject::Connection done = QObject::connect(bar, &TFindBar::searchEnded, [&](bool found) {
        ended = true;
        result.found = found;
    });
    QElapsedTimer clock;
    clock.start();
    sinceTurn.start();
    turns.start(0);
    if (linesArrive)
        arrivals.start(10);
    bar->find(backward);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.ms = clock.elapsed();
    QObject::disconnect(done);
    if (result.found)
        result.line = view->textCursor().blockNumber();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    QMainWindow window;
    auto *view = new QPlainTextEdit(&window);
    view->setReadOnly(true);
    view->setUndoRedoEnabled(false);
    window.setCentralWidget(view);
    auto *bar = new TFindBar(view, &window);
    window.resize(800, 600);
    window.show();

    QElapsedTimer clock;
    clock.start();
    const int frame = 10000;
    for (int first = 0; first < lines; first += frame) {
        QStringList chunk;
        for (int i = first; i < qMin(first + frame, lines); ++i)
            chunk << (i == lines / 2 ? typicalLine(i) + " middle-marker" : typicalLine(i));
        if (first + frame >= lines)
            chunk.last() += " last-marker";
        view->appendPlainText(chunk.join(QChar::ParagraphSeparator));
    }
    QCoreApplication::processEvents();
    std::printf("view: %d lines in %.1f s\n", view->blockCount(), clock.elapsed() / 1000.0);
    bar->open();

    const struct {
        const char *what;
        QString needle;
        bool backward;
        bool linesArrive;
    } cases[] = {
        {"first match in the middle", "middle-marker", false, false},
        {"first match on the last line", "last-marker", false, false},
        {"backward from the bottom, match on line 1", ";1000000;", true, false},
        {"not found (every line once)", "no such text", false, false},
        {"last line, lines arriving meanwhile", "LAST-MARKER", false, true},
    };
    std::printf("%-45s %10s %18s %s\n", "case", "time", "longest wait", "result");
    for (const auto &c : cases) {
        const Result r = run(bar, view, c.needle, c.backward, c.linesArrive);
        std::printf("%-45s %7lld ms %15lld ms %s\n", c.what, static_cast<long long>(r.ms),
                    static_cast<long long>(r.longestWaitMs),
                    r.found ? qPrintable(QString("line %1").arg(r.line + 1)) : "not found");
    }
    return 0;
}
