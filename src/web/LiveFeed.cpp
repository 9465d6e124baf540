#include "web/LiveFeed.h"

#include "logger/Logger.h"
#include "web/HttpReply.h"

namespace {

// A comment line now and then lets a page see the stream is alive and the server see a page
// that went away.
constexpr int kKeepAliveTicks = 15000 / LiveFeed::kBatchMillis;

// A JSON string, written directly: building a document for each batch would cost more than
// logging the events.
void appendJsonString(QByteArray& out, const QString& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    qsizetype plain = 0;  // start of the bytes not yet copied
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') {
            continue;
        }
        out.append(utf8.constData() + plain, i - plain);
        plain = i + 1;
        if (byte < 0x20) {
            const char escaped[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
            out.append(escaped, sizeof escaped);
        } else {
            const char escaped[] = {'\\', char(byte)};
            out.append(escaped, sizeof escaped);
        }
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out += '"';
}

}  // namespace

LiveFeed::LiveFeed(Logger& logger, QObject* parent) : QObject(parent), m_logger(logger) {
    m_timer.setInterval(kBatchMillis);
    connect(&m_timer, &QTimer::timeout, this, &LiveFeed::flush);
}

LiveFeed::~LiveFeed() {
    for (Client& c : m_clients) {
        if (c.socket) {
            c.socket->disconnectFromHost();
        }
    }
}

void LiveFeed::addClient(QHttpServerResponder&& responder) {
    Client c;
    c.socket = responder.socket();
    c.responder = std::make_unique<QHttpServerResponder>(std::move(responder));
    HttpReply::beginStream(*c.responder, "text/event-stream", {{"X-Accel-Buffering", "no"}});
    c.responder->writeBody(": live\n\n");
    m_clients.push_back(std::move(c));
    if (!m_listening) {
        m_listening = connect(&m_logger, &Logger::eventLogged, this, &LiveFeed::onEvent);
        m_timer.start();
        m_sinceFlush.start();
    }
}

void LiveFeed::onEvent(const LogEvent& event) {
    if (m_pending.size() < size_t(kMaxBatch)) {
        m_pending.resize(kMaxBatch);
    }
    if (m_count < m_pending.size()) {
        m_pending[(m_first + m_count++) % m_pending.size()] = event;
    } else {
        m_pending[m_first] = event;
        m_first = (m_first + 1) % m_pending.size();
        ++m_skipped;
    }
    if ((++m_sinceCheck & 63) == 0 && m_sinceFlush.hasExpired(kBatchMillis)) {
        flush();
    }
}

void LiveFeed::dropGoneClients() {
    std::erase_if(m_clients, [](const Client& c) {
        return !c.socket || c.socket->state() != QAbstractSocket::ConnectedState;
    });
    if (m_clients.empty() && m_listening) {
        disconnect(m_listening);
        m_listening = {};
        m_timer.stop();
        m_pending = {};
        m_first = m_count = 0;
        m_skipped = 0;
    }
}

void LiveFeed::flush() {
    m_sinceFlush.restart();
    dropGoneClients();
    if (m_count == 0) {
        if (++m_quietTicks >= kKeepAliveTicks) {
            m_quietTicks = 0;
            for (Client& c : m_clients) {
                c.responder->writeBody(": alive\n\n");
            }
        }
        return;
    }
    m_quietTicks = 0;
    QByteArray events;
    events.reserve(qsizetype(m_count) * 160);
    events += '[';
    for (size_t i = 0; i < m_count; ++i) {
        const LogEvent& e = m_pending[(m_first + i) % m_pending.size()];
        events += i == 0 ? "{\"time\":" : ",{\"time\":";
        appendJsonString(events, e.time);
        events += ",\"source\":";
        appendJsonString(events, e.source);
        events += ",\"type\":";
        appendJsonString(events, e.type);
        events += ",\"data\":";
        appendJsonString(events, e.data);
        events += '}';
    }
    events += ']';
    const qint64 batchSize = qint64(m_count);
    m_first = m_count = 0;
    for (Client& c : m_clients) {
        if (c.socket->bytesToWrite() > kMaxUnsentBytes) {
            c.skipped += batchSize + m_skipped;
            continue;
        }
        c.responder->writeBody("data: {\"skipped\":" + QByteArray::number(m_skipped + c.skipped) +
                               ",\"events\":" + events + "}\n\n");
        c.skipped = 0;
        // Sent now: during a long receive pass the event loop would not send it.
        c.socket->flush();
    }
    m_skipped = 0;
}
