#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>

#include "web/HttpConnection.h"

// The web server's listening socket: accepts connections within the limits of HttpLimits, in
// all and per address. At a limit the connection that has waited longest without a request
// under way is closed to make room; when none is waiting, the new one is closed at once. The
// limit in all shrinks to what the process's descriptor limit allows beside the descriptors
// the logger keeps in reserve.
class HttpListener : public QTcpServer {
    Q_OBJECT

public:
    explicit HttpListener(HttpConnection::Handler handler, QObject* parent = nullptr);

    int connections() const { return int(m_connections.size()); }
    int maxConnections() const { return m_maxConnections; }

    // The connection limit for a process that may open `descriptors` files.
    static int connectionLimit(qint64 descriptors);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // Closes the longest-waiting of `among`; false when none waits.
    bool makeRoom(const QList<HttpConnection*>& among);

    HttpConnection::Handler m_handler;
    QList<HttpConnection*> m_connections;
    QHash<QHostAddress, int> m_perAddress;
    int m_maxConnections;
};
