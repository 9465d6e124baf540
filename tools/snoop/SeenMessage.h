#pragma once

#include <QByteArray>
#include <QString>

// One datagram as the snoop shows it: what kind of text it is, its header fields, and for
// controller events (class Homeseer.Event, block Event.Log) their Type and Data.
struct SeenMessage {
    enum class Kind { Message, Heartbeat, Other };

    qint64 microseconds = 0;  // arrival, since 1970 UTC
    Kind kind = Kind::Other;
    qsizetype size = 0;  // bytes
    QString text;
    QString className;
    QString source;
    QString target;  // empty: none
    QString uid;
    QString fault;  // why the reader stopped early, or empty
    bool isEvent = false;
    QString type;
    QString data;
    int interval = -1;  // heartbeats
    int port = -1;

    static SeenMessage read(qint64 microseconds, const QByteArray& bytes);
};
