#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "report/Result.h"
#include "settings/MqttSettings.h"

struct mosquitto;
struct mosquitto_message;

// One connection to an MQTT broker (libmosquitto), driven by the thread that owns it: nothing
// runs behind its back, so that callers need no locks. A lost connection stays lost: the owner
// makes a new client, which starts clean (the old one's unconfirmed messages are the owner's to
// send again), rather than having two sessions of one client id fight over the broker.
class MqttClient {
public:
    struct Options {
        QString host;
        quint16 port = 1883;
        QString clientId;
        QString username;
        QString password;  // never part of a text this class returns
        QString caFile;    // set: TLS, the broker's certificate checked against this CA
        QString certFile;
        QString keyFile;
        QString willTopic;  // set: the broker publishes `willPayload` there, retained, if we vanish
        QByteArray willPayload;
        int keepAliveSeconds = 30;

        // The broker, the sign-in and TLS as the settings name them.
        static Options from(const MqttSettings& settings, const QString& clientId);
    };

    MqttClient();
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Connects and waits for the broker's answer (CONNACK) for at most `timeoutMs`. The problem
    // says plainly why not: the broker does not answer, the TLS handshake failed (and OpenSSL's
    // reason), the broker refused the user name or password, ...
    Status connect(const Options& options, int timeoutMs);
    bool isConnected() const { return m_connected; }
    // Why the connection ended, when it did.
    const QString& lostBecause() const { return m_lost; }

    // Hands one message to the connection; a QoS 1 message is outstanding until the broker
    // confirms it. Fails when the connection is gone, or for good (a topic or payload the
    // protocol does not allow): `passes()` tells which.
    Status publish(const QString& topic, const QByteArray& payload, int qos, bool retain);
    Status publish(const QByteArray& topicUtf8, const QByteArray& payload, int qos, bool retain);
    // Sends what is queued and waits at most `timeoutMs` until every outstanding message is
    // confirmed (QoS 1) or written to the socket (QoS 0); with `leave`, until no more than that
    // many are outstanding.
    Status flush(int timeoutMs, qsizetype leave = 0);
    // QoS 1 messages not confirmed yet, counted from the oldest unconfirmed one on: whatever was
    // published before it is confirmed, so that the publisher can let go of that many of its
    // oldest.
    qsizetype outstanding() const { return qsizetype(m_outstanding.size()); }
    // While held, what is published collects in the socket and goes out in full segments at
    // release: the broker then reads a pass in a few reads, not one per message.
    void hold(bool held);

    using MessageHandler = std::function<void(const QString& topic, const QByteArray& payload)>;
    // Messages on `topic` (a topic, no wildcards) go to `handler`, called while the connection is
    // serviced; each topic has a handler of its own.
    Status subscribe(const QString& topic, MessageHandler handler);
    // Reads what the broker sent (confirmations, subscribed messages), keeps the connection alive.
    void service();
    // Sends DISCONNECT: the broker then drops the will.
    void disconnect();

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);
    Status loopOnce(int timeoutMs);
    Problem lost(const QString& why);
    Problem tlsFailed(const Options& options);
    Problem unreachable();
    // The library's client with the options' credentials, TLS files and will, not yet connected.
    Status makeClient(const Options& options);
    // Runs the library until the broker answers the connection, which it may refuse.
    Status awaitAnswer(const Options& options, int timeoutMs);
    void confirmed(int mid);

    mosquitto* m_mosq = nullptr;
    QString m_broker;  // host:port, for texts
    bool m_connected = false;
    int m_connackCode = -1;  // -1: no answer yet
    QString m_lost;
    QString m_lastError;  // the library's last error line (OpenSSL's reasons come this way)
    struct Sent {
        int mid = 0;
        bool confirmed = false;
    };
    std::deque<Sent> m_outstanding;                                 // in the order published
    std::vector<std::pair<QByteArray, MessageHandler>> m_handlers;  // by topic
};
