#include "desktopnotification.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
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
    auto *serverWatcher = new QDBusServiceWatcher(Service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(serverWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &TDesktopNotification::onServerChanged);
}

void TDesktopNotification::show(const QString &title, const QString &text, const QString &iconName, int msecs)
{
    waiting = Message{title, text, iconName, msecs};
    if (!sending)
        sendWaiting();
}

void TDesktopNotification::sendWaiting()
{
    if (!waiting)
        return;
    if (!bodyMarkup) {
        askCapabilities();
        return;
    }
    const Message next = *waiting;
    waiting.reset();
    send(next);
}

void TDesktopNotification::askCapabilities()
{
    call(QDBusMessage::createMethodCall(Service, Path, Interface, "GetCapabilities"),
         [this](const QDBusMessage &reply) {
             // A server that does not answer gets the text as it is.
             bodyMarkup = reply.type() == QDBusMessage::ReplyMessage &&
                          reply.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));
         });
}

void TDesktopNotification::send(const Message &message)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
    // Urgency "normal", as Qt's own tray icon asks for a warning; the default action
    // makes a click on the notification come back as ActionInvoked.
    const QVariantMap hints{{QStringLiteral("urgency"), 1}};
    // Shown as sent: a syslog line begins with "<134>", which would be taken for a tag.
    QString text = message.text;
    if (*bodyMarkup)
        text.replace(u'&', QLatin1String("&amp;"))
            .replace(u'<', QLatin1String("&lt;"))
            .replace(u'>', QLatin1String("&gt;"));
    notify << appName << shownId << message.iconName << message.title << text << QStringList{DefaultAction, appName}
           << hints << qint32(message.msecs);
    call(notify, [this](const QDBusMessage &reply) {
        // Without an answer there is nothing left to replace.
        shownId = reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toUInt() : 0;
    });
}

void TDesktopNotification::call(const QDBusMessage &message, const std::function<void(const QDBusMessage &)> &answered)
{
    sending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, answered, server = serverChanges](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                if (server == serverChanges)
                    answered(call->reply());
                sending = false;
                sendWaiting();
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

void TDesktopNotification::onServerChanged()
{
    // Another server, or the same one restarted: it knows nothing of the notification
    // shown, and is asked again at the next message (not now, which would start one
    // that the bus starts on demand).
    ++serverChanges;
    shownId = 0;
    bodyMarkup.reset();
}
