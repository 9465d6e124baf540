#include "web/SettingsJson.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>

#include "store/ServerSource.h"

namespace {

Problem refused(const QString& text) {
    return Problem{ErrorKind::Settings, text};
}

// The page's name of each MQTT key, and the JSON type of its value.
enum class Kind { Text, Number, Boolean };
struct MqttField {
    QLatin1StringView name;
    Setting key;
    Kind kind;
};
constexpr MqttField kMqttFields[] = {
    {QLatin1StringView("host"), Setting::MqttHost, Kind::Text},
    {QLatin1StringView("port"), Setting::MqttPort, Kind::Number},
    {QLatin1StringView("clientId"), Setting::MqttClientId, Kind::Text},
    {QLatin1StringView("username"), Setting::MqttUsername, Kind::Text},
    {QLatin1StringView("password"), Setting::MqttPassword, Kind::Text},
    {QLatin1StringView("caFile"), Setting::MqttCaFile, Kind::Text},
    {QLatin1StringView("certFile"), Setting::MqttCertFile, Kind::Text},
    {QLatin1StringView("keyFile"), Setting::MqttKeyFile, Kind::Text},
    {QLatin1StringView("topicPrefix"), Setting::MqttTopicPrefix, Kind::Text},
    {QLatin1StringView("qos"), Setting::MqttQos, Kind::Number},
    {QLatin1StringView("discovery"), Setting::MqttDiscovery, Kind::Boolean},
    {QLatin1StringView("commands"), Setting::MqttCommands, Kind::Boolean},
    {QLatin1StringView("commandClasses"), Setting::MqttCommandClasses, Kind::Text},
};

QJsonObject mqttToJson(const MqttSettings& mqtt) {
    QJsonObject json;
    const QList<std::pair<Setting, QString>> values = MqttSettingsFile::values(mqtt);
    for (const MqttField& f : kMqttFields) {
        const auto at = std::find_if(values.begin(), values.end(),
                                     [&](const auto& v) { return v.first == f.key; });
        switch (f.kind) {
            case Kind::Text:
                json.insert(f.name, at->second);
                break;
            case Kind::Number:
                json.insert(f.name, at->second.toInt());
                break;
            case Kind::Boolean:
                json.insert(f.name, at->second == u"True");
                break;
        }
    }
    json.insert(QLatin1StringView("password"), MqttSettingsFile::shownPassword(mqtt));
    return json;
}

// A number is taken as the text it stands for, so that the key's rule judges it (1.5 too).
Result<MqttSettings> mqttFromJson(const QJsonValue& value, const MqttSettings& current) {
    if (!value.isObject()) {
        return refused(QStringLiteral("Field 'mqtt' must be an object"));
    }
    const QJsonObject json = value.toObject();
    QList<std::pair<Setting, QString>> given;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const auto f = std::find_if(std::begin(kMqttFields), std::end(kMqttFields),
                                    [&](const MqttField& m) { return m.name == it.key(); });
        if (f == std::end(kMqttFields)) {
            return refused(QStringLiteral("Unknown field 'mqtt.") + it.key().left(40) +
                           QStringLiteral("'"));
        }
        const QJsonValue v = it.value();
        QString text;
        if (v.isString()) {
            text = v.toString();
        } else if (f->kind == Kind::Number && v.isDouble()) {
            text = QString::number(v.toDouble(), 'g', 17);
        } else if (f->kind == Kind::Boolean && v.isBool()) {
            text = v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        } else {
            static const char* const kTypes[] = {"a text", "a number", "true or false"};
            return refused(QStringLiteral("Field 'mqtt.") + it.key() +
                           QStringLiteral("' must be ") + QLatin1StringView(kTypes[int(f->kind)]));
        }
        if (f->key == Setting::MqttPassword) {
            text = MqttSettingsFile::chosenPassword(text, current);
        }
        given.append({f->key, text});
    }
    return MqttSettingsFile::withValues(current, given);
}

}  // namespace

namespace SettingsJson {

QJsonObject toJson(const Chosen& settings) {
    const DatabaseSettings& database = settings.database;
    return {{QStringLiteral("engine"), SettingRules::engineName(database.kind)},
            {QStringLiteral("sqlSource"), ServerSource::redactedSource(database.sqlSource)},
            {QStringLiteral("database"), database.database},
            {QStringLiteral("table"), database.table},
            {QStringLiteral("mqtt"), mqttToJson(settings.mqtt)}};
}

Result<Chosen> fromJson(const QByteArray& body, const Chosen& chosen) {
    const DatabaseSettings& current = chosen.database;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return refused(QStringLiteral("The body must be a JSON object"));
    }
    const QJsonObject json = document.object();
    static const QStringList kFields = {QStringLiteral("engine"), QStringLiteral("sqlSource"),
                                        QStringLiteral("database"), QStringLiteral("table")};
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (it.key() == u"mqtt") {
            continue;
        }
        if (!kFields.contains(it.key())) {
            return refused(QStringLiteral("Unknown field '") + it.key().left(40) +
                           QStringLiteral("'"));
        }
        if (!it.value().isString()) {
            return refused(QStringLiteral("Field '") + it.key() +
                           QStringLiteral("' must be a text"));
        }
    }
    DatabaseSettings next = current;
    if (json.contains(QStringLiteral("engine"))) {
        const std::optional<DatabaseKind> kind =
            SettingRules::engineNamed(json[QStringLiteral("engine")].toString());
        if (!kind) {
            return refused(QStringLiteral("'engine' must be file, sqlserver or postgresql"));
        }
        next.kind = *kind;
    }
    if (json.contains(QStringLiteral("sqlSource"))) {
        const QString source = json[QStringLiteral("sqlSource")].toString().trimmed();
        // An unchanged masked source keeps the password it stands for.
        next.sqlSource =
            source == ServerSource::redactedSource(current.sqlSource) ? current.sqlSource : source;
    }
    if (json.contains(QStringLiteral("database"))) {
        next.database = json[QStringLiteral("database")].toString().trimmed();
    }
    if (json.contains(QStringLiteral("table"))) {
        next.table = json[QStringLiteral("table")].toString().trimmed();
    }
    if (const Status checked = SettingRules::checkDatabase(next); !checked) {
        return refused(checked.problem().description);
    }
    if (next.kind != DatabaseKind::File && ServerSource::parse(next.sqlSource).host.isEmpty()) {
        return refused(QStringLiteral("SQL Source must name the server: host,port"));
    }
    Chosen out{next, chosen.mqtt};
    if (json.contains(QStringLiteral("mqtt"))) {
        Result<MqttSettings> mqtt = mqttFromJson(json[QStringLiteral("mqtt")], chosen.mqtt);
        if (!mqtt) {
            return mqtt.problem();
        }
        out.mqtt = mqtt.value();
    }
    return out;
}

}  // namespace SettingsJson
