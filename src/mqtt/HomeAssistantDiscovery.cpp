#include "mqtt/HomeAssistantDiscovery.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Home Assistant's default discovery prefix; the one its users rarely change.
const QString kDiscoveryPrefix = QStringLiteral("homeassistant");
const QString kProduct = QStringLiteral("Quilljot");
// Long enough to read, short enough for a topic level.
constexpr qsizetype kSlugLimit = 48;
// 32 bits: sources on one network are counted in tens, so two that share a hash are unlikely.
constexpr qsizetype kHashHexDigits = 8;

QString slug(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (out.size() >= kSlugLimit) {
            break;
        }
        const char16_t u = c.toLower().unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')) {
            out += QChar(u);
        } else if (!out.isEmpty() && !out.endsWith(u'_')) {
            out += u'_';
        }
    }
    while (out.endsWith(u'_')) {
        out.chop(1);
    }
    return out;
}

QString hashOf(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256)
                                   .toHex()
                                   .first(kHashHexDigits));
}

// The state: the event's data, cut where Home Assistant would refuse it (Jinja slices count
// characters, as Home Assistant's limit does).
QString stateTemplate() {
    return QStringLiteral("{{ value_json.data[:") +
           QString::number(HomeAssistantDiscovery::kStateLimit) + QStringLiteral("] }}");
}

// The attributes: the whole event but its id, which changes with every event and would make
// Home Assistant record every state's attributes anew.
QString attributesTemplate() {
    return QStringLiteral(
        "{{ {'source': value_json.source, 'type': value_json.type, 'time': value_json.time, "
        "'data': value_json.data} | tojson }}");
}

}  // namespace

HomeAssistantDiscovery::HomeAssistantDiscovery(const Logger& logger)
    : m_loggerKey(key(logger.identity)) {
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{m_loggerKey}},
        {QStringLiteral("name"), logger.name},
        {QStringLiteral("manufacturer"), kProduct},
        {QStringLiteral("model"), QStringLiteral("xAP event logger")},
        {QStringLiteral("sw_version"), QStringLiteral(QUILLJOT_VERSION)},
    };
    m_shared = QJsonObject{
        {QStringLiteral("availability_topic"), logger.availabilityTopic},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), kProduct},
                     {QStringLiteral("sw_version"), QStringLiteral(QUILLJOT_VERSION)}}},
    };
}

QString HomeAssistantDiscovery::birthTopic() {
    return kDiscoveryPrefix + QStringLiteral("/status");
}

bool HomeAssistantDiscovery::isBirth(const QByteArray& payload) {
    return payload == "online";
}

QString HomeAssistantDiscovery::key(const QString& text) {
    const QString readable = slug(text);
    return readable.isEmpty() ? hashOf(text) : readable + u'_' + hashOf(text);
}

HomeAssistantDiscovery::Sensor HomeAssistantDiscovery::sensor(const QString& source) const {
    const QString sourceKey = key(source);
    const QString folder =
        kDiscoveryPrefix + QStringLiteral("/sensor/") + m_loggerKey + u'/' + sourceKey;
    const QString state = folder + QStringLiteral("/state");
    QJsonObject config = m_shared;
    config.insert(QStringLiteral("name"), source);
    config.insert(QStringLiteral("unique_id"), QString(m_loggerKey + u'_' + sourceKey));
    config.insert(QStringLiteral("state_topic"), state);
    config.insert(QStringLiteral("value_template"), stateTemplate());
    config.insert(QStringLiteral("json_attributes_topic"), state);
    config.insert(QStringLiteral("json_attributes_template"), attributesTemplate());
    config.insert(QStringLiteral("icon"), QStringLiteral("mdi:message-text-outline"));
    return {(folder + QStringLiteral("/config")).toUtf8(), state.toUtf8(),
            QJsonDocument(config).toJson(QJsonDocument::Compact)};
}
