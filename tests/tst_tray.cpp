#include "mainwindow.h"
#include "nrvapi_fake.h"
#include "testsupport.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <memory>

// The tray icon, hiding to the tray, and the close question, under the offscreen platform.

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { window.reset(); }

    void trayIconAndMenu();
    void minimisedWindowLeavesForTheTray();
    void triggerTogglesOtherReasonsDoNothing_data();
    void triggerTogglesOtherReasonsDoNothing();
    void balloonClickToggles();
    void maximisedComesBackNormal();
    void showActionRestores();
    void closeQuestion_data();
    void closeQuestion();
    void minimizeStart();

private:
    void makeWindow(const QVariantMap &values = {});
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>("trayIcon"); }
    void toTray();
    std::unique_ptr<TMainWindow> window;
};

void TestTray::init()
{
    NrvFake::reset();
}

void TestTray::makeWindow(const QVariantMap &values)
{
    QVariantMap all{{"SnmpPort", 1}, {"SyslogPort", 1}};
    all.insert(values);
    writeSettingsFile(all);
    window = std::make_unique<TMainWindow>();
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
    QVERIFY(!icon->icon().isNull());
    QVERIFY(!window->windowIcon().isNull());
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
    window->showMinimized();
    // A quarter of a second in the task bar, then only the tray icon is left.
    QTest::qWait(100);
    QVERIFY(window->isVisible());
    QTRY_VERIFY(!window->isVisible());
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
    emit tray()->messageClicked();
    QTRY_VERIFY(!window->isVisible());
    emit tray()->messageClicked();
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
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
    // "E&xit" in the File menu goes through the same question.
    window->findChild<QAction *>("actionExit")->trigger();

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

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
