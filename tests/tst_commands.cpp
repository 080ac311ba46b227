#include "mainwindow.h"
#include "nrvapi_fake.h"
#include "syslogintake.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTextBlock>
#include <QUdpSocket>

#include <memory>

// The window's commands, and the settings flow with its receiver restarts.

namespace {

int countOf(const QString &call)
{
    return NrvFake::count(call.toStdString());
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler("file", &urls, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }
    void init();
    void cleanup() { window.reset(); }

    void clearEventsKeepsTheFile();
    void viewKeepsEveryLineInOrder();
    void about();
    void missingTargets_data();
    void missingTargets();
    void existingTargetsOpenLocalFiles();
    void settingsWhileStoppedStartNothingAndSave();
    void settingsCancelledChangeNothing();
    void onlySnmpPortChanged();
    void onlySyslogPortChanged();
    void snmpNewlyDisabled();

private:
    void makeWindow();
    void startBoth();
    // Opens the settings dialog, lets edit() change it, and presses OK (or Cancel).
    void runSettings(std::function<void(QDialog *)> edit, bool accept = true);
    QAction *action(const char *name) const { return window->findChild<QAction *>(name); }
    QLabel *label(const char *name) const { return window->findChild<QLabel *>(name); }

    std::unique_ptr<TMainWindow> window;
    UrlCatcher urls;
    int snmpPort = 0;
    int syslogPort = 0;
    QString dataDir;
};

void TestCommands::init()
{
    NrvFake::reset();
    urls.urls.clear();
    snmpPort = freeUdpPort();
    syslogPort = freeUdpPort();
    dataDir = QDir::homePath() + "/data";
    QDir(dataDir).removeRecursively();
    writeSettingsFile(
        {{"SnmpPort", snmpPort}, {"SyslogPort", syslogPort}, {"BalloonEnable", false}, {"DataDir", dataDir}});
}

void TestCommands::makeWindow()
{
    window = std::make_unique<TMainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestCommands::startBoth()
{
    action("actionStartStop")->trigger();
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Recieving on UDP port " + QString::number(snmpPort));
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
}

void TestCommands::runSettings(std::function<void(QDialog *)> edit, bool accept)
{
    QCOMPARE(runSettingsDialog(action("actionSettings"), edit, accept), "Settings");
}

void TestCommands::clearEventsKeepsTheFile()
{
    makeWindow();
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    action("actionClear")->trigger(); // empty view: nothing visible happens
    QCOMPARE(view->toPlainText(), QString());

    QMetaObject::invokeMethod(window.get(), "onSnmp", Q_ARG(QString, "x;;;;;6;;;10.0.0.1;1;;Startup SNMP trap"),
                              Q_ARG(int, 3));
    QTRY_COMPARE(view->toPlainText().count("Startup SNMP trap"), 1);
    action("actionClear")->trigger();
    QCOMPARE(view->toPlainText(), QString());
    QFile log(dataDir + "/log.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("Startup SNMP trap\r\n"));

    QMetaObject::invokeMethod(window.get(), "onSnmp", Q_ARG(QString, "y;;;;;6;;;10.0.0.1;1;;Startup SNMP trap"),
                              Q_ARG(int, 3));
    QTRY_COMPARE(view->toPlainText().count("Startup SNMP trap"), 1);
}

void TestCommands::viewKeepsEveryLineInOrder()
{
    makeWindow();
    auto *view = window->findChild<QPlainTextEdit *>("plainTextEditLog");
    // Lines reach the view a turn of the event loop later, in batches; each is still a
    // paragraph of its own, in order, and a line feed inside one still breaks it.
    for (int i = 0; i < 500; ++i)
        QMetaObject::invokeMethod(window.get(), "onSnmp", Qt::QueuedConnection,
                                  Q_ARG(QString, QString("d%1;;;;;6;;;10.0.0.1;1;;Startup SNMP trap").arg(i)),
                                  Q_ARG(int, 3));
    QMetaObject::invokeMethod(window.get(), "onSnmp", Qt::QueuedConnection, Q_ARG(QString, "two\nparts"),
                              Q_ARG(int, 99));
    QTRY_COMPARE(view->blockCount(), 502);
    for (int i = 0; i < 500; ++i)
        QVERIFY(view->document()->findBlockByNumber(i).text().contains(QString(";d%1;").arg(i)));
    QVERIFY(view->document()->findBlockByNumber(500).text().endsWith(";two"));
    QCOMPARE(view->document()->findBlockByNumber(501).text(), "parts");
}

void TestCommands::about()
{
    makeWindow();
    SeenBox box;
    captureNextBox(&box);
    action("actionAbout")->trigger();
    QVERIFY(box.shown);
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.title, "About");
    const QString text = box.text;
    const QRegularExpression form(
        R"(^<b>Ventrix 1\.0\.1</b><br>Build: [A-Z][a-z]{2} [ \d]\d \d{4}, \d\d:\d\d:\d\d<br><br>)"
        R"([^<]+<br>[^<]+$)");
    QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
}

void TestCommands::missingTargets_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("sentence");
    QTest::addColumn<QString>("path");
    QTest::newRow("log file") << "actionLog"
                              << "Log file does not exist."
                              << "/log.txt";
    QTest::newRow("log folder") << "actionLogDir"
                                << "Log folder does not exist."
                                << "";
}

void TestCommands::missingTargets()
{
    QFETCH(QString, actionName);
    QFETCH(QString, sentence);
    QFETCH(QString, path);
    makeWindow();
    QDir(dataDir).removeRecursively(); // deleted while the program runs
    SeenBox box;
    captureNextBox(&box);
    action(qPrintable(actionName))->trigger();
    QVERIFY(box.shown);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, "Error");
    QCOMPARE(box.text, sentence + "<br><br>" + QDir::toNativeSeparators(dataDir) + QDir::toNativeSeparators(path));
    QVERIFY(urls.urls.isEmpty());
}

