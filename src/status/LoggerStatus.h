#pragma once

#include <QDateTime>
#include <QStringList>

#include "settings/LoggerSettings.h"

// What the logger is doing now, taken at one moment: where it listens and sends, whether
// traffic arrives, the database in use, what became of the events so far, and its last
// reports. What status windows, the web page and monitoring show.
struct LoggerStatus {
    // What became of the datagrams taken in so far: received = written + spooled + rejected +
    // messagesWritten + messagesSpooled + other + waiting + dropped (while the logger runs, a
    // batch on its way between two counts may be missing for a moment). The system's own drops,
    // before the logger could read them, are counted beside: they were never received.
    struct Counts {
        quint64 received = 0;         // datagrams the node took off its sockets
        quint64 written = 0;          // events the database took
        quint64 spooled = 0;          // events waiting in the spool
        quint64 rejected = 0;         // events the database refused for good (the rejected file)
        quint64 messagesWritten = 0;  // messages the rules log, in the messages table
        quint64 messagesSpooled = 0;  // and waiting in their spool
        quint64 other = 0;            // datagrams not to be stored (heartbeats, queries, ...)
        // Received and not stored yet: in the receive queue or its overflow files (after a stop,
        // what the next start stores first).
        quint64 waiting = 0;
        quint64 dropped = 0;               // lost: a spool full or unwritable
        quint64 droppedBeforeReceive = 0;  // dropped by the system, its receive buffer full
        quint64 earlierWritten = 0;        // events an earlier run left in the spool, written now
        // The MQTT bridge, beside: what it published of what was logged (each event and each
        // message the rules log is one, as is each Home Assistant announcement).
        bool mqtt = false;             // the bridge ran
        quint64 mqttPublished = 0;     // confirmed by the broker (QoS 1) or sent (QoS 0)
        quint64 mqttWaiting = 0;       // in the bridge's spool, for the broker
        quint64 mqttRepublished = 0;   // sent again after a reconnect: possible duplicates
        quint64 mqttDropped = 0;       // lost: the bridge's spool full, or the bridge far behind
        quint64 mqttCommandsSent = 0;  // commands from MQTT sent on the xAP network
        quint64 mqttCommandsRefused = 0;
    };

    // A source of events heard before and silent now for much longer than its usual spacing.
    struct QuietSource {
        QString source;
        QDateTime lastHeard;
        qint64 usualGapSeconds = 0;
    };

    QString version;
    QString xapSource;  // the logger's xAP address
    quint16 listenPort = 0;
    QString sendFrom;  // the host address the logger sends from
    QString destination;
    quint16 destinationPort = 0;
    QDateTime startedAt;
    // When the last datagram arrived; null while nothing has (no hub forwards to the logger).
    QDateTime lastReceived;
    // When the last event came (the logger's own reports left out); null while none has.
    QDateTime lastEvent;
    // The one heard most recently first.
    QList<QuietSource> quietSources;
    DatabaseSettings database;
    bool databaseOpen = false;
    qint64 spoolWaiting = 0;     // events waiting in the spool
    qint64 messagesWaiting = 0;  // messages the rules log, waiting in theirs
    QString mqttBroker;          // host:port; empty: no MQTT bridge
    bool mqttConnected = false;
    Counts counts;
    // Reports the logger made since it started: xAP events, or lines in the text log.
    quint64 reportsSent = 0;
    // Newest first, at most kRecentReports, each "yyyy-MM-dd hh:mm:ss <report>".
    QStringList lastReports;

    static constexpr int kRecentReports = 20;
};
