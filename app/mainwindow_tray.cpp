#include "mainwindow.h"

#include "balloon.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

bool (*TMainWindow::systemTrayAvailable)() = &QSystemTrayIcon::isSystemTrayAvailable;

void TMainWindow::createTray()
{
    showAction = new QAction(tr("&Show Ventrix"), this);
    connect(showAction, &QAction::triggered, this, &QWidget::showNormal);
    exitAction = new QAction(tr("&Exit"), this);
    // Qt 6's quit() first asks every window to close, which would bring up the close
    // question; the tray's Exit ends the event loop without it.
    connect(exitAction, &QAction::triggered, qApp, [] { QCoreApplication::exit(0); });

    trayMenu = new QMenu(this);
    trayMenu->addAction(showAction);
    trayMenu->addSeparator();
    trayMenu->addAction(exitAction);
    trayMenu->setDefaultAction(showAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu);
    const QIcon icon(":/APP_ICON");
    trayIcon->setIcon(icon);
    trayIcon->setToolTip("Ventrix Systray");
    setWindowIcon(icon);
    trayIcon->setVisible(true);

    // Names only for finding them from tools and tests.
    showAction->setObjectName("showAction");
    exitAction->setObjectName("exitAction");
    trayMenu->setObjectName("trayMenu");
    trayIcon->setObjectName("trayIcon");

    // The balloon reports a click on itself, or on the desktop notification that stands
    // for it.
    balloon = new TBalloon(trayIcon);
    balloon->setObjectName("balloon");
    connect(balloon, &TBalloon::clicked, this, &TMainWindow::onSystrayIconMessageClicked);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &TMainWindow::onSystrayIconActivated);
}

void TMainWindow::showTrayMessage(const QString &title, const QString &text)
{
    balloon->show(title, text, QSystemTrayIcon::Warning, 5000);
}

bool TMainWindow::event(QEvent *e)
{
    // A hidden window always carries the minimised state alone, which is what the tray
    // toggle looks at to decide whether to bring it back.
    if (e->type() == QEvent::Hide)
        setWindowState(Qt::WindowMinimized);
    if (e->type() == QEvent::WindowStateChange && isMinimized()) {
        QCoreApplication::processEvents();
        // Without a tray a hidden window could not be reached again: it stays minimised
        // on the task bar. Asked when the time is up, so a tray that has appeared counts.
        QTimer::singleShot(250, this, [this] {
            if (systemTrayAvailable())
                hide();
        });
        e->ignore();
    }
    return QMainWindow::event(e);
}

void TMainWindow::toggleFromTray()
{
    const bool wasMinimized = isMinimized();
    showMinimized();
    if (wasMinimized) {
        setWindowState(Qt::WindowActive);
        showNormal();
    }
}

void TMainWindow::onSystrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        toggleFromTray();
}

void TMainWindow::onSystrayIconMessageClicked()
{
    toggleFromTray();
}

void TMainWindow::closeEvent(QCloseEvent *e)
{
    if (!trayIcon->isVisible())
        return;

    QMessageBox box(this);
    QPushButton *exitButton = box.addButton("&Exit", QMessageBox::YesRole);
    QPushButton *minimizeButton = box.addButton("&Minimize", QMessageBox::NoRole);
    box.setWindowTitle("Exit Ventrix");
    box.setText("Do you want to minimize to <b>Systray</b> or exit application?");
    box.setIcon(QMessageBox::Question);
    box.exec();

    if (box.clickedButton() == minimizeButton) {
        showMinimized();
        e->ignore();
    } else if (box.clickedButton() == exitButton) {
        trayIcon->hide();
    } else {
        e->ignore();
    }
}
