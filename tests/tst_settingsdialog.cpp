#include "settingsdialog.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// The flags of the record and the widget that edits each one.
struct Flag {
    const char *widget;
    bool TSettings::*field;
};
const Flag kFlags[] = {
    {"checkBoxAuto", &TSettings::AutoStart},        {"checkBoxMinimize", &TSettings::minimizeStart},
    {"groupBoxSnmp", &TSettings::SnmpEnable},       {"groupBoxSyslog", &TSettings::SyslogEnable},
    {"checkBoxInputs", &TSettings::InputsEnable},   {"checkBoxSensors", &TSettings::SensorsEnable},
    {"checkBoxLinkup", &TSettings::LinkupEnable},   {"checkBoxStartup", &TSettings::StartupEnable},
    {"checkBoxAlarms", &TSettings::AlarmsEnable},   {"checkBoxUnknown", &TSettings::UnknownEnable},
    {"checkBoxBalloon", &TSettings::BalloonEnable},
};

void compareSettings(const TSettings &a, const TSettings &b)
{
    QCOMPARE(a.SnmpPort, b.SnmpPort);
    QCOMPARE(a.SyslogPort, b.SyslogPort);
    for (const Flag &f : kFlags)
        QVERIFY2(a.*f.field == b.*f.field, f.widget);
    QCOMPARE(a.DataDir, b.DataDir);
    QCOMPARE(a.DataFile, b.DataFile);
}

bool isChecked(QWidget *w)
{
    if (auto *box = qobject_cast<QGroupBox *>(w))
        return box->isChecked();
    return qobject_cast<QCheckBox *>(w)->isChecked();
}

void setChecked(QWidget *w, bool on)
{
    if (auto *box = qobject_cast<QGroupBox *>(w))
        box->setChecked(on);
    else
        qobject_cast<QCheckBox *>(w)->setChecked(on);
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void formContract_data();
    void formContract();
    void formStructure();
    void retranslateOnLanguageChange();

    void roundTrip_data();
    void roundTrip();
    void eachFlagHasItsWidget_data();
    void eachFlagHasItsWidget();
    void portMask_data();
    void portMask();
    void folderAndFile_data();
    void folderAndFile();
    void endWithoutApplyCreatesNothing_data();
    void endWithoutApplyCreatesNothing();
    void uncheckedGroupKeepsValues();

    void missingShowsError_data();
    void missingShowsError();
    void openHandsLocalFileUrl_data();
    void openHandsLocalFileUrl();
    void browse_data();
    void browse();

    void sizeIsPinned();
    void resources_data();
    void resources();

private:
    // Turns "@" in table data into the test's scratch folder.
    QString path(const QString &s) const { return QString(s).replace('@', tmp.path()); }

    QTemporaryDir tmp;
};

