#include "mainwindow.h"

#include "geometry.h"
#include "nrvapi.h"
#include "platform.h"
#include "trapcallbacks.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>

TMainWindow::TMainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::TMainWindow)
{
    settings.DataDir.clear();
    settings.DataFile.clear();
    ui->setupUi(this);
    viewAppender = std::make_unique<TViewAppender>(ui->plainTextEditLog);

    Platform::createInstanceMarker("nrvtrrec_install_uninstall_mutex");
    gMainWindow = this;
    snmpState = SnmpStopped;
    syslogRunning = false;

    syslogSocket = new QUdpSocket(this);
    connect(syslogSocket, &QUdpSocket::readyRead, this, &TMainWindow::onReadSyslogDatagram);
    snmpStartTimer = new QTimer(this);
    connect(snmpStartTimer, &QTimer::timeout, this, &TMainWindow::onStartSnmp);

    initTrapLibrary();
    setIdentity();
    createStatusBar();
    createTray();

    logShareMode = Platform::ShareRead;
    logWriter.shareMode = logShareMode;
    queueTimer = new QTimer(this);
    connect(queueTimer, &QTimer::timeout, this, &TMainWindow::onQueue);
    snmpRestartTimer = new QTimer(this);
    snmpRestartTimer->setSingleShot(true);
    connect(snmpRestartTimer, &QTimer::timeout, this, &TMainWindow::startSnmp);

    adjustSize();
    centerOnDesktop();

    if (settings.AutoStart && (settings.SnmpEnable || settings.SyslogEnable)) {
        ui->actionStartStop->setChecked(true);
        on_actionStartStop_triggered();
    }
    if (settings.minimizeStart)
        showMinimized();
}

TMainWindow::~TMainWindow()
{
    // The library's thread may still be calling back; it must be gone before anything
    // that a callback could reach is destroyed.
    nrvShutdown();
    delete ui;
}

void TMainWindow::initTrapLibrary()
{
    const QString mibs = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QDir::separator() + "mibs");
    nrvInit();
    // File names are bytes in the locale's encoding: an install folder such as
    // /opt/Prüfstand must reach the library as the file system spells it.
    nrvSetMibDirectory(QFile::encodeName(mibs).constData());
}

void TMainWindow::setIdentity()
{
    QCoreApplication::setOrganizationName("Norvane");
    QCoreApplication::setOrganizationDomain("norvane.example");
    QCoreApplication::setApplicationName("Ventrix/Ventrix");
    QCoreApplication::setApplicationVersion("1.0.0");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    loadSettings(settings);
}

void TMainWindow::createStatusBar()
{
    auto addLabel = [this](const QString &text, bool permanent, bool sunken) {
        auto *label = new QLabel(text, this);
        if (sunken) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setMinimumWidth(190);
            label->setMaximumWidth(190);
        }
        if (permanent)
            ui->statusBar->addPermanentWidget(label, 0);
        else
            ui->statusBar->addWidget(label, 0);
        return label;
    };
    addLabel(QString(), false, false)->setMinimumWidth(250);
    addLabel("SNMP Traps", true, false);
    snmpStatusLabel = addLabel("Disabled", true, true);
    addLabel("Syslog", true, false);
    syslogStatusLabel = addLabel("Disabled", true, true);
    // Names only for finding them from tools and tests.
    snmpStatusLabel->setObjectName("snmpStatusLabel");
    syslogStatusLabel->setObjectName("syslogStatusLabel");
}

void TMainWindow::centerOnDesktop()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    setGeometry(centeredGeometry(screen->availableGeometry(), frameGeometry()));
}

void TMainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
