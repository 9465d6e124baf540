#include "settings/RuleSettings.h"

#include <QRegularExpression>
#include <algorithm>

#include "settings/IniFile.h"
#include "settings/LoggerSettings.h"
#include "settings/SettingKeys.h"
#include "support/AppFolders.h"
#include "support/ProgramNames.h"

namespace {

Problem problem(const QString& text) {
    return Problem{ErrorKind::Settings, text};
}

void readDays(const IniFile& ini, Setting key, int& days, QList<Problem>& problems) {
    const QString text = SettingKeys::read(ini, key);
    if (const auto wrong = SettingKeys::wrongValue(key, text)) {
        problems.append(problem(*wrong));
    } else {
        days = text.trimmed().toInt();
    }
}

// Include1, Include2, ... in the order of their numbers, whatever the order of the file.
QList<MessageRule> readRules(const IniFile& ini, Setting key, QList<Problem>& problems) {
    QList<std::pair<int, QString>> lines = SettingKeys::numbered(ini, key);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<MessageRule> rules;
    for (const auto& [n, line] : lines) {
        if (line.trimmed().isEmpty()) {
            continue;
        }
        if (const auto rule = RuleSettings::parseRule(line)) {
            rules.append(*rule);
        } else {
            problems.append(problem(*SettingKeys::wrongValue(key, line, n)));
        }
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
    readDays(ini, Setting::KeepDays, r.eventKeepDays, out.problems);
    readDays(ini, Setting::MessagesKeepDays, r.messageKeepDays, out.problems);
    const QString table = SettingKeys::read(ini, Setting::MessagesTable);
    if (const auto wrong = SettingKeys::wrongValue(Setting::MessagesTable, table)) {
        out.problems.append(problem(*wrong));
    } else {
        r.messagesTable = table;
    }
    const QString own = SettingKeys::read(ini, Setting::ExcludeOwnReports);
    if (const auto wrong = SettingKeys::wrongValue(Setting::ExcludeOwnReports, own)) {
        out.problems.append(problem(*wrong));
    } else {
        r.excludeOwnReports = *SettingRules::readBoolean(own);
    }
    r.include = readRules(ini, Setting::Include, out.problems);
    r.exclude = readRules(ini, Setting::Exclude, out.problems);
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
    SettingKeys::write(ini, Setting::KeepDays, QString::number(r.eventKeepDays));
    SettingKeys::write(ini, Setting::MessagesKeepDays, QString::number(r.messageKeepDays));
    SettingKeys::write(ini, Setting::MessagesTable, r.messagesTable);
    SettingKeys::write(ini, Setting::ExcludeOwnReports,
                       r.excludeOwnReports ? QStringLiteral("True") : QStringLiteral("False"));
    for (const auto& [key, rules] :
         {std::pair{Setting::Include, &r.include}, {Setting::Exclude, &r.exclude}}) {
        for (const auto& [n, line] : SettingKeys::numbered(ini, key)) {
            SettingKeys::remove(ini, key, n);
        }
        for (qsizetype i = 0; i < rules->size(); ++i) {
            SettingKeys::write(ini, key, ruleText((*rules)[i]), int(i + 1));
        }
    }
}

}  // namespace RuleSettings
