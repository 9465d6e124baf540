#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <deque>
#include <memory>

#include "node/HeartbeatSchedule.h"
#include "node/HostNetwork.h"
#include "node/UdpSocket.h"
#include "settings/LoggerSettings.h"
#include "support/OutgoingQueue.h"

class Reporter;

// The program's connection to the xAP network. Binds a loopback port (from 32768 up) on which the
// hub of this host forwards the network's traffic, and an address of the host's network
// interfaces at the same port for sending; queues received message texts and says
// messagesWaiting() after each batch read off a socket (a share of it while more waits); announces
// itself with heartbeats (early ones too, while nothing comes through the hub: see
// HeartbeatSchedule); sends messages of one block. Lives on the thread that reads its sockets;
// send() may be called from any thread once bind() is done.
class XapNode : public QObject, public MessageSender {
    Q_OBJECT

public:
    static constexpr quint16 kXapPort = 3639;
    static constexpr char kLoopback[] = "127.0.0.1";
    static constexpr int kFirstPort = 32768;
    static constexpr int kPortAttempts = 200;
    static constexpr int kReceiveBufferBytes = 32 * 1024 * 1024;
    // Texts held in the receive queue at most (about 10 MB); past that, datagrams wait in the
    // system's receive buffer until some have been taken, instead of filling memory.
    static constexpr std::size_t kQueueLimit = 16384;
    // While the system's buffer still holds more, messagesWaiting() is said after each this many
    // datagrams read.
    static constexpr std::size_t kHandOnShare = 1024;

    explicit XapNode(Reporter& reporter,
                     std::unique_ptr<HostNetwork> network = std::make_unique<SystemHostNetwork>(),
                     quint16 remotePort = kXapPort, QObject* parent = nullptr);
    ~XapNode() override;

    void setIdentity(const QString& source, const QString& uid);
    void setNetworkSettings(const NetworkSettings& settings) { m_settings = settings; }

    // Binds the sockets. The port bound, or minus an error number (10048: the host address's port
    // is taken, and so on) when the node cannot work; -1 when no loopback port was free.
    int bind();
    // The address to send from: the first of the host's interface addresses that the
    // InterfaceAddress pattern admits, else the first one; 127.0.0.1 when there is none.
    static QString chooseAddress(const QStringList& addresses, const QString& pattern);
    // Where the node sends from and to, and what the operator is told about it (see
    // addressNotice()), from the host's interface addresses and the shared settings: bind() and
    // --check-config decide alike.
    struct Addresses {
        QString from;
        QString to;
        QString notice;
    };
    static Addresses chooseAddresses(const QStringList& interfaces,
                                     const NetworkSettings& settings);
    // Each part of the address may only have bits set that are set in the pattern's part.
    static bool addressMatchesPattern(const QString& pattern, const QString& address);

    const QString& source() const { return m_source; }
    int port() const { return m_port; }
    const QString& destination() const { return m_destination; }
    quint16 remotePort() const { return m_remotePort; }
    const QString& localIp() const { return m_localIp; }
    // What the operator is to be told once bind() has chosen the addresses: that the node sends
    // from loopback for want of a network interface, or elsewhere than its settings say. Empty
    // when neither is so.
    const QString& addressNotice() const { return m_addressNotice; }
    int receiveBufferBytes() const { return m_receiveBuffer; }

    // Sends a heartbeat announcing `seconds` (5 to 60; 0 stops the timer) and sets the timer to
    // send the next one within as many seconds: the interval announced is the one kept.
    void sendHeartbeat(int seconds);
    int heartbeatPeriodMs() const { return int(m_heartbeats.intervalMs()); }
    bool heartbeatActive() const { return m_heartbeatTimer.isActive(); }
    QString heartbeatText(int seconds) const;
    // Tells the hubs that this node stops, so that they stop forwarding to its port.
    void sayGoodbye();

    Status send(const OutgoingMessage& message) override;

    // The next received message text, oldest first; empty when none waits.
    QString takeMessage();
    void setFilterHeartbeats(bool filter) { m_filterHeartbeats = filter; }
    std::size_t queuedCount() const { return m_received.size(); }
    // Datagrams taken off the sockets since the node was made, and those of them left out of
    // the queue (heartbeats, while they are filtered).
    quint64 datagramsReceived() const { return m_datagramsReceived; }
    quint64 datagramsIgnored() const { return m_datagramsIgnored; }
    // Datagrams the system dropped on the node's sockets before the node could take them (its
    // receive buffer was full), as the system told with the datagrams taken since.
    quint64 droppedBeforeReceive() const;
    // Reads the datagrams already waiting on the sockets into the queue (up to kQueueLimit),
    // without waiting for the event loop; a long pass over the queue calls it so that the
    // system's buffer does not overflow while the pass runs.
    void drainSockets();
    // Reads no more: what arrives from here stays in the system's buffer.
    void stopListening();
    // After each read, the sockets are left alone for `ms` (0: read as each datagram lands), so
    // that datagrams arriving close together are read together: under steady traffic one wake-up
    // of the thread per pause instead of one per datagram. The pause is what a reply can be late.
    void setGatherMs(int ms) { m_gatherTimer.setInterval(ms); }

signals:
    void messagesWaiting();

private:
    void onHeartbeatTick();
    void armHeartbeat();
    void readWaiting(UdpSocket& socket);
    void setListening(bool on);
    void resumeListening();
    void take(const char* bytes, std::size_t size);
    void listen(UdpSocket& socket, std::unique_ptr<QSocketNotifier>& notifier);
    Status sendText(const QString& text);

    Reporter& m_reporter;
    std::unique_ptr<HostNetwork> m_network;
    quint16 m_remotePort;
    NetworkSettings m_settings;

    UdpSocket m_loopbackSocket;
    UdpSocket m_hostSocket;
    UdpSocket* m_sendSocket = nullptr;
    std::unique_ptr<QSocketNotifier> m_loopbackNotifier;
    std::unique_ptr<QSocketNotifier> m_hostNotifier;
    QTimer m_heartbeatTimer;
    QTimer m_gatherTimer;
    bool m_stopped = false;
    QElapsedTimer m_clock;
    HeartbeatSchedule m_heartbeats;

    QString m_source;
    QString m_uid;
    QString m_localIp;
    QString m_destination;
    QString m_addressNotice;
    int m_port = 0;
    int m_receiveBuffer = 0;

    std::deque<QString> m_received;
    quint64 m_datagramsReceived = 0;
    quint64 m_datagramsIgnored = 0;
    bool m_filterHeartbeats = true;
};
