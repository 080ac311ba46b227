#pragma once

#include "logwriter.h"
#include "settings.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class TBalloon;
class TEventOutput;
class TSyslogIntake;

namespace Ui {
class TMainWindow;
}

// The program's one window and the owner of everything that lives at run time.
class TMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum SnmpStates { SnmpStopped = 0, SnmpStopping = 1, SnmpStarting = 2, SnmpReceiving = 3 };

    explicit TMainWindow(QWidget *parent = nullptr);
    ~TMainWindow() override;

    void showTrayMessage(const QString &title, const QString &text);

    // Whether the desktop has a tray for the window to hide in; tests replace it, since
    // the offscreen platform has none.
    static bool (*systemTrayAvailable)();

protected:
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void changeEvent(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private slots:
    // The order of these slots is the order of the window's meta-object table.
    void on_actionColDesc_triggered();
    void on_actionLogDir_triggered();
    void on_actionClear_triggered();
    void on_actionLog_triggered();
    void on_actionAbout_triggered();
    void onQueue();
    void on_actionSettings_triggered();
    void onSnmp(QString aLogStr, int aTrapType);
    void onSystrayIconMessageClicked();
    void onSystrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void startSnmp();
    void onStopSnmp();
    void onStartSnmp();
    void onReadSyslogDatagram();
    void on_actionStartStop_triggered();

private:
    void createStatusBar();
    void centerOnDesktop();
    void initTrapLibrary();
    void setIdentity();
    void createTray();
    void toggleFromTray();

    void stopSnmp();
    void updateStartStopAction();
    void startSyslog();
    void stopSyslog();
    void processSyslogDatagram(const QByteArray &datagram, qint64 arrivalMsecsSinceEpoch);
    // One later call of onReadSyslogDatagram(), however often asked for meanwhile.
    void queueSyslogRead(int delayMs);
    // Turns what the trap callbacks have posted into lines, as onReadSyslogDatagram() does
    // for datagrams, and one later call of it.
    void readTraps();
    void queueTrapRead();
    // Turns up to max of what the intake holds into lines; false when it held nothing.
    bool takeDatagrams(int max);
    bool takeTraps(int max);
    void snmpEvent(const QString &eventText, int trapKind, qint64 msecsSinceEpoch);
    // A receiver's reading ended on an error, or its losses grew.
    void syslogStateChanged();
    void snmpStateChanged();

    void outputEvent(const QString &title, const QString &line);
    void writeLog(const QByteArrayList &lines);
    void rotateLog();
    // What each receiver has received and lost since it was started, in its tool tip.
    void showCounts();
    void storeWhatWaits();

    Ui::TMainWindow *ui;
    TSettings settings;
    TSyslogIntake *syslogSocket = nullptr;
    qint32 snmpState = SnmpStopped;
    bool syslogRunning = false;
    QTimer *snmpStartTimer = nullptr;
    qint32 snmpStartPolls = 0;
    QLabel *snmpStatusLabel = nullptr;
    QLabel *syslogStatusLabel = nullptr;
    QAction *showAction = nullptr;
    QAction *exitAction = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QTimer *queueTimer = nullptr;
    quint8 logShareMode = 0;
    // Lines that could not be stored yet, and the mechanics of getting them stored.
    TLogWriter logWriter;
    // Lines on their way to the view, the balloon and the log file, a frame at a time.
    TEventOutput *eventOutput = nullptr;
    // The SNMP start that accepted settings leave due after a stop; whatever the user
    // presses on the start/stop button before it is due overtakes it.
    QTimer *snmpRestartTimer = nullptr;
    // The port the SNMP receiver was started on, for its status text.
    int snmpStartedPort = 0;
    // A call of onReadSyslogDatagram() or readTraps() is queued already.
    bool syslogReadQueued = false;
    bool trapReadQueued = false;
    // Lines stored since freed memory was last given back, how many make that worth it,
    // and how long after the last frame it is done.
    qsizetype linesSinceTrim = 0;
    static constexpr qsizetype TrimAfterLines = 20000;
    static constexpr int TrimQuietMs = 500;
    QTimer *trimTimer = nullptr;
    // Turns the GUI thread has left to the syslog reading thread during a burst.
    int syslogYields = 0;
    // Whether a receiver's tool tip shows its counts (from its start until the next start),
    // and whether it gives the reason of a failure instead (until the next start).
    bool syslogCounting = false;
    bool snmpCounting = false;
    bool syslogFailureShown = false;
    bool snmpFailureShown = false;
    // A receiver's counters since the program started, and as they were at its start:
    // its tool tip counts from there.
    struct ReceiverCounts {
        quint64 received = 0;
        quint64 byKernel = 0;
        quint64 byBound = 0;
        quint64 atStop = 0;
    };
    static ReceiverCounts snmpTotals();
    ReceiverCounts syslogTotals() const;
    static QString countsText(const ReceiverCounts &now, const ReceiverCounts &atStart);
    ReceiverCounts snmpAtStart;
    ReceiverCounts syslogAtStart;
    // Where balloons go on this desktop.
    TBalloon *balloon = nullptr;
};
