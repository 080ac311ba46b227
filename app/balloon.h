#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class TBalloonTip;
class TDesktopNotification;

// Where the window's balloons go. Decided once, when the tray icon is made, as Qt decides
// for the icon itself: where the desktop shows balloons as notifications, one notification
// that each new balloon replaces (Qt would stack a new one for every balloon); otherwise
// a balloon window of our own beside the tray icon, made at the first balloon and kept.
class TBalloon : public QObject
{
    Q_OBJECT

public:
    explicit TBalloon(QSystemTrayIcon *trayIcon);
    ~TBalloon() override;

    void show(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs);

signals:
    // Every balloon asked for, whichever way the desktop shows it.
    void shown(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs);
    // The user clicked the balloon shown last.
    void clicked();

private:
    QSystemTrayIcon *trayIcon;
    TDesktopNotification *notification = nullptr;
    std::unique_ptr<TBalloonTip> tip;
};
