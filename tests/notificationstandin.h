#pragma once

// A private session bus, and a stand-in desktop on it: a StatusNotifierWatcher with a host
// registered, and a notification server that records what it is asked to show.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QThread>
#include <QVariantMap>

#include <sys/prctl.h>

#include <csignal>

// The suite's session bus; its dbus-daemon ends with the suite, even when the suite dies.
// Start it before anything connects to the session bus.
class PrivateSessionBus
{
public:
    ~PrivateSessionBus() { daemon.terminate(), daemon.waitForFinished(); }
    bool start()
    {
        daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForReadyRead(5000))
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
        return QDBusConnection::sessionBus().isConnected();
    }

private:
    QProcess daemon;
};

class StandInWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    bool hostRegistered() const { return true; }
};

class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        uint replacesId, id;
        QString icon, title, text;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    QList<Call> calls() const
    {
        QMutexLocker lock(&mutex);
        return seen;
    }
    // What GetCapabilities answers, and how often it was asked.
    void setCapabilities(const QStringList &answer)
    {
        QMutexLocker lock(&mutex);
        capabilities = answer;
    }
    int questions() const
    {
        QMutexLocker lock(&mutex);
        return asked;
    }

public slots:
    QStringList GetCapabilities()
    {
        QMutexLocker lock(&mutex);
        ++asked;
        return capabilities;
    }
    uint Notify(const QString &, uint replacesId, const QString &icon, const QString &title, const QString &text,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        QMutexLocker lock(&mutex);
        const uint id = replacesId ? replacesId : uint(101 + seen.size());
        seen << Call{replacesId, id, icon, title, text, actions, hints, timeout};
        return id;
    }

private:
    mutable QMutex mutex;
    QList<Call> seen;
    QStringList capabilities{"actions", "body"};
    int asked = 0;
};

// Both services on a connection of their own, answered on a thread of their own, so that
// the program's blocking calls from the GUI thread get their answers.
class StandInDesktop
{
public:
    StandInDesktop()
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
        QDBusConnection::disconnectFromBus("standin");
        thread.quit();
        thread.wait();
    }
    // The server's signals, as a desktop sends them when a notification is clicked or closed.
    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
        signal.setArguments(arguments);
        bus.send(signal);
    }

    QThread thread;
    StandInWatcher watcher;
    StandInNotifications notifications;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "standin");
};
