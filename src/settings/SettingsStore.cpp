#include "settings/SettingsStore.h"

#include <QFileInfo>
#include <algorithm>

#include "report/ReportSteps.h"
#include "report/Reporter.h"
#include "settings/IniFile.h"
#include "settings/MqttSettings.h"
#include "settings/SettingKeys.h"
#include "settings/UnknownKeys.h"
#include "support/ProgramNames.h"

namespace {

// Section "Interface" of the shared file.
const QString kInterfaceAddress = QStringLiteral("InterfaceAddress");
const QString kBroadcastAddress = QStringLiteral("BroadcastAddress");

Problem settingsProblem(const QString& text, int step) {
    return Problem{ErrorKind::Settings, text, step};
}

const std::pair<DatabaseKind, const char16_t*> kEngineNames[] = {
    {DatabaseKind::File, u"file"},
    {DatabaseKind::SqlServer, u"sqlserver"},
    {DatabaseKind::PostgreSql, u"postgresql"},
};

}  // namespace

namespace SettingRules {

bool isPlainName(const QString& name) {
    if (name.isEmpty() || name.size() > 128) {
        return false;
    }
    auto letter = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
    };
    if (!letter(name.front())) {
        return false;
    }
    return std::all_of(name.begin(), name.end(),
                       [&](QChar c) { return letter(c) || (c >= u'0' && c <= u'9'); });
}

QString engineName(DatabaseKind kind) {
    for (const auto& [k, name] : kEngineNames) {
        if (k == kind) {
            return QString::fromUtf16(name);
        }
    }
    return {};
}

std::optional<DatabaseKind> engineNamed(const QString& name) {
    for (const auto& [kind, n] : kEngineNames) {
        if (name.trimmed().compare(QStringView(n), Qt::CaseInsensitive) == 0) {
            return kind;
        }
    }
    return std::nullopt;
}

Status checkCatalog(const DatabaseSettings& d) {
    if (d.database.trimmed().isEmpty()) {
        return settingsProblem(QStringLiteral("Database must name the database file or the "
                                              "database on the server"),
                               ReportStep::InitXap::Database);
    }
    // A server's database name goes into CREATE DATABASE and the connection as it is.
    if (d.kind != DatabaseKind::File && !isPlainName(d.database)) {
        return settingsProblem(QStringLiteral("Database must be a plain database name on the "
                                              "server (letters, digits, _), not '") +
                                   d.database + u'\'',
                               ReportStep::InitXap::Database);
    }
    return {};
}

Status checkDatabase(const DatabaseSettings& d) {
    if (const Status catalog = checkCatalog(d); !catalog) {
        return catalog;
    }
    if (const auto wrong = SettingKeys::wrongValue(Setting::DatabaseTable, d.table)) {
        return settingsProblem(*wrong, ReportStep::InitXap::Table);
    }
    return {};
}

std::optional<bool> readBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(u"true", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (t.compare(u"false", Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return n != 0;
}

}  // namespace SettingRules

SettingsStore::SettingsStore(AppFolders folders, Reporter& reporter)
    : m_folders(std::move(folders)), m_reporter(reporter) {}

Result<IniFile> SettingsStore::read(const QString& file, bool reportLines) const {
    Result<IniFile> ini = IniFile::load(m_folders.configFile(file));
    if (ini && reportLines) {
        for (const QString& line : ini.value().malformedLines()) {
            m_reporter.toNetwork(QStringLiteral("IniTool"),
                                 QStringLiteral(" Equal sign not found on line ") + line);
        }
    }
    return ini;
}

LoggerSettings SettingsStore::defaults() const {
    LoggerSettings s;
    s.database.database = m_folders.defaultDatabasePath();
    s.database.table = SettingKeys::initial(Setting::DatabaseTable);
    return s;
}

SettingsStore::Loaded SettingsStore::load(const LoggerSettings& previous) const {
    Loaded out{previous, StorageRules{}, {}};
    const Result<IniFile> file = read(ProgramNames::kLoggerSettingsFile);
    if (!file) {
        out.problems.append(file.problem().atStep(ReportStep::InitXap::SettingsFile));
        return out;
    }
    const IniFile& ini = file.value();
    DatabaseSettings& d = out.settings.database;
    auto wrong = [&](Setting key, const QString& value, int step) {
        const auto why = SettingKeys::wrongValue(key, value);
        if (why) {
            out.problems.append(settingsProblem(*why, step));
        }
        return why.has_value();
    };

    // Engine names the engine; without it UseSQL chooses between the file and SQL Server.
    const QString engine = SettingKeys::read(ini, Setting::Engine);
    const QString useSql = SettingKeys::read(ini, Setting::UseSql);
    if (!wrong(Setting::Engine, engine, ReportStep::InitXap::SettingsFile)) {
        if (const auto kind = SettingRules::engineNamed(engine)) {
            d.kind = *kind;
        } else if (!wrong(Setting::UseSql, useSql, ReportStep::InitXap::SettingsFile)) {
            d.kind =
                *SettingRules::readBoolean(useSql) ? DatabaseKind::SqlServer : DatabaseKind::File;
        }
    }
    d.sqlSource = SettingKeys::read(ini, Setting::SqlSource);
    const QString table = SettingKeys::read(ini, Setting::DatabaseTable);
    if (!wrong(Setting::DatabaseTable, table, ReportStep::InitXap::Table)) {
        d.table = table;
    }
    const QString searchIndex = SettingKeys::read(ini, Setting::SearchIndex);
    if (!wrong(Setting::SearchIndex, searchIndex, ReportStep::InitXap::SettingsFile)) {
        d.searchIndex = *SettingRules::readBoolean(searchIndex);
    }
    DatabaseSettings candidate = d;
    candidate.database = SettingKeys::read(ini, Setting::Database);
    if (const Status s = SettingRules::checkCatalog(candidate); !s) {
        out.problems.append(s.problem());
    } else {
        d.database = candidate.kind == DatabaseKind::File ? m_folders.resolve(candidate.database)
                                                          : candidate.database;
    }

    const QString limit = SettingKeys::read(ini, Setting::SpoolLimit);
    if (!wrong(Setting::SpoolLimit, limit, ReportStep::InitXap::SpoolLimit)) {
        out.settings.spoolLimitMiB = limit.trimmed().toInt();
    }

    EchoWindowSettings& w = out.settings.echoWindow;
    // Text that is not a number counts as 0; the window's minimum size then applies.
    w.heightTwips = qRound(SettingKeys::read(ini, Setting::WindowHeight).toDouble());
    w.widthTwips = qRound(SettingKeys::read(ini, Setting::WindowWidth).toDouble());
    w.sourceFilter = SettingKeys::read(ini, Setting::SourceFilter);
    w.typeFilter = SettingKeys::read(ini, Setting::CategoryFilter);
    w.dataFilter = SettingKeys::read(ini, Setting::DataFilter);

    RuleSettings::Loaded rules = RuleSettings::read(ini);
    out.rules = rules.rules;
    // Where the rules' messages go is a database setting too: written once, read by both.
    out.settings.database.messagesTable = out.rules.messagesTable;
    out.problems += rules.problems;
    MqttSettingsFile::Loaded mqtt = MqttSettingsFile::read(ini, m_folders);
    out.settings.mqtt = mqtt.settings;
    out.problems += mqtt.problems;
    out.problems += UnknownKeys::find(ini);
    out.problems += ini.repeatProblems();
    return out;
}

Status SettingsStore::write(const IniFile& ini) const {
    // SQLSource can hold a password.
    const Status saved = ini.save(IniFile::Access::OwnerOnly);
    if (!saved) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("IniTool Save ") + ini.path(),
                             saved.problem());
    }
    return saved;
}