void TestSettingsDialog::initTestCase()
{
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.filePath("exists/sub")));
    QFile file(tmp.filePath("afile"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QFile log(tmp.filePath("exists/log.txt"));
    QVERIFY(log.open(QIODevice::WriteOnly));
}

void TestSettingsDialog::formContract_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text"); // text of a button or label, title of a group box, mask of a field
    QTest::addColumn<QString>("toolTip");

    const QString dlg = "TSettingsDialog";
    auto row = [](const char *name, const char *cls, const QString &parent, const QString &text = {},
                  const QString &tip = {}) { QTest::newRow(name) << cls << parent << text << tip; };
    row("frame", "QFrame", dlg);
    row("groupBoxGeneral", "QGroupBox", "frame", "General");
    row("checkBoxAuto", "QCheckBox", "groupBoxGeneral", "Automatical start reciever after launch program");
    row("checkBoxMinimize", "QCheckBox", "groupBoxGeneral", "Minimize to Systray after launch program");
    row("checkBoxBalloon", "QCheckBox", "groupBoxGeneral", "Show information balloons in Systray when event received");
    row("label_15", "QLabel", "groupBoxGeneral", "Log Folder:");
    row("lineEditDir", "QLineEdit", "groupBoxGeneral");
    row("toolButtonDir", "QToolButton", "groupBoxGeneral", "...", "Browse log folder");
    row("toolButtonShowDir", "QToolButton", "groupBoxGeneral", "...", "Open log folder");
    row("label_16", "QLabel", "groupBoxGeneral", "Log File Name:");
    row("lineEditFile", "QLineEdit", "groupBoxGeneral");
    row("toolButtonShow", "QToolButton", "groupBoxGeneral", "...", "Show log file");
    row("groupBoxSnmp", "QGroupBox", "frame", "SNMP Traps");
    row("label", "QLabel", "groupBoxSnmp", "SNMP Port:");
    row("lineEditSnmp", "QLineEdit", "groupBoxSnmp", "99999; ");
    row("groupBox", "QGroupBox", "groupBoxSnmp", "Event Filter");
    row("checkBoxInputs", "QCheckBox", "groupBox", "Show Inputs State Changed");
    row("checkBoxSensors", "QCheckBox", "groupBox", "Show Sensors State Changed");
    row("checkBoxAlarms", "QCheckBox", "groupBox", "Show Alarm Start/Stop");
    row("checkBoxStartup", "QCheckBox", "groupBox", "Show Device Start-up");
    row("checkBoxLinkup", "QCheckBox", "groupBox", "Show Device Link-up");
    row("checkBoxUnknown", "QCheckBox", "groupBox", "Show Unknown Traps");
    row("groupBoxSyslog", "QGroupBox", "frame", "Syslog");
    row("label_2", "QLabel", "groupBoxSyslog", "Syslog Port:");
    row("lineEditSyslog", "QLineEdit", "groupBoxSyslog", "99999; ");
    row("buttonBox", "QDialogButtonBox", dlg);
}

void TestSettingsDialog::formContract()
{
    QFETCH(QString, cls);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    TSettingsDialog dialog;
    QWidget *w = dialog.findChild<QWidget *>(QTest::currentDataTag());
    QVERIFY2(w, "no widget of that name");
    QCOMPARE(w->metaObject()->className(), cls);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->toolTip(), toolTip);

    QString shown;
    if (auto *e = qobject_cast<QLineEdit *>(w)) {
        // Qt reports a mask without its blank when the blank is the default, a space.
        QLineEdit reference;
        reference.setInputMask(text);
        text = reference.inputMask();
        shown = e->inputMask();
    } else if (auto *b = qobject_cast<QAbstractButton *>(w))
        shown = b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        shown = l->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        shown = g->title();
    QCOMPARE(shown, text);
}

void TestSettingsDialog::formStructure()
{
    TSettingsDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Settings"));

    // The panel, the buttons, then the spacer, which takes up whatever height is left.
    QLayout *top = dialog.layout();
    QVERIFY(top);
    QCOMPARE(top->objectName(), QString("verticalLayout_2"));
    QCOMPARE(top->count(), 3);
    QCOMPARE(top->itemAt(0)->widget()->objectName(), QString("frame"));
    QCOMPARE(top->itemAt(1)->widget()->objectName(), QString("buttonBox"));
    QSpacerItem *spacer = top->itemAt(2)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(20, 40));
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);

    auto *frame = dialog.findChild<QFrame *>("frame");
    QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(frame->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    const auto buttons = dialog.findChild<QDialogButtonBox *>("buttonBox")->standardButtons();
    QCOMPARE(buttons, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

    for (const char *name : {"groupBoxSnmp", "groupBoxSyslog"}) {
        auto *box = dialog.findChild<QGroupBox *>(name);
        QVERIFY2(box->isCheckable() && box->isChecked(), name);
    }
    for (const char *name : {"groupBoxGeneral", "groupBox"})
        QVERIFY2(!dialog.findChild<QGroupBox *>(name)->isCheckable(), name);

    // Only the two open buttons carry a picture; the browse button shows its "...".
    QVERIFY(dialog.findChild<QToolButton *>("toolButtonDir")->icon().isNull());
    for (const auto &[name, image] : {std::pair{"toolButtonShowDir", ":/FOLDER"}, {"toolButtonShow", ":/PREVIEW"}})
        QVERIFY2(dialog.findChild<QToolButton *>(name)->icon().pixmap(16).toImage() ==
                     QIcon(image).pixmap(16).toImage(),
                 name);
}

void TestSettingsDialog::retranslateOnLanguageChange()
{
    TSettingsDialog dialog;
    auto *label = dialog.findChild<QLabel *>("label");
    auto *port = dialog.findChild<QLineEdit *>("lineEditSnmp");
    label->setText("changed");
    port->setInputMask("");
    QEvent change(QEvent::LanguageChange);
    QApplication::sendEvent(&dialog, &change);
    QCOMPARE(label->text(), QString("SNMP Port:"));
    QCOMPARE(port->inputMask(), QString("99999"));
}

void TestSettingsDialog::roundTrip_data()
{
    QTest::addColumn<bool>("flipped");
    QTest::newRow("defaults") << false;
    QTest::newRow("every flag flipped") << true;
}

void TestSettingsDialog::roundTrip()
{
    QFETCH(bool, flipped);

    TSettings s;
    s.DataDir = tmp.filePath("exists");
    s.DataFile = "events.csv";
    if (flipped) {
        s.SnmpPort = 65535;
        s.SyslogPort = 0;
        for (const Flag &f : kFlags)
            s.*f.field = !(s.*f.field);
    }
    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    TSettings back = s;
    QCOMPARE(dialog.applyToSettings(back), 0);
    compareSettings(back, s);

    // Applied to a different record, every value arrives.
    TSettings other;
    other.SnmpPort = 1;
    other.SyslogPort = 2;
    for (const Flag &f : kFlags)
        other.*f.field = !(s.*f.field);
    QCOMPARE(dialog.applyToSettings(other), 3);
    compareSettings(other, s);
}

void TestSettingsDialog::eachFlagHasItsWidget_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kFlags)); ++i)
        QTest::newRow(kFlags[i].widget) << i;
}

