#include "eventline.h"

#include <QProcess>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

using TextBuilder = std::function<QString()>;
Q_DECLARE_METATYPE(TextBuilder)

namespace {

template <size_t N> void setText(char (&field)[N], const char *text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text, std::min(std::strlen(text), N - 1));
}

BinaryInputTrapRecord binaryInput()
{
    BinaryInputTrapRecord r = {};
    setText(r.sender, "10.0.0.9");
    setText(r.mac, "00:11:22:33:44:55");
    setText(r.deviceName, "Rack A");
    r.uptime = 100;
    r.channelIndex = 3;
    setText(r.channelName, "Door");
    setText(r.inputValue, "1");
    setText(r.channelState, "open");
    return r;
}

SensorTrapRecord sensor()
{
    SensorTrapRecord r = {};
    setText(r.sender, "10.0.0.3");
    setText(r.mac, "aa:bb:cc:dd:ee:ff");
    setText(r.deviceName, "Cold room");
    r.uptime = 555;
    r.channelIndex = 4;
    r.value = -15;
    setText(r.channelName, "Temp");
    setText(r.channelState, "normal");
    setText(r.unit, "\xc2\xb0"
                    "C");
    return r;
}

AlarmTrapRecord alarm(const char *name, quint32 state)
{
    AlarmTrapRecord r = {};
    setText(r.sender, "10.0.0.9");
    setText(r.mac, "00:11:22:33:44:55");
    setText(r.deviceName, "Rack A");
    r.uptime = 999;
    r.alarmState = state;
    r.channelIndex = 7;
    r.alarmId = 12;
    setText(r.alarmName, name);
    return r;
}

const QDate someDate(2024, 3, 9);
const QTime someTime(7, 5, 3, 999);

} // namespace

class TestEventLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void trapTexts_data();
    void trapTexts();
    void sensorValue_data();
    void sensorValue();
    void alarmKinds_data();
    void alarmKinds();
    void snmpLine_data();
    void snmpLine();
    void syslogLine_data();
    void syslogLine();
    void dateFollowsSystemLocale_data();
    void dateFollowsSystemLocale();
};

void TestEventLine::initTestCase()
{
    // The golden lines carry the C locale's short date; ctest runs every suite in it.
    QVERIFY2(QLocale::system().name() == QLatin1String("C"),
             qPrintable("run with LC_ALL=C.UTF-8, not " + QLocale::system().name()));
}

