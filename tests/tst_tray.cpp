#include "balloon.h"
#include "balloontip.h"
#include "mainwindow.h"
#include "notificationstandin.h"
#include "nrvapi_fake.h"
#include "testsupport.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

// The tray icon, hiding to the tray, balloons, and the close question, under the
// offscreen platform, which has no tray of its own: the tests say whether there is one.

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(bus.start(), "dbus-daemon (Debian package dbus) is needed"); }
    void init();
    void cleanup() { window.reset(); }

    void trayIconAndMenu();
    void minimisedWindowLeavesForTheTray();
    void triggerTogglesOtherReasonsDoNothing_data();
    void triggerTogglesOtherReasonsDoNothing();
    void balloonClickToggles();
    void balloonWindowIsReused();
    void maximisedComesBackNormal();
    void showActionRestores();
    void closeQuestion_data();
    void closeQuestion();
    void minimizeStart();
    void withoutTrayMinimiseStaysOnTheTaskBar_data();
    void withoutTrayMinimiseStaysOnTheTaskBar();
    void balloons_data();
    void balloons();
    void desktopNotificationsReplaceEachOther_data();
    void desktopNotificationsReplaceEachOther();

private:
    void makeWindow(const QVariantMap &values = {});
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>("trayIcon"); }
    static QWidget *balloonTip();
    void toTray();
    std::unique_ptr<TMainWindow> window;
    PrivateSessionBus bus;
};

void TestTray::init()
{
    NrvFake::reset();
    TMainWindow::systemTrayAvailable = [] { return true; };
}

void TestTray::makeWindow(const QVariantMap &values)
{
    QVariantMap all{{"SnmpPort", 1}, {"SyslogPort", 1}};
    all.insert(values);
    writeSettingsFile(all);
    window = std::make_unique<TMainWindow>();
}

// The balloon window of the XEmbed tray, a top-level window of its own; none unless there
// is exactly one.
QWidget *TestTray::balloonTip()
{
    QWidgetList found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == "balloonTip")
            found << w;
    return found.size() == 1 ? found.first() : nullptr;
}

void TestTray::toTray()
{
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    QCOMPARE(window->windowState(), Qt::WindowMinimized);
}

void TestTray::trayIconAndMenu()
{
    makeWindow();
    QSystemTrayIcon *icon = tray();
    QVERIFY(icon);
    QVERIFY(icon->isVisible());
    QCOMPARE(icon->toolTip(), "Ventrix Systray");
    const QImage appIcon = QIcon(QPixmap(":/APP_ICON")).pixmap(32).toImage();
    QVERIFY(!appIcon.isNull());
    QCOMPARE(icon->icon().pixmap(32).toImage(), appIcon);
    QCOMPARE(window->windowIcon().pixmap(32).toImage(), appIcon);
    QMenu *menu = icon->contextMenu();
    QVERIFY(menu);
    const QList<QAction *> entries = menu->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0]->text(), "&Show Ventrix");
    QVERIFY(entries[1]->isSeparator());
    QCOMPARE(entries[2]->text(), "&Exit");
    QCOMPARE(menu->defaultAction(), entries[0]);
}

void TestTray::minimisedWindowLeavesForTheTray()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QElapsedTimer clock;
    clock.start();
    window->showMinimized();
    // A quarter of a second in the task bar, then only the tray icon is left.
    QTRY_VERIFY(!window->isVisible());
    QVERIFY2(clock.elapsed() >= 240, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(window->windowState(), Qt::WindowMinimized);
}

void TestTray::triggerTogglesOtherReasonsDoNothing_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("toggles");
    QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("context") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
}

void TestTray::triggerTogglesOtherReasonsDoNothing()
{
    QFETCH(int, reason);
    QFETCH(bool, toggles);
    makeWindow();
    window->show();
    toTray();
    emit tray()->activated(QSystemTrayIcon::ActivationReason(reason));
    if (!toggles) {
        QTest::qWait(300);
        QVERIFY(!window->isVisible());
        return;
    }
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
    // And from the screen a click sends it back to the tray.
    emit tray()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(!window->isVisible());
}

