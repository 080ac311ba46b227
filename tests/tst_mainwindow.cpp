#include "findbar.h"
#include "mainwindow.h"
#include "nrvapi_fake.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUdpSocket>

#include <memory>

namespace {

// The flag that lets each trap kind through, in kind order (0 to 5).
const char *const kKindFlags[] = {"InputsEnable",  "SensorsEnable", "AlarmsEnable",
                                  "StartupEnable", "LinkupEnable",  "UnknownEnable"};

QString joined(const std::vector<std::string> &calls)
{
    QStringList list;
    for (const std::string &call : calls)
        list << QString::fromStdString(call);
    return list.join(' ');
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }
    void init();
    void cleanup();

    void actions_data();
    void actions();
    void layoutOfBarsAndView();
    void slotTable();
    void statusBar();
    void libraryInitialisedWithMibFolder();
    void libraryShutDownFirst();
    void settingsFileAndDataFolder();
    void commandsConnectedByName_data();
    void commandsConnectedByName();
    void trapKindFilter_data();
    void trapKindFilter();
    void findInView_data();
    void findInView();

private:
    std::unique_ptr<TMainWindow> makeWindow();
    UrlCatcher urls;
};

void TestMainWindow::initTestCase()
{
    QDesktopServices::setUrlHandler("file", &urls, "open");
}

void TestMainWindow::init()
{
    NrvFake::reset();
    urls.urls.clear();
    // Never the real 162/514: every window of this suite listens on free high ports.
    writeSettingsFile({{"SnmpPort", freeUdpPort()}, {"SyslogPort", freeUdpPort()}});
}

void TestMainWindow::cleanup()
{
    QFile::remove(configFile());
}

std::unique_ptr<TMainWindow> TestMainWindow::makeWindow()
{
    return std::make_unique<TMainWindow>();
}

void TestMainWindow::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("statusTip");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<QString>("icon"); // the resource it shows, if any

    // An unset tool tip is derived from the text by Qt (without the "&").
    QTest::newRow("start/stop") << "actionStartStop"
                                << "Start Reciever"
                                << "Start reciever"
                                << "Start/stop reciever" << true << ":/PLAY";
    QTest::newRow("settings") << "actionSettings"
                              << "&Settings..."
                              << "Settings"
                              << "Change application settings" << false << QString();
    QTest::newRow("exit") << "actionExit"
                          << "E&xit"
                          << "Exit"
                          << "Exit application" << false << QString();
    QTest::newRow("about") << "actionAbout"
                           << "&About..."
                           << "About"
                           << "Show information about application" << false << QString();
    QTest::newRow("log") << "actionLog"
                         << "Show Log File"
                         << "Show log file"
                         << "Show log file" << false << ":/PREVIEW";
    QTest::newRow("clear") << "actionClear"
                           << "Clear Events"
                           << "Clear events"
                           << "Clear all events from window" << false << ":/CLEAR";
    QTest::newRow("log dir") << "actionLogDir"
                             << "Open Log Folder"
                             << "Open log folder"
                             << "Open log folder" << false << ":/FOLDER";
    QTest::newRow("columns") << "actionColDesc"
                             << "&Columns Description"
                             << "Columns Description"
                             << "Show file with columns description" << false << QString();
}

void TestMainWindow::actions()
{
    QFETCH(QString, name);
    auto window = makeWindow();
    auto *action = window->findChild<QAction *>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->parent(), window.get());
    QTEST(action->text(), "text");
    QTEST(action->toolTip(), "toolTip");
    QTEST(action->statusTip(), "statusTip");
    QTEST(action->isCheckable(), "checkable");
    QFETCH(QString, icon);
    if (icon.isEmpty()) {
        QVERIFY(action->icon().isNull());
    } else {
        QVERIFY(QFile::exists(icon));
        QVERIFY(action->icon().pixmap(16).toImage() == QIcon(icon).pixmap(16).toImage());
    }
    if (name == "actionStartStop") // checked, it shows the stop picture
        QVERIFY(action->icon().pixmap(16, QIcon::Normal, QIcon::On).toImage() == QIcon(":/STOP").pixmap(16).toImage());
    QVERIFY(action->shortcut().isEmpty());
}