void TestCommands::existingTargetsOpenLocalFiles()
{
    makeWindow();
    QMetaObject::invokeMethod(window.get(), "onSnmp", Q_ARG(QString, "x;;;;;6;;;10.0.0.1;1;;Startup SNMP trap"),
                              Q_ARG(int, 3));
    // Stored with its frame, a moment later.
    QTRY_VERIFY(QFile::exists(dataDir + "/log.txt"));
    action("actionLog")->trigger();
    action("actionLogDir")->trigger();
    action("actionColDesc")->trigger();
    QCOMPARE(urls.urls.size(), 3);
    // Local files, named the way desktop handlers expect (no "file:////").
    QCOMPARE(urls.urls[0], QUrl::fromLocalFile(dataDir + "/log.txt"));
    QCOMPARE(urls.urls[1], QUrl::fromLocalFile(dataDir));
    QCOMPARE(urls.urls[2], QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/Readme.txt"));
    QVERIFY(!urls.urls[0].toString().startsWith("file:////"));
}

void TestCommands::settingsWhileStoppedStartNothingAndSave()
{
    makeWindow();
    QFile::remove(configFile());
    runSettings([](QDialog *) {});
    QCOMPARE(countOf("nrvStart(0.0.0.0," + QString::number(snmpPort) + ")"), 0);
    QCOMPARE(label("syslogStatusLabel")->text(), "Disabled");
    // Every key is written, changed or not.
    QSettings ini(configFile(), QSettings::IniFormat);
    QCOMPARE(ini.allKeys().size(), 15);
    QCOMPARE(ini.value("SnmpPort").toInt(), snmpPort);
    QVERIFY(ini.contains("minimizeStart"));
}

void TestCommands::settingsCancelledChangeNothing()
{
    makeWindow();
    QFile::remove(configFile());
    runSettings([](QDialog *dialog) { dialog->findChild<QLineEdit *>("lineEditSnmp")->setText("1234"); }, false);
    QVERIFY(!QFile::exists(configFile()));
    startBoth(); // still the old ports
}

void TestCommands::onlySnmpPortChanged()
{
    makeWindow();
    startBoth();
    const int newPort = freeUdpPort();
    runSettings(
        [&](QDialog *dialog) { dialog->findChild<QLineEdit *>("lineEditSnmp")->setText(QString::number(newPort)); });
    QCOMPARE(label("snmpStatusLabel")->text(), "Stopping...");
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
    QCOMPARE(countOf("nrvStop"), 1);
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Disabled");
    // Half a second after the stop has settled, the start on the new port.
    QTRY_COMPARE_WITH_TIMEOUT(countOf("nrvStart(0.0.0.0," + QString::number(newPort) + ")"), 1, 2000);
    QTRY_COMPARE(label("snmpStatusLabel")->text(), "Recieving on UDP port " + QString::number(newPort));
    QCOMPARE(QSettings(configFile(), QSettings::IniFormat).value("SnmpPort").toInt(), newPort);
}

// The syslog receiver restarts on its new port. Each stop, by the new port and then by the
// button, comes right after a burst: every datagram that arrived before it becomes a line,
// in order, before the lines of the next start.
void TestCommands::onlySyslogPortChanged()
{
    makeWindow();
    startBoth();
    const int newPort = freeUdpPort();
    QUdpSocket sender;
    const int burst = 10000;
    const auto send = [&](const char *name, int port) {
        for (int i = 0; i < burst; ++i)
            sender.writeDatagram(name + QByteArray::number(i), QHostAddress::LocalHost, quint16(port));
    };
    runSettings([&](QDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEditSyslog")->setText(QString::number(newPort));
        send("old port ", syslogPort);
    });
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(newPort));
    QCOMPARE(label("snmpStatusLabel")->text(), "Recieving on UDP port " + QString::number(snmpPort));
    QCOMPARE(countOf("nrvStop"), 0);
    QUdpSocket old;
    QVERIFY2(old.bind(QHostAddress::AnyIPv4, quint16(syslogPort)), "the old port was released");
    send("new port ", newPort);
    action("actionStartStop")->trigger();
    QCOMPARE(label("syslogStatusLabel")->text(), "Disabled");

    // What the system dropped with its buffer full is counted (the tool tip counts from the
    // last start).
    const auto *intake = window->findChild<TSyslogIntake *>();
    const auto lost = [intake] { return int(intake->kernelDropped() + intake->overflowed() + intake->abandoned()); };
    const auto messages = [this] {
        QFile log(dataDir + "/log.txt");
        QStringList all;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray &line : log.readAll().split('\n'))
                if (line.contains(" port "))
                    all << QString::fromLatin1(line.trimmed()).section(';', 12);
        return all;
    };
    const auto seen = [&] {
        return QString("%1 lines, view %2, tool tip \"%3\", data folder %4")
            .arg(messages().size())
            .arg(window->findChild<QPlainTextEdit *>("plainTextEditLog")->blockCount())
            .arg(label("syslogStatusLabel")->toolTip(), QDir(dataDir).entryList(QDir::Files).join(' '));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(messages().size() + lost() == 2 * burst, qPrintable(seen()), 20000);
    QStringList expected;
    for (const char *name : {"old port ", "new port "})
        for (int i = 0; i < burst; ++i)
            expected << name + QString::number(i);
    QStringList got = messages();
    QVERIFY2(lost() < burst / 10, qPrintable(label("syslogStatusLabel")->toolTip()));
    // In order: every line is the next one sent, or one after a gap the kernel made.
    for (const QString &line : got) {
        const qsizetype at = expected.indexOf(line);
        QVERIFY2(at >= 0, qPrintable(line));
        expected.remove(0, at + 1);
    }
}

void TestCommands::snmpNewlyDisabled()
{
    makeWindow();
    startBoth();
    runSettings([](QDialog *dialog) { dialog->findChild<QGroupBox *>("groupBoxSnmp")->setChecked(false); });
    QCOMPARE(countOf("nrvStop"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(label("snmpStatusLabel")->text(), "Disabled", 3000);
    QTest::qWait(800);
    QCOMPARE(countOf("nrvStart(0.0.0.0," + QString::number(snmpPort) + ")"), 1);
    QCOMPARE(label("syslogStatusLabel")->text(), "Recieving on UDP port " + QString::number(syslogPort));
    QVERIFY(action("actionStartStop")->isChecked());
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
