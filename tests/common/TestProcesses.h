#pragma once

#include <QHostAddress>
#include <QString>
#include <QUdpSocket>

// The project's programs (QUILLJOT_BIN is set for every test) and free loopback ports.
inline QString tool(const char* name) {
    return qEnvironmentVariable("QUILLJOT_BIN") + u'/' + QString::fromLatin1(name);
}

inline quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}
