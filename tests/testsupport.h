#pragma once

#include "netsupport.h"

// Small helpers shared by the window and dialog suites.

#include <QAction>
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

// What a message box showed when it appeared.
struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons standardButtons;
    int buttonCount = 0;
    QWidget *parent = nullptr;
};

// Records the next message box in *seen, then closes it.
inline void captureNextBox(SeenBox *seen)
{
    onNextModal([seen](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->standardButtons = box->standardButtons();
        seen->buttonCount = int(box->buttons().size());
        seen->parent = box->parentWidget();
    });
}

// Triggers the settings command, lets edit() change the dialog, then presses OK (or
// Cancel). Returns the dialog's title, empty when no dialog appeared.
inline QString runSettingsDialog(QAction *settingsAction, std::function<void(QDialog *)> edit, bool accept = true)
{
    QString title;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        if (!dialog)
            return;
        title = dialog->windowTitle();
        edit(dialog);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    settingsAction->trigger();
    return title;
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
