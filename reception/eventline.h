#pragma once

#include "nrvapi.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>

// The event line: semicolon-separated columns, no quoting or escaping. An SNMP line is
// date;time;event text (14 columns), a syslog line has 13. The event text (columns 3 to
// 14) is built by the trap callbacks from the library's records; the date and time are
// put in front when the line is recorded on the GUI thread.
namespace EventLine {

// Event texts, one per record kind. Record texts are read as UTF-8 up to their NUL, and
// never past the end of their field. In record texts and syslog messages, control
// characters other than TAB, CR and LF (C0, DEL, C1) become "?". A sender given
// (nrvCallbackSender(): an IPv6 address may not fit the record's 16 bytes) is shown in
// place of the record's.
QString unknownTrapText(const UnknownTrapRecord &record);
QString startupTrapText(const ShortTrapRecord &record, const char *sender = nullptr);
QString linkupTrapText(const ShortTrapRecord &record, const char *sender = nullptr);
QString binaryInputTrapText(const BinaryInputTrapRecord &record, const char *sender = nullptr);
QString sensorTrapText(const SensorTrapRecord &record, const char *sender = nullptr);
// Also tells the alarm's event type code (0, 3 or 4) when code is given.
QString alarmTrapText(const AlarmTrapRecord &record, int *code = nullptr);

// Tenths as "23.5", "-0.5", "0.0".
QString sensorValueText(qint32 tenths);

// Column 1 and 2: the system locale's short date and hh:mm:ss.
QString dateText(const QDate &date);
QString timeText(const QTime &time);

// date;time;eventText, after the Latin-1 round trip of each piece ("?" for what
// Latin-1 cannot hold).
QString snmpLine(const QString &eventText, const QTime &time, const QDate &date);
// The same with the local date and time of one instant.
QString snmpLine(const QString &eventText, qint64 msecsSinceEpoch);
// date;time;;;;;;8;;;;;message, the message being the datagram up to its first NUL.
QString syslogLine(const QByteArray &datagram, const QTime &time, const QDate &date);
// The same with the local date and time of one instant.
QString syslogLine(const QByteArray &datagram, qint64 msecsSinceEpoch);

// The 8-bit bytes written to the log file.
QByteArray toLogBytes(const QString &line);

} // namespace EventLine