void TestMainWindow::layoutOfBarsAndView()
{
    auto window = makeWindow();
    QCOMPARE(window->windowTitle(), "Ventrix 1.0.1 (Syslog & SNMP Traps)");

    auto names = [](const QList<QAction *> &actions) {
        QStringList list;
        for (QAction *a : actions)
            list << (a->isSeparator() ? "|" : a->objectName());
        return list;
    };
    auto *toolBar = window->findChild<QToolBar *>("toolBar");
    QVERIFY(toolBar);
    QCOMPARE(toolBar->windowTitle(), "toolBar");
    QCOMPARE(names(toolBar->actions()),
             (QStringList{"actionStartStop", "|", "actionClear", "actionLog", "actionLogDir"}));

    auto *menuBar = window->findChild<QMenuBar *>("menuBar");
    QVERIFY(menuBar);
    QCOMPARE(names(menuBar->actions()).size(), 2);
    auto *file = window->findChild<QMenu *>("menu_File");
    auto *help = window->findChild<QMenu *>("menu_Help");
    QVERIFY(file && help);
    QCOMPARE(file->title(), "&File");
    QCOMPARE(help->title(), "&Help");
    QCOMPARE(menuBar->actions(), (QList<QAction *>{file->menuAction(), help->menuAction()}));
    QCOMPARE(names(file->actions()), (QStringList{"actionSettings", "|", "actionExit"}));
    QCOMPARE(names(help->actions()), (QStringList{"actionColDesc", "|", "actionAbout"}));

    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    QVERIFY(view);
    QVERIFY(view->isReadOnly());
    QCOMPARE(view->minimumHeight(), 300);
    QCOMPARE(window->centralWidget()->objectName(), "centralWidget");
    QCOMPARE(window->statusBar()->objectName(), "statusBar");
    QCOMPARE(window->statusBar()->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
}

void TestMainWindow::slotTable()
{
    // The library's thread finds onSnmp by name and the form binds the commands by name,
    // so the table is part of the program's contract.
    const QMetaObject *meta = &TMainWindow::staticMetaObject;
    QCOMPARE(meta->className(), "TMainWindow");
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    const QStringList expected{"on_actionColDesc_triggered()",
                               "on_actionLogDir_triggered()",
                               "on_actionClear_triggered()",
                               "on_actionLog_triggered()",
                               "on_actionAbout_triggered()",
                               "onQueue()",
                               "on_actionSettings_triggered()",
                               "onSnmp(QString,int)",
                               "onSystrayIconMessageClicked()",
                               "onSystrayIconActivated(QSystemTrayIcon::ActivationReason)",
                               "startSnmp()",
                               "onStopSnmp()",
                               "onStartSnmp()",
                               "onReadSyslogDatagram()",
                               "on_actionStartStop_triggered()"};
    QStringList actual;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        actual << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(actual, expected);
    const QMetaMethod onSnmp = meta->method(meta->indexOfSlot("onSnmp(QString,int)"));
    QCOMPARE(onSnmp.parameterNames(), (QList<QByteArray>{"aLogStr", "aTrapType"}));
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->classInfoCount(), meta->classInfoOffset());
}

