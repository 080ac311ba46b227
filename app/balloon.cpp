#include "balloon.h"

#include "balloontip.h"
#include "desktopnotification.h"

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
    }
}

TBalloon::~TBalloon() = default;

void TBalloon::show(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs)
{
    emit shown(title, text, icon, msecs);
    if (notification) {
        notification->show(title, text, iconName(icon), msecs);
        return;
    }
    // As Qt's tray icon does, no balloon from a hidden icon.
    if (!trayIcon->isVisible())
        return;
    if (!tip) {
        tip = std::make_unique<TBalloonTip>(trayIcon);
        tip->setObjectName("balloonTip");
        connect(tip.get(), &TBalloonTip::clicked, this, &TBalloon::clicked);
    }
    tip->showMessage(title, text, icon, msecs);
}