Status SettingsStore::save(const QList<std::pair<Setting, QString>>& values) const {
    // Its odd lines were reported when the settings were read.
    Result<IniFile> file = read(ProgramNames::kLoggerSettingsFile, false);
    if (!file) {
        return file.problem();
    }
    IniFile& ini = file.value();
    for (const auto& [key, value] : values) {
        SettingKeys::write(ini, key, value);
    }
    return write(ini);
}

Status SettingsStore::createIfMissing() const {
    const QString path = m_folders.configFile(ProgramNames::kLoggerSettingsFile);
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        return {};
    }
    return write(IniFile::fromText(SettingKeys::firstFileText(), path));
}

Status SettingsStore::saveDatabase(const DatabaseSettings& d,
                                   const DatabaseSettings& before) const {
    QList<std::pair<Setting, QString>> changed;
    if (d.kind != before.kind) {
        // UseSQL says "a database server" to programs that know no Engine.
        changed.append({Setting::Engine, SettingRules::engineName(d.kind)});
        changed.append({Setting::UseSql, d.kind == DatabaseKind::File ? QStringLiteral("False")
                                                                      : QStringLiteral("True")});
    }
    if (d.sqlSource != before.sqlSource) {
        changed.append({Setting::SqlSource, d.sqlSource});
    }
    if (d.database != before.database) {
        changed.append({Setting::Database, d.database});
    }
    if (d.table != before.table) {
        changed.append({Setting::DatabaseTable, d.table});
    }
    if (d.searchIndex != before.searchIndex) {
        changed.append({Setting::SearchIndex,
                        d.searchIndex ? QStringLiteral("True") : QStringLiteral("False")});
    }
    return save(changed);
}

Status SettingsStore::saveMqtt(const MqttSettings& mqtt, const MqttSettings& before) const {
    const QList<std::pair<Setting, QString>> now = MqttSettingsFile::values(mqtt);
    const QList<std::pair<Setting, QString>> was = MqttSettingsFile::values(before);
    QList<std::pair<Setting, QString>> changed;
    for (qsizetype i = 0; i < now.size(); ++i) {
        if (now[i] != was[i]) {
            changed.append(now[i]);
        }
    }
    return changed.isEmpty() ? Status{} : save(changed);
}

Status SettingsStore::saveEchoWindow(const EchoWindowSettings& w) const {
    return save({
        {Setting::WindowHeight, QString::number(w.heightTwips)},
        {Setting::WindowWidth, QString::number(w.widthTwips)},
        {Setting::SourceFilter, w.sourceFilter},
        {Setting::CategoryFilter, w.typeFilter},
        {Setting::DataFilter, w.dataFilter},
    });
}

SettingsStore::LoadedNetwork SettingsStore::loadNetwork() const {
    LoadedNetwork out;
    const Result<IniFile> file = read(ProgramNames::kSharedSettingsFile);
    if (!file) {
        out.problems.append(file.problem().atStep(ReportStep::InitXap::NetworkFile));
        return out;
    }
    out.repeats = file.value().repeatProblems();
    const QString& section = ProgramNames::kSharedSection;
    out.settings.interfaceAddress =
        file.value().read(section, kInterfaceAddress, QStringLiteral("Default"));
    out.settings.broadcastAddress =
        file.value().read(section, kBroadcastAddress, QStringLiteral("Default"));
    return out;
}