void TestEventLine::trapTexts_data()
{
    QTest::addColumn<TextBuilder>("build");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("columns");

    QTest::newRow("unknown") << TextBuilder([] {
        UnknownTrapRecord r = {};
        setText(r.sender, "10.0.0.5 enterprises.99.0.1");
        r.uptime = 4242;
        return EventLine::unknownTrapText(r);
    }) << ";;;;;7;;;10.0.0.5 enterprises.99.0.1;4242;;Unknown SNMP trap"
                             << 14;
    QTest::newRow("unknown, empty") << TextBuilder([] { return EventLine::unknownTrapText(UnknownTrapRecord{}); })
                                    << ";;;;;7;;;;0;;Unknown SNMP trap" << 14;
    QTest::newRow("startup") << TextBuilder([] {
        ShortTrapRecord r = {};
        setText(r.sender, "10.0.0.7");
        r.uptime = 123;
        return EventLine::startupTrapText(r);
    }) << ";;;;;6;;;10.0.0.7;123;;Startup SNMP trap"
                             << 14;
    QTest::newRow("linkup, largest number") << TextBuilder([] {
        ShortTrapRecord r = {};
        setText(r.sender, "10.0.0.7");
        r.uptime = 4294967295u;
        return EventLine::linkupTrapText(r);
    }) << ";;;;;5;;;10.0.0.7;4294967295;;Linkup SNMP trap"
                                            << 14;
    QTest::newRow("binary input") << TextBuilder([] { return EventLine::binaryInputTrapText(binaryInput()); })
                                  << "Rack A;Door;1;;open;1;3;;10.0.0.9;100;00:11:22:33:44:55;"
                                     "Binary input change SNMP trap"
                                  << 14;
    QTest::newRow("binary input, empty") << TextBuilder(
                                                [] { return EventLine::binaryInputTrapText(BinaryInputTrapRecord{}); })
                                         << ";;;;;1;0;;;0;;Binary input change SNMP trap" << 14;
    QTest::newRow("binary input, ';' in a text") << TextBuilder([] {
        BinaryInputTrapRecord r = binaryInput();
        setText(r.deviceName, "Rack;A");
        return EventLine::binaryInputTrapText(r);
    }) << "Rack;A;Door;1;;open;1;3;;10.0.0.9;100;00:11:22:33:44:55;Binary input change SNMP trap"
                                                 << 15;
    QTest::newRow("binary input, field without NUL") << TextBuilder([] {
        BinaryInputTrapRecord r = binaryInput();
        std::memset(r.deviceName, 'x', sizeof r.deviceName);
        return EventLine::binaryInputTrapText(r);
    }) << QString(130, 'x') + ";Door;1;;open;1;3;;10.0.0.9;100;00:11:22:33:44:55;Binary input change SNMP trap"
                                                     << 14;
    QTest::newRow("binary input, last field without NUL") << TextBuilder([] {
        // On the heap at its exact size, so that reading past the record is caught.
        auto r = std::make_unique<BinaryInputTrapRecord>(binaryInput());
        std::memset(r->channelState, 'z', sizeof r->channelState);
        return EventLine::binaryInputTrapText(*r);
    }) << "Rack A;Door;1;;" + QString(100, 'z') + ";1;3;;10.0.0.9;100;00:11:22:33:44:55;Binary input change SNMP trap"
                                                          << 14;
    QTest::newRow("binary input, invalid UTF-8") << TextBuilder([] {
        BinaryInputTrapRecord r = binaryInput();
        setText(r.channelName, "D\xff");
        return EventLine::binaryInputTrapText(r);
    }) << QString::fromUtf8("Rack A;D\uFFFD;1;;open;1;3;;10.0.0.9;100;00:11:22:33:44:55;Binary input change SNMP trap")
                                                 << 14;
    // Controls from the network reach no terminal that follows the log: every field alike.
    QTest::newRow("sensor, controls") << TextBuilder([] {
        SensorTrapRecord r = sensor();
        setText(r.deviceName, "\x1b]52;c;eA==\x07"
                              "Cold\troom");
        setText(r.unit, "\x7f\xc2\x9b"
                        "C");
        setText(r.mac, "\xc2\x85\r\n");
        return EventLine::sensorTrapText(r);
    }) << "?]52;c;eA==?Cold\troom;Temp;-1.5;??C;normal;2;4;;10.0.0.3;555;?\r\n;Sensor change SNMP trap"
                                      << 16;
    QTest::newRow("sensor") << TextBuilder([] { return EventLine::sensorTrapText(sensor()); })
                            << QString::fromUtf8("Cold room;Temp;-1.5;\u00b0C;normal;2;4;;10.0.0.3;555;"
                                                 "aa:bb:cc:dd:ee:ff;Sensor change SNMP trap")
                            << 14;
    QTest::newRow("sensor, empty") << TextBuilder([] { return EventLine::sensorTrapText(SensorTrapRecord{}); })
                                   << ";;0.0;;;2;0;;;0;;Sensor change SNMP trap" << 14;
    QTest::newRow("alarm") << TextBuilder([] { return EventLine::alarmTrapText(alarm("inputStateAlarm", 3)); })
                           << "Rack A;;;;begin;3;7;12;10.0.0.9;999;00:11:22:33:44:55;Binary input alarm SNMP trap"
                           << 14;
    QTest::newRow("alarm, empty") << TextBuilder([] { return EventLine::alarmTrapText(AlarmTrapRecord{}); })
                                  << ";;;;end;0;0;0;;0;;Alarm SNMP trap" << 14;
    QTest::newRow("alarm, name without NUL") << TextBuilder([] {
        auto r = std::make_unique<AlarmTrapRecord>(alarm("", 3));
        std::memset(r->alarmName, 'n', sizeof r->alarmName);
        return EventLine::alarmTrapText(*r);
    }) << "Rack A;;;;begin;0;7;12;10.0.0.9;999;00:11:22:33:44:55;Alarm SNMP trap"
                                             << 14;
}

void TestEventLine::trapTexts()
{
    QFETCH(TextBuilder, build);
    QFETCH(QString, expected);
    QFETCH(int, columns);

    const QString text = build();
    QCOMPARE(text, expected);
    const QString line = EventLine::snmpLine(text, someTime, someDate);
    QCOMPARE(line.count(';') + 1, columns);
}