void TestMainWindow::statusBar()
{
    auto window = makeWindow();
    QList<QLabel *> labels;
    for (QObject *child : window->statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
        labels << static_cast<QLabel *>(child);
    QCOMPARE(labels.size(), 5);
    QCOMPARE(labels[0]->text(), QString());
    QCOMPARE(labels[0]->minimumWidth(), 250);
    const QStringList texts{"", "SNMP Traps", "Disabled", "Syslog", "Disabled"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(labels[i]->text(), texts[i]);
        const bool stateBox = i == 2 || i == 4;
        if (!stateBox)
            QCOMPARE(labels[i]->frameShape(), QFrame::NoFrame);
        if (stateBox) {
            QCOMPARE(labels[i]->frameStyle(), 50); // panel, sunken
            QCOMPARE(labels[i]->minimumWidth(), 190);
            QCOMPARE(labels[i]->maximumWidth(), 190);
        }
    }
    QCOMPARE(labels[2]->objectName(), "snmpStatusLabel");
    QCOMPARE(labels[4]->objectName(), "syslogStatusLabel");

    // Permanent widgets stay on the right whatever a status tip shows on the left.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->statusBar()->showMessage("Clear all events from window");
    QVERIFY(!labels[0]->isVisible());
    QVERIFY(labels[2]->isVisible() && labels[4]->isVisible());
    QCOMPARE(labels[2]->width(), 190);
    QVERIFY(labels[1]->x() < labels[2]->x() && labels[2]->x() < labels[3]->x() && labels[3]->x() < labels[4]->x());
}

void TestMainWindow::libraryInitialisedWithMibFolder()
{
    auto window = makeWindow();
    const std::vector<std::string> calls = NrvFake::calls();
    QVERIFY2(calls.size() >= 2, qPrintable(joined(calls)));
    QCOMPARE(calls[0], std::string("nrvInit"));
    const QString mibs = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/mibs");
    QCOMPARE(QString::fromStdString(calls[1]), "nrvSetMibDirectory(" + mibs + ")");
    // Nothing starts without AutoStart.
    QCOMPARE(calls.size(), size_t(2));
}

void TestMainWindow::libraryShutDownFirst()
{
    auto window = makeWindow();
    QPointer<QPlainTextEdit> view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    QPointer<QObject> tray = window->findChild<QObject *>("trayIcon");
    bool everythingAlive = false;
    NrvFake::setShutdownHook([&] { everythingAlive = view && tray; });
    window.reset();
    QVERIFY2(everythingAlive, "the window's members were destroyed before the library's shutdown");
    const std::vector<std::string> calls = NrvFake::calls();
    QCOMPARE(calls.back(), std::string("nrvShutdown"));
    QVERIFY2(joined(calls).count("nrvShutdown") == 1, qPrintable(joined(calls)));
}

void TestMainWindow::settingsFileAndDataFolder()
{
    const QString dataDir = QDir::homePath() + "/fresh/a/b";
    QSettings ini(configFile(), QSettings::IniFormat);
    ini.setValue("DataDir", dataDir);
    ini.sync();
    QVERIFY(!QDir(dataDir).exists());

    auto window = makeWindow();
    QCOMPARE(QCoreApplication::organizationName(), "Norvane");
    QCOMPARE(QCoreApplication::applicationName(), "Ventrix/Ventrix");
    QCOMPARE(QCoreApplication::applicationVersion(), "1.0.0");
    QCOMPARE(QSettings().fileName(), configFile());
    QVERIFY2(QDir(dataDir).exists(), "the data folder is created at start");
    window.reset();

    // One that other accounts may write to, without the sticky bit, is refused at start.
    QVERIFY(QFile::setPermissions(dataDir, QFile::Permissions(0x7777)));
    SeenBox box;
    captureNextBox(&box);
    window = makeWindow();
    QCOMPARE(box.title, "Error");
    QVERIFY2(box.text.endsWith("<br><br>" + dataDir), qPrintable(box.text));
}

void TestMainWindow::commandsConnectedByName_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("modalClass");
    QTest::addColumn<QString>("url");

    QTest::newRow("about") << "actionAbout"
                           << "QMessageBox"
                           << "";
    QTest::newRow("settings") << "actionSettings"
                              << "TSettingsDialog"
                              << "";
    QTest::newRow("missing log file") << "actionLog"
                                      << "QMessageBox"
                                      << "";
    QTest::newRow("log folder") << "actionLogDir"
                                << ""
                                << "Documents/Norvane/Ventrix";
    QTest::newRow("columns") << "actionColDesc"
                             << ""
                             << "Readme.txt";
}

void TestMainWindow::commandsConnectedByName()
{
    QFETCH(QString, action);
    QFETCH(QString, modalClass);
    QFETCH(QString, url);
    auto window = makeWindow();
    window->show();
    QString seen;
    if (!modalClass.isEmpty())
        onNextModal([&](QWidget *modal) { seen = modal->metaObject()->className(); });
    window->findChild<QAction *>(action)->trigger();
    if (!modalClass.isEmpty())
        QTRY_COMPARE(seen, modalClass);
    if (!url.isEmpty()) {
        QCOMPARE(urls.urls.size(), 1);
        QVERIFY2(urls.urls[0].toLocalFile().endsWith(url), qPrintable(urls.urls[0].toString()));
    }
}

void TestMainWindow::trapKindFilter_data()
{
    QTest::addColumn<QString>("off"); // the flag switched off: none, one, or "all"
    QTest::newRow("none") << QString();
    for (const char *flag : kKindFlags)
        QTest::newRow(flag) << QString(flag);
    QTest::newRow("all") << "all";
}

