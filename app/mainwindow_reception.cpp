#include "mainwindow.h"

#include "eventline.h"
#include "eventoutput.h"
#include "nrvapi.h"
#include "platform.h"
#include "syslogintake.h"
#include "trapcallbacks.h"
#include "trapintake.h"
#include "ui_mainwindow.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

namespace {

// The longest the GUI thread turns datagrams into lines in one go; what is left waits in
// the intake for the next turn of the event loop, so that timers, clicks, repaints and
// traps go on during a flood.
constexpr qint64 SyslogSliceMs = 10;
// How long the GUI thread steps aside for the reading thread during a burst, and how often
// in a row.
constexpr int FloodYieldMs = 5;
constexpr int MaxSyslogYields = 20;

QString receivingText(int port)
{
    return "Recieving on UDP port " + QString::number(port);
}

QString failedText(int port)
{
    return "Failed, UDP port " + QString::number(port) + " probably busy";
}

// The system's reason for a failed bind; for a port that the user lacks the right to,
// also how to get it.
QString failureToolTip(int port, const QString &reason)
{
    if (!Platform::refusedForWantOfGrant(port, reason))
        return reason;
    return reason +
           "\n\nPorts below 1024 are for the members of the group \"ventrix\". An administrator adds you "
           "with \"sudo adduser " +
           qEnvironmentVariable("USER", "USER") + " ventrix\"; log in again afterwards.";
}

} // namespace

void TMainWindow::updateStartStopAction()
{
    const bool checked = syslogRunning || snmpState == SnmpReceiving;
    const bool enabled = snmpState == SnmpStopped || snmpState == SnmpReceiving;
    ui->actionStartStop->setChecked(checked);
    ui->actionStartStop->setEnabled(enabled);
    ui->actionStartStop->setToolTip(checked ? "Stop reciever" : "Start reciever");
    ui->actionSettings->setEnabled(ui->actionStartStop->isEnabled());
}

void TMainWindow::on_actionStartStop_triggered()
{
    // A start that accepted settings left due is overtaken by what the user presses now:
    // otherwise a stop pressed in the last half second would be undone by it.
    snmpRestartTimer->stop();
    if (!ui->actionStartStop->isChecked()) {
        stopSnmp();
        stopSyslog();
    } else if (settings.SnmpEnable || settings.SyslogEnable) {
        startSnmp();
        startSyslog();
    } else {
        ui->actionStartStop->setChecked(syslogRunning);
        QMessageBox::information(this, "Information", "Neither SNMP traps reciever nor syslog server are enabled!",
                                 QMessageBox::Ok);
    }
}

void TMainWindow::startSnmp()
{
    if (!settings.SnmpEnable || snmpState != SnmpStopped)
        return;
    snmpStatusLabel->setText("Starting...");
    snmpStatusLabel->setToolTip(QString());
    snmpFailureShown = false;
    snmpCounting = false;
    snmpAtStart = snmpTotals();
    if (nrvStart("0.0.0.0", settings.SnmpPort) == -1) {
        snmpStatusLabel->setText(failedText(settings.SnmpPort));
        snmpStatusLabel->setToolTip(failureToolTip(settings.SnmpPort, QString::fromLocal8Bit(nrvLastError())));
        snmpFailureShown = true;
        return;
    }
    // The texts that follow name this port, whatever the settings say by then.
    snmpStartedPort = settings.SnmpPort;
    snmpState = SnmpStarting;
    updateStartStopAction();
    snmpStartPolls = 0;
    snmpStartTimer->start(200);
}

void TMainWindow::onStartSnmp()
{
    if (nrvStatus() != -1) {
        snmpStartTimer->stop();
        TrapCallbackTable table;
        nrvInitCallbackTable(&table);
        fillTrapCallbackTable(&table);
        nrvSetCallbacks(&table);
        snmpStatusLabel->setText(receivingText(snmpStartedPort));
        snmpCounting = true;
        snmpState = SnmpReceiving;
        updateStartStopAction();
        showCounts();
        return;
    }
    // The 22nd failed poll gives up, about 4.4 s after the start.
    if (snmpStartPolls++ <= 20)
        return;
    snmpStartTimer->stop();
    nrvStop();
    snmpStatusLabel->setText(failedText(snmpStartedPort));
    snmpStatusLabel->setToolTip("The receiver did not confirm its start in time.");
    snmpFailureShown = true;
    snmpState = SnmpStopped;
    updateStartStopAction();
}

void TMainWindow::stopSnmp()
{
    if (snmpState != SnmpReceiving)
        return;
    // Returns once what arrived before it has been handed to the callbacks; the lines are
    // made from it with the next frames.
    nrvStop();
    QTimer::singleShot(2000, this, &TMainWindow::onStopSnmp);
    snmpStatusLabel->setText("Stopping...");
    snmpState = SnmpStopping;
    updateStartStopAction();
    queueTrapRead();
    showCounts();
}

void TMainWindow::onStopSnmp()
{
    snmpStatusLabel->setText("Disabled");
    snmpState = SnmpStopped;
    updateStartStopAction();
}

