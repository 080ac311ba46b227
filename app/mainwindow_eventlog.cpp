#include "mainwindow.h"

#include "dispatch.h"
#include "eventline.h"
#include "eventoutput.h"
#include "logwriter.h"
#include "nrvapi.h"
#include "syslogintake.h"
#include "ui_mainwindow.h"

#include <QLabel>
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
    // Shown, announced and stored with the rest of its frame, within a few dozen
    // milliseconds; the balloon setting counts as it is now.
    eventOutput->add(title, line, settings.BalloonEnable);
}

void TMainWindow::writeLog(const QByteArrayList &lines)
{
    if (lines.isEmpty())
        return;
    rotateLog();
    if (logWriter.write(settings, lines)) {
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
    rotateLogFile(settings, logShareMode);
}

namespace {

QString lossText(quint64 byKernel, quint64 byBound)
{
    return QString("%1 datagrams lost since the program started: %2 dropped by the system with the receive "
                   "buffer full, %3 beyond the memory bound.")
        .arg(byKernel + byBound)
        .arg(byKernel)
        .arg(byBound);
}

} // namespace

void TMainWindow::showLosses()
{
    // The status texts stay as they are; what was lost is one hover away.
    const quint64 syslogKernel = syslogSocket->kernelDropped();
    const quint64 syslogBound = syslogSocket->overflowed();
    if (syslogRunning && syslogKernel + syslogBound != syslogLossShown) {
        syslogLossShown = syslogKernel + syslogBound;
        syslogStatusLabel->setToolTip(lossText(syslogKernel, syslogBound));
    }
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    if (snmpState == SnmpReceiving && stats.kernelDropped + stats.overflowed != snmpLossShown) {
        snmpLossShown = stats.kernelDropped + stats.overflowed;
        snmpStatusLabel->setToolTip(lossText(stats.kernelDropped, stats.overflowed));
    }
}
