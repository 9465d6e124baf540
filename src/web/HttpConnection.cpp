#include "web/HttpConnection.h"

#include <sys/socket.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrl>

#include "web/HttpLimits.h"

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 421:
            return "Misdirected Request";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

bool isToken(const QByteArray& text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        if (c <= ' ' || c >= 127 || QByteArrayView("()<>@,;:\\\"/[]?={}").contains(c)) {
            return false;
        }
    }
    return true;
}

constexpr qsizetype kMaxChunkLine = 1024;

}  // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, Handler handler, QObject* parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler)) {
    m_socket->setParent(this);
    // Qt reads no further than this ahead of the parser; the rest waits in the kernel.
    m_socket->setReadBufferSize(HttpLimits::kMaxHeaderBytes);
    m_request.peer = m_socket->peerAddress();
    m_clock.start();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_state == State::Receiving) {
            refuse(408, QStringLiteral("The request took too long to arrive"));
        } else if (m_state == State::Idle) {
            close();
        } else if (m_state == State::Closing) {
            // A client that reads nothing keeps no connection open that is done with.
            abort();
        }
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_draining && m_socket->bytesToWrite() == 0) {
            ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
        }
        if (m_state == State::Streaming && unsent() < HttpLimits::kMaxUnsent / 2) {
            emit drained();
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::gone);
    startWaiting();
    // Bytes that came with the connection are read once whoever accepted it has taken it.
    QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

HttpConnection::~HttpConnection() = default;

qint64 HttpConnection::unsent() const {
    return m_socket->bytesToWrite();
}

void HttpConnection::startWaiting() {
    m_state = State::Idle;
    m_request = HttpRequest{{}, {}, {}, {}, {}, m_request.peer};
    m_headComplete = false;
    m_chunked = false;
    m_contentLength = 0;
    m_waitingSince = m_clock.elapsed();
    m_deadline.start(HttpLimits::kIdleMillis);
}

void HttpConnection::close() {
    if (m_state == State::Closing) {
        return;
    }
    m_state = State::Closing;
    m_deadline.start(HttpLimits::kRequestMillis);
    m_socket->disconnectFromHost();
}

void HttpConnection::gone() {
    if (m_gone) {
        return;
    }
    m_gone = true;
    m_state = State::Closing;
    m_deadline.stop();
    emit closed();
    deleteLater();
}

void HttpConnection::abort() {
    m_socket->abort();
    gone();
}

void HttpConnection::onReadyRead() {
    if (m_draining) {
        // What a refused client still sends is read and dropped, so that closing does not
        // reset the connection before the client has read why it was refused.
        m_socket->skip(m_socket->bytesAvailable());
        return;
    }
    if (m_state != State::Idle && m_state != State::Receiving) {
        return;  // read again once the answer is out
    }
    m_buffer += m_socket->readAll();
    parse();
}

void HttpConnection::parse() {
    if (m_state == State::Idle) {
        // Empty lines between requests are allowed.
        while (m_buffer.startsWith("\r\n")) {
            m_buffer.remove(0, 2);
        }
        if (m_buffer.isEmpty()) {
            return;
        }
        m_state = State::Receiving;
        m_deadline.start(HttpLimits::kRequestMillis);
    }
    if (!m_headComplete) {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0 || end + 4 > HttpLimits::kMaxHeaderBytes) {
            if (end >= 0 || m_buffer.size() > HttpLimits::kMaxHeaderBytes) {
                refuse(431, QStringLiteral("The request's headers are longer than ") +
                                QString::number(HttpLimits::kMaxHeaderBytes) +
                                QStringLiteral(" bytes"));
            }
            return;
        }
        if (!parseHead(end)) {
            return;
        }
        m_buffer.remove(0, end + 4);
        m_headComplete = true;
    }
    if (m_chunked) {
        if (!takeChunked()) {
            return;
        }
    } else {
        if (m_buffer.size() < m_contentLength) {
            return;
        }
        m_request.body = m_buffer.left(m_contentLength);
        m_buffer.remove(0, m_contentLength);
    }
    deliver();
}

bool HttpConnection::parseHead(qsizetype end) {
    QList<QByteArray> lines = m_buffer.left(end + 2).split('\n');
    lines.removeLast();  // what follows the last line's LF
    const QList<QByteArray> start =
        lines.first().chopped(lines.first().endsWith('\r') ? 1 : 0).split(' ');
    if (start.size() != 3 || !isToken(start[0]) || !start[1].startsWith('/') ||
        (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0")) {
        refuse(400, QStringLiteral("The request line must be: METHOD /path HTTP/1.1"));
        return false;
    }
    m_request.method = start[0];
    const QUrl url = QUrl::fromEncoded(start[1], QUrl::StrictMode);
    if (!url.isValid()) {
        refuse(400, QStringLiteral("The request's path is not a valid URL path"));
        return false;
    }
    m_request.path = url.path(QUrl::FullyDecoded);
    // A query is form-encoded, as pages send it: "+" is a blank (a plus sign comes as %2B).
    m_request.query = QUrlQuery(url.query(QUrl::FullyEncoded).replace(u'+', QStringLiteral("%20")));
    m_closeAfter = start[2] == "HTTP/1.0";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (!line.endsWith('\r')) {
            refuse(400, QStringLiteral("Header lines must end with CR LF"));
            return false;
        }
        line.chop(1);
        const qsizetype colon = line.indexOf(':');
        // A name with space before the colon, or a line folded onto the previous one, is read
        // differently by different servers: such requests are refused.
        if (colon <= 0 || !isToken(line.left(colon))) {
            refuse(400, QStringLiteral("Malformed header line"));
            return false;
        }
        m_request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    qsizetype lengths = 0;
    QByteArray length;
    QByteArray encoding;
    for (const auto& [name, value] : m_request.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            ++lengths;
            length = value;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            encoding = encoding.isEmpty() ? value : encoding + ", " + value;
        } else if (name.compare("Connection", Qt::CaseInsensitive) == 0 &&
                   value.toLower().contains("close")) {
            m_closeAfter = true;
        }
    }
    if (lengths > 0 && !encoding.isEmpty()) {
        refuse(400,
               QStringLiteral("A request must not have both Content-Length and Transfer-Encoding"));
        return false;
    }
    if (!encoding.isEmpty()) {
        if (encoding.compare("chunked", Qt::CaseInsensitive) != 0) {
            refuse(501, QStringLiteral("Only the chunked transfer encoding is taken"));
            return false;
        }
        m_chunked = true;
        return true;
    }
    if (lengths > 1) {
        refuse(400, QStringLiteral("Content-Length given more than once"));
        return false;
    }
    if (lengths == 1) {
        bool ok = length.size() <= 18 && !length.isEmpty();
        for (const char c : length) {
            ok = ok && c >= '0' && c <= '9';
        }
        if (!ok) {
            refuse(400, QStringLiteral("Content-Length must be a number"));
            return false;
        }
        m_contentLength = length.toLongLong();
        if (m_contentLength > HttpLimits::kMaxBody) {
            refuse(413, QStringLiteral("The request body is larger than ") +
                            QString::number(HttpLimits::kMaxBody) + QStringLiteral(" bytes"));
            return false;
        }
    }
    return true;
}