void TestTray::balloonClickToggles()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->showTrayMessage("SNMP trap received", "one");
    QTest::mouseClick(balloonTip(), Qt::LeftButton);
    QTRY_VERIFY(!window->isVisible());
    window->showTrayMessage("SNMP trap received", "two");
    QTest::mouseClick(balloonTip(), Qt::LeftButton);
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());

    // A click on the icon while a balloon shows is the icon's alone: one toggle.
    toTray();
    window->showTrayMessage("SNMP trap received", "three");
    emit tray()->activated(QSystemTrayIcon::Trigger);
    QTest::qWait(400);
    QVERIFY(window->isVisible());
}

void TestTray::balloonWindowIsReused()
{
    makeWindow();
    auto *balloon = window->findChild<TBalloon *>("balloon");
    QSignalSpy clicked(balloon, &TBalloon::clicked);
    balloon->show("Syslog message recieved", "first", QSystemTrayIcon::Warning, 5000);
    auto *tip = qobject_cast<TBalloonTip *>(balloonTip());
    QVERIFY(tip && tip->isVisible());
    const WId id = tip->winId();
    const QSize size = tip->size();

    // The next balloon is the same window with new texts, and it goes when its time is up.
    balloon->show("SNMP trap received", "second", QSystemTrayIcon::Warning, 200);
    QCOMPARE(balloonTip(), tip);
    QCOMPARE(tip->winId(), id);
    QCOMPARE(tip->size(), size);
    QVERIFY(tip->isVisible());
    QCOMPARE(tip->windowTitle(), "SNMP trap received");
    QCOMPARE(tip->findChild<QLabel *>("title")->text(), "SNMP trap received");
    QCOMPARE(tip->text(), "second");
    QTRY_VERIFY(!tip->isVisible());

    // A long line is shown whole, wrapped, a word longer than a line too; one longer than
    // the screen has room for ends with an ellipsis, and the balloon stays on the screen.
    const QString longLine = QString("word ").repeated(20) + QString(600, 'x');
    balloon->show("Syslog message recieved", longLine, QSystemTrayIcon::Warning, 5000);
    QCOMPARE(tip->text(), longLine);
    QVERIFY2(tip->height() > size.height() + 8 * tip->fontMetrics().lineSpacing(),
             qPrintable(QString::number(tip->height())));
    const QString hugeLine = QString("0123456789 ").repeated(6000);
    balloon->show("Syslog message recieved", hugeLine, QSystemTrayIcon::Warning, 5000);
    const QString shown = tip->text();
    QVERIFY2(shown.size() < hugeLine.size() && shown.endsWith(QChar(0x2026)) && hugeLine.startsWith(shown.chopped(1)),
             qPrintable(shown.right(40)));
    const int room = tip->screen()->availableGeometry().height();
    QVERIFY2(tip->height() <= room && tip->height() > room - 3 * tip->fontMetrics().lineSpacing(),
             qPrintable(QString::number(tip->height())));

    // A click on it is a balloon click; its close button only puts it away.
    balloon->show("SNMP trap received", "third", QSystemTrayIcon::Warning, 5000);
    QTest::mouseClick(tip, Qt::LeftButton);
    QVERIFY(!tip->isVisible());
    QCOMPARE(clicked.size(), 1);
    balloon->show("SNMP trap received", "fourth", QSystemTrayIcon::Warning, 5000);
    QVERIFY(tip->isVisible());
    QTest::mouseClick(tip->findChild<QToolButton *>("closeButton"), Qt::LeftButton);
    QVERIFY(!tip->isVisible());
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(balloonTip(), tip);
}

void TestTray::maximisedComesBackNormal()
{
    makeWindow();
    window->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    toTray();
    emit tray()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMaximized());
    QVERIFY(!window->isMinimized());
}

