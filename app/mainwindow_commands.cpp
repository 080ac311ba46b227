#include "mainwindow.h"

#include "eventoutput.h"
#include "logwriter.h"
#include "settingsdialog.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

namespace {

// Build time in the fixed "Oct  7 2010", "21:52:38" forms the compiler gives.
const char BuildDate[] = __DATE__;
const char BuildTime[] = __TIME__;

// A Linux path already starts with "/", so "file:///" + path would have four slashes;
// fromLocalFile names the same local file the way desktop handlers expect.
void openLocalPath(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void openExistingOrComplain(QWidget *parent, const QString &path, const QString &missingText)
{
    if (QFile::exists(path))
        openLocalPath(path);
    else
        // Rich text: a path holding &, < or > must show as it is.
        QMessageBox::critical(parent, "Error", missingText + "<br><br>" + path.toHtmlEscaped(), QMessageBox::Ok);
}

} // namespace

void TMainWindow::on_actionClear_triggered()
{
    eventOutput->forgetForView();
    ui->plainTextEditLog->clear();
}

void TMainWindow::on_actionColDesc_triggered()
{
    openLocalPath(QCoreApplication::applicationDirPath() + QDir::separator() + "Readme.txt");
}

void TMainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, "About",
                       QString("<b>Ventrix 1.0.1</b><br>Build: ") + BuildDate + ", " + BuildTime +
                           "<br><br>Copyright (c) 2026 Norvane<br>https://norvane.example, Norvane Ltd.");
}

void TMainWindow::on_actionLog_triggered()
{
    openExistingOrComplain(this, logFilePath(settings), "Log file does not exist.");
}

void TMainWindow::on_actionLogDir_triggered()
{
    openExistingOrComplain(this, settings.DataDir, "Log folder does not exist.");
}

void TMainWindow::on_actionSettings_triggered()
{
    auto *dialog = new TSettingsDialog(this);
    dialog->setFromSettings(settings);
    if (dialog->exec() == QDialog::Accepted) {
        const int mask = dialog->applyToSettings(settings);
        const bool running = ui->actionStartStop->isChecked();
        if (snmpState == SnmpReceiving && !settings.SnmpEnable)
            stopSnmp();
        if (syslogRunning && !settings.SyslogEnable)
            stopSyslog();
        if (running) {
            if (mask & TSettingsDialog::SnmpPortChanged)
                stopSnmp();
            if (mask & TSettingsDialog::SyslogPortChanged)
                stopSyslog();
            // A stop takes 2000 ms to settle; the new start comes half a second after it.
            if (snmpState == SnmpStopping && settings.SnmpEnable)
                snmpRestartTimer->start(2500);
            else
                startSnmp();
            startSyslog();
        }
        saveSettings(settings);
    }
    delete dialog;
}
