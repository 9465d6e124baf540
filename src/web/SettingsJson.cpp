#include "web/SettingsJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "store/ServerSource.h"

namespace {

Problem refused(const QString& text) {
    return Problem{ErrorNumber::Settings, text};
}

}  // namespace

namespace SettingsJson {

QJsonObject toJson(const DatabaseSettings& database) {
    return {{u"engine"_qs, SettingRules::engineName(database.kind)},
            {u"sqlSource"_qs, ServerSource::redactedSource(database.sqlSource)},
            {u"database"_qs, database.database},
            {u"table"_qs, database.table}};
}

Result<DatabaseSettings> fromJson(const QByteArray& body, const DatabaseSettings& current) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return refused(u"The body must be a JSON object"_qs);
    }
    const QJsonObject json = document.object();
    static const QStringList kFields = {u"engine"_qs, u"sqlSource"_qs, u"database"_qs, u"table"_qs};
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!kFields.contains(it.key())) {
            return refused(u"Unknown field '"_qs + it.key().left(40) + u"'"_qs);
        }
        if (!it.value().isString()) {
            return refused(u"Field '"_qs + it.key() + u"' must be a text"_qs);
        }
    }
    DatabaseSettings next = current;
    if (json.contains(u"engine"_qs)) {
        const std::optional<DatabaseKind> kind =
            SettingRules::engineNamed(json[u"engine"_qs].toString());
        if (!kind) {
            return refused(u"'engine' must be file, sqlserver or postgresql"_qs);
        }
        next.kind = *kind;
    }
    if (json.contains(u"sqlSource"_qs)) {
        const QString source = json[u"sqlSource"_qs].toString().trimmed();
        // An unchanged masked source keeps the password it stands for.
        next.sqlSource =
            source == ServerSource::redactedSource(current.sqlSource) ? current.sqlSource : source;
    }
    if (json.contains(u"database"_qs)) {
        next.database = json[u"database"_qs].toString().trimmed();
    }
    if (json.contains(u"table"_qs)) {
        next.table = json[u"table"_qs].toString().trimmed();
    }
    if (const Status checked = SettingRules::checkDatabase(next); !checked) {
        return refused(checked.problem().description);
    }
    if (next.kind != DatabaseKind::File && ServerSource::parse(next.sqlSource).host.isEmpty()) {
        return refused(u"SQL Source must name the server: host,port"_qs);
    }
    return next;
}

}  // namespace SettingsJson
