#include "settingsdialog.h"
#include "ui_settingsdialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

TSettingsDialog::TSettingsDialog(QWidget *parent) : QDialog(parent), ui(new Ui::TSettingsDialog)
{
    ui->setupUi(this);
    // The top-level layout raises the minimum size above these, and for a window the
    // minimum wins: the dialog always shows at the smallest size its contents allow and
    // cannot be enlarged.
    setMaximumHeight(10);
    setMaximumWidth(10);
}

TSettingsDialog::~TSettingsDialog()
{
    delete ui;
}

// A port as its five-digit field shows it. A port is never negative in a sane settings
// file; the cast keeps "%u" well defined.
static QString portText(int port)
{
    return QString::asprintf("%u", static_cast<unsigned>(port)).left(5);
}

void TSettingsDialog::setFromSettings(const TSettings &s)
{
    ui->lineEditSnmp->setText(portText(s.SnmpPort));
    ui->lineEditSyslog->setText(portText(s.SyslogPort));
    ui->checkBoxAuto->setChecked(s.AutoStart);
    ui->checkBoxMinimize->setChecked(s.minimizeStart);
    ui->groupBoxSnmp->setChecked(s.SnmpEnable);
    ui->groupBoxSyslog->setChecked(s.SyslogEnable);
    ui->checkBoxInputs->setChecked(s.InputsEnable);
    ui->checkBoxSensors->setChecked(s.SensorsEnable);
    ui->checkBoxLinkup->setChecked(s.LinkupEnable);
    ui->checkBoxStartup->setChecked(s.StartupEnable);
    ui->checkBoxAlarms->setChecked(s.AlarmsEnable);
    ui->checkBoxUnknown->setChecked(s.UnknownEnable);
    ui->lineEditDir->setText(s.DataDir);
    ui->lineEditFile->setText(s.DataFile);
    ui->checkBoxBalloon->setChecked(s.BalloonEnable);
}

static bool isOn(const QCheckBox *box)
{
    return box->checkState() != Qt::Unchecked;
}

int TSettingsDialog::applyToSettings(TSettings &s)
{
    int mask = 0;

    // The input mask lets through at most five digits; an empty field gives 0. A field
    // that still shows the stored port was not edited and leaves it as it was, also one
    // that the field cannot show (123456 shows as "12345").
    const auto applyPort = [&mask](const QLineEdit *edit, int &port, int changed) {
        if (edit->text() == portText(port))
            return;
        const int typed = edit->text().toInt(nullptr, 10);
        if (typed != port) {
            port = typed;
            mask |= changed;
        }
    };
    applyPort(ui->lineEditSnmp, s.SnmpPort, SnmpPortChanged);
    applyPort(ui->lineEditSyslog, s.SyslogPort, SyslogPortChanged);

    // Read whether or not a box is enabled: an unchecked group still keeps its values.
    s.AutoStart = isOn(ui->checkBoxAuto);
    s.minimizeStart = isOn(ui->checkBoxMinimize);
    s.SnmpEnable = ui->groupBoxSnmp->isChecked();
    s.SyslogEnable = ui->groupBoxSyslog->isChecked();
    s.InputsEnable = isOn(ui->checkBoxInputs);
    s.SensorsEnable = isOn(ui->checkBoxSensors);
    s.LinkupEnable = isOn(ui->checkBoxLinkup);
    s.StartupEnable = isOn(ui->checkBoxStartup);
    s.AlarmsEnable = isOn(ui->checkBoxAlarms);
    s.UnknownEnable = isOn(ui->checkBoxUnknown);
    s.BalloonEnable = isOn(ui->checkBoxBalloon);

    // The folder is created now, when the user confirms, so that a folder that cannot
    // exist never replaces one that works. mkpath fails on a path naming a plain file.
    const QString dir = ui->lineEditDir->text().trimmed();
    if (!dir.isEmpty() && (QFileInfo(dir).isDir() || QDir().mkpath(dir)))
        s.DataDir = dir;

    const QString file = ui->lineEditFile->text().trimmed();
    if (!file.isEmpty())
        s.DataFile = file;

    return mask;
}

void TSettingsDialog::changeEvent(QEvent *e)
{
    QDialog::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

// The box text is rich text (for the line breaks), so the path is escaped: a folder
// named "a<b" or "R&D" must show as typed.
static void showMissing(QWidget *parent, const QString &what, const QString &path)
{
    QMessageBox::critical(parent, "Error", what + "<br><br>" + path.toHtmlEscaped(), QMessageBox::Ok,
                          QMessageBox::NoButton);
}

// The open buttons act on the fields as they are now, before OK. fromLocalFile rather
// than "file:///" + path: a Unix path already starts with "/".
void TSettingsDialog::on_toolButtonShowDir_clicked()
{
    const QString dir = ui->lineEditDir->text().trimmed();
    if (QFile::exists(dir))
        QDesktopServices::openUrl(QUrl::fromLocalFile(dir));
    else
        showMissing(this, "Log folder does not exist.", dir);
}

void TSettingsDialog::on_toolButtonShow_clicked()
{
    const QString path = ui->lineEditDir->text().trimmed() + QDir::separator() + ui->lineEditFile->text().trimmed();
    if (QFile::exists(path))
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    else
        showMissing(this, "Log file does not exist.", path);
}

void TSettingsDialog::on_toolButtonDir_clicked()
{
    QFileDialog dialog(this, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(ui->lineEditDir->text().trimmed());
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The folder the user picked, not the one the dialog was showing: with a subfolder
    // highlighted, "Choose" selects the subfolder while directory() is still its parent.
    const QStringList chosen = dialog.selectedFiles();
    const QDir picked = chosen.isEmpty() ? dialog.directory() : QDir(chosen.first());
    ui->lineEditDir->setText(picked.absolutePath());
}
