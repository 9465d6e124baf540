#include "support/RuleSettings.h"

#include <QRegularExpression>
#include <algorithm>

#include "support/AppFolders.h"
#include "support/IniFile.h"
#include "support/LoggerSettings.h"
#include "support/ProgramNames.h"

namespace {

const QString kRulesSection = QStringLiteral("Rules");
const QString kKeepDays = QStringLiteral("KeepDays");
const QString kMessagesKeepDays = QStringLiteral("MessagesKeepDays");
const QString kMessagesTable = QStringLiteral("MessagesTable");
const QString kExcludeOwnReports = QStringLiteral("ExcludeOwnReports");
const QString kInclude = QStringLiteral("Include");
const QString kExclude = QStringLiteral("Exclude");

Problem problem(const QString& text) {
    return Problem{ErrorNumber::Settings, text};
}

void readDays(const IniFile& ini, const QString& key, int& days, QList<Problem>& problems) {
    const QString text = ini.read(ProgramNames::kLoggerSection, key, QStringLiteral("0"));
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (ok && n >= 0) {
        days = n;
    } else {
        problems.append(problem(
            key + QStringLiteral(" must be a number of days, 0 or more, not '") + text + u'\''));
    }
}

// Include1, Include2, ... (not ExcludeOwnReports).
bool isRuleKey(const QString& key, const QString& prefix) {
    bool numbered = false;
    (void)key.mid(prefix.size()).toInt(&numbered);
    return numbered && key.startsWith(prefix, Qt::CaseInsensitive);
}

// Include1, Include2, ... in the order of their numbers, whatever the order of the file.
QList<MessageRule> readRules(const IniFile& ini, const QString& prefix, QList<Problem>& problems) {
    QList<std::pair<int, MessageRule>> numbered;
    for (const QString& key : ini.keys(kRulesSection)) {
        if (!isRuleKey(key, prefix)) {
            continue;
        }
        const int n = key.mid(prefix.size()).toInt();
        const QString line = ini.read(kRulesSection, key, QString());
        if (line.trimmed().isEmpty()) {
            continue;
        }
        if (const auto rule = RuleSettings::parseRule(line)) {
            numbered.append({n, *rule});
        } else {
            problems.append(problem(key +
                                    QStringLiteral(" must be \"class [source [target]]\", "
                                                   "not '") +
                                    line + u'\''));
        }
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<MessageRule> rules;
    for (const auto& [n, rule] : numbered) {
        rules.append(rule);
    }
    return rules;
}

}  // namespace

namespace RuleSettings {

std::optional<MessageRule> parseRule(const QString& line) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList parts = line.split(blanks, Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 3) {
        return std::nullopt;
    }
    // A lone ">" takes any value, also a missing header field.
    auto pattern = [&](qsizetype i) {
        const QString part = parts.value(i);
        return part == u">" ? QString() : part;
    };
    return MessageRule{pattern(0), pattern(1), pattern(2)};
}

QString ruleText(const MessageRule& rule) {
    QStringList parts{rule.messageClass.isEmpty() ? QStringLiteral(">") : rule.messageClass};
    if (!rule.source.isEmpty() || !rule.target.isEmpty()) {
        parts.append(rule.source.isEmpty() ? QStringLiteral(">") : rule.source);
    }
    if (!rule.target.isEmpty()) {
        parts.append(rule.target);
    }
    return parts.join(u' ');
}

Loaded read(const IniFile& ini) {
    Loaded out;
    StorageRules& r = out.rules;
    readDays(ini, kKeepDays, r.eventKeepDays, out.problems);
    readDays(ini, kMessagesKeepDays, r.messageKeepDays, out.problems);
    const QString table = ini.read(ProgramNames::kLoggerSection, kMessagesTable, r.messagesTable);
    if (SettingRules::isPlainName(table)) {
        r.messagesTable = table;
    } else {
        out.problems.append(problem(
            QStringLiteral("MessagesTable must be a plain name (letters, digits, _), not '") +
            table + u'\''));
    }
    const QString own = ini.read(kRulesSection, kExcludeOwnReports, QStringLiteral("False"));
    if (const auto b = SettingRules::readBoolean(own)) {
        r.excludeOwnReports = *b;
    } else {
        out.problems.append(problem(
            QStringLiteral("ExcludeOwnReports must be True or False, not '") + own + u'\''));
    }
    r.include = readRules(ini, kInclude, out.problems);
    r.exclude = readRules(ini, kExclude, out.problems);
    return out;
}

Loaded load(const AppFolders& folders) {
    const Result<IniFile> ini =
        IniFile::load(folders.configFile(ProgramNames::kLoggerSettingsFile));
    // A file that cannot be read is said where the other settings of that file are read.
    if (!ini) {
        return Loaded{};
    }
    return read(ini.value());
}

void write(IniFile& ini, const StorageRules& r) {
    const QString& section = ProgramNames::kLoggerSection;
    ini.write(section, kKeepDays, QString::number(r.eventKeepDays));
    ini.write(section, kMessagesKeepDays, QString::number(r.messageKeepDays));
    ini.write(section, kMessagesTable, r.messagesTable);
    ini.write(kRulesSection, kExcludeOwnReports,
              r.excludeOwnReports ? QStringLiteral("True") : QStringLiteral("False"));
    for (const QString& key : ini.keys(kRulesSection)) {
        if (isRuleKey(key, kInclude) || isRuleKey(key, kExclude)) {
            ini.remove(kRulesSection, key);
        }
    }
    for (const auto& [prefix, rules] : {std::pair{kInclude, &r.include}, {kExclude, &r.exclude}}) {
        for (qsizetype i = 0; i < rules->size(); ++i) {
            ini.write(kRulesSection, prefix + QString::number(i + 1), ruleText((*rules)[i]));
        }
    }
}

}  // namespace RuleSettings
