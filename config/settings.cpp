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

// The on/off keys and their fields.
struct Flag {
    const char *key;
    bool TSettings::*field;
};
const Flag kFlags[] = {
    {"AutoStart", &TSettings::AutoStart},         {"minimizeStart", &TSettings::minimizeStart},
    {"SnmpEnable", &TSettings::SnmpEnable},       {"SyslogEnable", &TSettings::SyslogEnable},
    {"InputsEnable", &TSettings::InputsEnable},   {"SensorsEnable", &TSettings::SensorsEnable},
    {"LinkupEnable", &TSettings::LinkupEnable},   {"StartupEnable", &TSettings::StartupEnable},
    {"AlarmsEnable", &TSettings::AlarmsEnable},   {"UnknownEnable", &TSettings::UnknownEnable},
    {"BalloonEnable", &TSettings::BalloonEnable},
};

} // namespace

void loadSettings(TSettings &s)
{
    const TSettings defaults;
    QSettings settings;
    s.SnmpPort = intValue(settings, "SnmpPort", defaults.SnmpPort);
    s.SyslogPort = intValue(settings, "SyslogPort", defaults.SyslogPort);
    for (const Flag &flag : kFlags)
        s.*flag.field = settings.value(flag.key, defaults.*flag.field).toBool();
    s.DataDir = settings.value("DataDir", defaults.DataDir).toString();
    s.DataFile = settings.value("DataFile", defaults.DataFile).toString();
    // A blank folder would put the log at the file system's root, a blank name would make
    // the log a folder that never opens; the settings dialog never stores either.
    if (s.DataDir.trimmed().isEmpty())
        s.DataDir = defaults.DataDir;
    if (s.DataFile.trimmed().isEmpty())
        s.DataFile = defaults.DataFile;

    if (!QDir(s.DataDir).exists())
        QDir().mkpath(s.DataDir);
}

void saveSettings(const TSettings &s)
{
    QSettings settings;
    settings.setValue("SnmpPort", s.SnmpPort);
    settings.setValue("SyslogPort", s.SyslogPort);
    for (const Flag &flag : kFlags)
        settings.setValue(flag.key, s.*flag.field);
    settings.setValue("DataDir", s.DataDir);
    settings.setValue("DataFile", s.DataFile);
    settings.sync();
}
