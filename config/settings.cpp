#include "settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <limits>

QString defaultDataDir()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir::toNativeSeparators(documents + QDir::separator() + "Norvane" + QDir::separator() + "Ventrix");
}

namespace {

// QVariant's text-to-int conversion keeps the low 32 bits of a larger number, so that
// "4294967809" would read as port 513. A number that does not fit is no number: 0.
int intValue(const QSettings &settings, const char *key, int fallback)
{
    bool ok = false;
    const qlonglong value = settings.value(key, fallback).toLongLong(&ok);
    return ok && value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max() ? int(value) : 0;
}

} // namespace

void loadSettings(TSettings &s)
{
    QSettings settings;
    s.SnmpPort = intValue(settings, "SnmpPort", 162);
    s.SyslogPort = intValue(settings, "SyslogPort", 514);
    s.AutoStart = settings.value("AutoStart", 0).toBool();
    s.minimizeStart = settings.value("minimizeStart", 0).toBool();
    s.SnmpEnable = settings.value("SnmpEnable", 1).toBool();
    s.SyslogEnable = settings.value("SyslogEnable", 1).toBool();
    s.InputsEnable = settings.value("InputsEnable", 1).toBool();
    s.SensorsEnable = settings.value("SensorsEnable", 1).toBool();
    s.LinkupEnable = settings.value("LinkupEnable", 1).toBool();
    s.StartupEnable = settings.value("StartupEnable", 1).toBool();
    s.AlarmsEnable = settings.value("AlarmsEnable", 1).toBool();
    s.UnknownEnable = settings.value("UnknownEnable", 0).toBool();
    const QString dataDir = defaultDataDir();
    s.DataDir = settings.value("DataDir", dataDir).toString();
    s.DataFile = settings.value("DataFile", "log.txt").toString();
    // A blank folder would put the log at the file system's root, a blank name would make
    // the log a folder that never opens; the settings dialog never stores either.
    if (s.DataDir.trimmed().isEmpty())
        s.DataDir = dataDir;
    if (s.DataFile.trimmed().isEmpty())
        s.DataFile = "log.txt";
    s.BalloonEnable = settings.value("BalloonEnable", 1).toBool();

    if (!QDir(s.DataDir).exists())
        QDir().mkpath(s.DataDir);
}

void saveSettings(const TSettings &s)
{
    QSettings settings;
    settings.setValue("SnmpPort", s.SnmpPort);
    settings.setValue("SyslogPort", s.SyslogPort);
    settings.setValue("AutoStart", s.AutoStart);
    settings.setValue("minimizeStart", s.minimizeStart);
    settings.setValue("SnmpEnable", s.SnmpEnable);
    settings.setValue("SyslogEnable", s.SyslogEnable);
    settings.setValue("InputsEnable", s.InputsEnable);
    settings.setValue("SensorsEnable", s.SensorsEnable);
    settings.setValue("LinkupEnable", s.LinkupEnable);
    settings.setValue("StartupEnable", s.StartupEnable);
    settings.setValue("AlarmsEnable", s.AlarmsEnable);
    settings.setValue("UnknownEnable", s.UnknownEnable);
    settings.setValue("DataDir", s.DataDir);
    settings.setValue("DataFile", s.DataFile);
    settings.setValue("BalloonEnable", s.BalloonEnable);
    settings.sync();
}
