#include "web/HttpListener.h"

#include <sys/resource.h>

#include <QTcpSocket>
#include <algorithm>

#include "web/HttpLimits.h"

namespace {

qint64 descriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 1 << 20;
    }
    return qint64(limit.rlim_cur);
}

}  // namespace

HttpListener::HttpListener(HttpConnection::Handler handler, QObject* parent)
    : QTcpServer(parent),
      m_handler(std::move(handler)),
      m_maxConnections(connectionLimit(descriptorLimit())) {}

int HttpListener::connectionLimit(qint64 descriptors) {
    // Half of what is left beside the reserve: the logger's other descriptors (sockets, the
    // spool, readers' connections) are not counted one by one.
    const qint64 room = (descriptors - HttpLimits::kReservedDescriptors) / 2;
    return int(std::clamp<qint64>(room, 8, HttpLimits::kMaxConnections));
}

bool HttpListener::makeRoom(const QList<HttpConnection*>& among) {
    HttpConnection* oldest = nullptr;
    for (HttpConnection* c : among) {
        if (c->waiting() && (oldest == nullptr || c->waitingSinceMs() < oldest->waitingSinceMs())) {
            oldest = c;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    oldest->abort();
    return true;
}

void HttpListener::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QHostAddress peer = socket->peerAddress();
    bool room = true;
    if (m_perAddress.value(peer) >= HttpLimits::kMaxPerAddress) {
        QList<HttpConnection*> same;
        std::copy_if(m_connections.begin(), m_connections.end(), std::back_inserter(same),
                     [&](HttpConnection* c) { return c->peer() == peer; });
        room = makeRoom(same);
    }
    if (room && m_connections.size() >= m_maxConnections) {
        room = makeRoom(m_connections);
    }
    if (!room) {
        socket->abort();
        delete socket;
        return;
    }
    auto* connection = new HttpConnection(socket, m_handler, this);
    m_connections.append(connection);
    ++m_perAddress[peer];
    connect(connection, &HttpConnection::closed, this, [this, connection, peer] {
        m_connections.removeOne(connection);
        if (--m_perAddress[peer] <= 0) {
            m_perAddress.remove(peer);
        }
    });
}
