#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <optional>

#include "report/Result.h"
#include "web/HttpConnection.h"

struct MHD_Daemon;
struct MHD_Connection;

// The web server's listening side: a libmicrohttpd daemon run from this thread's event loop (its
// epoll descriptor under a socket notifier, its timeouts under a timer; it has no threads of its
// own), over TLS when given a certificate. Connections are kept within the limits of
// HttpLimits, in all and per address: at a limit the connection that has waited longest without
// a request under way is closed to make room, and when none is waiting, the new one. The limit
// in all shrinks to what the process's descriptor limit allows beside the descriptors the logger
// keeps in reserve.
class HttpListener : public QObject {
    Q_OBJECT

public:
    // A certificate (chain) and its private key, PEM.
    struct Tls {
        QByteArray certificate;
        QByteArray key;
    };

    explicit HttpListener(HttpConnection::Handler handler, QObject* parent = nullptr);
    ~HttpListener() override;

    // Listens on `address` and `port` (0: any free one); the port taken, or why not.
    Result<quint16> listen(const QHostAddress& address, quint16 port,
                           const std::optional<Tls>& tls);
    bool secure() const { return m_secure; }
    // Proxies whose X-Forwarded-For and X-Forwarded-Proto are believed.
    void setTrustedProxies(QList<QHostAddress> proxies) { m_trustedProxies = std::move(proxies); }
    // Takes the client address and scheme a trusted proxy forwards for.
    void believeProxy(HttpRequest& request) const;

    int connections() const { return int(m_slots.size()); }
    int maxConnections() const { return m_maxConnections; }
    // The connection limit for a process that may open `descriptors` files.
    static int connectionLimit(qint64 descriptors);

    // Runs the daemon soon: a connection was resumed.
    void wake();

private:
    // One client connection, for choosing which to close when the limits are reached.
    struct Slot {
        QHostAddress peer;
        qint64 waitingSince = 0;
        bool busy = false;  // a request is being answered
        bool closing = false;
        int descriptor = -1;
    };
    void run();
    void schedule();
    void opened(MHD_Connection* connection);
    // Closes the longest-waiting of the open connections from `peer` (any when null); false
    // when none waits.
    bool makeRoom(const QHostAddress& peer);
    void stop();

    friend struct HttpListenerCalls;
    HttpConnection::Handler m_handler;
    MHD_Daemon* m_daemon = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_timer;
    bool m_secure = false;
    std::optional<Tls> m_tls;  // read by the daemon as long as it runs
    QList<QHostAddress> m_trustedProxies;
    QHash<MHD_Connection*, Slot> m_slots;
    QSet<HttpConnection*> m_requests;
    int m_maxConnections;
    QElapsedTimer m_clock;
};
