// The activity summary of StoreProvider: keeping it, and reading charts from it.
#include <QHash>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <map>
#include <tuple>

#include "store/StoreProvider.h"

namespace {

// The summary's row that records the key of the last event it holds.
const QString kMarkWhere = QStringLiteral(" WHERE Hour = '' AND Source = '' AND Category = ''");

// The column a chart is split by, as it stands in both tables; none when it is not split.
QString splitColumn(ActivityQuery::Split split) {
    switch (split) {
        case ActivityQuery::Split::Source:
            return QStringLiteral("COALESCE(Source, '')");
        case ActivityQuery::Split::Type:
            return QStringLiteral("COALESCE(Category, '')");
        case ActivityQuery::Split::None:
            break;
    }
    return QString();
}

// The filters a chart's rows take, and their values in order.
QString filterTerms(const ActivityQuery& query, const EventSelectDialect& dialect, bool withData,
                    QStringList& values) {
    QString terms;
    for (const auto& [column, text] :
         {std::pair{"Source", &query.source}, std::pair{"Category", &query.type},
          std::pair{"Data", &query.data}}) {
        if (text->isEmpty() || (!withData && text == &query.data)) {
            continue;
        }
        terms += QStringLiteral(" AND ") +
                 EventSelects::contains(dialect, QLatin1String(column), *text, values);
    }
    return terms;
}

// Counts per bucket and part, gathered from rows of (hour or minute, part, count).
class ChartTally {
public:
    ChartTally(ActivityQuery query, const QStringList& starts) : m_query(std::move(query)) {
        m_buckets.reserve(starts.size());
        for (const QString& start : starts) {
            m_index.insert(start, int(m_buckets.size()));
            m_buckets.append(ActivityBucket{start, 0, {}});
        }
        m_perPart.resize(starts.size());
    }

    void add(const QStringList& row) {
        const auto at = m_index.constFind(ActivityBuckets::startOf(m_query.bucket, row.value(0)));
        if (at == m_index.cend()) {
            return;
        }
        const qint64 n = row.value(2).toLongLong();
        m_buckets[*at].count += n;
        if (m_query.split != ActivityQuery::Split::None) {
            m_perPart[*at][row.value(1)] += n;
            m_totals[row.value(1)] += n;
        }
    }

    ActivityChart chart() {
        ActivityChart out;
        if (m_query.split != ActivityQuery::Split::None) {
            std::vector<std::pair<QString, qint64>> byCount(m_totals.cbegin(), m_totals.cend());
            std::stable_sort(byCount.begin(), byCount.end(),
                             [](const auto& a, const auto& b) { return a.second > b.second; });
            const int top = std::max(1, m_query.top);
            for (std::size_t i = 0; i < byCount.size() && i < std::size_t(top); ++i) {
                out.parts.append(byCount[i].first);
            }
            const bool other = byCount.size() > std::size_t(top);
            if (other) {
                out.parts.append(QStringLiteral("other"));
            }
            const qsizetype named = other ? out.parts.size() - 1 : out.parts.size();
            for (qsizetype b = 0; b < m_buckets.size(); ++b) {
                QList<qint64>& parts = m_buckets[b].parts;
                parts.fill(0, out.parts.size());
                for (const auto& [name, n] : m_perPart[b]) {
                    const qsizetype i = out.parts.indexOf(name);
                    parts[i >= 0 && i < named ? i : out.parts.size() - 1] += n;
                }
            }
        }
        out.buckets = std::move(m_buckets);
        return out;
    }

private:
    ActivityQuery m_query;
    QHash<QString, int> m_index;
    QList<ActivityBucket> m_buckets;
    std::vector<std::map<QString, qint64>> m_perPart;
    std::map<QString, qint64> m_totals;
};

}  // namespace

StoreProvider::Counts StoreProvider::perDay(const Counts& hours) {
    Counts days;
    for (const auto& [key, n] : hours) {
        days[std::tuple{std::get<0>(key).left(10) + QStringLiteral(" 00:00:00"), std::get<1>(key),
                        std::get<2>(key)}] += n;
    }
    return days;
}

