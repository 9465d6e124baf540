#pragma once

#include <QHostAddress>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "TestFiles.h"
#include "logger/Logger.h"
#include "node/HostNetwork.h"

// A logger run inside the test program, on loopback alone: its application folder, whose shared
// settings send to 127.0.0.1, and a socket of the test on 127.0.0.1 that stands where the hub
// would be, receiving the logger's heartbeats and reports.
struct LoopbackLogger {
    QTemporaryDir dir;
    QUdpSocket hub;

    bool prepare() {
        return writeFile(dir.path() + QStringLiteral("/Config/zelXap.ini"),
                         "[Interface]\r\nBroadcastAddress=127.0.0.1\r\n") &&
               hub.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }

    // The options of a logger installed as /opt/quilljot/bin/quilljot on host HOST1.
    Logger::Options options() const {
        Logger::Options o;
        o.place.appDir = dir.path();
        o.place.programFile = QStringLiteral("/opt/quilljot/bin/quilljot");
        o.place.hostName = [] { return QStringLiteral("HOST1"); };
        o.network = std::make_unique<FixedHostNetwork>(QStringList{QStringLiteral("127.0.0.1")});
        o.xapPort = hub.localPort();
        return o;
    }
};

// The datagram a controller sends for an event.
inline QByteArray eventDatagram(const LogEvent& e) {
    return (QStringLiteral(
                "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=") +
            e.source + QStringLiteral("\n}\nEvent.Log\n{\nTime=") + e.time +
            QStringLiteral("\nType=") + e.type + QStringLiteral("\nData=") + e.data +
            QStringLiteral("\n}\n"))
        .toUtf8();
}
