#pragma once

#include <QObject>
#include <QSystemTrayIcon>

class TDesktopNotification;

// Where the window's balloons go. Decided once, when the tray icon is made, as Qt decides
// for the icon itself: where the desktop shows balloons as notifications, one notification
// that each new balloon replaces (Qt would stack a new one for every balloon); otherwise
// the tray icon's own balloon, which replaces itself.
class TBalloon : public QObject
{
    Q_OBJECT

public:
    explicit TBalloon(QSystemTrayIcon *trayIcon);

    void show(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs);

signals:
    // Every balloon asked for, whichever way the desktop shows it.
    void shown(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs);
    // The user clicked the balloon shown last.
    void clicked();

private:
    QSystemTrayIcon *trayIcon;
    TDesktopNotification *notification = nullptr;
    bool iconClicked = false;
};