void TestTray::showActionRestores()
{
    makeWindow();
    window->show();
    toTray();
    window->findChild<QAction *>("showAction")->trigger();
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
}

void TestTray::closeQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("exit") << "&Exit" << true;
    QTest::newRow("minimize") << "&Minimize" << false;
    QTest::newRow("escape") << "escape" << false;
}

void TestTray::closeQuestion()
{
    QFETCH(QString, answer);
    QFETCH(bool, closed);
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QString title, text;
    QStringList buttons;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->textFormat(), Qt::AutoText);
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        if (answer == "escape") {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton *b : box->buttons())
            if (b->text() == answer)
                b->click();
    });
    // "E&xit" in the File menu goes through the same question; Exit ends the event loop
    // as it ends the program, any other answer leaves it running.
    QTimer::singleShot(0, window->findChild<QAction *>("actionExit"), &QAction::trigger);
    QTimer stillRunning;
    stillRunning.callOnTimeout([] { QCoreApplication::exit(-1); });
    stillRunning.start(1000);
    QCOMPARE(QCoreApplication::exec(), closed ? 0 : -1);

    QCOMPARE(title, "Exit Ventrix");
    QCOMPARE(text, "Do you want to minimize to <b>Systray</b> or exit application?");
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"&Exit", "&Minimize"}));
    if (closed) {
        QVERIFY(!window->isVisible());
        QVERIFY(!tray()->isVisible());
        return;
    }
    QVERIFY(tray()->isVisible());
    QVERIFY(window->isMinimized());
    QTRY_VERIFY(!window->isVisible());
}

void TestTray::minimizeStart()
{
    makeWindow({{"minimizeStart", true}});
    window->show(); // as the entry function does: changes nothing
    QVERIFY(window->isMinimized());
    QTRY_VERIFY(!window->isVisible());
}

void TestTray::withoutTrayMinimiseStaysOnTheTaskBar_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("minimise") << "minimise";
    QTest::newRow("minimizeStart") << "minimizeStart";
    QTest::newRow("close question, Minimize") << "&Minimize";
}

void TestTray::withoutTrayMinimiseStaysOnTheTaskBar()
{
    QFETCH(QString, how);
    TMainWindow::systemTrayAvailable = [] { return false; };
    makeWindow({{"minimizeStart", how == "minimizeStart"}});
    window->show();
    if (how == "minimise") {
        window->showMinimized();
    } else if (how == "&Minimize") {
        onNextModal([](QWidget *modal) {
            for (QAbstractButton *b : qobject_cast<QMessageBox *>(modal)->buttons())
                if (b->text() == "&Minimize")
                    b->click();
        });
        window->close();
    }
    QTest::qWait(400);
    QVERIFY(window->isVisible());
    QVERIFY(window->isMinimized());

    // Once a tray has appeared, a minimised window goes there again.
    TMainWindow::systemTrayAvailable = [] { return true; };
    window->showNormal();
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
}

void TestTray::balloons_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("title");
    QTest::newRow("trap") << "trap" << true << "SNMP trap received";
    QTest::newRow("syslog") << "syslog" << true << "Syslog message recieved";
    QTest::newRow("trap, balloons off") << "trap" << false << "";
    QTest::newRow("syslog, balloons off") << "syslog" << false << "";
}

