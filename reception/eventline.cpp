#include "eventline.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <limits>

namespace EventLine {

namespace {

// A record text up to its NUL, but never past the end of its field: a record that lacks
// the NUL must not make us read the neighbouring fields or beyond the record.
template <size_t N> QByteArray fieldText(const char (&field)[N])
{
    return QByteArray(field, int(qstrnlen(field, N)));
}

// The formatter reads every %s argument as UTF-8; the record's bytes go in unchanged.
#define TXT(field) fieldText(record.field).constData()
#define SENDER (sender ? QByteArray(sender) : fieldText(record.sender)).constData()

// Any host that can send us a datagram must not get to drive the terminal of someone who
// follows the log (tail -f): escape sequences could rewrite earlier output, set the title,
// write the clipboard or plant links. Every C0 control but TAB, CR and LF, DEL and the C1
// controls become "?", as characters outside Latin-1 do. NUL never gets this far.
QString withoutControls(QString text)
{
    const auto isControl = [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != '\t' && u != '\r' && u != '\n') || (u >= 0x7f && u <= 0x9f);
    };
    const auto first = std::find_if(text.cbegin(), text.cend(), isControl);
    if (first == text.cend())
        return text;
    // Only now a copy of our own: most texts hold no control at all.
    std::replace_if(text.begin() + (first - text.cbegin()), text.end(), isControl, QChar(u'?'));
    return text;
}

} // namespace

QString unknownTrapText(const UnknownTrapRecord &record)
{
    return withoutControls(
        QString::asprintf(";;;;;7;;;%s;%u;;Unknown SNMP trap", TXT(sender), unsigned(record.uptime)));
}

QString startupTrapText(const ShortTrapRecord &record, const char *sender)
{
    return withoutControls(QString::asprintf(";;;;;6;;;%s;%u;;Startup SNMP trap", SENDER, unsigned(record.uptime)));
}

QString linkupTrapText(const ShortTrapRecord &record, const char *sender)
{
    return withoutControls(QString::asprintf(";;;;;5;;;%s;%u;;Linkup SNMP trap", SENDER, unsigned(record.uptime)));
}

QString binaryInputTrapText(const BinaryInputTrapRecord &record, const char *sender)
{
    return withoutControls(QString::asprintf("%s;%s;%s;;%s;1;%u;;%s;%u;%s;Binary input change SNMP trap",
                                             TXT(deviceName), TXT(channelName), TXT(inputValue), TXT(channelState),
                                             unsigned(record.channelIndex), SENDER, unsigned(record.uptime), TXT(mac)));
}

QString sensorTrapText(const SensorTrapRecord &record, const char *sender)
{
    const QByteArray value = sensorValueText(record.value).toLatin1();
    return withoutControls(QString::asprintf("%s;%s;%s;%s;%s;2;%u;;%s;%u;%s;Sensor change SNMP trap", TXT(deviceName),
                                             TXT(channelName), value.constData(), TXT(unit), TXT(channelState),
                                             unsigned(record.channelIndex), SENDER, unsigned(record.uptime), TXT(mac)));
}

QString alarmTrapText(const AlarmTrapRecord &record, int *code)
{
    // Exact, case-sensitive names: a name that merely starts with one of them is "other".
    const QByteArray name = fieldText(record.alarmName);
    unsigned typeCode = 0;
    const char *description = "Alarm SNMP trap";
    if (name == "inputStateAlarm") {
        typeCode = 3;
        description = "Binary input alarm SNMP trap";
    } else if (name == "temperatureOutOfRange") {
        typeCode = 4;
        description = "Sensor alarm SNMP trap";
    }
    if (code)
        *code = int(typeCode);
    return withoutControls(QString::asprintf("%s;;;;%s;%u;%u;%u;%s;%u;%s;%s", TXT(deviceName),
                                             record.alarmState == 3 ? "begin" : "end", typeCode,
                                             unsigned(record.channelIndex), unsigned(record.alarmId), TXT(sender),
                                             unsigned(record.uptime), TXT(mac), description));
}

