#pragma once

#include <QStringList>

#include "store/LogEvent.h"
#include "store/LoggedMessage.h"

// How events and logged messages are kept in a spool: as the list of their texts, in the order of
// their fields. A record with fewer texts (written by no version of the logger) reads as one
// with the missing fields empty.
namespace SpoolRecords {

inline QStringList texts(const LogEvent& e) {
    return {e.time, e.source, e.type, e.data};
}

inline QStringList texts(const LoggedMessage& m) {
    return {m.time, m.source, m.target, m.messageClass, m.uid, m.text};
}

inline LogEvent event(const QStringList& t) {
    return {t.value(0), t.value(1), t.value(2), t.value(3)};
}

inline LoggedMessage message(const QStringList& t) {
    return {t.value(0), t.value(1), t.value(2), t.value(3), t.value(4), t.value(5)};
}

}  // namespace SpoolRecords
