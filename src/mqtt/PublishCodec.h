#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>

#include "mqtt/MqttClient.h"
#include "record/Drainer.h"

class Reporter;

// One message for the broker: its topic, its payload, and whether the broker keeps it for
// subscribers to come.
struct Publication {
    QByteArray topic;  // UTF-8
    QByteArray payload;
    bool retain = false;
};

// How the drainer hands publications to the MQTT broker: a batch is published and then waited
// for until the broker has confirmed every message of it (QoS 1), so that a batch the connection
// lost under way is sent again from the spool, whole (at least once). Reopening is a new
// connection; `connected` then says the bridge's first words on it (status, subscriptions).
// Kept in the spool "mqtt" as topic, payload and retain flag.
class PublishCodec {
public:
    using Record = Publication;
    using Connect = std::function<Result<std::unique_ptr<MqttClient>>()>;

    static constexpr int kConfirmMs = 5000;

    PublishCodec(Reporter& reporter, int qos, Connect connect)
        : m_reporter(&reporter), m_qos(qos), m_connect(std::move(connect)) {}

    static const DrainTexts& texts();
    static QStringList toSpool(const Publication& p);
    static Publication fromSpool(const QStringList& texts);

    Status insert(const Publication& p);
    Status beginBatch();
    Status endBatch();
    bool isOpen() const { return m_client && m_client->isConnected(); }
    Status reopen();
    // Lets go of a connection whose broker stopped confirming: `why` is what inserts say until
    // the next reopen.
    void lose(const Problem& why);
    void refuse(const Publication& p, const Refusal& refusal);

    MqttClient* client() { return m_client.get(); }
    // Messages sent again because their batch was not confirmed as a whole: a subscriber may see
    // each of them twice.
    quint64 republished() const { return m_republished; }

private:
    Reporter* m_reporter;
    int m_qos;
    Connect m_connect;
    std::unique_ptr<MqttClient> m_client;
    QString m_notConnected = QStringLiteral("the MQTT broker has not answered yet");
    quint64 m_batchSent = 0;
    quint64 m_republished = 0;
};
