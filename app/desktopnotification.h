#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// One desktop notification that each new one replaces, sent over the notification
// service of the session bus (org.freedesktop.Notifications). A click on it is
// reported by clicked(). The text is shown as given, also by a server that reads markup
// in it.
class TDesktopNotification : public QObject
{
    Q_OBJECT

public:
    // Whether Qt's tray icon turns balloons into desktop notifications on this bus: the
    // test Qt makes when it creates a tray icon, a StatusNotifierWatcher with a
    // registered host (KDE Plasma, GNOME with an AppIndicator extension).
    static bool showsTrayBalloons(const QDBusConnection &bus);

    TDesktopNotification(const QDBusConnection &bus, const QString &appName, QObject *parent = nullptr);

    // Shows the notification, replacing the one shown before while that is still open.
    void show(const QString &title, const QString &text, const QString &iconName, int msecs);

signals:
    void clicked();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);
    void onServerChanged();

private:
    struct Message {
        QString title;
        QString text;
        QString iconName;
        int msecs = 0;
    };
    void sendWaiting();
    void askCapabilities();
    void send(const Message &message);
    // One call; its answer counts only if the server has not changed since.
    void call(const QDBusMessage &message, const std::function<void(const QDBusMessage &reply)> &answered);

    QDBusConnection bus;
    QString appName;
    uint shownId = 0;
    // Whether the server reads markup in the text, asked before the first message to
    // each server. What a server answers after it has been replaced counts for nothing.
    std::optional<bool> bodyMarkup;
    int serverChanges = 0;
    // One call at a time, that question or a message, so that each message knows the id
    // to replace; while one is on its way only the newest message waits.
    bool sending = false;
    std::optional<Message> waiting;
};
