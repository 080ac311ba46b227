#pragma once

#include <QString>

// The documents folder + Norvane + Ventrix, with native separators.
QString defaultDataDir();

// Every configuration value of the program, one field per settings key, in the order
// in which they are loaded and saved. The main window holds it by value and every part
// of the program reads it directly. The initialisers are the defaults, the one place
// that holds them.
struct TSettings {
    int SnmpPort = 162;
    int SyslogPort = 514;
    bool AutoStart = false;
    bool minimizeStart = false;
    bool SnmpEnable = true;
    bool SyslogEnable = true;
    bool InputsEnable = true;
    bool SensorsEnable = true;
    bool LinkupEnable = true;
    bool StartupEnable = true;
    bool AlarmsEnable = true;
    bool UnknownEnable = false;
    QString DataDir = defaultDataDir();
    QString DataFile = QStringLiteral("log.txt");
    bool BalloonEnable = true;
};

// Reads every key from the settings file (defaults for missing keys) and creates the
// data folder when it does not exist. The application identity and the INI default
// format must be set before.
void loadSettings(TSettings &settings);

// Writes every key and flushes the file to disk before returning.
void saveSettings(const TSettings &settings);