void TestEventLine::sensorValue_data()
{
    QTest::addColumn<qint32>("tenths");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0 << "0.0";
    QTest::newRow("7") << 7 << "0.7";
    QTest::newRow("-7") << -7 << "-0.7";
    QTest::newRow("-10") << -10 << "-1.0";
    QTest::newRow("-5") << -5 << "-0.5";
    QTest::newRow("-15") << -15 << "-1.5";
    QTest::newRow("100") << 100 << "10.0";
    QTest::newRow("235") << 235 << "23.5";
    QTest::newRow("INT32_MAX") << std::numeric_limits<qint32>::max() << "214748364.7";
    QTest::newRow("INT32_MIN") << std::numeric_limits<qint32>::min() << "-214748364.8";
}

void TestEventLine::sensorValue()
{
    QFETCH(qint32, tenths);
    QFETCH(QString, expected);

    QCOMPARE(EventLine::sensorValueText(tenths), expected);
    SensorTrapRecord r = sensor();
    r.value = tenths;
    QCOMPARE(EventLine::sensorTrapText(r).section(';', 2, 2), expected);
}

void TestEventLine::alarmKinds_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<quint32>("state");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("stateText");
    QTest::addColumn<QString>("description");

    QTest::newRow("input alarm begins") << QByteArray("inputStateAlarm") << 3u << 3 << "begin"
                                        << "Binary input alarm SNMP trap";
    QTest::newRow("input alarm ends") << QByteArray("inputStateAlarm") << 4u << 3 << "end"
                                      << "Binary input alarm SNMP trap";
    QTest::newRow("sensor alarm") << QByteArray("temperatureOutOfRange") << 0u << 4 << "end"
                                  << "Sensor alarm SNMP trap";
    QTest::newRow("state 1") << QByteArray("other") << 1u << 0 << "end"
                             << "Alarm SNMP trap";
    QTest::newRow("state 2") << QByteArray("other") << 2u << 0 << "end"
                             << "Alarm SNMP trap";
    QTest::newRow("longer name") << QByteArray("inputStateAlarmX") << 3u << 0 << "begin"
                                 << "Alarm SNMP trap";
    QTest::newRow("shorter name") << QByteArray("inputStateAlar") << 3u << 0 << "begin"
                                  << "Alarm SNMP trap";
    QTest::newRow("other case") << QByteArray("TemperatureOutOfRange") << 3u << 0 << "begin"
                                << "Alarm SNMP trap";
    QTest::newRow("empty name") << QByteArray() << 3u << 0 << "begin"
                                << "Alarm SNMP trap";
}

void TestEventLine::alarmKinds()
{
    QFETCH(QByteArray, name);
    QFETCH(quint32, state);
    QFETCH(int, code);
    QFETCH(QString, stateText);
    QFETCH(QString, description);

    int reported = -1;
    const QStringList columns = EventLine::alarmTrapText(alarm(name.constData(), state), &reported).split(';');
    QCOMPARE(columns.size(), 12);
    QCOMPARE(reported, code);
    QCOMPARE(columns.at(4), stateText);
    QCOMPARE(columns.at(5), QString::number(code));
    QCOMPARE(columns.at(11), description);
}

void TestEventLine::snmpLine_data()
{
    QTest::addColumn<QString>("eventText");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("logBytes");

    QTest::newRow("ASCII") << ";;;;;6;;;10.0.0.7;123;;Startup SNMP trap" << someTime
                           << "9 Mar 2024;07:05:03;;;;;;6;;;10.0.0.7;123;;Startup SNMP trap"
                           << QByteArray("9 Mar 2024;07:05:03;;;;;;6;;;10.0.0.7;123;;Startup SNMP trap");
    QTest::newRow("empty event text") << QString() << QTime(0, 0) << "9 Mar 2024;00:00:00;"
                                      << QByteArray("9 Mar 2024;00:00:00;");
    QTest::newRow("last second of the day")
        << "x" << QTime(23, 59, 59, 999) << "9 Mar 2024;23:59:59;x" << QByteArray("9 Mar 2024;23:59:59;x");
    // Outside Latin-1: "?" before the formatter sees it.
    QTest::newRow("non-Latin-1") << QString::fromUtf8("Lager \u20ac") << someTime << "9 Mar 2024;07:05:03;Lager ?"
                                 << QByteArray("9 Mar 2024;07:05:03;Lager ?");
    // Inside Latin-1 but not ASCII: one byte that is no UTF-8 of its own.
    QTest::newRow("Latin-1") << QString::fromUtf8("Ger\u00e4t 5\u00b0C") << someTime
                             << QString::fromUtf8("9 Mar 2024;07:05:03;Ger\uFFFDt 5\uFFFDC")
                             << QByteArray("9 Mar 2024;07:05:03;Ger?t 5?C");
}

