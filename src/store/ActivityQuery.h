#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A chart of activity: how many stored events fall in each interval of a range, with the
// history's filters, optionally split into the busiest few sources or types and the rest.
//
// Times are in the stored form "yyyy-MM-dd HH:mm:ss", the events' own clock, which is the local
// time of the controller that sent them: a day is a date of that text, so a day of a clock change
// keeps the hours the texts name. Weeks begin on Monday.
struct ActivityQuery {
    enum class Bucket { Minute, Hour, Day, Week };
    enum class Split { None, Source, Type };

    // The range, `from` taken, `to` no longer taken; both are widened to whole buckets.
    QString from;
    QString to;
    Bucket bucket = Bucket::Hour;
    // As in EventQuery: each takes the rows whose text contains it, in any letter case.
    QString source;
    QString type;
    QString data;
    Split split = Split::None;
    int top = 5;  // the parts of a split: the busiest `top`, the rest as one more
    // Only the rows with keys up to this one, read row by row (a count that others continue from
    // the next key on).
    std::optional<qint64> upToKey;

    // The bucket a chart of the range is drawn with: minutes up to 6 hours, hours up to 14 days,
    // days up to 120 days, weeks beyond.
    static Bucket bucketFor(const QString& from, const QString& to);
    // The most buckets one chart has; a longer range asks for a bigger bucket.
    static constexpr int kMaxBuckets = 5000;
};

struct ActivityBucket {
    QString start;  // stored form
    qint64 count = 0;
    QList<qint64> parts;  // per part of the chart's split, in the order of its names

    bool operator==(const ActivityBucket&) const = default;
};

struct ActivityChart {
    // The names of a split's parts, busiest first; the last is "other" when the rest has events.
    QStringList parts;
    QList<ActivityBucket> buckets;
};

// Called between the steps of a scan of the rows (the data filter, which no summary can answer):
// `done` of `total` steps so far; returning false cancels the scan.
using ActivityProgress = std::function<bool(int done, int total)>;

namespace ActivityBuckets {

// The start of the bucket that holds the stored time `time`.
QString startOf(ActivityQuery::Bucket bucket, const QString& time);
// The start of the bucket after the one that starts at `start`.
QString next(ActivityQuery::Bucket bucket, const QString& start);
// The starts of every bucket of the query's range, oldest first; nothing when the range is
// empty, not a range of stored times, or has more than kMaxBuckets.
std::optional<QStringList> starts(const ActivityQuery& query);
// The bucket's name in the API ("minute", "hour", "day", "week") and back.
QString name(ActivityQuery::Bucket bucket);
std::optional<ActivityQuery::Bucket> fromName(const QString& name);

}  // namespace ActivityBuckets
