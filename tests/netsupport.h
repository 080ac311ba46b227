#pragma once

// Network helpers for every suite: tests listen on 127.0.0.1 and free high ports only.

#include <QFile>
#include <QUdpSocket>

// A UDP port on 127.0.0.1 that nothing uses right now.
inline int freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The kernel's receive queue of a local UDP port in bytes, and the datagrams it dropped.
inline QPair<qint64, qint64> socketQueue(int port)
{
    // The receivers' sockets are IPv6 ones (taking IPv4 too) where the system has IPv6.
    QByteArray tables;
    for (const char *name : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile table(name);
        if (table.open(QIODevice::ReadOnly))
            tables += table.readAll();
    }
    const QByteArray hexPort = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : tables.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 12 && f[1].endsWith(hexPort))
            return {f[4].mid(f[4].indexOf(':') + 1).toLongLong(nullptr, 16), f[12].toLongLong()};
    }
    return {-1, -1};
}