Result<qint64> StoreProvider::runStatement(const QString& sql, const QStringList& values,
                                           const TextRow& row) {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Sums come as exact text, never as a double ("1e+07").
    q.setNumericalPrecisionPolicy(QSql::HighPrecision);
    bool ok = q.prepare(sql);
    for (qsizetype i = 0; ok && i < values.size(); ++i) {
        // Qt binds a null text as NULL; an event without a source or type has an empty one.
        q.bindValue(int(i), values[i].isNull() ? QStringLiteral("") : values[i]);
    }
    if (!ok || !q.exec()) {
        return failure(q.lastError().text());
    }
    if (q.isSelect()) {
        const int columns = q.record().count();
        QStringList texts;
        while (q.next()) {
            texts.clear();
            for (int c = 0; c < columns; ++c) {
                texts.append(q.value(c).toString());
            }
            if (row) {
                row(texts);
            }
        }
        if (q.lastError().isValid()) {
            return failure(q.lastError().text());
        }
    }
    return qint64(q.numRowsAffected());
}

Result<qint64> StoreProvider::newestKey() {
    qint64 newest = 0;
    const Result<qint64> read =
        runStatement(QStringLiteral("SELECT MAX(ID) FROM ") + selectDialect().table, {},
                     [&](const QStringList& row) { newest = row.value(0).toLongLong(); });
    if (!read) {
        return read.problem();
    }
    return newest;
}

Result<qint64> StoreProvider::summaryMark(const ActivityDialect& dialect) {
    std::optional<qint64> mark;
    Result<qint64> read =
        runStatement(QStringLiteral("SELECT Events FROM ") + dialect.table + kMarkWhere, {},
                     [&](const QStringList& row) { mark = row.value(0).toLongLong(); });
    if (!read) {
        return read.problem();
    }
    if (mark) {
        return *mark;
    }
    // Made again from the rows: what the table of days held is counted again too.
    for (const QString& table : {dialect.table, dialect.days}) {
        if (read = runStatement(QStringLiteral("DELETE FROM ") + table, {}); !read) {
            return read.problem();
        }
    }
    read = runStatement(QStringLiteral("INSERT INTO ") + dialect.table +
                            QStringLiteral(" (Hour, Source, Category, Events) "
                                           "VALUES ('', '', '', 0)"),
                        {});
    if (!read) {
        return read.problem();
    }
    return qint64(0);
}

Status StoreProvider::addWrittenCounts(const ActivityDialect& dialect) {
    const Counts& hours = m_written;
    const Counts days = perDay(hours);
    for (const auto& [table, column, counts] :
         {std::tuple{dialect.table, QStringLiteral("Hour"), &hours},
          std::tuple{dialect.days, QStringLiteral("Day"), &days}}) {
        for (const auto& [key, n] : *counts) {
            const QStringList values{QString::number(n), std::get<0>(key), std::get<1>(key),
                                     std::get<2>(key)};
            Result<qint64> read =
                runStatement(QStringLiteral("UPDATE ") + table +
                                 QStringLiteral(" SET Events = Events + ? WHERE ") + column +
                                 QStringLiteral(" = ? AND Source = ? AND Category = ?"),
                             values);
            if (read && read.value() == 0) {
                read = runStatement(QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") +
                                        column +
                                        QStringLiteral(", Source, Category, Events) VALUES "
                                                       "(?, ?, ?, ?)"),
                                    values.mid(1) + values.mid(0, 1));
            }
            if (!read) {
                return read.problem();
            }
        }
    }
    return {};
}

