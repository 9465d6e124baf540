#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>

#include "node/HostNetwork.h"
#include "support/XapSender.h"

class QUdpSocket;
class Reporting;
class MessageReceiver;

// Quilljot's connection to the xAP network. Binds a loopback port (from 32768 up) on which the
// hub on this host forwards the network's traffic, and the host's own address at the same port
// for sending; queues received message texts and tells one receiver about them after 50 ms;
// announces itself with heartbeats; sends messages built from an item list.
class XapNode : public QObject, public XapSender {
    Q_OBJECT

public:
    static constexpr quint16 kXapPort = 3639;
    static constexpr int kFirstPort = 32768;
    static constexpr int kPortAttempts = 200;
    static constexpr int kReceiveBufferBytes = 32 * 1024 * 1024;
    // Texts held in the receive queue at most (about 10 MB); past that, datagrams wait in the
    // system's receive buffer until the receiver has taken some, instead of filling memory.
    static constexpr std::size_t kQueueLimit = 16384;

    explicit XapNode(Reporting& reporting,
                     std::unique_ptr<HostNetwork> network = std::make_unique<SystemHostNetwork>(),
                     quint16 remotePort = kXapPort, QObject* parent = nullptr);
    ~XapNode() override;

    // --- start-up ---
    int Init();
    QString GetIP();
    static bool IPMatchesInterface(const QString& pattern, const QString& address);

    // --- identity and addresses ---
    const QString& XapSource() const { return m_source; }
    void setXapSource(const QString& s);
    const QString& XapUID() const { return m_uid; }
    void setXapUID(const QString& s);
    const QString& XapTarget() const { return m_target; }
    void setXapTarget(const QString& s);
    const QString& XapClass() const { return m_class; }
    void setXapClass(const QString& s) { m_class = s; }
    const QString& BroadcastAddress() const { return m_broadcastAddress; }
    void setBroadcastAddress(const QString& s) { m_broadcastAddress = s; }
    const QString& InterfaceAddress() const { return m_interfaceAddress; }
    void setInterfaceAddress(const QString& s) { m_interfaceAddress = s; }

    const QString& sHeaderPrefix() const { return m_headerPrefix; }
    const QString& sHeartbeatHead() const { return m_heartbeatHead; }
    const QString& sHeartbeatTail() const { return m_heartbeatTail; }
    const QString& sLocalIP() const { return m_localIP; }
    const QString& sRemoteHost() const { return m_remoteHost; }
    int lPort() const { return m_port; }
    quint16 remotePort() const { return m_remotePort; }
    int receiveBufferBytes() const { return m_receiveBuffer; }

    // --- heartbeat and sending ---
    void SendHeartbeat(int LongInterval);
    void HBeatTimer_Timer();
    QString SendXap(const QString& sTarget, const QString& sClass, const QString& sSection,
                    const QString& sData) override;
    int heartbeatPeriodMs() const { return m_heartbeatTimer.interval(); }
    bool heartbeatActive() const { return m_heartbeatTimer.isActive(); }

    // --- receiving ---
    void RegisterNewMessageCallback(MessageReceiver* oForm) { m_receiver = oForm; }
    QString GetMessage();
    bool FilterHeartbeats() const { return m_filterHeartbeats; }
    void setFilterHeartbeats(bool b) { m_filterHeartbeats = b; }
    std::size_t queuedCount() const { return m_received.size(); }
    // Datagrams taken off the sockets since the node was made, and those of them left out of
    // the queue (heartbeats, while they are filtered).
    quint64 datagramsReceived() const { return m_datagramsReceived; }
    quint64 datagramsIgnored() const { return m_datagramsIgnored; }
    // Reads the datagrams already waiting on the sockets into the queue (up to kQueueLimit),
    // without waiting for the event loop; a long pass over the queue calls it so that the
    // system's buffer does not overflow while the pass runs.
    void drainSockets();

private:
    void SocketsInitialize();
    void SocketsCleanup();
    void readPending(QUdpSocket* socket);
    void ProcessReceivedMessage(QString text);
    void ReceiveTimer_Timer();
    void rebuildHeartbeatHead();
    void sendDatagram(const QString& text);
    // Broadcast permission and a receive buffer large enough for bursts.
    void prepareSocket(QUdpSocket* socket);

    Reporting& m_reporting;
    std::unique_ptr<HostNetwork> m_network;
    quint16 m_remotePort;

    QUdpSocket* m_winsock1;
    QUdpSocket* m_winsock2;
    QUdpSocket* m_sendSocket = nullptr;
    QTimer m_heartbeatTimer;
    QTimer m_receiveTimer;
    int m_heartbeatTicks = 0;

    QString m_source;
    QString m_uid;
    QString m_target;
    QString m_class;
    QString m_broadcastAddress;
    QString m_interfaceAddress;
    QString m_headerPrefix;
    QString m_heartbeatHead;
    QString m_heartbeatTail;
    QString m_localIP;
    QString m_remoteHost;
    int m_port = 0;
    int m_receiveBuffer = 0;

    std::deque<QString> m_received;
    quint64 m_datagramsReceived = 0;
    quint64 m_datagramsIgnored = 0;
    MessageReceiver* m_receiver = nullptr;
    bool m_filterHeartbeats = true;
    QByteArray m_datagram;
};
