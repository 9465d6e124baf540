#pragma once

#include <QDateTime>
#include <QUrlQuery>

#include "report/Result.h"
#include "store/ActivityQuery.h"

// The chart a request of /api/activity asks for, checked before anything reaches the database.
// Parameters: from, to, source, type, data as for the history (a range without `from` takes the
// seven days before `to`, one without `to` ends with the day of `now`), bucket (minute, hour, day
// or week; by default picked from the range's length), split (source or type), top (the parts
// of a split, 1 to kMaxTop, default 5) and hours, in place of from and to: the last so many hours
// up to `now`, in whole minutes, the current one last (the status page's chart).
namespace ActivityRequest {

constexpr int kMaxTop = 20;
constexpr int kMaxHours = 24 * 31;

Result<ActivityQuery> parse(const QUrlQuery& url, const QDateTime& now);

}  // namespace ActivityRequest
