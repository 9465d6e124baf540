#include "web/HttpConnection.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include "web/HttpLimits.h"
#include "web/HttpListener.h"

namespace {

// How much of a stream libmicrohttpd asks for at a time.
constexpr size_t kStreamBlock = 16 * 1024;

enum MHD_Result collectHeader(void* into, enum MHD_ValueKind, const char* key, const char* value) {
    static_cast<HttpRequest::Headers*>(into)->append({QByteArray(key), QByteArray(value)});
    return MHD_YES;
}

qsizetype count(const HttpRequest::Headers& headers, QByteArrayView name) {
    return std::count_if(headers.begin(), headers.end(), [&](const auto& header) {
        return header.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

}  // namespace

HttpConnection::HttpConnection(HttpListener& listener, MHD_Connection* connection,
                               QByteArray target)
    : m_listener(listener), m_connection(connection), m_target(std::move(target)) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info != nullptr && info->client_addr != nullptr) {
        m_request.peer = QHostAddress(info->client_addr);
    }
    m_request.secure = listener.secure();
}

HttpConnection::~HttpConnection() {
    if (m_pending != nullptr) {
        MHD_destroy_response(m_pending);
    }
}

bool HttpConnection::takeHead() {
    MHD_get_connection_values(m_connection, MHD_HEADER_KIND, collectHeader, &m_request.headers);
    // Only a path is served: "//host/..." and absolute URLs name another server, and servers
    // and proxies differ in what they make of them.
    if (!m_target.startsWith('/') || m_target.startsWith("//")) {
        refuse(400, QStringLiteral("The request target must be a path beginning with one /"));
        return false;
    }
    const QUrl url = QUrl::fromEncoded(m_target, QUrl::StrictMode);
    if (!url.isValid()) {
        refuse(400, QStringLiteral("The request's path is not a valid URL path"));
        return false;
    }
    m_request.path = url.path(QUrl::FullyDecoded);
    // A query is form-encoded, as pages send it: "+" is a blank (a plus sign comes as %2B).
    m_request.query = QUrlQuery(url.query(QUrl::FullyEncoded).replace(u'+', QStringLiteral("%20")));
    // What libmicrohttpd lets through but a proxy in front may read otherwise is refused: the
    // body's framing and the host must mean one thing only.
    if (count(m_request.headers, "Host") != 1) {
        refuse(400, QStringLiteral("A request must have exactly one Host header"));
        return false;
    }
    const qsizetype encodings = count(m_request.headers, "Transfer-Encoding");
    const qsizetype lengths = count(m_request.headers, "Content-Length");
    if (encodings > 0 && lengths > 0) {
        refuse(400,
               QStringLiteral("A request must not have both Content-Length and Transfer-Encoding"));
        return false;
    }
    if (encodings > 1 ||
        (encodings == 1 &&
         m_request.header("Transfer-Encoding").compare("chunked", Qt::CaseInsensitive) != 0)) {
        refuse(400, QStringLiteral("Only the chunked transfer encoding is taken"));
        return false;
    }
    if (lengths > 1) {
        refuse(400, QStringLiteral("Content-Length given more than once"));
        return false;
    }
    if (lengths == 1 && m_request.header("Content-Length").toLongLong() > HttpLimits::kMaxBody) {
        refuse(413, QStringLiteral("The request body is larger than ") +
                        QString::number(HttpLimits::kMaxBody) + QStringLiteral(" bytes"));
        return false;
    }
    m_listener.believeProxy(m_request);
    m_state = State::Body;
    return true;
}

bool HttpConnection::takeBody(const char* data, size_t size) {
    // libmicrohttpd takes an answer only before the body or after all of it: a chunked body
    // over the limit is dropped as it comes and answered at its end, unless it goes on as long
    // again, when the connection is closed without an answer.
    if (m_dropped > 0 || m_request.body.size() + qsizetype(size) > HttpLimits::kMaxBody) {
        m_dropped += qsizetype(size);
        return m_dropped <= HttpLimits::kMaxBody;
    }
    m_request.body.append(data, qsizetype(size));
    return true;
}

void HttpConnection::takeEnd(const Handler& handler) {
    if (m_dropped > 0) {
        refuse(413, QStringLiteral("The request body is larger than ") +
                        QString::number(HttpLimits::kMaxBody) + QStringLiteral(" bytes"));
        return;
    }
    m_state = State::Handling;
    handler(*this);
    if (m_state == State::Handling) {
        m_state = State::Waiting;
    }
    queuePending();
}

void HttpConnection::queuePending() {
    if (m_pending == nullptr) {
        // The answer comes later: nothing is read or written till then.
        if (!m_suspended) {
            m_suspended = true;
            MHD_suspend_connection(m_connection);
        }
        return;
    }
    MHD_queue_response(m_connection, unsigned(m_pendingStatus), m_pending);
    MHD_destroy_response(m_pending);
    m_pending = nullptr;
    m_state = State::Answered;
}

void HttpConnection::refuse(int status, const QString& reason) {
    m_state = State::Handling;
    respond(status, {{"Content-Type", "application/json"}, {"Connection", "close"}},
            QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
                .toJson(QJsonDocument::Compact));
    queuePending();
}

void HttpConnection::respond(int status, const Headers& headers, const QByteArray& body) {
    if ((m_state != State::Handling && m_state != State::Waiting) || m_pending != nullptr) {
        return;
    }
    m_pending = MHD_create_response_from_buffer(
        size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    for (const auto& [name, value] : headers) {
        MHD_add_response_header(m_pending, name.constData(), value.constData());
    }
    m_pendingStatus = status;
    if (m_state == State::Waiting) {
        resume();
    }
}

void HttpConnection::beginStream(int status, const Headers& headers) {
    if ((m_state != State::Handling && m_state != State::Waiting) || m_pending != nullptr) {
        return;
    }
    m_pending = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &readStream, this,
                                                  nullptr);
    for (const auto& [name, value] : headers) {
        MHD_add_response_header(m_pending, name.constData(), value.constData());
    }
    m_pendingStatus = status;
    m_streaming = true;
    if (m_state == State::Waiting) {
        resume();
    }
}

void HttpConnection::writeChunk(const QByteArray& data) {
    if (!m_streaming || m_streamEnded || m_streamBroken || m_connection == nullptr) {
        return;
    }
    m_unsent += data;
    resume();
}

void HttpConnection::endStream() {
    m_streamEnded = true;
    resume();
}

void HttpConnection::abort() {
    m_streamBroken = true;
    if (!m_streaming) {
        respond(500, {{"Connection", "close"}}, QByteArray());
    }
    resume();
}

void HttpConnection::resume() {
    if (m_suspended && m_connection != nullptr) {
        m_suspended = false;
        MHD_resume_connection(m_connection);
        m_listener.wake();
    }
}

ssize_t HttpConnection::readStream(void* self, uint64_t, char* buffer, size_t max) {
    auto* c = static_cast<HttpConnection*>(self);
    if (c->m_streamBroken) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (c->m_unsent.isEmpty()) {
        if (c->m_streamEnded) {
            return MHD_CONTENT_READER_END_OF_STREAM;
        }
        // Asked again once there is more (writeChunk, endStream or abort resume it).
        c->m_suspended = true;
        MHD_suspend_connection(c->m_connection);
        return 0;
    }
    const qsizetype taken = std::min(c->m_unsent.size(), qsizetype(max));
    std::memcpy(buffer, c->m_unsent.constData(), size_t(taken));
    c->m_unsent.remove(0, taken);
    if (c->m_unsent.size() < HttpLimits::kMaxUnsent / 2 && !c->m_drainedDue) {
        // Producers write from their own call, not from inside libmicrohttpd's.
        c->m_drainedDue = true;
        QMetaObject::invokeMethod(
            c,
            [c] {
                c->m_drainedDue = false;
                emit c->drained();
            },
            Qt::QueuedConnection);
    }
    return taken;
}

void HttpConnection::finish() {
    m_connection = nullptr;
    m_suspended = false;
    m_state = State::Done;
    emit closed();
    deleteLater();
}
