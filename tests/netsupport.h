#pragma once

// Network helpers for every suite: tests listen on 127.0.0.1 and free high ports only.

#include <QUdpSocket>

// A UDP port on 127.0.0.1 that nothing uses right now.
inline int freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