void TMainWindow::startSyslog()
{
    if (!settings.SyslogEnable || syslogRunning)
        return;
    // Outside 1..65535 (a settings file holding no number gives 0) the cast to 16 bits
    // would bind some other port, or a random one for 0, under the configured number.
    const bool usable = settings.SyslogPort > 0 && settings.SyslogPort <= 65535;
    syslogAtStart = syslogTotals();
    if (usable && syslogSocket->bind(quint16(settings.SyslogPort))) {
        syslogStatusLabel->setText(receivingText(settings.SyslogPort));
        syslogStatusLabel->setToolTip(QString());
        syslogCounting = true;
        syslogFailureShown = false;
        syslogRunning = true;
        updateStartStopAction();
        showCounts();
        return;
    }
    syslogStatusLabel->setText(failedText(settings.SyslogPort));
    // The status text keeps its fixed words; the system's own reason is one hover away.
    syslogStatusLabel->setToolTip(usable ? failureToolTip(settings.SyslogPort, syslogSocket->errorString())
                                         : QString("Not a UDP port."));
    syslogFailureShown = true;
    updateStartStopAction();
}

void TMainWindow::stopSyslog()
{
    if (!syslogRunning)
        return;
    // What arrived before the stop is kept and becomes lines with the next frames.
    syslogSocket->close();
    syslogStatusLabel->setText("Disabled");
    syslogRunning = false;
    updateStartStopAction();
    queueSyslogRead(0);
    showCounts();
}

void TMainWindow::syslogStateChanged()
{
    syslogSocket->noticeState();
    const QString error = syslogSocket->readerError();
    if (syslogRunning && !error.isEmpty()) {
        // Nothing more arrives: the status must not go on saying it does.
        syslogSocket->close();
        syslogRunning = false;
        syslogStatusLabel->setText(failedText(settings.SyslogPort));
        syslogStatusLabel->setToolTip(error);
        syslogFailureShown = true;
        updateStartStopAction();
        queueSyslogRead(0);
    }
    showCounts();
}

void TMainWindow::snmpStateChanged()
{
    trapIntake().noticeState();
    if (snmpState == SnmpReceiving && nrvStatus() == -1) {
        const QString error = QString::fromLocal8Bit(nrvLastError());
        nrvStop();
        snmpState = SnmpStopped;
        snmpStatusLabel->setText(failedText(snmpStartedPort));
        snmpStatusLabel->setToolTip(error);
        snmpFailureShown = true;
        updateStartStopAction();
        queueTrapRead();
    }
    showCounts();
}

void TMainWindow::onReadSyslogDatagram()
{
    syslogReadQueued = false;
    // While a burst fills the socket faster than it can be read, the reading thread
    // needs the processor more than the lines do: they wait in memory a little (a few
    // frames at most) instead of the datagrams being dropped by the kernel.
    if (syslogSocket->isFlooded() && syslogYields < MaxSyslogYields) {
        ++syslogYields;
        queueSyslogRead(FloodYieldMs);
        return;
    }
    syslogYields = 0;
    QElapsedTimer spent;
    spent.start();
    while (eventOutput->hasRoom() && spent.elapsed() < SyslogSliceMs && takeDatagrams(256)) {
    }
    if (eventOutput->isEmpty()) {
        // Nothing else would take on what is left: be told of the next datagram, or take
        // on at once what came meanwhile.
        if (!syslogSocket->announceNext())
            queueSyslogRead(0);
    } else if (eventOutput->hasRoom() && syslogSocket->hasArrivals()) {
        // What a burst leaves is taken on in the next turn until the frame is full, whose
        // end then takes it on (see the constructor). A trickle waits for its frame.
        queueSyslogRead(0);
    }
}

void TMainWindow::queueSyslogRead(int delayMs)
{
    if (syslogReadQueued)
        return;
    syslogReadQueued = true;
    QTimer::singleShot(delayMs, this, &TMainWindow::onReadSyslogDatagram);
}

void TMainWindow::readTraps()
{
    trapReadQueued = false;
    QElapsedTimer spent;
    spent.start();
    while (eventOutput->hasRoom() && spent.elapsed() < SyslogSliceMs && takeTraps(256)) {
    }
    if (eventOutput->isEmpty()) {
        if (!trapIntake().announceNext())
            queueTrapRead();
    } else if (eventOutput->hasRoom() && trapIntake().hasTraps()) {
        queueTrapRead();
    }
}

bool TMainWindow::takeDatagrams(int max)
{
    const std::vector<TSyslogIntake::Arrival> arrivals = syslogSocket->take(max);
    for (const TSyslogIntake::Arrival &arrival : arrivals)
        processSyslogDatagram(arrival.bytes, arrival.msecsSinceEpoch);
    return !arrivals.empty();
}

bool TMainWindow::takeTraps(int max)
{
    const std::vector<TTrapIntake::Trap> traps = trapIntake().take(max);
    for (const TTrapIntake::Trap &trap : traps)
        snmpEvent(trap.text, trap.kind, trap.msecsSinceEpoch);
    return !traps.empty();
}

void TMainWindow::queueTrapRead()
{
    if (trapReadQueued)
        return;
    trapReadQueued = true;
    QTimer::singleShot(0, this, &TMainWindow::readTraps);
}

void TMainWindow::processSyslogDatagram(const QByteArray &datagram, qint64 arrivalMsecsSinceEpoch)
{
    // Date and time of the datagram's arrival, both of the same instant.
    outputEvent("Syslog message recieved", EventLine::syslogLine(datagram, arrivalMsecsSinceEpoch));
}
