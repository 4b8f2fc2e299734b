// A port to type into the settings panel, which listens on no port the system picks.
#pragma once

#include <QRandomGenerator>
#include <QTcpServer>

// A port no socket uses, below the range the system hands out to outgoing connections, so
// that no client of another program takes it before the panel listens on it.
inline quint16 freePort()
{
    const quint16 first = static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(10000));
    for (quint16 port = first; port < 30000; ++port) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}
