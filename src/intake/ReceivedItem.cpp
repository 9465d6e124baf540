#include "intake/ReceivedItem.h"

namespace {
// The first text of a record says what it holds.
const QString kEvent = QStringLiteral("e");
const QString kOwnReport = QStringLiteral("r");
const QString kMessage = QStringLiteral("m");
}  // namespace

QStringList ReceivedItem::record() const {
    if (const auto* e = std::get_if<LogEvent>(&what)) {
        return {ownReport ? kOwnReport : kEvent, e->time, e->source, e->type, e->data};
    }
    const auto& m = std::get<LoggedMessage>(what);
    return {kMessage, m.time, m.source, m.target, m.messageClass, m.uid, m.text};
}

std::optional<ReceivedItem> ReceivedItem::fromRecord(const QStringList& r) {
    if (r.size() == 5 && (r[0] == kEvent || r[0] == kOwnReport)) {
        return ReceivedItem{LogEvent{r[1], r[2], r[3], r[4]}, r[0] == kOwnReport};
    }
    if (r.size() == 7 && r[0] == kMessage) {
        return ReceivedItem{LoggedMessage{r[1], r[2], r[3], r[4], r[5], r[6]}, false};
    }
    return std::nullopt;
}

qsizetype ReceivedItem::weight() const {
    constexpr qsizetype kFixed = 128;
    if (const auto* e = std::get_if<LogEvent>(&what)) {
        return kFixed + 2 * (e->time.size() + e->source.size() + e->type.size() + e->data.size());
    }
    const auto& m = std::get<LoggedMessage>(what);
    return kFixed + 2 * (m.source.size() + m.target.size() + m.messageClass.size() + m.uid.size() +
                         m.text.size() + m.time.size());
}
