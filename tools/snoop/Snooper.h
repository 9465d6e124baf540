#pragma once

#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <functional>

#include "CaptureFile.h"
#include "SnoopOptions.h"
#include "TrafficCounts.h"

// The running snoop: an xAP application that listens at 127.0.0.1, keeps itself registered with
// the local hub by heartbeats, and hands every datagram the hub forwards to the capture and, when
// the filter passes it, to the output. Its own heartbeats, echoed back by the hub, are neither
// shown nor captured.
class Snooper : public QObject {
    Q_OBJECT

public:
    Snooper(SnoopOptions options, QString source, bool colour, QObject* parent = nullptr);

    // Binds the port and opens the capture; the first heartbeat goes out at once.
    Status start();
    // Says goodbye to the hub, prints the counts on standard error and ends with `exitCode`
    // (3 instead of 0 when a timeout passed without a message shown).
    void stop(int exitCode = 0);

    quint16 port() const { return m_socket.localPort(); }

    // Where messages are printed (standard output); false when that is no longer possible.
    std::function<bool(const QByteArray&)> print;
    // Where the snoop says how it is doing (standard error).
    std::function<void(const QByteArray&)> say;
    // Called once, when the snoop has stopped, with the exit status.
    std::function<void(int)> finished;

private:
    void readPending();
    void take(const QByteArray& datagram);
    void sendHeartbeat(QStringView hbClass);
    bool isOwnHeartbeat(const SeenMessage& seen) const;

    SnoopOptions m_options;
    QString m_source;
    bool m_colour;
    QUdpSocket m_socket;
    QTimer m_heartbeat;
    QTimer m_timeout;
    QTimer m_hubCheck;
    CaptureWriter m_capture;
    TrafficCounts m_counts;
    bool m_registered = false;
    bool m_stopped = false;
    bool m_timedOut = false;
};
