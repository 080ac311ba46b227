// Throughput of the event log: the writer's lock/open/write/close per line against a plain
// buffered append of the same lines, and the whole output step (view + file) under the
// offscreen platform, with the memory the view holds.
//
//   bench_eventlog [LINES]     (default 200000)
//
// Each view variant runs in a child process of its own, so that its resident memory is
// not blurred by what an earlier one freed.
#include "eventline.h"
#include "eventoutput.h"
#include "logwriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Lines as a sensor change gives them, each a little different.
QStringList typicalLines(int count)
{
    SensorTrapRecord r = {};
    std::strcpy(r.sender, "192.168.10.23");
    std::strcpy(r.mac, "00:20:4a:bd:11:07");
    std::strcpy(r.deviceName, "Server room north");
    std::strcpy(r.channelName, "Temperature rack 4");
    std::strcpy(r.channelState, "normal");
    std::strcpy(r.unit, "C");
    QStringList lines;
    lines.reserve(count);
    const QDate date = QDate::currentDate();
    for (int i = 0; i < count; ++i) {
        r.uptime = 1000000u + quint32(i) * 100u;
        r.channelIndex = quint32(i % 8);
        r.value = 180 + i % 97;
        const QTime time = QTime(0, 0).addSecs(i % 86400);
        lines << EventLine::snmpLine(EventLine::sensorTrapText(r), time, date);
    }
    return lines;
}

double perSecond(int lines, qint64 ns)
{
    return ns > 0 ? lines * 1e9 / double(ns) : 0.0;
}

// log.txt in a folder of its own below dir.
TSettings settingsIn(const QTemporaryDir &dir, const char *folder)
{
    TSettings settings;
    settings.DataDir = dir.filePath(folder);
    settings.DataFile = "log.txt";
    QDir().mkpath(settings.DataDir);
    return settings;
}

// writeLog: rotation check, then open + lock, write, close for every line; against the
// same bytes through one buffered file kept open.
void benchWriter(const QList<QByteArray> &bytes, const QTemporaryDir &dir)
{
    const TSettings settings = settingsIn(dir, "writer");
    TLogWriter writer;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray &b : bytes) {
        rotateLogFile(settings);
        writer.write(settings, b);
    }
    const qint64 writerNs = clock.nsecsElapsed();

    QFile plain(dir.filePath("plain.txt"));
    plain.open(QIODevice::WriteOnly | QIODevice::Append);
    clock.restart();
    for (const QByteArray &b : bytes) {
        plain.write(b);
        plain.write("\r\n", 2);
    }
    plain.close();
    const qint64 plainNs = clock.nsecsElapsed();

    const int count = int(bytes.size());
    const double writerRate = perSecond(count, writerNs);
    const double plainRate = perSecond(count, plainNs);
    std::printf("writeLog         %10.0f lines/s\n", writerRate);
    std::printf("buffered append  %10.0f lines/s  (writeLog is %.1fx slower)\n", plainRate,
                writerRate > 0 ? plainRate / writerRate : 0.0);
}

enum Variant { PerLine, Framed, FramedHidden };

// outputEvent: view paragraph, then the file (balloons off). Events arrive through the
// event loop, so let it run (and paint) every so often as it would. The lines go out as
// the program sends them (a frame at a time: one append, one opening of the log file;
// shown, and hidden as when the window sits in the tray), and for comparison with one
// append and one file opening per line.
void benchOutput(Variant variant, const QStringList &lines, const QTemporaryDir &dir)
{
    const char *names[] = {"one append per line", "as the program does it", "as the program, window hidden"};
    const TSettings settings = settingsIn(dir, "output");
    TLogWriter writer;
    QPlainTextEdit view;
    view.setReadOnly(true);
    view.resize(800, 600);
    TEventOutput::Sinks sinks;
    sinks.view = [&view](const QStringList &frame) { view.appendPlainText(frame.join(QChar::ParagraphSeparator)); };
    sinks.store = [&](const QStringList &frame) {
        QByteArrayList bytes;
        for (const QString &line : frame)
            bytes << EventLine::toLogBytes(line);
        rotateLogFile(settings);
        writer.write(settings, bytes);
    };
    sinks.balloon = [](const QString &, const QString &) {};
    TEventOutput output(sinks);
    if (variant != PerLine)
        view.setUndoRedoEnabled(false);
    if (variant != FramedHidden)
        view.show();
    QApplication::processEvents();
    const qint64 rssBefore = residentBytes();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (variant == PerLine) {
            view.appendPlainText(line);
            rotateLogFile(settings);
            writer.write(settings, EventLine::toLogBytes(line));
        } else {
            output.add(QString(), line, false);
        }
        if (i % 100 == 99)
            QApplication::processEvents();
    }
    while (!output.isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    const qint64 ns = clock.nsecsElapsed();
    const qint64 rssAfter = residentBytes();
    std::printf("outputEvent      %10.0f lines/s, view %6.1f MiB resident per 100,000 lines  (%s)\n",
                perSecond(int(lines.size()), ns),
                double(rssAfter - rssBefore) / (1024.0 * 1024.0) * 100000.0 / double(lines.size()), names[variant]);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
    const int variant = argc > 2 ? qBound(0, std::atoi(argv[2]), 2) : -1;

    const QStringList lines = typicalLines(count);
    QTemporaryDir dir;
    if (variant >= 0) {
        benchOutput(Variant(variant), lines, dir);
        return 0;
    }

    QList<QByteArray> bytes;
    qint64 total = 0;
    for (const QString &line : lines) {
        bytes << EventLine::toLogBytes(line);
        total += bytes.last().size() + 2;
    }
    std::printf("%d lines, %.1f bytes each on average (line end included)\n", count, double(total) / count);
    benchWriter(bytes, dir);
    std::fflush(stdout);
    for (int v = PerLine; v <= FramedHidden; ++v) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(QCoreApplication::applicationFilePath(), {QString::number(count), QString::number(v)});
        child.waitForFinished(-1);
    }
    return 0;
}
