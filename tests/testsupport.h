#pragma once

// Small helpers shared by the window and dialog suites.

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>
#include <QVariantMap>

#include <functional>

// A UDP port on 127.0.0.1 that nothing uses right now.
inline int freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The settings file the program reads, inside the suite's private XDG_CONFIG_HOME.
inline QString configFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Norvane/Ventrix/Ventrix.ini";
}

// Replaces the settings file with just these keys.
inline void writeSettingsFile(const QVariantMap &values)
{
    QFile::remove(configFile());
    QSettings ini(configFile(), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        ini.setValue(it.key(), it.value());
    ini.sync();
}

// Runs check() on the next modal widget that appears, then closes it, so a test can
// answer a box that a command opens and blocks on.
inline void onNextModal(std::function<void(QWidget *)> check, int attemptsLeft = 200)
{
    QTimer::singleShot(10, [check, attemptsLeft] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (attemptsLeft > 0)
                onNextModal(check, attemptsLeft - 1);
            return;
        }
        check(modal);
        if (modal->isVisible()) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
    });
}

// Collects the addresses handed to the desktop instead of opening them.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};
