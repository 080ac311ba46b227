#include "mainwindow.h"

#include "dispatch.h"
#include "eventline.h"
#include "logwriter.h"
#include "ui_mainwindow.h"

#include <QTimer>

void TMainWindow::onSnmp(QString aLogStr, int aTrapType)
{
    if (!trapKindPasses(settings, aTrapType))
        return;
    // Time before date: an event stamped across midnight keeps the old day's time.
    const QTime time = QTime::currentTime();
    const QDate date = QDate::currentDate();
    outputEvent(QStringLiteral("SNMP trap received"), EventLine::snmpLine(aLogStr, time, date));
}

void TMainWindow::outputEvent(const QString &title, const QString &line)
{
    viewAppender->append(line);
    if (settings.BalloonEnable)
        showTrayMessage(title, line);
    const QByteArray bytes = EventLine::toLogBytes(line);
    writeLog(bytes.constData(), int(bytes.size()));
}

void TMainWindow::writeLog(const char *bytes, int length)
{
    if (length <= 0)
        return;
    rotateLog();
    if (logWriter.write(settings, bytes, length)) {
        if (queueTimer->isActive())
            queueTimer->stop();
    } else if (!queueTimer->isActive()) {
        queueTimer->start(1000);
    }
}

void TMainWindow::onQueue()
{
    if (logWriter.flush(settings))
        queueTimer->stop();
}

void TMainWindow::rotateLog()
{
    rotateLogFile(settings);
}
