#include "web/SettingsJson.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <algorithm>

#include "store/ServerSource.h"

namespace {

Problem refused(const QString& text) {
    return Problem{ErrorKind::Settings, text};
}

// A server chosen on the page is a host name or an address: never a folder (a PostgreSQL Unix
// socket, where the logger would sign in as its own system user) nor any other path.
bool isHostName(const QString& host) {
    const QString bare =
        host.startsWith(u'[') && host.endsWith(u']') ? host.mid(1, host.size() - 2) : host;
    if (!QHostAddress(bare).isNull()) {
        return true;
    }
    // Labels of letters, digits, "-" and "_", joined by dots.
    static const QString label = QStringLiteral("[A-Za-z0-9_][A-Za-z0-9_-]{0,62}");
    static const QRegularExpression name(QStringLiteral("\\A(?=.{1,253}\\z)") + label +
                                         QStringLiteral("(\\.") + label +
                                         QStringLiteral(")*\\.?\\z"));
    return name.match(host).hasMatch();
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
        given.append({f->key, text});
    }
    const auto sent = [&](Setting key) {
        return std::find_if(given.begin(), given.end(),
                            [&](const auto& g) { return g.first == key; });
    };
    const auto host = sent(Setting::MqttHost);
    const QString nextHost = host == given.end() ? current.host : host->second.trimmed();
    if (!nextHost.isEmpty() && nextHost != current.host && !isHostName(nextHost)) {
        return refused(QStringLiteral("The MQTT broker must be a host name or an address, not '") +
                       nextHost.left(80) + u'\'');
    }
    // The mask, or no password at all, keeps the stored one for the same broker only.
    auto password = sent(Setting::MqttPassword);
    if (password == given.end()) {
        given.append({Setting::MqttPassword, MqttSettingsFile::shownPassword(current)});
        password = given.end() - 1;
    }
    password->second = MqttSettingsFile::chosenPassword(password->second, current, nextHost);
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
            {QStringLiteral("searchIndex"), database.searchIndex},
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
        if (it.key() == u"searchIndex") {
            if (!it.value().isBool()) {
                return refused(QStringLiteral("Field 'searchIndex' must be true or false"));
            }
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
        next.sqlSource = ServerSource::chosenSource(
            json[QStringLiteral("sqlSource")].toString().trimmed(), current.sqlSource);
    }
    if (json.contains(QStringLiteral("database"))) {
        next.database = json[QStringLiteral("database")].toString().trimmed();
    }
    if (json.contains(QStringLiteral("table"))) {
        next.table = json[QStringLiteral("table")].toString().trimmed();
    }
    if (json.contains(QStringLiteral("searchIndex"))) {
        next.searchIndex = json[QStringLiteral("searchIndex")].toBool();
    }
    if (const Status checked = SettingRules::checkDatabase(next); !checked) {
        return refused(checked.problem().description);
    }
    if (next.kind != DatabaseKind::File) {
        const ServerSource server = ServerSource::parse(next.sqlSource);
        if (server.host.isEmpty()) {
            return refused(QStringLiteral("SQL Source must name the server: host,port"));
        }
        const bool portOk =
            server.port.isEmpty() || (server.port.toUInt() >= 1 && server.port.toUInt() <= 65535);
        if (!ServerSource::sameHost(server.host, ServerSource::parse(current.sqlSource).host) &&
            (!isHostName(server.host) || !portOk)) {
            return refused(QStringLiteral("SQL Source must name the server by a host name or an "
                                          "address, and a port if any (host,port), not '") +
                           server.host.left(80) + u'\'');
        }
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
