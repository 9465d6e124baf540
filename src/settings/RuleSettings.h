#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "report/Result.h"
#include "settings/SettingKeys.h"

class AppFolders;
class IniFile;

// One rule line: the messages it takes by class, source and target, each an xAP address pattern
// ("*" any one part, ">" the rest); an empty pattern takes any message, also one without that
// header field.
struct MessageRule {
    QString messageClass;
    QString source;
    QString target;

    bool operator==(const MessageRule&) const = default;
};

// What the logger keeps, and for how long. In Config/zelXapQuilljot.ini, section "Quilljot":
// KeepDays (days of controller events kept, 0 all), MessagesTable and MessagesKeepDays (the same
// for the table of other messages); section "Rules": Include1, Include2, ... and Exclude1, ...
// ("class [source [target]]", blanks between), and ExcludeOwnReports (True keeps the logger's own
// reports out of the event table).
struct StorageRules {
    int eventKeepDays = 0;
    int messageKeepDays = 0;
    QString messagesTable = SettingKeys::initial(Setting::MessagesTable);
    bool excludeOwnReports = false;
    QList<MessageRule> include;
    QList<MessageRule> exclude;

    bool operator==(const StorageRules&) const = default;
};

namespace RuleSettings {

struct Loaded {
    StorageRules rules;
    // A value that cannot be read keeps its default and is named here.
    QList<Problem> problems;
};
Loaded read(const IniFile& ini);
// From the logger's settings file in the application folder; the defaults when it cannot be read
// (SettingsStore reports that).
Loaded load(const AppFolders& folders);
// Writes every key of `rules` into `ini` (rule lines beyond the new ones are removed).
void write(IniFile& ini, const StorageRules& rules);

// A rule line, or nothing when it has more than three parts.
std::optional<MessageRule> parseRule(const QString& line);
QString ruleText(const MessageRule& rule);

}  // namespace RuleSettings
