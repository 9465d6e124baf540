#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// An xAP heartbeat: how an application tells the hubs of its host that it is alive (class
// "xap-hbeat.alive"), every how many seconds it says so, and on which port it listens; or that
// it stops ("xap-hbeat.stopped"). One text form for every program of the project.
struct Heartbeat {
    static constexpr QStringView kAlive = u"xap-hbeat.alive";
    static constexpr QStringView kStopped = u"xap-hbeat.stopped";

    QString className;
    QString source;
    QString uid;
    int intervalSeconds = -1;  // -1: not given or not a positive number
    int port = -1;             // -1: not given or not a port number

    // xap-hbeat { v=13 hop=1 uid= class= source= interval= port= }, one item per line.
    QString text() const;

    // The header block of a heartbeat text; nothing when the text is no heartbeat. Names and
    // values are trimmed of white space; the class is kept as written.
    static std::optional<Heartbeat> read(QStringView text);

    bool isAlive() const;
    bool isStopped() const;  // "xap-hbeat.stopped", or "xap-hbeat.stop" as some write it
};