bool HttpConnection::takeChunked() {
    // Chunks are moved from the buffer into the body as they arrive, so the body's size is
    // counted before it can grow past the limit.
    for (;;) {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n");
        if (lineEnd < 0) {
            if (m_buffer.size() > kMaxChunkLine) {
                refuse(400, QStringLiteral("Malformed chunk"));
            }
            return false;
        }
        QByteArray sizeText = m_buffer.left(lineEnd);
        if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0) {
            sizeText.truncate(semicolon);
        }
        bool ok = false;
        const qint64 size =
            sizeText.trimmed().size() <= 8 ? sizeText.trimmed().toLongLong(&ok, 16) : -1;
        if (!ok || size < 0) {
            refuse(400, QStringLiteral("Malformed chunk size"));
            return false;
        }
        if (m_request.body.size() + size > HttpLimits::kMaxBody) {
            refuse(413, QStringLiteral("The request body is larger than ") +
                            QString::number(HttpLimits::kMaxBody) + QStringLiteral(" bytes"));
            return false;
        }
        if (size == 0) {
            // Trailers are read and dropped; the request ends at an empty line.
            const qsizetype end = m_buffer.indexOf("\r\n\r\n", lineEnd);
            const qsizetype bare = lineEnd;  // "0\r\n\r\n": no trailers
            if (m_buffer.mid(bare, 4) == "\r\n\r\n") {
                m_buffer.remove(0, bare + 4);
                return true;
            }
            if (end < 0) {
                if (m_buffer.size() > HttpLimits::kMaxHeaderBytes) {
                    refuse(431, QStringLiteral("The request's trailers are too long"));
                }
                return false;
            }
            m_buffer.remove(0, end + 4);
            return true;
        }
        if (m_buffer.size() < lineEnd + 2 + size + 2) {
            return false;
        }
        if (m_buffer.mid(lineEnd + 2 + size, 2) != "\r\n") {
            refuse(400, QStringLiteral("Malformed chunk"));
            return false;
        }
        m_request.body += m_buffer.mid(lineEnd + 2, size);
        m_buffer.remove(0, lineEnd + 2 + size + 2);
    }
}

void HttpConnection::deliver() {
    m_state = State::Handling;
    m_deadline.stop();
    m_handler(*this);
}

void HttpConnection::refuse(int status, const QString& reason) {
    m_closeAfter = true;
    m_draining = true;
    m_buffer.clear();
    respond(status, {{"Content-Type", "application/json"}},
            QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
                .toJson(QJsonDocument::Compact));
}

void HttpConnection::writeHead(int status, const Headers& headers, const QByteArray& framing) {
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : headers) {
        head += name + ": " + value + "\r\n";
    }
    head += framing;
    if (m_closeAfter) {
        head += "Connection: close\r\n";
    }
    head += "\r\n";
    m_socket->write(head);
}

void HttpConnection::respond(int status, const Headers& headers, const QByteArray& body) {
    if (m_state == State::Closing || m_state == State::Streaming) {
        return;
    }
    writeHead(status, headers, "Content-Length: " + QByteArray::number(body.size()) + "\r\n");
    if (m_request.method != "HEAD") {
        m_socket->write(body);
    }
    finishAnswer();
}

void HttpConnection::beginStream(int status, const Headers& headers) {
    if (m_state != State::Handling) {
        return;
    }
    // A stream ends its connection: nothing more is read from a client that is downloading.
    m_closeAfter = true;
    m_state = State::Streaming;
    writeHead(status, headers, "Transfer-Encoding: chunked\r\n");
}

void HttpConnection::writeChunk(const QByteArray& data) {
    if (m_state != State::Streaming || data.isEmpty()) {
        return;
    }
    m_socket->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
}

void HttpConnection::endStream() {
    if (m_state != State::Streaming) {
        return;
    }
    m_socket->write("0\r\n\r\n");
    finishAnswer();
}

void HttpConnection::finishAnswer() {
    if (m_draining) {
        m_state = State::Closing;
        m_deadline.start(HttpLimits::kDrainMillis);
        return;
    }
    if (m_closeAfter) {
        close();
        return;
    }
    startWaiting();
    // A request sent right behind the last one waits in the buffer or the socket.
    QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}