void TestSettingsDialog::eachFlagHasItsWidget()
{
    QFETCH(int, index);
    const Flag &flag = kFlags[index];

    TSettings s;
    s.DataDir = tmp.filePath("exists");
    s.DataFile = "log.txt";
    s.*flag.field = !(s.*flag.field);

    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    QWidget *w = dialog.findChild<QWidget *>(flag.widget);
    QCOMPARE(isChecked(w), s.*flag.field);

    // Toggling this one widget changes this one flag and nothing else.
    setChecked(w, !isChecked(w));
    TSettings after = s;
    QCOMPARE(dialog.applyToSettings(after), 0);
    TSettings expected = s;
    expected.*flag.field = !(s.*flag.field);
    compareSettings(after, expected);
}

void TestSettingsDialog::portMask_data()
{
    QTest::addColumn<int>("storedSnmp");
    QTest::addColumn<int>("storedSyslog");
    QTest::addColumn<QString>("snmp");
    QTest::addColumn<QString>("syslog");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("snmpPort");
    QTest::addColumn<int>("syslogPort");

    // The record holds 162 and 514 before the dialog, unless the tag says otherwise;
    // a null text leaves the field as the dialog showed it.
    auto row = [](const char *tag, const char *snmp, const char *syslog, int mask, int snmpPort, int syslogPort,
                  int storedSnmp = 162, int storedSyslog = 514) {
        QTest::newRow(tag) << storedSnmp << storedSyslog << QString(snmp) << QString(syslog) << mask << snmpPort
                           << syslogPort;
    };
    row("unchanged", "162", "514", 0, 162, 514);
    row("leading zeros, same port", "00162", "0514", 0, 162, 514);
    row("snmp only", "1162", "514", 1, 1162, 514);
    row("syslog only", "162", "1514", 2, 162, 1514);
    row("both", "1162", "1514", 3, 1162, 1514);
    row("snmp emptied", "", "514", 1, 0, 514);
    row("syslog emptied", "162", "", 2, 162, 0);
    row("above 65535 kept as typed", "99999", "514", 1, 99999, 514);
    // The field shows "12345" and "42949": OK without edits keeps what the file holds.
    row("stored 123456 and -1, untouched", nullptr, nullptr, 0, 123456, -1, 123456, -1);
    row("stored 123456, edited", "1162", nullptr, 1, 1162, -1, 123456, -1);
}