void TestEventLine::snmpLine()
{
    QFETCH(QString, eventText);
    QFETCH(QTime, time);
    QFETCH(QString, line);
    QFETCH(QByteArray, logBytes);

    const QString formatted = EventLine::snmpLine(eventText, time, someDate);
    QCOMPARE(formatted, line);
    QCOMPARE(EventLine::toLogBytes(formatted), logBytes);
}

void TestEventLine::syslogLine_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("logMessage");
    QTest::addColumn<int>("columns");

    QTest::newRow("BSD form") << QByteArray("<13>Mar  9 07:05:03 host app: disk full")
                              << "<13>Mar  9 07:05:03 host app: disk full"
                              << QByteArray("<13>Mar  9 07:05:03 host app: disk full") << 13;
    QTest::newRow("empty") << QByteArray() << QString() << QByteArray() << 13;
    QTest::newRow("';' inside") << QByteArray("a;b") << "a;b" << QByteArray("a;b") << 14;
    QTest::newRow("CR LF kept") << QByteArray("one\r\ntwo\n") << "one\r\ntwo\n" << QByteArray("one\r\ntwo\n") << 13;
    QTest::newRow("NUL in the middle") << QByteArray("abc\0def", 7) << "abc" << QByteArray("abc") << 13;
    QTest::newRow("NUL first") << QByteArray("\0def", 4) << QString() << QByteArray() << 13;
    QTest::newRow("UTF-8") << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                         "e")
                           << QString::fromUtf8("Gr\u00fc\u00dfe")
                           << QByteArray("Gr\xfc\xdf"
                                         "e")
                           << 13;
    QTest::newRow("beyond Latin-1") << QByteArray("\xe2\x82\xac 5") << QString::fromUtf8("\u20ac 5")
                                    << QByteArray("? 5") << 13;
    // What a terminal would act on becomes "?"; TAB, CR and LF stay.
    QTest::newRow("C0 controls") << QByteArray("\x1b[2J\x07\x01\x1f\ta") << "?[2J???\ta" << QByteArray("?[2J???\ta")
                                 << 13;
    QTest::newRow("DEL") << QByteArray("a\x7f") << "a?" << QByteArray("a?") << 13;
    QTest::newRow("C1 controls") << QByteArray("\xc2\x80\xc2\x9b"
                                               "31m\xc2\x9d"
                                               "8;;x\xc2\x9f\xc2\xa0")
                                 << QString::fromUtf8("??31m?8;;x?\u00a0") << QByteArray("??31m?8;;x?\xa0") << 15;
    QTest::newRow("invalid UTF-8") << QByteArray("\xff!") << QString::fromUtf8("\uFFFD!") << QByteArray("?!") << 13;
}

void TestEventLine::syslogLine()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, message);
    QFETCH(QByteArray, logMessage);
    QFETCH(int, columns);

    const QString line = EventLine::syslogLine(datagram, someTime, someDate);
    QCOMPARE(line, "9 Mar 2024;07:05:03;;;;;;8;;;;;" + message);
    QCOMPARE(EventLine::toLogBytes(line), "9 Mar 2024;07:05:03;;;;;;8;;;;;" + logMessage);
    QCOMPARE(line.count(';') + 1, columns);
}

void TestEventLine::dateFollowsSystemLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("C") << "C.UTF-8"
                       << "9 Mar 2024";
    QTest::newRow("German") << "de_DE.UTF-8"
                            << "09.03.24";
    QTest::newRow("US English") << "en_US.UTF-8"
                                << "3/9/24";
}

void TestEventLine::dateFollowsSystemLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);

    // The system locale is fixed for the life of a process: ask a fresh one.
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    helper.setProcessEnvironment(env);
    helper.start(EVENTLOG_HELPER, {"date", "2024-03-09"});
    QVERIFY2(helper.waitForFinished(), qPrintable(helper.errorString()));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(helper.readAllStandardOutput()).trimmed(), expected);
}

QTEST_GUILESS_MAIN(TestEventLine)
#include "tst_eventline.moc"