Result<bool> StoreProvider::rollUpInTransaction() {
    const ActivityDialect dialect = activityDialect(0);
    const Result<qint64> marked = summaryMark(dialect);
    if (!marked) {
        return marked.problem();
    }
    const qint64 mark = marked.value();
    const Result<qint64> newestRow = newestKey();
    if (!newestRow) {
        return newestRow.problem();
    }
    const qint64 newest = newestRow.value();
    if (newest <= mark) {
        return false;
    }
    qint64 last = newest;
    // The counts of the writes stand for the new rows when there are as many of them (a pass
    // undone, or rows another program wrote, make a difference): adding them costs a statement
    // or two per hour, source and type however many rows, rather than reading every row back.
    // Keys far beyond what was written are not counted: those rows are read back in steps.
    qint64 newRows = -1;
    Result<qint64> read = qint64(0);
    if (m_writtenRows > 0 && newest - mark <= m_writtenRows + kRollUpStepKeys) {
        read = runStatement(QStringLiteral("SELECT COUNT(*) FROM ") + selectDialect().table +
                                QStringLiteral(" WHERE ID > ? AND ID <= ?"),
                            {QString::number(mark), QString::number(newest)},
                            [&](const QStringList& row) { newRows = row.value(0).toLongLong(); });
        if (!read) {
            return read.problem();
        }
    }
    if (newRows == m_writtenRows) {
        if (const Status added = addWrittenCounts(dialect); !added) {
            return added.problem();
        }
    } else {
        last = std::min(newest, mark + kRollUpStepKeys);
        for (const QString& step : dialect.merge) {
            read = runStatement(step, {QString::number(mark), QString::number(last)});
            if (!read) {
                return read.problem();
            }
        }
    }
    read = runStatement(
        QStringLiteral("UPDATE ") + dialect.table + QStringLiteral(" SET Events = ?") + kMarkWhere,
        {QString::number(last)});
    if (!read) {
        return read.problem();
    }
    return last < newest;
}

void StoreProvider::countWritten(const LogEvent& event) {
    ++m_writtenRows;
    LastWritten& last = m_lastWritten;
    if (last.count != nullptr &&
        QStringView(event.time).left(13) == QStringView(last.time).left(13) &&
        event.source == last.source && event.type == last.type) {
        ++*last.count;
        return;
    }
    qint64& count = m_written[std::tuple{event.time.left(13) + QStringLiteral(":00:00"),
                                         storedName(event.source), storedName(event.type)}];
    ++count;
    last = LastWritten{event.time, event.source, event.type, &count};
}

void StoreProvider::forgetWritten() {
    m_written.clear();
    m_writtenRows = 0;
    m_lastWritten = {};
}

Result<bool> StoreProvider::rollUpActivity() {
    // The counts serve one attempt: after one that failed, the rows are read back.
    const auto forget = qScopeGuard([this] { forgetWritten(); });
    if (const Status ready = readyToRead(); !ready) {
        return ready.problem();
    }
    if (!m_db.transaction()) {
        return failure(m_db.lastError().text());
    }
    const Result<bool> done = rollUpInTransaction();
    if (!done) {
        m_db.rollback();
        return done.problem();
    }
    if (!m_db.commit()) {
        const Problem p = failure(m_db.lastError().text());
        m_db.rollback();
        return p;
    }
    return done.value();
}