#undef SENDER
#undef TXT

QString sensorValueText(qint32 tenths)
{
    // Unsigned magnitude, so that INT32_MIN has one too.
    const quint32 magnitude = tenths < 0 ? 0u - quint32(tenths) : quint32(tenths);
    return QString::asprintf("%s%u.%u", tenths < 0 ? "-" : "", unsigned(magnitude / 10), unsigned(magnitude % 10));
}

// Formatting a date or a time costs more than the rest of a line, and a burst brings
// thousands of lines within the same second: each keeps the last text it made.
QString dateText(const QDate &date)
{
    thread_local QDate lastDate;
    thread_local QString lastText;
    if (date != lastDate || !date.isValid()) {
        lastText = QLocale::system().toString(date, QLocale::ShortFormat);
        lastDate = date;
    }
    return lastText;
}

QString timeText(const QTime &time)
{
    thread_local int lastSecond = -1;
    thread_local QString lastText;
    const int second = time.isValid() ? time.msecsSinceStartOfDay() / 1000 : -1;
    if (second != lastSecond || second < 0) {
        lastText = time.toString(u"hh:mm:ss");
        lastSecond = second;
    }
    return lastText;
}

// Each piece goes to Latin-1 ("?" for what it cannot hold) and the formatter reads the
// bytes back as UTF-8, so non-ASCII Latin-1 characters come out as U+FFFD in the view
// and as "?" in the file. Other programs already see the log that way; keep it.
QString snmpLine(const QString &eventText, const QTime &time, const QDate &date)
{
    const QByteArray timeBytes = timeText(time).toLatin1();
    const QByteArray dateBytes = dateText(date).toLatin1();
    const QByteArray eventBytes = eventText.toLatin1();
    return QString::asprintf("%s;%s;%s", dateBytes.constData(), timeBytes.constData(), eventBytes.constData());
}

QString snmpLine(const QString &eventText, qint64 msecsSinceEpoch)
{
    // The conversion to local time changes once a second at most.
    thread_local qint64 lastSecond = std::numeric_limits<qint64>::min();
    thread_local QDateTime local;
    const qint64 second = msecsSinceEpoch / 1000;
    if (second != lastSecond) {
        local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        lastSecond = second;
    }
    return snmpLine(eventText, local.time(), local.date());
}

namespace {

// Everything of a syslog line before the message, formatted as the SNMP lines' columns.
QString syslogPrefix(const QTime &time, const QDate &date)
{
    const QByteArray timeBytes = timeText(time).toLatin1();
    const QByteArray dateBytes = dateText(date).toLatin1();
    return QString::asprintf("%s;%s;;;;;;8;;;;;", dateBytes.constData(), timeBytes.constData());
}

// The message up to the datagram's first NUL, read as UTF-8 as the formatter reads it.
QString messageText(const QByteArray &datagram)
{
    return withoutControls(QString::fromUtf8(datagram.constData()));
}

} // namespace

QString syslogLine(const QByteArray &datagram, const QTime &time, const QDate &date)
{
    return syslogPrefix(time, date) + messageText(datagram);
}

QString syslogLine(const QByteArray &datagram, qint64 msecsSinceEpoch)
{
    // The conversion to local time and the columns before the message change once a
    // second at most; a burst brings thousands of lines within one.
    thread_local qint64 lastSecond = std::numeric_limits<qint64>::min();
    thread_local QString prefix;
    const qint64 second = msecsSinceEpoch / 1000;
    if (second != lastSecond) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        prefix = syslogPrefix(local.time(), local.date());
        lastSecond = second;
    }
    return prefix + messageText(datagram);
}

QByteArray toLogBytes(const QString &line)
{
    return line.toLatin1();
}

} // namespace EventLine
