#include "mqtt/MqttClient.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// The library's sentence without its full stop: ours go on after it.
QString libraryText(int rc) {
    QString text = QString::fromUtf8(mosquitto_strerror(rc));
    while (text.endsWith(u'.')) {
        text.chop(1);
    }
    return text;
}

QByteArray bytes(const QString& text) {
    return text.toUtf8();
}

// A file name argument of the library: null when there is none.
const char* orNull(const QByteArray& text) {
    return text.isEmpty() ? nullptr : text.constData();
}

// The reason in OpenSSL's line ("OpenSSL Error[0]: error:0A000086:SSL routines::certificate
// verify failed"): the words after the last colon.
QString sslReason(const QString& line) {
    const qsizetype colon = line.lastIndexOf(u':');
    return colon < 0 ? line : line.mid(colon + 1).trimmed();
}

}  // namespace

MqttClient::Options MqttClient::Options::from(const MqttSettings& s, const QString& clientId) {
    Options o;
    o.host = s.host;
    o.port = s.port;
    o.clientId = clientId;
    o.username = s.username;
    o.password = s.password;
    o.caFile = s.caFile;
    o.certFile = s.certFile;
    o.keyFile = s.keyFile;
    return o;
}

MqttClient::MqttClient() {
    initLibrary();
}

MqttClient::~MqttClient() {
    if (m_mosq != nullptr) {
        mosquitto_destroy(m_mosq);
    }
}

Problem MqttClient::lost(const QString& why) {
    m_connected = false;
    m_lost = why;
    // A connection that is gone passes: the owner connects again later.
    return Problem{ErrorKind::DatabaseUnavailable, why};
}

Problem MqttClient::tlsFailed(const Options& o) {
    return lost(QStringLiteral("the TLS handshake with the MQTT broker at ") + m_broker +
                QStringLiteral(" failed: ") + sslReason(m_lastError) +
                QStringLiteral(" (is CaFile ") + o.caFile +
                QStringLiteral(" the CA that signed the broker's certificate?)"));
}

Problem MqttClient::unreachable() {
    // Refused, silent, or something else on that port: one message, so that it tells no one
    // which ports of a host are open.
    return lost(QStringLiteral("the MQTT broker at ") + m_broker +
                QStringLiteral(" cannot be reached (check Host and Port in [Mqtt], and that "
                               "the broker runs)"));
}

Status MqttClient::connect(const Options& o, int timeoutMs) {
    m_broker = o.host + u':' + QString::number(o.port);
    if (const Status made = makeClient(o); !made) {
        return made;
    }
    const int rc = mosquitto_connect(m_mosq, bytes(o.host).constData(), o.port, o.keepAliveSeconds);
    if (rc == MOSQ_ERR_TLS) {
        return tlsFailed(o);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        return unreachable();
    }
    if (const Status accepted = awaitAnswer(o, timeoutMs); !accepted) {
        return accepted;
    }
    // The library formats a line for every packet while anyone listens; only the handshake's
    // errors (OpenSSL's reasons) are of use.
    mosquitto_log_callback_set(m_mosq, nullptr);
    m_connected = true;
    m_lost.clear();
    return {};
}

