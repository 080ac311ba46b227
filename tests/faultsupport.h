#pragma once

#include "netsupport.h"

// The real program in a home of its own, numbered events from bench/flood.py, and the
// checks of what reached the log files: shared by the fault and hostile-input suites.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QUdpSocket>

namespace Faults {

inline int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts bench/flood.py: COUNT numbered events "<tag>-<seq>" from START at RATE a second.
inline void startFlood(QProcess &sender, const QString &kind, int port, int count, int rate, int start,
                       const QString &tag)
{
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start("python3", {VENTRIX_SOURCE_DIR "/bench/flood.py", kind, QString::number(port), QString::number(count),
                             "--rate", QString::number(rate), "--start", QString::number(start), "--tag", tag});
}

// The sequence numbers of tag's events in data, line by line.
inline QList<int> sequencesIn(const QByteArray &data, const QByteArray &tag)
{
    QList<int> seen;
    const QByteArray needle = tag + '-';
    for (const QByteArray &line : data.split('\n')) {
        const qsizetype at = line.indexOf(needle);
        if (at >= 0)
            seen << line.mid(at + needle.size(), 7).toInt();
    }
    return seen;
}

// The same for files, file after file.
inline QList<int> sequences(const QStringList &files, const QByteArray &tag)
{
    QList<int> seen;
    for (const QString &name : files)
        seen += sequencesIn(readAll(name), tag);
    return seen;
}

// Empty when seq is exactly first, first + 1, ... first + count - 1; otherwise what is wrong.
inline QString verdict(const QList<int> &seq, int first, int count)
{
    QSet<int> got;
    int duplicates = 0, disorder = 0, foreign = 0;
    for (qsizetype i = 0; i < seq.size(); ++i) {
        if (got.contains(seq[i]))
            ++duplicates;
        got.insert(seq[i]);
        if (i && seq[i] < seq[i - 1])
            ++disorder;
        if (seq[i] < first || seq[i] >= first + count)
            ++foreign;
    }
    QList<int> lost;
    for (int i = first; i < first + count; ++i)
        if (!got.contains(i))
            lost << i;
    if (lost.isEmpty() && !duplicates && !disorder && !foreign)
        return QString();
    return QString("lost %1 (first %2), duplicates %3, out of order %4, unexpected %5 of %6 lines")
        .arg(lost.size())
        .arg(lost.value(0, -1))
        .arg(duplicates)
        .arg(disorder)
        .arg(foreign)
        .arg(seq.size());
}

inline qint64 statusField(qint64 pid, const QByteArray &field)
{
    for (const QByteArray &line : readAll(QString("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The UDP ports the process has bound, from its descriptors and the kernel's socket table.
inline QSet<int> boundUdpPorts(qint64 pid)
{
    QSet<QByteArray> inodes;
    const QString fdDir = QString("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fdDir).entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fdDir + '/' + fd);
        if (target.contains("socket:["))
            inodes.insert(target.section('[', 1).section(']', 0, 0).toLatin1());
    }
    QSet<int> ports;
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        for (const QByteArray &line : readAll(table).split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 9 && inodes.contains(f[9]))
                ports.insert(f[1].mid(f[1].lastIndexOf(':') + 1).toInt(nullptr, 16));
        }
    }
    return ports;
}

// The real program, offscreen, with HOME, XDG folders and settings of its own below home.
class Program
{
public:
    explicit Program(const QString &home) : home(home)
    {
        QDir().mkpath(home + "/.config/Norvane/Ventrix");
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        snmpPort = freeUdpPort();
        syslogPort = freeUdpPort();
        dataDir = home + "/data";
    }
    ~Program() { stop(); }

    QString configFile() const { return home + "/.config/Norvane/Ventrix/Ventrix.ini"; }
    QString logFile() const { return dataDir + "/log.txt"; }
    QString queueFile() const { return dataDir + "/queue.tmp"; }

    // Receivers on our ports, started at launch, balloons off; extra keys on top.
    void writeSettings(const QVariantMap &extra = {})
    {
        QFile::remove(configFile());
        QSettings ini(configFile(), QSettings::IniFormat);
        ini.setValue("AutoStart", true);
        ini.setValue("SnmpPort", snmpPort);
        ini.setValue("SyslogPort", syslogPort);
        ini.setValue("BalloonEnable", false);
        ini.setValue("DataDir", dataDir);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            ini.setValue(it.key(), it.value());
        ini.sync();
    }

    bool start(const QString &binary = VENTRIX_BINARY_DIR "/bin/ventrix", const QStringList &extraEnv = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_RUNTIME_DIR", home + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString &kv : extraEnv)
            env.insert(kv.section('=', 0, 0), kv.section('=', 1));
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(home + "/stderr.txt", QIODevice::Append);
        process.start(binary, {"-platform", "offscreen"});
        return process.waitForStarted();
    }

    bool running() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }

    void kill()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    void stop() { kill(); }
    // Ends it as the end of a session does; true when it then exited by itself, with 0.
    bool terminate()
    {
        process.terminate();
        return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    void sendSyslog(const QByteArray &datagram) const
    {
        QUdpSocket socket;
        socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(syslogPort));
    }
    void sendTraps(const QString &tag, int count = 1, int start = 0) const
    {
        QProcess sender;
        startFlood(sender, "trap", snmpPort, count, 0, start, tag);
        sender.waitForFinished(10000);
    }

    // Ready once a syslog and a trap probe have reached file (the log file by default).
    bool waitReady(QString file = QString(), int timeoutMs = 15000)
    {
        if (file.isEmpty())
            file = logFile();
        const bool syslog = QTest::qWaitFor(
            [&] {
                sendSyslog("<13>probeS-0000000");
                return readAll(file).contains("probeS-");
            },
            timeoutMs);
        const bool traps = syslog && QTest::qWaitFor(
                                         [&] {
                                             sendTraps("probeT");
                                             return readAll(file).contains("probeT-");
                                         },
                                         timeoutMs);
        // Probes sent meanwhile go out with the program's next frames, a moment later.
        QTest::qWait(300);
        return syslog && traps;
    }

    QString home;
    QString dataDir;
    int snmpPort = 0;
    int syslogPort = 0;
    QProcess process;
};

// Another program of the machine holding a lock on a file (tests/eventlog_helper.cpp).
class LockHolder
{
public:
    bool lock(const QString &kind, const QString &path)
    {
        helper.start(EVENTLOG_HELPER, {"lock", kind, path});
        return helper.waitForReadyRead(5000) && helper.readAll().startsWith("locked");
    }
    void release()
    {
        if (helper.state() == QProcess::NotRunning)
            return;
        helper.closeWriteChannel();
        helper.waitForFinished(5000);
    }
    ~LockHolder() { release(); }

private:
    QProcess helper;
};

} // namespace Faults