// Each flag holds back its own trap kind and no other; kinds outside 0 to 5 and syslog
// messages always pass.
void TestMainWindow::trapKindFilter()
{
    QFETCH(QString, off);
    const int syslogPort = freeUdpPort();
    QVariantMap values{{"SnmpPort", freeUdpPort()}, {"SyslogPort", syslogPort}, {"BalloonEnable", false}};
    for (const char *flag : kKindFlags)
        values[flag] = off != flag && off != "all";
    writeSettingsFile(values);
    auto window = makeWindow();
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    window->findChild<QAction *>("actionStartStop")->trigger();
    QTRY_COMPARE(window->findChild<QLabel *>("syslogStatusLabel")->text(),
                 "Recieving on UDP port " + QString::number(syslogPort));
    QUdpSocket().writeDatagram("<13>a syslog message", QHostAddress::LocalHost, quint16(syslogPort));
    QTRY_VERIFY(view->toPlainText().contains(";<13>a syslog message"));

    // Kind 99 last: once it shows, every line before it has been handled.
    for (int kind : {0, 1, 2, 3, 4, 5, 6, -1, 99})
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onSnmp", Q_ARG(QString, QString("kind<%1>").arg(kind)),
                                          Q_ARG(int, kind)));
    QTRY_VERIFY(view->toPlainText().contains("kind<99>"));
    const QString text = view->toPlainText();
    for (int kind = 0; kind < 6; ++kind)
        QVERIFY2(text.contains(QString("kind<%1>").arg(kind)) == (off != kKindFlags[kind] && off != "all"),
                 qPrintable(QString("kind %1 with %2 off: ").arg(kind).arg(off) + text));
    QVERIFY(text.contains("kind<6>") && text.contains("kind<-1>"));
}

void TestMainWindow::findInView_data()
{
    // The view holds "alpha one", "beta Alpha two", "gamma", "alpha three" at positions 0,
    // 10, 25 and 31; -1 as a selection's start: nothing selected.
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("selectedFrom");
    QTest::addColumn<int>("selectedTo");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("found");
    QTest::addColumn<QString>("hint");
    QTest::newRow("from the top") << "ALPHA" << -1 << -1 << false << false << 0 << "";
    QTest::newRow("next after a match") << "alpha" << 0 << 5 << false << false << 15 << "";
    QTest::newRow("match case") << "alpha" << 0 << 5 << false << true << 31 << "";
    QTest::newRow("from the selection") << "alpha" << 25 << 30 << false << false << 31 << "";
    QTest::newRow("wraps to the top") << "alpha" << 31 << 36 << false << false << 0 << "wrapped";
    QTest::newRow("the only match again") << "gamma" << 25 << 30 << false << false << 25 << "wrapped";
    QTest::newRow("backward from the bottom") << "alpha" << -1 << -1 << true << false << 31 << "";
    QTest::newRow("backward past a match") << "alpha" << 31 << 36 << true << false << 15 << "";
    QTest::newRow("backward wraps") << "alpha" << 0 << 5 << true << false << 31 << "wrapped";
    QTest::newRow("not found") << "delta" << 25 << 30 << false << false << 25 << "not found";
}

void TestMainWindow::findInView()
{
    QFETCH(QString, needle);
    QFETCH(int, selectedFrom);
    QFETCH(int, selectedTo);
    QFETCH(bool, backward);
    QFETCH(bool, matchCase);
    QFETCH(int, found);
    auto window = makeWindow();
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    view->setPlainText("alpha one\nbeta Alpha two\ngamma\nalpha three");
    QTextCursor cursor(view->document());
    if (selectedFrom >= 0) {
        cursor.setPosition(selectedFrom);
        cursor.setPosition(selectedTo, QTextCursor::KeepAnchor);
    }
    view->setTextCursor(cursor);
    auto *bar = window->findChild<TFindBar *>();
    bar->findChild<QLineEdit *>("findField")->setText(needle);
    bar->findChild<QCheckBox *>("findMatchCase")->setChecked(matchCase);
    bar->find(backward);
    QTRY_VERIFY(!bar->isSearching());
    QCOMPARE(view->textCursor().selectionStart(), found);
    QCOMPARE(view->textCursor().selectionEnd(), found + 5);
    QTEST(bar->findChild<QLabel *>("findHint")->text(), "hint");
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