void TestTray::balloons()
{
    QFETCH(QString, source);
    QFETCH(bool, enabled);
    QFETCH(QString, title);
    const int syslogPort = freeUdpPort();
    makeWindow({{"BalloonEnable", enabled}, {"AutoStart", true}, {"SnmpEnable", false}, {"SyslogPort", syslogPort}});
    QSignalSpy shown(window->findChild<TBalloon *>("balloon"), &TBalloon::shown);
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");

    // Two events far enough apart for a balloon each.
    for (const QString message : {"first", "second"}) {
        if (source == "trap") {
            QVERIFY(QMetaObject::invokeMethod(window.get(), "onSnmp", Qt::QueuedConnection,
                                              Q_ARG(QString, message + ";;;;;6;;;10.0.0.1;1;;Startup SNMP trap"),
                                              Q_ARG(int, 0)));
        } else {
            QUdpSocket sender;
            sender.writeDatagram(message.toLatin1(), QHostAddress::LocalHost, quint16(syslogPort));
        }
        QTRY_VERIFY(view->toPlainText().contains(message));
        if (!enabled)
            continue;
        QTRY_VERIFY(!shown.isEmpty());
        const QList<QVariant> balloon = shown.takeLast();
        QCOMPARE(balloon[0].toString(), title);
        // The whole line as the view shows it.
        QCOMPARE(balloon[1].toString(), view->toPlainText().split('\n').last());
        QCOMPARE(balloon[2].value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::Warning);
        QCOMPARE(balloon[3].toInt(), 5000);
        QTest::qWait(300);
    }
    QTest::qWait(100);
    QVERIFY(shown.isEmpty());
}

void TestTray::desktopNotificationsReplaceEachOther_data()
{
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<QString>("shown"); // the first text as the server is sent it
    QTest::newRow("plain text") << QStringList{"actions", "body"} << "<134>one & more";
    QTest::newRow("body-markup") << QStringList{"actions", "body", "body-markup"} << "&lt;134&gt;one &amp; more";
}

void TestTray::desktopNotificationsReplaceEachOther()
{
    QFETCH(QStringList, capabilities);
    QFETCH(QString, shown);
    StandInDesktop desktop;
    desktop.notifications.setCapabilities(capabilities);
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // Each balloon replaces the one before: one notification on the desktop, not a pile.
    uint id = 0;
    for (const QString text : {"<134>one & more", "two", "three"}) {
        window->showTrayMessage("SNMP trap received", text);
        const QString sent = id == 0 ? shown : text;
        QTRY_VERIFY(!desktop.notifications.calls().isEmpty() && desktop.notifications.calls().last().text == sent);
        const StandInNotifications::Call call = desktop.notifications.calls().last();
        QCOMPARE(call.replacesId, id);
        QCOMPARE(call.title, "SNMP trap received");
        QCOMPARE(call.icon, "dialog-warning");
        QCOMPARE(call.timeout, 5000);
        QCOMPARE(call.hints.value("urgency").toInt(), 1);
        QVERIFY(call.actions.contains("default"));
        id = call.id;
    }
    QCOMPARE(desktop.notifications.calls().size(), 3);
    QCOMPARE(desktop.notifications.questions(), 1);

    // A click on another program's notification is not ours; a click on ours toggles the
    // window as a balloon click does.
    desktop.emitSignal("ActionInvoked", {id + 1, "default"});
    QTest::qWait(100);
    QVERIFY(!window->isMinimized());
    desktop.emitSignal("ActionInvoked", {id, "default"});
    QTRY_VERIFY(!window->isVisible());
    desktop.emitSignal("ActionInvoked", {id, "default"});
    QTRY_VERIFY(window->isVisible() && !window->isMinimized());

    // Once the desktop has closed it, the next balloon is a new notification.
    desktop.emitSignal("NotificationClosed", {id, 1u});
    QTest::qWait(100);
    window->showTrayMessage("Syslog message recieved", "four");
    QTRY_COMPARE(desktop.notifications.calls().size(), 4);
    QCOMPARE(desktop.notifications.calls().last().replacesId, 0u);

    // A server that has restarted is asked again, and knows no notification to replace.
    desktop.bus.unregisterService("org.freedesktop.Notifications");
    desktop.notifications.setCapabilities({"body-markup"});
    desktop.bus.registerService("org.freedesktop.Notifications");
    QTest::qWait(100);
    window->showTrayMessage("Syslog message recieved", "<5>");
    QTRY_COMPARE(desktop.notifications.calls().size(), 5);
    QCOMPARE(desktop.notifications.calls().last().text, "&lt;5&gt;");
    QCOMPARE(desktop.notifications.calls().last().replacesId, 0u);
    QCOMPARE(desktop.notifications.questions(), 2);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
