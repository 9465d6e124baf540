#include "web/SettingsJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "store/ServerSource.h"

namespace {

Problem refused(const QString& text) {
    return Problem{ErrorKind::Settings, text};
}

}  // namespace

namespace SettingsJson {

QJsonObject toJson(const DatabaseSettings& database) {
    return {{QStringLiteral("engine"), SettingRules::engineName(database.kind)},
            {QStringLiteral("sqlSource"), ServerSource::redactedSource(database.sqlSource)},
            {QStringLiteral("database"), database.database},
            {QStringLiteral("table"), database.table}};
}

Result<DatabaseSettings> fromJson(const QByteArray& body, const DatabaseSettings& current) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return refused(QStringLiteral("The body must be a JSON object"));
    }
    const QJsonObject json = document.object();
    static const QStringList kFields = {QStringLiteral("engine"), QStringLiteral("sqlSource"),
                                        QStringLiteral("database"), QStringLiteral("table")};
    for (auto it = json.begin(); it != json.end(); ++it) {
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
    return next;
}

}  // namespace SettingsJson
