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

void showToolTip(QLabel *label, const QString &text)
{
    if (label->toolTip() != text)
        label->setToolTip(text);
}

} // namespace

QString TMainWindow::countsText(const ReceiverCounts &now, const ReceiverCounts &atStart)
{
    QString text =
        QString("%1 datagrams received since the receiver was started, ").arg(now.received - atStart.received);
    const quint64 byKernel = now.byKernel - atStart.byKernel;
    const quint64 byBound = now.byBound - atStart.byBound;
    const quint64 atStop = now.atStop - atStart.atStop;
    if (byKernel + byBound + atStop == 0)
        return text + "none lost.";
    text += QString("%1 lost: %2 dropped by the system with the receive buffer full, %3 beyond the memory bound")
                .arg(byKernel + byBound + atStop)
                .arg(byKernel)
                .arg(byBound);
    if (atStop)
        text += QString(", %1 left unhandled when a stop ran out of time").arg(atStop);
    return text + '.';
}

TMainWindow::ReceiverCounts TMainWindow::snmpTotals()
{
    NrvStatistics stats{};
    nrvGetStatistics(&stats);
    return {stats.datagrams, stats.kernelDropped, stats.overflowed + trapIntake().overflowed(), stats.abandoned};
}

TMainWindow::ReceiverCounts TMainWindow::syslogTotals() const
{
    return {syslogSocket->received(), syslogSocket->kernelDropped(), syslogSocket->overflowed(),
            syslogSocket->abandoned()};
}

void TMainWindow::showCounts()
{
    // The status texts stay as they are; the counts are one hover away, also after a stop
    // (the receivers' own: a filtered trap was received, not lost). A tool tip that gives
    // the reason of a failure keeps it until the next start.
    if (syslogCounting && !syslogFailureShown)
        showToolTip(syslogStatusLabel, countsText(syslogTotals(), syslogAtStart));
    if (snmpCounting && !snmpFailureShown)
        showToolTip(snmpStatusLabel, countsText(snmpTotals(), snmpAtStart));
}

bool TMainWindow::eventFilter(QObject *watched, QEvent *e)
{
    // Datagrams that make no line (filtered traps, what the library cannot decode) count
    // too: the counts are brought up to date when they are looked at.
    if (e->type() == QEvent::ToolTip && (watched == snmpStatusLabel || watched == syslogStatusLabel))
        showCounts();
    return QMainWindow::eventFilter(watched, e);
}