Result<int> StoreProvider::deleteEventsBefore(const QString& before, int limit) {
    const ActivityDialect dialect = activityDialect(limit);
    if (!m_db.transaction()) {
        return failure(m_db.lastError().text());
    }
    const auto undo = [&](const Problem& p) -> Result<int> {
        m_db.rollback();
        return p;
    };
    if (const Status forgotten = forgetSearched(before, limit); !forgotten) {
        return undo(forgotten.problem());
    }
    Counts gone;
    const Counts& goneHours = gone;
    std::vector<std::pair<qint64, std::tuple<QString, QString, QString>>> rows;
    const Result<qint64> deleted =
        runStatement(dialect.deleteOldest, {before}, [&](const QStringList& row) {
            const QString hour = ActivityBuckets::startOf(
                ActivityQuery::Bucket::Hour, QString(row.value(1)).replace(u'T', u' '));
            rows.emplace_back(row.value(0).toLongLong(),
                              std::tuple{hour, row.value(2), row.value(3)});
        });
    if (!deleted) {
        return undo(deleted.problem());
    }
    qint64 mark = -1;
    const Result<qint64> read =
        runStatement(QStringLiteral("SELECT Events FROM ") + dialect.table + kMarkWhere, {},
                     [&](const QStringList& row) { mark = row.value(0).toLongLong(); });
    if (!read) {
        return undo(read.problem());
    }
    // Rows after the mark were never added, and are not taken out.
    for (const auto& [id, key] : rows) {
        if (id <= mark) {
            ++gone[key];
        }
    }
    const Counts goneDays = perDay(gone);
    for (const auto& [table, column, counts] :
         {std::tuple{dialect.table, QStringLiteral("Hour"), &goneHours},
          std::tuple{dialect.days, QStringLiteral("Day"), &goneDays}}) {
        const QString where = QStringLiteral(" WHERE ") + column +
                              QStringLiteral(" = ? AND Source = ? AND Category = ?");
        for (const auto& [key, n] : *counts) {
            const QStringList values{QString::number(n), std::get<0>(key), std::get<1>(key),
                                     std::get<2>(key)};
            const Result<qint64> less =
                runStatement(QStringLiteral("UPDATE ") + table +
                                 QStringLiteral(" SET Events = Events - ?") + where,
                             values);
            const Result<qint64> empty =
                less ? runStatement(QStringLiteral("DELETE FROM ") + table + where +
                                        QStringLiteral(" AND Events <= 0"),
                                    values.mid(1))
                     : less;
            if (!empty) {
                return undo(empty.problem());
            }
        }
    }
    if (!m_db.commit()) {
        return undo(failure(m_db.lastError().text()));
    }
    return int(rows.size());
}

// The pieces of a chart's statements that the reads from the summary and from the rows share.
struct StoreProvider::ChartSql {
    ActivityDialect dialect;
    EventSelectDialect events;
    QString from;    // the range's start
    QString to;      // and end
    QString part;    // the column of the split, or ''
    QString byPart;  // that column for GROUP BY, after a comma, or nothing
    QString hour;    // the hour of SampleDate
};

Result<ActivityChart> StoreProvider::activity(const ActivityQuery& query,
                                              const ActivityProgress& progress) {
    const std::optional<QStringList> starts = ActivityBuckets::starts(query);
    if (!starts) {
        return Problem{ErrorKind::Settings,
                       QStringLiteral("The chart's range must run from an earlier to a later "
                                      "time and hold at most ") +
                           QString::number(ActivityQuery::kMaxBuckets) +
                           QStringLiteral(" intervals")};
    }
    if (const Status ready = readyToRead(); !ready) {
        return ready.problem();
    }
    ChartSql sql;
    sql.dialect = activityDialect(0);
    sql.events = selectDialect();
    sql.from = starts->first();
    sql.to = ActivityBuckets::next(query.bucket, starts->last());
    const QString split = splitColumn(query.split);
    sql.part = split.isEmpty() ? QStringLiteral("''") : split;
    sql.byPart = split.isEmpty() ? QString() : u',' + split;
    sql.hour = sql.dialect.hourOf.arg(QStringLiteral("SampleDate"));
    if (query.data.isEmpty() && !query.upToKey && query.bucket != ActivityQuery::Bucket::Minute) {
        if (std::optional<ActivityChart> chart = chartFromSummary(query, *starts, sql)) {
            return *std::move(chart);
        }
    }
    return chartFromRows(query, *starts, sql, progress);
}

