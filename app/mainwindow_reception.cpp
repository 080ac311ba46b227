#include "mainwindow.h"

#include "eventline.h"
#include "nrvapi.h"
#include "platform.h"
#include "trapcallbacks.h"
#include "ui_mainwindow.h"

#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Bursts of tens of thousands of datagrams must wait in the kernel, not be dropped,
// while the event loop is busy writing lines. A small datagram takes about 800 bytes
// of buffer, so 64 MiB holds a burst of some 80,000 beyond what is read meanwhile.
// Only a privileged process gets more than net.core.rmem_max; the memory is taken only
// while datagrams actually wait.
constexpr int ReceiveBufferBytes = 64 * 1024 * 1024;

QString receivingText(int port)
{
    return "Recieving on UDP port " + QString::number(port);
}

QString failedText(int port)
{
    return "Failed, UDP port " + QString::number(port) + " probably busy";
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
    if (nrvStart("0.0.0.0", settings.SnmpPort) == -1) {
        snmpStatusLabel->setText(failedText(settings.SnmpPort));
        snmpStatusLabel->setToolTip(QString::fromLocal8Bit(nrvLastError()));
        return;
    }
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
        snmpStatusLabel->setText(receivingText(settings.SnmpPort));
        snmpState = SnmpReceiving;
        updateStartStopAction();
        return;
    }
    // The 22nd failed poll gives up, about 4.4 s after the start.
    if (snmpStartPolls++ <= 20)
        return;
    snmpStartTimer->stop();
    nrvStop();
    snmpStatusLabel->setText(failedText(settings.SnmpPort));
    snmpStatusLabel->setToolTip("The receiver did not confirm its start in time.");
    snmpState = SnmpStopped;
    updateStartStopAction();
}

void TMainWindow::stopSnmp()
{
    if (snmpState != SnmpReceiving)
        return;
    nrvStop();
    QTimer::singleShot(2000, this, &TMainWindow::onStopSnmp);
    snmpStatusLabel->setText("Stopping...");
    snmpState = SnmpStopping;
    updateStartStopAction();
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
    if (usable && syslogSocket->bind(QHostAddress(QHostAddress::AnyIPv4), quint16(settings.SyslogPort))) {
        Platform::enlargeReceiveBuffer(syslogSocket->socketDescriptor(), ReceiveBufferBytes);
        syslogStatusLabel->setText(receivingText(settings.SyslogPort));
        syslogStatusLabel->setToolTip(QString());
        syslogRunning = true;
    } else {
        syslogStatusLabel->setText(failedText(settings.SyslogPort));
        // The status text keeps its fixed words; the system's own reason is one hover away.
        syslogStatusLabel->setToolTip(usable ? syslogSocket->errorString() : QString("Not a UDP port."));
    }
    updateStartStopAction();
}

void TMainWindow::stopSyslog()
{
    if (!syslogRunning)
        return;
    syslogSocket->close();
    syslogStatusLabel->setText("Disabled");
    syslogRunning = false;
    updateStartStopAction();
}

void TMainWindow::onReadSyslogDatagram()
{
    while (syslogSocket->hasPendingDatagrams()) {
        const qint64 size = syslogSocket->pendingDatagramSize();
        if (size < 0)
            break;
        QByteArray datagram(size, Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        if (syslogSocket->readDatagram(datagram.data(), size, &sender, &senderPort) < 0)
            break;
        processSyslogDatagram(datagram);
    }
}

void TMainWindow::processSyslogDatagram(const QByteArray &datagram)
{
    const QTime time = QTime::currentTime();
    const QDate date = QDate::currentDate();
    outputEvent("Syslog message recieved", EventLine::syslogLine(datagram, time, date));
}