void TestSettingsDialog::portMask()
{
    QFETCH(int, storedSnmp);
    QFETCH(int, storedSyslog);
    QFETCH(QString, snmp);
    QFETCH(QString, syslog);
    QFETCH(int, mask);
    QFETCH(int, snmpPort);
    QFETCH(int, syslogPort);

    TSettings s;
    s.SnmpPort = storedSnmp;
    s.SyslogPort = storedSyslog;
    s.DataDir = tmp.filePath("exists");
    s.DataFile = "log.txt";
    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    QCOMPARE(dialog.findChild<QLineEdit *>("lineEditSnmp")->text(), QString::number(storedSnmp).left(5));
    if (!snmp.isNull())
        dialog.findChild<QLineEdit *>("lineEditSnmp")->setText(snmp);
    if (!syslog.isNull())
        dialog.findChild<QLineEdit *>("lineEditSyslog")->setText(syslog);
    // Check boxes, folder and file name never contribute to the mask.
    dialog.findChild<QCheckBox *>("checkBoxUnknown")->setChecked(true);
    dialog.findChild<QLineEdit *>("lineEditFile")->setText("other.txt");

    QCOMPARE(dialog.applyToSettings(s), mask);
    QCOMPARE(s.SnmpPort, snmpPort);
    QCOMPARE(s.SyslogPort, syslogPort);
}

void TestSettingsDialog::folderAndFile_data()
{
    QTest::addColumn<QString>("dirText");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("dataDir");
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<QString>("mustNotExist");

    // The record holds "@/exists" and "log.txt" before the dialog.
    auto row = [](const char *tag, const char *dirText, const char *fileText, const char *dataDir, const char *dataFile,
                  const char *mustNotExist = "") {
        QTest::newRow(tag) << dirText << fileText << dataDir << dataFile << mustNotExist;
    };
    row("unchanged", "@/exists", "log.txt", "@/exists", "log.txt");
    row("blank folder", "   ", "log.txt", "@/exists", "log.txt");
    row("blank file, valid folder", "@/exists/sub", " \t ", "@/exists/sub", "log.txt");
    row("surrounding blanks", "  @/exists/sub \t", "  new.log  ", "@/exists/sub", "new.log");
    row("created with parents", "@/new/a/b", "log.txt", "@/new/a/b", "log.txt");
    row("under a plain file", "@/afile/sub", "log.txt", "@/exists", "log.txt", "@/afile/sub");
    row("names a plain file", "@/afile", "log.txt", "@/exists", "log.txt");
}

void TestSettingsDialog::folderAndFile()
{
    QFETCH(QString, dirText);
    QFETCH(QString, fileText);
    QFETCH(QString, dataDir);
    QFETCH(QString, dataFile);
    QFETCH(QString, mustNotExist);

    TSettings s;
    s.DataDir = tmp.filePath("exists");
    s.DataFile = "log.txt";
    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    dialog.findChild<QLineEdit *>("lineEditDir")->setText(path(dirText));
    dialog.findChild<QLineEdit *>("lineEditFile")->setText(fileText);

    QCOMPARE(dialog.applyToSettings(s), 0);
    QCOMPARE(s.DataDir, path(dataDir));
    QCOMPARE(s.DataFile, dataFile);
    QVERIFY2(QFileInfo(s.DataDir).isDir(), qPrintable(s.DataDir));
    if (!mustNotExist.isEmpty())
        QVERIFY(!QFileInfo::exists(path(mustNotExist)));
}

void TestSettingsDialog::endWithoutApplyCreatesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("cancel") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("escape") << "escape" << int(QDialog::Rejected);
    QTest::newRow("close") << "close" << int(QDialog::Rejected);
    // OK only closes the dialog; the caller applies, so nothing is created yet either.
    QTest::newRow("ok") << "ok" << int(QDialog::Accepted);
}

void TestSettingsDialog::endWithoutApplyCreatesNothing()
{
    QFETCH(QString, how);
    QFETCH(int, result);

    TSettings s;
    s.DataDir = tmp.filePath("later/folder");
    s.DataFile = "log.txt";
    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    QVERIFY(!QFileInfo::exists(s.DataDir));

    bool seen = false;
    onNextModal([&](QWidget *modal) {
        seen = modal == &dialog;
        auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
        if (how == "cancel")
            buttons->button(QDialogButtonBox::Cancel)->click();
        else if (how == "ok")
            buttons->button(QDialogButtonBox::Ok)->click();
        else if (how == "escape")
            QTest::keyClick(modal, Qt::Key_Escape);
        else
            modal->close();
    });
    QCOMPARE(dialog.exec(), result);
    QVERIFY(seen);
    QVERIFY(!QFileInfo::exists(tmp.filePath("later")));
}