std::optional<ActivityChart> StoreProvider::chartFromSummary(const ActivityQuery& query,
                                                             const QStringList& starts,
                                                             const ChartSql& sql) {
    // Days and weeks read the table of days. The rows after the summary's mark are found by
    // their keys alone, those outside the range left out by the tally. The statement also
    // returns the mark it saw: when a pass was added after the mark was read, it is read again.
    const bool byDay =
        query.bucket == ActivityQuery::Bucket::Day || query.bucket == ActivityQuery::Bucket::Week;
    const QString table = byDay ? sql.dialect.days : sql.dialect.table;
    const QString start = byDay ? QStringLiteral("Day") : QStringLiteral("Hour");
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Both ends of the keys given: a planner without statistics of the table still reads a
        // short range of keys rather than the whole table.
        qint64 mark = 0;
        qint64 last = 0;
        const QString markSql = QStringLiteral("SELECT (SELECT Events FROM ") + sql.dialect.table +
                                kMarkWhere + QStringLiteral("), (SELECT MAX(ID) FROM ") +
                                sql.events.table + u')';
        if (!runStatement(markSql, {}, [&](const QStringList& row) {
                mark = row.value(0).toLongLong();
                last = row.value(1).toLongLong();
            })) {
            break;
        }
        QStringList values{sql.from, sql.to};
        const QString summaryTerms = filterTerms(query, sql.events, false, values);
        const QString rowTerms = filterTerms(query, sql.events, false, values);
        const QString select =
            QStringLiteral("SELECT ") + start + QStringLiteral(", ") + sql.part +
            QStringLiteral(", SUM(Events) FROM ") + table + QStringLiteral(" WHERE ") + start +
            QStringLiteral(" >= ? AND ") + start + QStringLiteral(" < ?") + summaryTerms +
            QStringLiteral(" GROUP BY ") + start + sql.byPart +
            QStringLiteral(" UNION ALL SELECT ") + sql.hour + u',' + sql.part +
            QStringLiteral(", COUNT(*) FROM ") + sql.events.table + QStringLiteral(" WHERE ID > ") +
            QString::number(mark) + QStringLiteral(" AND ID <= ") + QString::number(last) +
            rowTerms + QStringLiteral(" GROUP BY ") + sql.hour + sql.byPart +
            QStringLiteral(" UNION ALL SELECT 'mark', Source, Events FROM ") + sql.dialect.table +
            kMarkWhere;
        ChartTally tally(query, starts);
        std::optional<qint64> seen;
        const Result<qint64> read = runStatement(select, values, [&](const QStringList& row) {
            if (row.value(0) == u"mark") {
                seen = row.value(2).toLongLong();
            } else {
                tally.add(row);
            }
        });
        if (!read) {
            break;
        }
        if (seen.value_or(0) == mark) {
            return tally.chart();
        }
    }
    // A database whose summary is not made yet (no logger has opened it since) is read row by
    // row.
    return std::nullopt;
}

Result<ActivityChart> StoreProvider::chartFromRows(const ActivityQuery& query,
                                                   const QStringList& starts, const ChartSql& sql,
                                                   const ActivityProgress& progress) {
    const QString slot = query.bucket == ActivityQuery::Bucket::Minute
                             ? sql.dialect.minuteOf.arg(QStringLiteral("SampleDate"))
                             : sql.hour;
    QStringList filterValues;
    QString terms = filterTerms(query, sql.events, true, filterValues);
    if (query.upToKey) {
        terms += QStringLiteral(" AND ID <= ") + QString::number(*query.upToKey);
    }
    const QString select = QStringLiteral("SELECT ") + slot + u',' + sql.part +
                           QStringLiteral(", COUNT(*) FROM ") + sql.events.table +
                           QStringLiteral(" WHERE SampleDate >= ? AND SampleDate < ?") + terms +
                           QStringLiteral(" GROUP BY ") + slot + sql.byPart;
    ChartTally tally(query, starts);
    const int steps = int(std::min<qsizetype>(20, starts.size()));
    for (int step = 0; step < steps; ++step) {
        const qsizetype first = starts.size() * step / steps;
        const qsizetype end = starts.size() * (step + 1) / steps;
        const QString stepTo = end < starts.size() ? starts.at(end) : sql.to;
        const Result<qint64> read =
            runStatement(select, QStringList{starts.at(first), stepTo} + filterValues,
                         [&](const QStringList& row) { tally.add(row); });
        if (!read) {
            return read.problem();
        }
        if (progress && !progress(step + 1, steps) && step + 1 < steps) {
            return Problem{ErrorKind::Settings, QStringLiteral("The chart was cancelled")};
        }
    }
    return tally.chart();
}
