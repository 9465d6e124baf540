#pragma once

#include <QString>

#include "settings/RuleSettings.h"

class XapMessage;

// Which table a received message goes to under the storage rules. A controller event goes to the
// event table unless an exclude line matches it (or it is one of the logger's own reports and
// they are excluded); any other message goes to the messages table when an include line matches
// it and no exclude line does. Without rules, only controller events are logged.
class LogRules {
public:
    enum class Destination { Events, Messages, None };

    LogRules() = default;
    explicit LogRules(StorageRules rules) : m_rules(std::move(rules)) {}

    // `controllerEvent`: the message is of the event class and has the event block; `own`: its
    // source is the logger itself.
    Destination destination(const XapMessage& m, bool controllerEvent, bool own) const;
    // Whether any other message can be logged at all (the cheap test of the hot path).
    bool logsMessages() const { return !m_rules.include.isEmpty(); }
    const StorageRules& rules() const { return m_rules; }

    static bool matches(const MessageRule& rule, const XapMessage& m);

private:
    bool excluded(const XapMessage& m) const;

    StorageRules m_rules;
};
