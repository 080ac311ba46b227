#pragma once

// A private session bus for a suite, and a stand-in for a desktop whose tray is a
// StatusNotifierItem host and whose notification server records what it is asked to show.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <QVariantMap>

#include <sys/prctl.h>

#include <csignal>

// dbus-daemon on a bus of its own for the whole process; the suite's session bus. It
// goes with the suite, even when the suite dies.
class PrivateSessionBus
{
public:
    ~PrivateSessionBus()
    {
        daemon.terminate();
        daemon.waitForFinished();
    }
    // Must run before anything connects to the session bus.
    bool start()
    {
        daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForStarted() || !daemon.waitForReadyRead(5000))
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
        return QDBusConnection::sessionBus().isConnected();
    }

private:
    QProcess daemon;
};

// org.kde.StatusNotifierWatcher with a host registered.
class StandInWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    bool hostRegistered() const { return true; }
};

// org.freedesktop.Notifications that hands out ids and remembers every Notify call.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId = 0;
        QString icon;
        QString title;
        QString text;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
        uint id = 0;
    };
    QList<Call> calls() const
    {
        QMutexLocker lock(&mutex);
        return seen;
    }

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &title, const QString &text,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        QMutexLocker lock(&mutex);
        const uint id = replacesId ? replacesId : ++lastId;
        seen << Call{appName, replacesId, icon, title, text, actions, hints, timeout, id};
        return id;
    }

private:
    mutable QMutex mutex;
    QList<Call> seen;
    uint lastId = 100;
};

// Both services on a connection of their own, answered on a thread of their own, so that
// the program's blocking calls from the GUI thread get their answers.
class StandInDesktop
{
public:
    StandInDesktop() : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "standin"))
    {
        thread.start();
        watcher.moveToThread(&thread);
        notifications.moveToThread(&thread);
        bus.registerObject("/StatusNotifierWatcher", &watcher, QDBusConnection::ExportAllProperties);
        bus.registerObject("/org/freedesktop/Notifications", &notifications, QDBusConnection::ExportAllSlots);
        bus.registerService("org.kde.StatusNotifierWatcher");
        bus.registerService("org.freedesktop.Notifications");
    }
    ~StandInDesktop()
    {
        bus.unregisterService("org.freedesktop.Notifications");
        bus.unregisterService("org.kde.StatusNotifierWatcher");
        bus.unregisterObject("/org/freedesktop/Notifications");
        bus.unregisterObject("/StatusNotifierWatcher");
        QDBusConnection::disconnectFromBus("standin");
        thread.quit();
        thread.wait();
    }
    QList<StandInNotifications::Call> calls() const { return notifications.calls(); }
    // The server's signals, as a desktop sends them when a notification is clicked or closed.
    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
        signal.setArguments(arguments);
        bus.send(signal);
    }

private:
    QThread thread;
    StandInWatcher watcher;
    StandInNotifications notifications;
    QDBusConnection bus;
};
