#pragma once

#include <QStringList>
#include <optional>
#include <variant>

#include "store/LogEvent.h"
#include "store/LoggedMessage.h"

// What the receiver hands on to the writer for one received datagram that is to be stored: a
// controller event (marked when it is one of the logger's own reports, whose refusal is not
// reported again), or another message the rules log.
struct ReceivedItem {
    std::variant<LogEvent, LoggedMessage> what;
    bool ownReport = false;

    // Its texts as a record of the receive overflow file, and back; nothing for a record that is
    // none of these.
    QStringList record() const;
    static std::optional<ReceivedItem> fromRecord(const QStringList& record);
    // About how many bytes of memory it holds, for the receive queue's bound.
    qsizetype weight() const;
};
