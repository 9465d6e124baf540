#include "support/SettingsStore.h"

#include <QFileInfo>
#include <algorithm>

#include "report/Reporter.h"
#include "support/IniFile.h"
#include "support/ProgramNames.h"
#include "support/SettingKeys.h"
#include "support/UnknownKeys.h"

namespace {

// The keys of section "Quilljot", as the settings file names them.
const QString kEngine = QStringLiteral("Engine");
const QString kUseSql = QStringLiteral("UseSQL");
const QString kSqlSource = QStringLiteral("SQLSource");
const QString kDatabase = QStringLiteral("Database");
const QString kTable = QStringLiteral("DatabaseTable");
const QString kWindowHeight = QStringLiteral("WindowHeight");
const QString kWindowWidth = QStringLiteral("WindowWidth");
const QString kSourceFilter = QStringLiteral("SourceFilter");
const QString kTypeFilter = QStringLiteral("CategoryFilter");
const QString kDataFilter = QStringLiteral("DataFilter");
const QString kSpoolLimit = QStringLiteral("SpoolLimit");

// Section "Interface" of the shared file.
const QString kInterfaceAddress = QStringLiteral("InterfaceAddress");
const QString kBroadcastAddress = QStringLiteral("BroadcastAddress");

Problem settingsProblem(const QString& text, int step) {
    return Problem{ErrorNumber::Settings, text, step};
}

Status checkTable(const QString& table) {
    if (!SettingRules::isPlainName(table)) {
        return settingsProblem(
            QStringLiteral("DatabaseTable must be a plain name (letters, digits, _), not '") +
                table + u'\'',
            4);
    }
    return {};
}

Status checkCatalog(const DatabaseSettings& d) {
    // A server's database name goes into CREATE DATABASE and the connection as it is.
    if (d.kind != DatabaseKind::File && !SettingRules::isPlainName(d.database)) {
        return settingsProblem(QStringLiteral("Database must be a plain database name on the "
                                              "server (letters, digits, _), not '") +
                                   d.database + u'\'',
                               3);
    }
    return {};
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

namespace {

// The value of a key of the logger's file, or the default the key table gives it.
QString loggerValue(const IniFile& ini, const QString& key) {
    const QString& section = ProgramNames::kLoggerSection;
    return ini.read(section, key, SettingKeys::initial(section, key));
}

}  // namespace

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
    s.database.table = SettingKeys::initial(ProgramNames::kLoggerSection, kTable);
    return s;
}

SettingsStore::Loaded SettingsStore::load(const LoggerSettings& previous) const {
    Loaded out{previous, StorageRules{}, {}};
    const Result<IniFile> file = read(ProgramNames::kLoggerSettingsFile);
    if (!file) {
        out.problems.append(file.problem().atStep(1));
        return out;
    }
    const IniFile& ini = file.value();
    const QString& section = ProgramNames::kLoggerSection;
    DatabaseSettings& d = out.settings.database;

    // Engine names the engine; without it UseSQL chooses between the file and SQL Server.
    const QString engine = loggerValue(ini, kEngine);
    const QString useSql = loggerValue(ini, kUseSql);
    if (const auto kind = SettingRules::engineNamed(engine)) {
        d.kind = *kind;
    } else if (!engine.trimmed().isEmpty()) {
        out.problems.append(settingsProblem(QStringLiteral("Engine must be file, sqlserver or "
                                                           "postgresql, not '") +
                                                engine + u'\'',
                                            1));
    } else if (const auto b = SettingRules::readBoolean(useSql)) {
        d.kind = *b ? DatabaseKind::SqlServer : DatabaseKind::File;
    } else {
        out.problems.append(settingsProblem(QStringLiteral("Type mismatch: '") + useSql +
                                                QStringLiteral("' is not True, False or a number"),
                                            1));
    }
    d.sqlSource = loggerValue(ini, kSqlSource);
    DatabaseSettings candidate = d;
    candidate.database = ini.read(section, kDatabase, m_folders.defaultDatabasePath());
    if (const Status s = checkCatalog(candidate); !s) {
        out.problems.append(s.problem());
    } else {
        d.database = candidate.kind == DatabaseKind::File ? m_folders.resolve(candidate.database)
                                                          : candidate.database;
    }
    const QString table = loggerValue(ini, kTable);
    if (const Status s = checkTable(table); !s) {
        out.problems.append(s.problem());
    } else {
        d.table = table;
    }

    bool numeric = false;
    const QString limit = loggerValue(ini, kSpoolLimit);
    const int mib = limit.toInt(&numeric);
    if (numeric && mib > 0) {
        out.settings.spoolLimitMiB = mib;
    } else {
        out.problems.append(settingsProblem(
            QStringLiteral("SpoolLimit must be a number of MiB above 0, not '") + limit + u'\'',
            5));
    }

    EchoWindowSettings& w = out.settings.echoWindow;
    // Text that is not a number counts as 0; the window's minimum size then applies.
    w.heightTwips = qRound(loggerValue(ini, kWindowHeight).toDouble());
    w.widthTwips = qRound(loggerValue(ini, kWindowWidth).toDouble());
    w.sourceFilter = loggerValue(ini, kSourceFilter);
    w.typeFilter = loggerValue(ini, kTypeFilter);
    w.dataFilter = loggerValue(ini, kDataFilter);

    RuleSettings::Loaded rules = RuleSettings::read(ini);
    out.rules = rules.rules;
    out.problems += rules.problems;
    out.problems += UnknownKeys::find(ini);
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

Status SettingsStore::save(const QList<std::pair<QString, QString>>& values) const {
    // Its odd lines were reported when the settings were read.
    Result<IniFile> file = read(ProgramNames::kLoggerSettingsFile, false);
    if (!file) {
        return file.problem();
    }
    IniFile& ini = file.value();
    for (const auto& [key, value] : values) {
        ini.write(ProgramNames::kLoggerSection, key, value);
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
    QList<std::pair<QString, QString>> changed;
    if (d.kind != before.kind) {
        // UseSQL says "a database server" to programs that know no Engine.
        changed.append({kEngine, SettingRules::engineName(d.kind)});
        changed.append({kUseSql, d.kind == DatabaseKind::File ? QStringLiteral("False")
                                                              : QStringLiteral("True")});
    }
    if (d.sqlSource != before.sqlSource) {
        changed.append({kSqlSource, d.sqlSource});
    }
    if (d.database != before.database) {
        changed.append({kDatabase, d.database});
    }
    if (d.table != before.table) {
        changed.append({kTable, d.table});
    }
    return save(changed);
}

Status SettingsStore::saveEchoWindow(const EchoWindowSettings& w) const {
    return save({
        {kWindowHeight, QString::number(w.heightTwips)},
        {kWindowWidth, QString::number(w.widthTwips)},
        {kSourceFilter, w.sourceFilter},
        {kTypeFilter, w.typeFilter},
        {kDataFilter, w.dataFilter},
    });
}

SettingsStore::LoadedNetwork SettingsStore::loadNetwork() const {
    LoadedNetwork out;
    const Result<IniFile> file = read(ProgramNames::kSharedSettingsFile);
    if (!file) {
        out.problems.append(file.problem().atStep(9));
        return out;
    }
    const QString& section = ProgramNames::kSharedSection;
    out.settings.interfaceAddress =
        file.value().read(section, kInterfaceAddress, QStringLiteral("Default"));
    out.settings.broadcastAddress =
        file.value().read(section, kBroadcastAddress, QStringLiteral("Default"));
    return out;
}
