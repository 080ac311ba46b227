#include "mainwindow.h"

#include "eventline.h"
#include "eventoutput.h"
#include "findbar.h"
#include "geometry.h"
#include "nrvapi.h"
#include "platform.h"
#include "syslogintake.h"
#include "trapcallbacks.h"
#include "trapintake.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTimer>

TMainWindow::TMainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::TMainWindow)
{
    ui->setupUi(this);
    // A read-only log needs no undo history, which would keep a copy of every append.
    ui->plainTextEditLog->setUndoRedoEnabled(false);
    // Event lines are plain text in simple scripts: laid out without the text shaper,
    // which otherwise takes a good part of every repaint. Complex scripts are still shaped.
    QFont viewFont;
    viewFont.setStyleStrategy(QFont::PreferNoShaping);
    ui->plainTextEditLog->setFont(viewFont);
    // Every change of the view's width gives each line already in it a layout object of its
    // own (some 300 bytes a line, kept). With the scroll bar always there, the first lines
    // that fill the view no longer change its width.
    ui->plainTextEditLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Platform::createInstanceMarker("nrvtrrec_install_uninstall_mutex");
    gMainWindow = this;
    snmpState = SnmpStopped;
    syslogRunning = false;

    syslogSocket = new TSyslogIntake(this);
    // Emitted on the intake's reading thread: the slot runs queued, on this thread.
    connect(syslogSocket, &TSyslogIntake::readyRead, this, &TMainWindow::onReadSyslogDatagram);
    connect(syslogSocket, &TSyslogIntake::stateChanged, this, &TMainWindow::syslogStateChanged);
    // Likewise emitted on the trap library's thread.
    connect(&trapIntake(), &TTrapIntake::readyRead, this, &TMainWindow::readTraps);
    connect(&trapIntake(), &TTrapIntake::stateChanged, this, &TMainWindow::snmpStateChanged);
    // A window before this one may have left the intake waiting to be read.
    if (!trapIntake().announceNext())
        queueTrapRead();
    snmpStartTimer = new QTimer(this);
    connect(snmpStartTimer, &QTimer::timeout, this, &TMainWindow::onStartSnmp);

    initTrapLibrary();
    setIdentity();
    createStatusBar();
    createTray();
    // Ctrl+F: a find field under the view; the form keeps its objects.
    new TFindBar(ui->plainTextEditLog, this);

    logShareMode = Platform::ShareRead;
    logWriter.shareMode = logShareMode;
    queueTimer = new QTimer(this);
    connect(queueTimer, &QTimer::timeout, this, &TMainWindow::onQueue);
    TEventOutput::Sinks sinks;
    sinks.view = [this](const QStringList &lines) {
        // One append of several paragraphs. Joined by paragraph separators, a line that
        // ends in CR or holds an LF is split exactly as when appended on its own.
        ui->plainTextEditLog->appendPlainText(lines.join(QChar::ParagraphSeparator));
    };
    sinks.store = [this](const QStringList &lines) {
        linesSinceTrim += lines.size();
        QByteArrayList bytes;
        bytes.reserve(lines.size());
        for (const QString &line : lines)
            bytes << EventLine::toLogBytes(line);
        writeLog(bytes);
    };
    sinks.balloon = [this](const QString &title, const QString &line) { showTrayMessage(title, line); };
    // Datagrams that arrived while a frame was due join it. While a burst fills the
    // syslog socket, the frame waits: showing and storing would take the processor from
    // the thread that saves the datagrams from the kernel's limit.
    sinks.gather = [this] {
        readTraps();
        onReadSyslogDatagram();
        return !syslogSocket->isFlooded();
    };
    // Once a burst or a flood is over and the view has caught up, what they took in passing
    // goes back to the system; not while lines keep coming, when it would only be taken again.
    trimTimer = new QTimer(this);
    trimTimer->setSingleShot(true);
    connect(trimTimer, &QTimer::timeout, this, [this] {
        if (eventOutput->viewWaiting()) {
            trimTimer->start(TrimQuietMs);
            return;
        }
        Platform::releaseFreedMemory();
        linesSinceTrim = 0;
    });
    eventOutput = new TEventOutput(std::move(sinks), this);
    connect(eventOutput, &TEventOutput::frameDone, this, [this] {
        // What a full frame left in the intake is taken on in the next turn of the loop;
        // once nothing waits, the intake wakes us for the next datagram.
        if (!syslogSocket->announceNext())
            queueSyslogRead(0);
        if (!trapIntake().announceNext())
            queueTrapRead();
        if (linesSinceTrim > TrimAfterLines)
            trimTimer->start(TrimQuietMs);
        showCounts();
    });
    snmpRestartTimer = new QTimer(this);
    snmpRestartTimer->setSingleShot(true);
    connect(snmpRestartTimer, &QTimer::timeout, this, &TMainWindow::startSnmp);

    adjustSize();
    centerOnDesktop();

    // Another account could choose what the log is written into there (a symlink to a file
    // of the user's): nothing is stored in such a folder, and the user should know why.
    const QString dataDir = QDir::toNativeSeparators(settings.DataDir);
    if (Platform::folderOpenToOthers(dataDir))
        QMessageBox::critical(this, "Error",
                              "Log folder is writable by other users; events wait in memory until it is not.<br><br>" +
                                  dataDir.toHtmlEscaped(),
                              QMessageBox::Ok);

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
    storeWhatWaits();
    delete ui;
}

void TMainWindow::storeWhatWaits()
{
    // What was received before the end is stored, not lost with the process: the traps
    // the library has handed over, what the syslog socket holds, the lines of the frame
    // being gathered, and lines held in memory (into queue.tmp if the log is locked).
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    eventOutput->storeAll();
    while (takeTraps(4096))
        eventOutput->storeAll();
    syslogSocket->close();
    while (takeDatagrams(4096))
        eventOutput->storeAll();
    if (logWriter.heldLines() > 0 || queueTimer->isActive())
        logWriter.flush(settings);
}

void TMainWindow::initTrapLibrary()
{
    const QString mibs = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QDir::separator() + "mibs");
    nrvInit();
    nrvSetStateCallback(onTrapLibraryState);
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
    snmpStatusLabel->installEventFilter(this);
    syslogStatusLabel->installEventFilter(this);
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
