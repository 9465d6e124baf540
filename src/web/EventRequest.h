#pragma once

#include <QSet>
#include <QUrlQuery>

#include "report/Result.h"
#include "store/EventQuery.h"

// The event query a request of the history, count or export API asks for, checked before
// anything reaches the database. Parameters: from, to ("yyyy-mm-dd", optionally with "hh:mm" or
// "hh:mm:ss", a "T" or a space between; a `to` without a time takes that whole day), source,
// type, data (contains-filters), limit (history: 1 to kMaxLimit, default kDefaultLimit),
// before (the keyset cursor: the ID of the last row of the previous page), sort (time, source,
// type or data; default time) and order (desc or asc; default desc).
namespace EventRequest {

constexpr int kDefaultLimit = 100;
constexpr int kMaxLimit = 1000;
constexpr int kMaxFilterLength = 255;

// A request refused, with the sentence for the person who sent it.
Problem badRequest(const QString& text);

// `allowed` names the parameters beyond the filters that this request may carry; any other
// parameter is refused by name. Problems carry a message meant for the person who asked.
Result<EventQuery> parse(const QUrlQuery& url, const QSet<QString>& allowed);

// A stored time from a date (and time) a person or a page wrote, or an empty string. `endOfDay`
// moves a date without time to the first second of the next day.
QString storedTime(const QString& text, bool endOfDay);

}  // namespace EventRequest
