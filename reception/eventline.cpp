#include "eventline.h"

// Placeholder until the formats land.
namespace EventLine {
QString unknownTrapText(const UnknownTrapRecord &) { return {}; }
QString startupTrapText(const ShortTrapRecord &) { return {}; }
QString linkupTrapText(const ShortTrapRecord &) { return {}; }
QString binaryInputTrapText(const BinaryInputTrapRecord &) { return {}; }
QString sensorTrapText(const SensorTrapRecord &) { return {}; }
QString alarmTrapText(const AlarmTrapRecord &, int *) { return {}; }
QString sensorValueText(qint32) { return {}; }
QString dateText(const QDate &) { return {}; }
QString timeText(const QTime &) { return {}; }
QString snmpLine(const QString &e, const QTime &, const QDate &) { return e; }
QString syslogLine(const QByteArray &d, const QTime &, const QDate &) { return QString::fromUtf8(d); }
QByteArray toLogBytes(const QString &line) { return line.toLatin1(); }
} // namespace EventLine
