#include "intake/LogRules.h"

#include <algorithm>

#include "message/XapAddress.h"
#include "message/XapMessage.h"

bool LogRules::matches(const MessageRule& rule, const XapMessage& m) {
    auto part = [](const QString& pattern, QStringView value) {
        return pattern.isEmpty() || XapAddress::matches(pattern, value);
    };
    return part(rule.messageClass, m.className()) && part(rule.source, m.source()) &&
           part(rule.target, m.target());
}

bool LogRules::excluded(const XapMessage& m) const {
    return std::any_of(m_rules.exclude.begin(), m_rules.exclude.end(),
                       [&](const MessageRule& r) { return matches(r, m); });
}

LogRules::Destination LogRules::destination(const XapMessage& m, bool controllerEvent,
                                            bool own) const {
    if (controllerEvent) {
        if ((own && m_rules.excludeOwnReports) || excluded(m)) {
            return Destination::None;
        }
        return Destination::Events;
    }
    const bool included = std::any_of(m_rules.include.begin(), m_rules.include.end(),
                                      [&](const MessageRule& r) { return matches(r, m); });
    return included && !excluded(m) ? Destination::Messages : Destination::None;
}
