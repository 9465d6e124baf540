#include "web/HttpListener.h"

#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

// libmicrohttpd's callbacks, each handing on to the listener or the request it concerns.
struct HttpListenerCalls {
    static void* requestLine(void* cls, const char* target, MHD_Connection* connection) {
        auto* listener = static_cast<HttpListener*>(cls);
        auto* request = new HttpConnection(*listener, connection, QByteArray(target));
        listener->m_requests.insert(request);
        return request;
    }

    static MHD_Result access(void* cls, MHD_Connection* connection, const char*, const char* method,
                             const char*, const char* data, size_t* size, void** context) {
        auto* listener = static_cast<HttpListener*>(cls);
        auto* request = static_cast<HttpConnection*>(*context);
        if (request == nullptr) {
            return MHD_NO;
        }
        using State = HttpConnection::State;
        switch (request->m_state) {
            case State::Head:
                request->m_request.method = method;
                request->takeHead();
                return MHD_YES;
            case State::Body:
                if (*size > 0) {
                    const bool keep = request->takeBody(data, *size);
                    *size = 0;
                    return keep ? MHD_YES : MHD_NO;
                }
                if (auto slot = listener->m_slots.find(connection);
                    slot != listener->m_slots.end()) {
                    slot->busy = true;
                }
                request->takeEnd(listener->m_handler);
                return MHD_YES;
            case State::Handling:
            case State::Waiting:
                request->queuePending();
                return MHD_YES;
            case State::Answered:
            case State::Done:
                *size = 0;  // the rest of a refused body
                return MHD_YES;
        }
        return MHD_NO;
    }

    static void completed(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
        auto* listener = static_cast<HttpListener*>(cls);
        if (auto slot = listener->m_slots.find(connection); slot != listener->m_slots.end()) {
            slot->busy = false;
            slot->waitingSince = listener->m_clock.elapsed();
        }
        auto* request = static_cast<HttpConnection*>(*context);
        *context = nullptr;
        if (request != nullptr) {
            listener->m_requests.remove(request);
            request->finish();
        }
    }

    static void connectionEvent(void* cls, MHD_Connection* connection, void**,
                                MHD_ConnectionNotificationCode code) {
        auto* listener = static_cast<HttpListener*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            listener->opened(connection);
        } else {
            listener->m_slots.remove(connection);
        }
    }
};

HttpListener::HttpListener(HttpConnection::Handler handler, QObject* parent)
    : QObject(parent),
      m_handler(std::move(handler)),
      m_maxConnections(connectionLimit(descriptorLimit())) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpListener::run);
}

HttpListener::~HttpListener() {
    stop();
}

int HttpListener::connectionLimit(qint64 descriptors) {
    // Half of what is left beside the reserve: the logger's other descriptors (sockets, the
    // spool, readers' connections) are not counted one by one.
    const qint64 room = (descriptors - HttpLimits::kReservedDescriptors) / 2;
    return int(std::clamp<qint64>(room, 8, HttpLimits::kMaxConnections));
}

