#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>
#include <functional>

// A local xAP hub: receives every datagram sent to the xAP port, learns the applications of this
// host from their heartbeats, and forwards every datagram, whole and unchanged, to each of them
// at 127.0.0.1 and the port its heartbeat announces (the sender included, as deployed hubs do).
class XapHub : public QObject {
    Q_OBJECT

public:
    struct Client {
        QString source;
        int intervalSeconds = 60;
        QDateTime lastSeen;
    };

    XapHub(QHostAddress bindAddress, quint16 port, QObject* parent = nullptr);

    // Binds the xAP port; false with an error text when it cannot.
    bool start(QString* error);

    const QMap<quint16, Client>& clients() const { return m_clients; }
    // Drops clients whose heartbeats stopped for more than twice their interval.
    void expire(const QDateTime& now);

    // Where the hub prints one line per client it adds or drops.
    std::function<void(const QString&)> say;

private:
    void readPending();
    void handle(const QByteArray& datagram, const QHostAddress& from);
    // Whether a heartbeat from ADDRESS comes from this host, listing its addresses again when
    // ADDRESS is not among them.
    bool isLocal(const QHostAddress& address);
    // Lists this host's IPv4 addresses; false, keeping the last list, when that fails.
    bool listLocalAddresses();
    // Says once, until a listing works again, that heartbeats from this host's network
    // addresses cannot be recognised.
    void reportListingFailed();
    void drop(quint16 port, const QString& why);

    QHostAddress m_bindAddress;
    quint16 m_port;
    QUdpSocket m_socket;
    QUdpSocket m_forward;
    QTimer m_expiry;
    QMap<quint16, Client> m_clients;
    QSet<QHostAddress> m_localAddresses;
    QElapsedTimer m_listedAt;
    bool m_listingFailed = false;
};
