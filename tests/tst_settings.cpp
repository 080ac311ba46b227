#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The record as key -> value, so that tables can name a setting by its key.
QVariantMap values(const TSettings &s)
{
    return {
        {"SnmpPort", s.SnmpPort},
        {"SyslogPort", s.SyslogPort},
        {"AutoStart", s.AutoStart},
        {"minimizeStart", s.minimizeStart},
        {"SnmpEnable", s.SnmpEnable},
        {"SyslogEnable", s.SyslogEnable},
        {"InputsEnable", s.InputsEnable},
        {"SensorsEnable", s.SensorsEnable},
        {"LinkupEnable", s.LinkupEnable},
        {"StartupEnable", s.StartupEnable},
        {"AlarmsEnable", s.AlarmsEnable},
        {"UnknownEnable", s.UnknownEnable},
        {"DataDir", s.DataDir},
        {"DataFile", s.DataFile},
        {"BalloonEnable", s.BalloonEnable},
    };
}

QVariantMap defaults()
{
    return {
        {"SnmpPort", 162},
        {"SyslogPort", 514},
        {"AutoStart", false},
        {"minimizeStart", false},
        {"SnmpEnable", true},
        {"SyslogEnable", true},
        {"InputsEnable", true},
        {"SensorsEnable", true},
        {"LinkupEnable", true},
        {"StartupEnable", true},
        {"AlarmsEnable", true},
        {"UnknownEnable", false},
        {"DataDir", defaultDataDir()},
        {"DataFile", "log.txt"},
        {"BalloonEnable", true},
    };
}

QString iniPath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Norvane/Ventrix/Ventrix.ini";
}

void writeIni(const QByteArray &body)
{
    QVERIFY(QDir().mkpath(QFileInfo(iniPath()).path()));
    QFile f(iniPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[General]\n" + body);
}

void compareMaps(const QVariantMap &actual, const QVariantMap &expected)
{
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(actual.value(it.key()) == it.value(), qPrintable(it.key() + ": " + actual.value(it.key()).toString()));
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void missingFileGivesDefaults();
    void partialFile();
    void presentButEmpty_data();
    void presentButEmpty();
    void roundTrip_data();
    void roundTrip();
    void dataFolderCreatedWithParents();

private:
    QTemporaryDir tmp;
};

void TestSettings::initTestCase()
{
    // As the program's start-up does before any settings object exists.
    QCoreApplication::setOrganizationName("Norvane");
    QCoreApplication::setApplicationName("Ventrix/Ventrix");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QVERIFY(tmp.isValid());
    QVERIFY2(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty(), "run through the test wrapper");
    QCOMPARE(QSettings().fileName(), iniPath());
}

void TestSettings::init()
{
    QFile::remove(iniPath());
    QSettings().sync(); // let the settings cache see that the file is gone
}

void TestSettings::missingFileGivesDefaults()
{
    const QString documents = qEnvironmentVariable("HOME") + "/Documents";
    QCOMPARE(defaultDataDir(), documents + "/Norvane/Ventrix");
    QDir(documents + "/Norvane").removeRecursively();

    TSettings s;
    s.SnmpPort = 1;
    s.UnknownEnable = true;
    s.DataFile = "stale";
    loadSettings(s);
    compareMaps(values(s), defaults());
    compareMaps(values(TSettings()), defaults()); // the record's initialisers are the defaults
    QVERIFY(QFileInfo(defaultDataDir()).isDir());
    QVERIFY2(!QFile::exists(iniPath()), "loading must not write the defaults");
}

void TestSettings::partialFile()
{
    writeIni("SnmpPort=2162\nUnknownEnable=true\nDataFile=events.csv\n");
    TSettings s;
    loadSettings(s);
    QVariantMap expected = defaults();
    expected["SnmpPort"] = 2162;
    expected["UnknownEnable"] = true;
    expected["DataFile"] = "events.csv";
    compareMaps(values(s), expected);
}

void TestSettings::presentButEmpty_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QVariant>("expected");

    // An empty value is taken as it is; only a missing key falls back to the default,
    // except for the two texts, where blank would mean the root folder or no file.
    for (const char *key : {"SnmpPort", "SyslogPort"})
        QTest::addRow("%s empty", key) << key << QByteArray() << QVariant(0);
    for (const char *key : {"AutoStart", "minimizeStart", "SnmpEnable", "SyslogEnable", "InputsEnable", "SensorsEnable",
                            "LinkupEnable", "StartupEnable", "AlarmsEnable", "UnknownEnable", "BalloonEnable"})
        QTest::addRow("%s empty", key) << key << QByteArray() << QVariant(false);
    QTest::newRow("DataDir empty") << "DataDir" << QByteArray() << QVariant(defaultDataDir());
    QTest::newRow("DataDir blanks") << "DataDir" << QByteArray("\"  \"") << QVariant(defaultDataDir());
    QTest::newRow("DataFile empty") << "DataFile" << QByteArray() << QVariant("log.txt");
    QTest::newRow("SnmpPort not a number") << "SnmpPort" << QByteArray("abc") << QVariant(0);
}

void TestSettings::presentButEmpty()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, value);
    QFETCH(QVariant, expected);

    writeIni(key.toLatin1() + "=" + value + "\n");
    TSettings s;
    loadSettings(s);
    QVariantMap all = defaults();
    all[key] = expected;
    compareMaps(values(s), all);
}

void TestSettings::roundTrip_data()
{
    QTest::addColumn<bool>("changed");
    QTest::newRow("defaults") << false;
    QTest::newRow("every value changed") << true;
}

void TestSettings::roundTrip()
{
    QFETCH(bool, changed);

    TSettings s;
    loadSettings(s);
    if (changed) {
        s = TSettings{
            1162,         1514, true, true, false, false, false, false, false, false, false, true, tmp.filePath("data"),
            "events.csv", false};
    }
    saveSettings(s);
    QVERIFY(QFile::exists(iniPath()));

    // Every key is written, at the top level ([General]), spelt exactly so.
    QFile f(iniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QString("[General]"));
    const QVariantMap written = values(s);
    QCOMPARE(lines.size(), 1 + written.size());
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        const QString line = it.key() + "=" + it.value().toString();
        QVERIFY2(lines.contains(line), qPrintable(line));
    }

    TSettings back;
    loadSettings(back);
    compareMaps(values(back), written);
}

void TestSettings::dataFolderCreatedWithParents()
{
    const QString dir = tmp.filePath("one/two/three");
    writeIni("DataDir=" + dir.toUtf8() + "\n");
    TSettings s;
    loadSettings(s);
    QCOMPARE(s.DataDir, dir);
    QVERIFY(QFileInfo(dir).isDir());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
