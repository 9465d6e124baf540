#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "report/Result.h"
#include "store/ActivityQuery.h"
#include "store/LogEvent.h"

// The events of about the last day per minute, by the events' own time, kept in memory so that
// the Status chart costs no database read however busy the day: counted from the database once
// (a recount of the rows up to a key, read when the recorder has opened a database) and from each
// batch the recorder logs after that key. Any thread may use it.
class RecentActivity {
public:
    // How far back the counts are kept, and how far the recount reads ahead of the clock for the
    // events of controllers whose clocks run ahead.
    static constexpr int kKeptMinutes = 25 * 60;
    static constexpr int kReadAheadMinutes = 24 * 60;

    explicit RecentActivity(std::function<QDateTime()> clock);

    // Counts logged events; on the recorder's thread, once per batch.
    void add(const QList<LogEvent>& events);

    // A recount begins: what was held is forgotten. It begins between two batches of the thread
    // that adds them, when that thread has read the newest row's key: the recount reads the rows
    // up to that key, and every batch added from here on holds rows after it. Returns the
    // recount's number; a later recount makes an earlier one's result void.
    quint64 beginRecount();
    // The range a recount begun now reads (stored form, `to` no longer taken).
    std::pair<QString, QString> recountRange() const;
    // The recount's counts (a chart by minute of recountRange()) are added to those of the
    // batches added since it began. Ignored when a later recount has begun.
    void finishRecount(quint64 recount, const ActivityChart& counted);
    // The recount's read failed; it is tried again. The charts say why meanwhile.
    void recountFailed(quint64 recount, const QString& why);
    bool recountCurrent(quint64 recount) const;

    // The chart of `query` from the counts, when they can answer it: by minute, with no filter
    // or split, starting where the counts are held. None otherwise; a problem while the counts
    // are being read from the database, or could not be.
    std::optional<Result<ActivityChart>> chart(const ActivityQuery& query) const;

private:
    using Counts = std::map<QString, qint64>;  // minute's start (stored form) to events

    void pruneLocked();

    std::function<QDateTime()> m_clock;
    mutable std::mutex m_lock;
    Counts m_counts;
    quint64 m_recount = 0;
    // The first minute the counts hold every event of; empty before the first recount ends.
    QString m_heldFrom;
    QString m_recountProblem;
};
