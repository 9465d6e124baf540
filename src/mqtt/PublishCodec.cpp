#include "mqtt/PublishCodec.h"

#include "report/Reporter.h"
#include "support/ProgramNames.h"

const DrainTexts& PublishCodec::texts() {
    static const DrainTexts t{
        .spoolName = QStringLiteral("mqtt"),
        .spool = QStringLiteral("MQTT spool"),
        .record = QStringLiteral("message"),
        .records = QStringLiteral("messages"),
        .openWhat = QStringLiteral("Mqtt "),
        .problemWhat = QStringLiteral("Mqtt "),
        .problemStep = 0,
        .keptWhat = QStringLiteral("Messages for MQTT"),
        .place = QStringLiteral("the MQTT broker"),
    };
    return t;
}

QStringList PublishCodec::toSpool(const Publication& p) {
    return {QString::fromUtf8(p.topic), QString::fromUtf8(p.payload),
            p.retain ? QStringLiteral("1") : QString()};
}

Publication PublishCodec::fromSpool(const QStringList& texts) {
    return {texts.value(0).toUtf8(), texts.value(1).toUtf8(), !texts.value(2).isEmpty()};
}

Status PublishCodec::insert(const Publication& p) {
    if (!m_client) {
        return Problem{ErrorKind::DatabaseUnavailable, m_notConnected};
    }
    const Status sent = m_client->publish(p.topic, p.payload, m_qos, p.retain);
    if (sent) {
        ++m_batchSent;
    }
    return sent;
}

Status PublishCodec::beginBatch() {
    m_batchSent = 0;
    return {};
}

Status PublishCodec::endBatch() {
    if (m_batchSent == 0) {
        return {};
    }
    const Status confirmed = m_client ? m_client->flush(kConfirmMs)
                                      : Status(Problem{ErrorKind::DatabaseUnavailable, {}});
    if (!confirmed) {
        m_republished += m_batchSent;
        // What this client still holds unconfirmed goes with it: the spool sends it again.
        m_client.reset();
    }
    m_batchSent = 0;
    return confirmed;
}

Status PublishCodec::reopen() {
    m_client.reset();
    Result<std::unique_ptr<MqttClient>> made = m_connect();
    if (!made) {
        m_notConnected = made.problem().description;
        return made.problem();
    }
    m_client = std::move(made.value());
    return {};
}

void PublishCodec::lose(const Problem& why) {
    m_client.reset();
    m_notConnected = why.description;
}

void PublishCodec::refuse(const Publication& p, const Refusal& refusal) {
    if (refusal.refusedSinceWrite) {
        return;
    }
    Problem said = refusal.why;
    said.description += QStringLiteral(". The message for ") + QString::fromUtf8(p.topic) +
                        QStringLiteral(" is left out (said again after a message is published)");
    m_reporter->toNetwork(ProgramNames::kProgram, QStringLiteral("Mqtt "), said);
}
