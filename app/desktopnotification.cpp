#include "desktopnotification.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString DefaultAction = QStringLiteral("default");

} // namespace

bool TDesktopNotification::showsTrayBalloons(const QDBusConnection &bus)
{
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(WatcherService))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(WatcherService, "/StatusNotifierWatcher",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << WatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

TDesktopNotification::TDesktopNotification(const QDBusConnection &bus, const QString &appName, QObject *parent)
    : QObject(parent), bus(bus), appName(appName)
{
    this->bus.connect(Service, Path, Interface, "ActionInvoked", this, SLOT(onActionInvoked(uint, QString)));
    this->bus.connect(Service, Path, Interface, "NotificationClosed", this, SLOT(onNotificationClosed(uint, uint)));
}

void TDesktopNotification::show(const QString &title, const QString &text, const QString &iconName, int msecs)
{
    const Message message{title, text, iconName, msecs};
    if (sending)
        waiting = message;
    else
        send(message);
}

void TDesktopNotification::send(const Message &message)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
    // Urgency "normal", as Qt's own tray icon asks for a warning; the default action
    // makes a click on the notification come back as ActionInvoked.
    const QVariantMap hints{{QStringLiteral("urgency"), 1}};
    notify << appName << shownId << message.iconName << message.title << message.text
           << QStringList{DefaultAction, appName} << hints << qint32(message.msecs);
    sending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        // Without an answer there is nothing left to replace.
        shownId = reply.isValid() ? reply.value() : 0;
        sending = false;
        if (waiting) {
            const Message next = *waiting;
            waiting.reset();
            send(next);
        }
    });
}

void TDesktopNotification::onActionInvoked(uint id, const QString &action)
{
    if (id != 0 && id == shownId && action == DefaultAction)
        emit clicked();
}

void TDesktopNotification::onNotificationClosed(uint id, uint /*reason*/)
{
    if (id == shownId)
        shownId = 0;
}