void TestSettingsDialog::uncheckedGroupKeepsValues()
{
    TSettings s;
    s.DataDir = tmp.filePath("exists");
    s.DataFile = "log.txt";
    TSettingsDialog dialog;
    dialog.setFromSettings(s);
    dialog.findChild<QGroupBox *>("groupBoxSnmp")->setChecked(false);

    QStringList greyed = {"lineEditSnmp", "groupBox"};
    for (QCheckBox *box : dialog.findChild<QGroupBox *>("groupBox")->findChildren<QCheckBox *>())
        greyed << box->objectName();
    QCOMPARE(greyed.size(), 8);
    for (const QString &name : greyed)
        QVERIFY2(!dialog.findChild<QWidget *>(name)->isEnabled(), qPrintable(name));
    QVERIFY(dialog.findChild<QLineEdit *>("lineEditSyslog")->isEnabled());

    // What the greyed widgets show is stored all the same.
    dialog.findChild<QLineEdit *>("lineEditSnmp")->setText("2162");
    dialog.findChild<QCheckBox *>("checkBoxUnknown")->setChecked(true);
    dialog.findChild<QCheckBox *>("checkBoxAlarms")->setChecked(false);
    QCOMPARE(dialog.applyToSettings(s), 1);
    QVERIFY(!s.SnmpEnable);
    QVERIFY(s.SyslogEnable);
    QCOMPARE(s.SnmpPort, 2162);
    QVERIFY(s.UnknownEnable);
    QVERIFY(!s.AlarmsEnable);

    dialog.findChild<QGroupBox *>("groupBoxSyslog")->setChecked(false);
    QVERIFY(!dialog.findChild<QLineEdit *>("lineEditSyslog")->isEnabled());
    dialog.applyToSettings(s);
    QVERIFY(!s.SyslogEnable);
}

void TestSettingsDialog::missingShowsError_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("dirText");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("message");

    auto row = [](const char *tag, const char *button, const char *dirText, const char *fileText, const char *message) {
        QTest::newRow(tag) << button << dirText << fileText << message;
    };
    row("folder", "toolButtonShowDir", " @/nope ", "log.txt", "Log folder does not exist.<br><br>@/nope");
    row("empty folder", "toolButtonShowDir", "", "log.txt", "Log folder does not exist.<br><br>");
    row("file", "toolButtonShow", "@/exists ", " missing.txt", "Log file does not exist.<br><br>@/exists/missing.txt");
    row("file in missing folder", "toolButtonShow", "@/nope", "log.txt",
        "Log file does not exist.<br><br>@/nope/log.txt");
    // Rich text: the typed path must show as typed, not as markup.
    row("markup in path", "toolButtonShowDir", "@/R&D <b>", "",
        "Log folder does not exist.<br><br>@/R&amp;D &lt;b&gt;");
}

void TestSettingsDialog::missingShowsError()
{
    QFETCH(QString, button);
    QFETCH(QString, dirText);
    QFETCH(QString, fileText);
    QFETCH(QString, message);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    TSettingsDialog dialog;
    dialog.findChild<QLineEdit *>("lineEditDir")->setText(path(dirText));
    dialog.findChild<QLineEdit *>("lineEditFile")->setText(fileText);

    SeenBox box;
    captureNextBox(&box);
    dialog.findChild<QToolButton *>(button)->click();
    QDesktopServices::unsetUrlHandler("file");

    QVERIFY(box.shown);
    QCOMPARE(box.title, QString("Error"));
    QCOMPARE(box.text, path(message));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.standardButtons, QMessageBox::Ok);
    QCOMPARE(box.parent, &dialog);
    QVERIFY(catcher.urls.isEmpty());
}

void TestSettingsDialog::openHandsLocalFileUrl_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("dirText");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("opened");

    auto row = [](const char *tag, const char *button, const char *dirText, const char *fileText, const char *opened) {
        QTest::newRow(tag) << button << dirText << fileText << opened;
    };
    row("folder", "toolButtonShowDir", "  @/exists ", "", "@/exists");
    row("file", "toolButtonShow", "@/exists  ", " log.txt ", "@/exists/log.txt");
}