Status MqttClient::makeClient(const Options& o) {
    m_mosq =
        mosquitto_new(o.clientId.isEmpty() ? nullptr : bytes(o.clientId).constData(), true, this);
    if (m_mosq == nullptr) {
        return lost(QStringLiteral("the MQTT client could not be made: ") +
                    QString::fromLocal8Bit(std::strerror(errno)));
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Confirmations are waited for a batch at a time, not one message at a time.
    mosquitto_max_inflight_messages_set(m_mosq, 0);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_log_callback_set(m_mosq, &MqttClient::onLog);
    if (!o.username.isEmpty()) {
        mosquitto_username_pw_set(m_mosq, bytes(o.username).constData(),
                                  o.password.isEmpty() ? nullptr : bytes(o.password).constData());
    }
    if (!o.caFile.isEmpty()) {
        const int rc =
            mosquitto_tls_set(m_mosq, bytes(o.caFile).constData(), nullptr,
                              orNull(bytes(o.certFile)), orNull(bytes(o.keyFile)), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return lost(QStringLiteral("the TLS files for the MQTT broker at ") + m_broker +
                        QStringLiteral(" cannot be read (CaFile ") + o.caFile +
                        (o.certFile.isEmpty() ? QString()
                                              : QStringLiteral(", CertFile ") + o.certFile +
                                                    QStringLiteral(", KeyFile ") + o.keyFile) +
                        QStringLiteral("): ") + libraryText(rc));
        }
    }
    if (!o.willTopic.isEmpty()) {
        mosquitto_will_set(m_mosq, bytes(o.willTopic).constData(), int(o.willPayload.size()),
                           o.willPayload.constData(), 1, true);
    }
    return {};
}

Status MqttClient::awaitAnswer(const Options& o, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (m_connackCode < 0 && waited.elapsed() < timeoutMs) {
        const int loop = mosquitto_loop(m_mosq, 50, 1);
        // A refusal comes as an answer, and then the library's error: the answer says more.
        if (loop != MOSQ_ERR_SUCCESS && m_connackCode < 0) {
            if (loop == MOSQ_ERR_TLS || m_lastError.contains(QStringLiteral("OpenSSL"))) {
                return tlsFailed(o);
            }
            return unreachable();
        }
    }
    if (m_connackCode < 0) {
        return unreachable();
    }
    if (m_connackCode != 0) {
        const int code = m_connackCode;
        const bool credentials = code == 4 || code == 5;
        return lost(
            QStringLiteral("the MQTT broker at ") + m_broker +
            QStringLiteral(" refused the connection: ") +
            QString::fromUtf8(mosquitto_connack_string(code)) +
            (credentials ? QStringLiteral(" Check Username and Password in [Mqtt].") : QString()));
    }
    return {};
}

Status MqttClient::publish(const QString& topic, const QByteArray& payload, int qos, bool retain) {
    return publish(bytes(topic), payload, qos, retain);
}

Status MqttClient::publish(const QByteArray& topic, const QByteArray& payload, int qos,
                           bool retain) {
    if (!m_connected) {
        return Problem{ErrorKind::DatabaseUnavailable, m_lost};
    }
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    switch (rc) {
        case MOSQ_ERR_SUCCESS:
            if (qos > 0) {
                m_outstanding.push_back({mid});
            }
            return {};
        case MOSQ_ERR_INVAL:
        case MOSQ_ERR_PAYLOAD_SIZE:
        case MOSQ_ERR_MALFORMED_UTF8:
            return Problem{ErrorKind::Message,
                           QStringLiteral("the MQTT broker cannot take topic ") +
                               QString::fromUtf8(topic) + QStringLiteral(": ") + libraryText(rc)};
        default:
            return lost(QStringLiteral("the connection to the MQTT broker at ") + m_broker +
                        QStringLiteral(" was lost: ") + libraryText(rc));
    }
}

Status MqttClient::loopOnce(int timeoutMs) {
    const int rc = mosquitto_loop(m_mosq, timeoutMs, 1);
    if (rc != MOSQ_ERR_SUCCESS || !m_connected) {
        return lost(m_lost.isEmpty()
                        ? QStringLiteral("the connection to the MQTT broker at ") + m_broker +
                              QStringLiteral(" was lost: ") + libraryText(rc)
                        : m_lost);
    }
    return {};
}

Status MqttClient::flush(int timeoutMs, qsizetype leave) {
    if (!m_connected) {
        return Problem{ErrorKind::DatabaseUnavailable, m_lost};
    }
    QElapsedTimer waited;
    waited.start();
    while (outstanding() > leave || (leave == 0 && mosquitto_want_write(m_mosq))) {
        if (waited.elapsed() >= timeoutMs) {
            return Problem{ErrorKind::DatabaseUnavailable,
                           QStringLiteral("the MQTT broker at ") + m_broker +
                               QStringLiteral(" confirmed no message for ") +
                               QString::number(timeoutMs) + QStringLiteral(" ms")};
        }
        if (const Status looped = loopOnce(10); !looped) {
            return looped;
        }
    }
    return {};
}

Status MqttClient::subscribe(const QString& topic, MessageHandler handler) {
    m_handlers.emplace_back(bytes(topic), std::move(handler));
    const int rc = mosquitto_subscribe(m_mosq, nullptr, m_handlers.back().first.constData(), 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        return lost(QStringLiteral("the subscription to ") + topic + QStringLiteral(" failed: ") +
                    libraryText(rc));
    }
    return {};
}

void MqttClient::service() {
    if (m_connected) {
        (void)loopOnce(0);
    }
}

void MqttClient::hold(bool held) {
    const int fd = m_connected ? mosquitto_socket(m_mosq) : -1;
    if (fd >= 0) {
        const int on = held ? 1 : 0;
        (void)::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
    }
}

void MqttClient::confirmed(int mid) {
    // The broker confirms in the order it was sent to, so the oldest is nearly always the one.
    const auto sent = std::find_if(m_outstanding.begin(), m_outstanding.end(),
                                   [mid](const Sent& s) { return s.mid == mid; });
    if (sent != m_outstanding.end()) {
        sent->confirmed = true;
    }
    while (!m_outstanding.empty() && m_outstanding.front().confirmed) {
        m_outstanding.pop_front();
    }
}

void MqttClient::disconnect() {
    if (m_connected) {
        (void)flush(1000);
        mosquitto_disconnect(m_mosq);
        (void)mosquitto_loop(m_mosq, 0, 1);
        m_connected = false;
    }
}

void MqttClient::onConnect(mosquitto*, void* self, int rc) {
    static_cast<MqttClient*>(self)->m_connackCode = rc;
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc) {
    auto* c = static_cast<MqttClient*>(self);
    if (c->m_connected && rc != 0) {
        c->m_lost = QStringLiteral("the connection to the MQTT broker at ") + c->m_broker +
                    QStringLiteral(" was lost: ") + libraryText(rc);
    }
    c->m_connected = false;
}

void MqttClient::onPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttClient*>(self)->confirmed(mid);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* c = static_cast<MqttClient*>(self);
    for (const auto& [topic, handler] : c->m_handlers) {
        if (topic == message->topic) {
            handler(QString::fromUtf8(message->topic),
                    QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
        }
    }
}

void MqttClient::onLog(mosquitto*, void* self, int level, const char* text) {
    if (level & MOSQ_LOG_ERR) {
        static_cast<MqttClient*>(self)->m_lastError = QString::fromUtf8(text);
    }
}
