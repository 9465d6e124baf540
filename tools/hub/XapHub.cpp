#include "XapHub.h"

#include <sys/socket.h>
#include <QNetworkInterface>
#include <algorithm>

#include "message/Heartbeat.h"
#include "message/TextCodec.h"

namespace {

constexpr int kDefaultInterval = 60;

}  // namespace

XapHub::XapHub(QHostAddress bindAddress, quint16 port, QObject* parent)
    : QObject(parent), m_bindAddress(std::move(bindAddress)), m_port(port) {
    connect(&m_socket, &QUdpSocket::readyRead, this, &XapHub::readPending);
    m_expiry.setInterval(1000);
    connect(&m_expiry, &QTimer::timeout, this, [this] { expire(QDateTime::currentDateTimeUtc()); });
}

bool XapHub::start(QString* error) {
    if (!m_socket.bind(m_bindAddress, m_port, QAbstractSocket::DontShareAddress)) {
        *error = m_socket.errorString();
        return false;
    }
    int wanted = 8 * 1024 * 1024;
    const int fd = static_cast<int>(m_socket.socketDescriptor());
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    }
    // Forwarding happens only to 127.0.0.1, from a socket of its own.
    if (!m_forward.bind(QHostAddress(QHostAddress::LocalHost), 0)) {
        *error = m_forward.errorString();
        return false;
    }
    if (!listLocalAddresses()) {
        reportListingFailed();
    }
    m_expiry.start();
    return true;
}

void XapHub::reportListingFailed() {
    if (say && !m_listingFailed) {
        say(
            QStringLiteral("cannot list this host's addresses: heartbeats from its own network "
                           "addresses are taken for another host's, and their applications get "
                           "nothing (a service needs netlink sockets allowed for the listing)"));
    }
    m_listingFailed = true;
}

bool XapHub::listLocalAddresses() {
    m_listedAt.start();
    QSet<QHostAddress> found;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            found.insert(a);
        }
    }
    // Every host has a loopback address: a list without one is a listing that failed (under a
    // service manager that denies netlink sockets, for one).
    const bool listed = std::any_of(found.cbegin(), found.cend(),
                                    [](const QHostAddress& a) { return a.isLoopback(); });
    if (listed) {
        m_localAddresses = std::move(found);
    }
    return listed;
}

bool XapHub::isLocal(const QHostAddress& address) {
    const QHostAddress v4(address.toIPv4Address());
    if (v4.isLoopback() || m_localAddresses.contains(v4)) {
        return true;
    }
    // An address given after the hub started (a lease at boot, a new interface) is found by
    // listing again; a flood of other hosts' heartbeats lists at most once a second.
    if (m_listedAt.isValid() && m_listedAt.elapsed() < 1000) {
        return false;
    }
    if (!listLocalAddresses()) {
        reportListingFailed();
        return false;
    }
    m_listingFailed = false;
    return m_localAddresses.contains(v4);
}

void XapHub::readPending() {
    QByteArray buffer;
    while (m_socket.hasPendingDatagrams()) {
        const qint64 size = m_socket.pendingDatagramSize();
        if (size < 0) {
            break;
        }
        buffer.resize(size);
        QHostAddress from;
        const qint64 got = m_socket.readDatagram(buffer.data(), size, &from);
        if (got < 0) {
            continue;
        }
        buffer.resize(got);
        handle(buffer, from);
    }
}

void XapHub::handle(const QByteArray& datagram, const QHostAddress& from) {
    const std::optional<Heartbeat> hb = Heartbeat::read(textFromBytes(datagram));
    if (hb && hb->port > 0 && isLocal(from)) {
        const quint16 port = quint16(hb->port);
        if (hb->isStopped()) {
            drop(port, QStringLiteral("stopped"));
        } else if (hb->isAlive()) {
            auto it = m_clients.find(port);
            if (it != m_clients.end() && it->source.compare(hb->source, Qt::CaseInsensitive) != 0) {
                drop(port, QStringLiteral("port taken by ") + hb->source);
                it = m_clients.end();
            }
            if (it == m_clients.end()) {
                it = m_clients.insert(port, Client{hb->source, kDefaultInterval, {}});
                if (say) {
                    say(QStringLiteral("add ") + hb->source + QStringLiteral(" port ") +
                        QString::number(port));
                }
            }
            it->intervalSeconds = hb->intervalSeconds > 0 ? hb->intervalSeconds : kDefaultInterval;
            it->lastSeen = QDateTime::currentDateTimeUtc();
        }
    }
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        m_forward.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), it.key());
    }
}

void XapHub::drop(quint16 port, const QString& why) {
    auto it = m_clients.find(port);
    if (it == m_clients.end()) {
        return;
    }
    if (say) {
        say(QStringLiteral("drop ") + it->source + QStringLiteral(" port ") +
            QString::number(port) + QStringLiteral(" (") + why + u')');
    }
    m_clients.erase(it);
}

void XapHub::expire(const QDateTime& now) {
    QList<quint16> stale;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->lastSeen.secsTo(now) > 2 * qint64(it->intervalSeconds)) {
            stale.append(it.key());
        }
    }
    for (quint16 port : stale) {
        drop(port, QStringLiteral("heartbeats stopped"));
    }
}
