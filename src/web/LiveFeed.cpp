#include "web/LiveFeed.h"

#include "logger/LoggerControl.h"
#include "web/HttpLimits.h"
#include "web/HttpReply.h"

namespace {

// A comment line now and then lets a page see the stream is alive and the server see a page
// that went away.
constexpr int kKeepAliveTicks = 15000 / LiveFeed::kBatchMillis;

// A JSON string, written directly into the batch's text (made UTF-8 once per batch): building a
// document for each batch would cost more than logging its events.
void appendJsonString(QString& out, const QString& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const QChar* chars = text.constData();
    out += u'"';
    qsizetype plain = 0;  // start of the characters not yet copied
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = chars[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\') {
            continue;
        }
        out.append(chars + plain, i - plain);
        plain = i + 1;
        if (c < 0x20) {
            out += u"\\u00";
            out += QLatin1Char(kHex[c >> 4]);
            out += QLatin1Char(kHex[c & 15]);
        } else {
            out += u'\\';
            out += QChar(c);
        }
    }
    out.append(chars + plain, text.size() - plain);
    out += u'"';
}

}  // namespace

LiveFeed::LiveFeed(LoggerControl& logger, QObject* parent) : QObject(parent), m_logger(logger) {
    m_timer.setInterval(kBatchMillis);
    connect(&m_timer, &QTimer::timeout, this, &LiveFeed::flush);
}

LiveFeed::~LiveFeed() {
    for (Client& c : m_clients) {
        if (c.connection) {
            c.connection->endStream();
        }
    }
}

bool LiveFeed::addClient(HttpConnection& connection) {
    dropGoneClients();
    if (m_clients.size() >= size_t(HttpLimits::kMaxLiveStreams)) {
        return false;
    }
    HttpReply::beginStream(connection, "text/event-stream", {{"X-Accel-Buffering", "no"}});
    connection.writeChunk(": live\n\n");
    m_clients.push_back(Client{&connection, 0});
    if (!m_listening) {
        m_listening = connect(&m_logger, &LoggerControl::eventsLogged, this, &LiveFeed::onEvents);
        m_timer.start();
        m_sinceFlush.start();
    }
    return true;
}

void LiveFeed::onEvents(const QList<LogEvent>& events) {
    if (m_pending.size() < size_t(kMaxBatch)) {
        m_pending.resize(kMaxBatch);
    }
    for (const LogEvent& event : events) {
        if (m_count < m_pending.size()) {
            m_pending[(m_first + m_count++) % m_pending.size()] = event;
        } else {
            m_pending[m_first] = event;
            m_first = (m_first + 1) % m_pending.size();
            ++m_skipped;
        }
    }
    if (m_sinceFlush.hasExpired(kBatchMillis)) {
        flush();
    }
}

void LiveFeed::dropGoneClients() {
    std::erase_if(m_clients, [](const Client& c) { return c.connection.isNull(); });
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
                c.connection->writeChunk(": alive\n\n");
            }
        }
        return;
    }
    m_quietTicks = 0;
    // The newest events that fit in kMaxBatchBytes (UTF-16 counted, a bound for the UTF-8);
    // the older ones are skipped.
    qsizetype size = 0;
    size_t taken = 0;
    while (taken < m_count) {
        const LogEvent& e = m_pending[(m_first + m_count - 1 - taken) % m_pending.size()];
        const qsizetype bytes =
            3 * (e.time.size() + e.source.size() + e.type.size() + e.data.size()) + 64;
        if (taken > 0 && size + bytes > kMaxBatchBytes) {
            break;
        }
        size += bytes;
        ++taken;
    }
    m_skipped += qint64(m_count - taken);
    m_first = (m_first + m_count - taken) % m_pending.size();
    m_count = taken;
    QString text;
    text.reserve(qsizetype(m_count) * 160);
    text += u'[';
    for (size_t i = 0; i < m_count; ++i) {
        const LogEvent& e = m_pending[(m_first + i) % m_pending.size()];
        text += i == 0 ? u"{\"time\":" : u",{\"time\":";
        appendJsonString(text, e.time);
        text += u",\"source\":";
        appendJsonString(text, e.source);
        text += u",\"type\":";
        appendJsonString(text, e.type);
        text += u",\"data\":";
        appendJsonString(text, e.data);
        text += u'}';
    }
    text += u']';
    const QByteArray events = text.toUtf8();
    const qint64 batchSize = qint64(m_count);
    m_first = m_count = 0;
    for (Client& c : m_clients) {
        if (c.connection->unsent() + events.size() > HttpLimits::kMaxUnsent) {
            c.skipped += batchSize + m_skipped;
            continue;
        }
        c.connection->writeChunk("data: {\"skipped\":" + QByteArray::number(m_skipped + c.skipped) +
                                 ",\"events\":" + events + "}\n\n");
        c.skipped = 0;
    }
    m_skipped = 0;
}