Result<quint16> HttpListener::listen(const QHostAddress& address, quint16 port,
                                     const std::optional<Tls>& tls) {
    sockaddr_storage bind{};
    const bool six = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (six) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&bind);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&bind);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    m_tls = tls;
    m_secure = tls.has_value();
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    flags |= six ? MHD_USE_IPv6 : 0;
    flags |= m_secure ? MHD_USE_TLS : 0;
    // libmicrohttpd's own limits stand behind ours (opened() makes room before they are
    // reached), for connections that arrive faster than closed ones go.
    const auto hardLimit = unsigned(m_maxConnections + HttpLimits::kMaxPerAddress);
    const auto hardPerAddress = unsigned(2 * HttpLimits::kMaxPerAddress);
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_SOCK_ADDR, 0, &bind},
        {MHD_OPTION_CONNECTION_LIMIT, hardLimit, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, hardPerAddress, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, HttpLimits::kIdleMillis / 1000, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, HttpLimits::kConnectionMemory, nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&HttpListenerCalls::requestLine),
         this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpListenerCalls::completed),
         this},
        {MHD_OPTION_NOTIFY_CONNECTION,
         reinterpret_cast<intptr_t>(&HttpListenerCalls::connectionEvent), this},
    };
    if (m_secure) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, m_tls->certificate.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, m_tls->key.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    errno = 0;
    m_daemon = MHD_start_daemon(flags, port, nullptr, nullptr, &HttpListenerCalls::access, this,
                                MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (m_daemon == nullptr) {
        const QString why = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno))
                            : m_secure ? QStringLiteral("the certificate or key is not usable")
                                       : QStringLiteral("the server did not start");
        return Problem{ErrorKind::Socket, QStringLiteral("The web page cannot listen on ") +
                                              address.toString() + QStringLiteral(" port ") +
                                              QString::number(port) + QStringLiteral(": ") + why};
    }
    const MHD_DaemonInfo* epoll = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    m_notifier = std::make_unique<QSocketNotifier>(epoll->epoll_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &HttpListener::run);
    schedule();
    return quint16(MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port);
}

void HttpListener::stop() {
    if (m_daemon == nullptr) {
        return;
    }
    m_notifier.reset();
    // The daemon stops only with every connection resumed; streams end broken off.
    for (HttpConnection* request : std::as_const(m_requests)) {
        request->m_streamBroken = true;
        request->resume();
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

void HttpListener::run() {
    if (m_daemon == nullptr) {
        return;
    }
    MHD_run(m_daemon);
    schedule();
}

void HttpListener::schedule() {
    MHD_UNSIGNED_LONG_LONG millis = 0;
    if (MHD_get_timeout(m_daemon, &millis) == MHD_YES) {
        m_timer.start(int(std::min<MHD_UNSIGNED_LONG_LONG>(millis, 60'000)));
    } else {
        m_timer.stop();
    }
}

void HttpListener::wake() {
    m_timer.start(0);
}

void HttpListener::believeProxy(HttpRequest& request) const {
    if (!m_trustedProxies.contains(request.peer)) {
        return;
    }
    // The proxy appends the address it took the request from: the last of the list, since what
    // comes before it is the client's own say.
    const QByteArray forwardedFor = request.header("X-Forwarded-For");
    if (!forwardedFor.isEmpty()) {
        const QHostAddress client(QString::fromLatin1(forwardedFor.split(',').last().trimmed()));
        if (!client.isNull()) {
            request.peer = client;
        }
    }
    const QByteArray proto = request.header("X-Forwarded-Proto").trimmed().toLower();
    if (!proto.isEmpty()) {
        request.secure = proto == "https";
    }
}

void HttpListener::opened(MHD_Connection* connection) {
    Slot slot;
    const MHD_ConnectionInfo* address =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (address != nullptr && address->client_addr != nullptr) {
        slot.peer = QHostAddress(address->client_addr);
    }
    slot.descriptor =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
    slot.waitingSince = m_clock.elapsed();
    m_slots.insert(connection, slot);
    qsizetype open = 0;
    qsizetype fromPeer = 0;
    for (const Slot& s : std::as_const(m_slots)) {
        open += s.closing ? 0 : 1;
        fromPeer += !s.closing && s.peer == slot.peer ? 1 : 0;
    }
    if (fromPeer > HttpLimits::kMaxPerAddress) {
        makeRoom(slot.peer);
    }
    if (open > m_maxConnections) {
        makeRoom({});
    }
}

bool HttpListener::makeRoom(const QHostAddress& peer) {
    Slot* oldest = nullptr;
    for (Slot& s : m_slots) {
        if (!s.busy && !s.closing && (peer.isNull() || s.peer == peer) &&
            (oldest == nullptr || s.waitingSince < oldest->waitingSince)) {
            oldest = &s;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    // libmicrohttpd sees the connection end and closes it in its next run.
    oldest->closing = true;
    ::shutdown(oldest->descriptor, SHUT_RDWR);
    return true;
}
