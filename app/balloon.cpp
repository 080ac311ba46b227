#include "balloon.h"

#include "desktopnotification.h"

#include <QTimer>

namespace {

// The icon names of the freedesktop icon theme that Qt uses for the message icons.
QString iconName(QSystemTrayIcon::MessageIcon icon)
{
    switch (icon) {
    case QSystemTrayIcon::Information: return QStringLiteral("dialog-information");
    case QSystemTrayIcon::Warning: return QStringLiteral("dialog-warning");
    case QSystemTrayIcon::Critical: return QStringLiteral("dialog-error");
    default: return QString();
    }
}

} // namespace

TBalloon::TBalloon(QSystemTrayIcon *trayIcon) : QObject(trayIcon), trayIcon(trayIcon)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (TDesktopNotification::showsTrayBalloons(bus)) {
        notification = new TDesktopNotification(bus, QStringLiteral("Ventrix"), this);
        connect(notification, &TDesktopNotification::clicked, this, &TBalloon::clicked);
    } else {
        // Qt's own tray icon reports a click on the icon while a balloon shows as a click
        // on the balloon too, right before the icon's activation: that click is the icon's.
        connect(trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
            iconClicked = false;
            QTimer::singleShot(0, this, [this] {
                if (!iconClicked)
                    emit clicked();
            });
        });
        connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                iconClicked = true;
        });
    }
}

void TBalloon::show(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs)
{
    emit shown(title, text, icon, msecs);
    if (notification)
        notification->show(title, text, iconName(icon), msecs);
    else
        trayIcon->showMessage(title, text, icon, msecs);
}