void TestSettingsDialog::openHandsLocalFileUrl()
{
    QFETCH(QString, button);
    QFETCH(QString, dirText);
    QFETCH(QString, fileText);
    QFETCH(QString, opened);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    TSettingsDialog dialog;
    dialog.findChild<QLineEdit *>("lineEditDir")->setText(path(dirText));
    dialog.findChild<QLineEdit *>("lineEditFile")->setText(fileText);
    dialog.findChild<QToolButton *>(button)->click();
    QDesktopServices::unsetUrlHandler("file");

    QCOMPARE(catcher.urls.size(), 1);
    const QUrl url = catcher.urls.first();
    // Three slashes, as "file://" + an absolute Unix path; "file:////" names no local file.
    QVERIFY2(url.toString().startsWith("file:///") && !url.toString().startsWith("file:////"),
             qPrintable(url.toString()));
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.toLocalFile(), path(opened));
}

void TestSettingsDialog::browse_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("pick"); // a subfolder to choose, or empty to take the folder shown
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("result");

    auto row = [](const char *tag, const char *start, const char *pick, bool accept, const char *result) {
        QTest::newRow(tag) << start << pick << accept << result;
    };
    row("take the folder shown", " @/exists ", "", true, "@/exists");
    row("pick a subfolder", "@/exists", "sub", true, "@/exists/sub");
    row("cancelled", " @/exists ", "sub", false, " @/exists ");
}

void TestSettingsDialog::browse()
{
    QFETCH(QString, start);
    QFETCH(QString, pick);
    QFETCH(bool, accept);
    QFETCH(QString, result);

    TSettingsDialog dialog;
    auto *dirEdit = dialog.findChild<QLineEdit *>("lineEditDir");
    dirEdit->setText(path(start));

    QString shownAt;
    bool dirsOnly = false;
    onNextModal([&](QWidget *modal) {
        auto *files = qobject_cast<QFileDialog *>(modal);
        QVERIFY(files);
        shownAt = files->directory().absolutePath();
        dirsOnly = files->fileMode() == QFileDialog::Directory && files->testOption(QFileDialog::ShowDirsOnly);
        // Highlighting a folder in the list puts its name here; typing it does the same.
        auto *name = files->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY(name);
        name->setText(pick);
        if (accept)
            static_cast<QDialog *>(files)->accept(); // QFileDialog::accept, protected there
        else
            files->reject();
    });
    dialog.findChild<QToolButton *>("toolButtonDir")->click();

    QCOMPARE(shownAt, tmp.filePath("exists"));
    QVERIFY(dirsOnly);
    QCOMPARE(dirEdit->text(), path(result));
}

void TestSettingsDialog::sizeIsPinned()
{
    TSettingsDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // The maximum stays at 10 x 10; for a window Qt lets the layout's minimum win.
    const QSize min = dialog.minimumSize();
    QVERIFY2(min.width() > 10 && min.height() > 10, "the layout must raise the minimum");
    QCOMPARE(dialog.size(), min);
    QVERIFY2(min.height() < 613, "the design height must not show");

    dialog.resize(900, 900);
    QTRY_COMPARE(dialog.size(), min);
}

void TestSettingsDialog::resources_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");

    for (const char *name : {":/APP_ICON", ":/PLAY", ":/STOP", ":/PLAY_DIS", ":/STOP_DIS"})
        QTest::newRow(name) << name << 32;
    for (const char *name : {":/PREVIEW", ":/CLEAR", ":/FOLDER"})
        QTest::newRow(name) << name << 256;
}

void TestSettingsDialog::resources()
{
    QFETCH(QString, file);
    QFETCH(int, size);

    QVERIFY(QFile::exists(file));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray png = f.read(29);
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(int(png[24]), 8); // bits per channel
    QCOMPARE(int(png[25]), 6); // colour type: RGB with alpha
    QCOMPARE(int(png[28]), 0); // not interlaced

    const QImage image(file);
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    // Every picture stands free on a transparent ground and is solid at its centre.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
