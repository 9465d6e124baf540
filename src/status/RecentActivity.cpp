#include "status/RecentActivity.h"

#include "support/DateText.h"

namespace {

QDateTime minuteOf(const QDateTime& t) {
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
}

}  // namespace

RecentActivity::RecentActivity(std::function<QDateTime()> clock) : m_clock(std::move(clock)) {}

void RecentActivity::add(const QList<LogEvent>& events) {
    // A batch's events mostly share their minute with the one before: one map entry per run.
    Counts batch;
    QStringView minute;
    qint64 run = 0;
    const auto endRun = [&] {
        if (run > 0) {
            batch[minute.toString() + QStringLiteral(":00")] += run;
        }
    };
    for (const LogEvent& event : events) {
        const QStringView at = QStringView(event.time).left(16);
        if (run > 0 && at == minute) {
            ++run;
            continue;
        }
        endRun();
        minute = at;
        run = 1;
    }
    endRun();
    const std::lock_guard hold(m_lock);
    for (const auto& [start, n] : batch) {
        m_counts[start] += n;
    }
    if (m_counts.size() > std::size_t(2 * kKeptMinutes)) {
        pruneLocked();
    }
}

void RecentActivity::pruneLocked() {
    const QString cutoff =
        DateText::isoText(minuteOf(m_clock()).addSecs(-qint64(kKeptMinutes) * 60));
    m_counts.erase(m_counts.begin(), m_counts.lower_bound(cutoff));
    if (!m_heldFrom.isEmpty() && m_heldFrom < cutoff) {
        m_heldFrom = cutoff;
    }
    // Times far ahead of the clock (a controller's clock that is wrong) go first when many are.
    while (m_counts.size() > std::size_t(3 * kKeptMinutes / 2)) {
        m_counts.erase(std::prev(m_counts.end()));
    }
}

quint64 RecentActivity::beginRecount() {
    const std::lock_guard hold(m_lock);
    m_counts.clear();
    m_heldFrom.clear();
    m_recountProblem.clear();
    return ++m_recount;
}

std::pair<QString, QString> RecentActivity::recountRange() const {
    const QDateTime minute = minuteOf(m_clock());
    return {DateText::isoText(minute.addSecs(-24 * 3600)),
            DateText::isoText(minute.addSecs(qint64(kReadAheadMinutes + 1) * 60))};
}

void RecentActivity::finishRecount(quint64 recount, const ActivityChart& counted) {
    const std::lock_guard hold(m_lock);
    if (recount != m_recount || counted.buckets.isEmpty()) {
        return;
    }
    for (const ActivityBucket& b : counted.buckets) {
        if (b.count > 0) {
            m_counts[b.start] += b.count;
        }
    }
    m_heldFrom = counted.buckets.first().start;
}

void RecentActivity::recountFailed(quint64 recount, const QString& why) {
    const std::lock_guard hold(m_lock);
    if (recount == m_recount) {
        m_recountProblem = why;
    }
}

bool RecentActivity::recountCurrent(quint64 recount) const {
    const std::lock_guard hold(m_lock);
    return recount == m_recount;
}

std::optional<Result<ActivityChart>> RecentActivity::chart(const ActivityQuery& query) const {
    if (query.bucket != ActivityQuery::Bucket::Minute || !query.source.isEmpty() ||
        !query.type.isEmpty() || !query.data.isEmpty() ||
        query.split != ActivityQuery::Split::None) {
        return std::nullopt;
    }
    const std::optional<QStringList> starts = ActivityBuckets::starts(query);
    if (!starts) {
        return std::nullopt;
    }
    const std::lock_guard hold(m_lock);
    if (m_heldFrom.isEmpty()) {
        return Result<ActivityChart>(
            Problem{ErrorKind::DatabaseUnavailable,
                    m_recountProblem.isEmpty()
                        ? QStringLiteral("The events of the last 24 hours are being counted.")
                        : QStringLiteral("The chart could not be read: ") + m_recountProblem});
    }
    if (starts->first() < m_heldFrom) {
        return std::nullopt;
    }
    ActivityChart out;
    out.buckets.reserve(starts->size());
    auto at = m_counts.lower_bound(starts->first());
    for (const QString& start : *starts) {
        while (at != m_counts.end() && at->first < start) {
            ++at;
        }
        const qint64 n = at != m_counts.end() && at->first == start ? at->second : 0;
        out.buckets.append(ActivityBucket{start, n, {}});
    }
    return Result<ActivityChart>(std::move(out));
}
