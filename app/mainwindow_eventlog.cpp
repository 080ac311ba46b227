#include "mainwindow.h"

#include "dispatch.h"
#include "eventline.h"
#include "eventoutput.h"
#include "logwriter.h"
#include "nrvapi.h"
#include "syslogintake.h"
#include "trapintake.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QLabel>
#include <QTimer>

void TMainWindow::onSnmp(QString aLogStr, int aTrapType)
{
    snmpEvent(aLogStr, aTrapType, QDateTime::currentMSecsSinceEpoch());
}

void TMainWindow::snmpEvent(const QString &eventText, int trapKind, qint64 msecsSinceEpoch)
{
    if (!trapKindPasses(settings, trapKind))
        return;
    // Stamped when its callback ran: traps wait for their frame. Date and time are of the
    // same instant, so an event stamped across midnight keeps its day.
    outputEvent(QStringLiteral("SNMP trap received"), EventLine::snmpLine(eventText, msecsSinceEpoch));
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

QString lossText(quint64 byKernel, quint64 byBound, quint64 atStop)
{
    QString text = QString("%1 datagrams lost since the program started: %2 dropped by the system with the receive "
                           "buffer full, %3 beyond the memory bound")
                       .arg(byKernel + byBound + atStop)
                       .arg(byKernel)
                       .arg(byBound);
    if (atStop)
        text += QString(", %1 left unhandled when a stop ran out of time").arg(atStop);
    return text + '.';
}

} // namespace

void TMainWindow::showLosses()
{
    // The status texts stay as they are; what was lost is one hover away, also after a
    // stop. A tool tip that gives the reason of a failure keeps it until the next start.
    const quint64 syslogKernel = syslogSocket->kernelDropped();
    const quint64 syslogBound = syslogSocket->overflowed();
    const quint64 syslogStop = syslogSocket->abandoned();
    const quint64 syslogLost = syslogKernel + syslogBound + syslogStop;
    if (!syslogFailureShown && syslogLost != syslogLossShown) {
        syslogLossShown = syslogLost;
        syslogStatusLabel->setToolTip(lossText(syslogKernel, syslogBound, syslogStop));
    }
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    const quint64 snmpBound = stats.overflowed + trapIntake().overflowed();
    const quint64 snmpLost = stats.kernelDropped + snmpBound + stats.abandoned;
    if (!snmpFailureShown && snmpLost != snmpLossShown) {
        snmpLossShown = snmpLost;
        snmpStatusLabel->setToolTip(lossText(stats.kernelDropped, snmpBound, stats.abandoned));
    }
}
