#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Which stored events a reader asks for, and in which order. Times are in the stored form
// "yyyy-MM-dd HH:mm:ss": `from` is the first time taken, `to` the first time no longer taken;
// either may be empty (no bound). Source, type and data each take the rows whose text contains
// the filter's, in any letter case the database's LIKE ignores, every character taken as it is
// ("%" and "_" too); an empty filter takes all. Values only ever reach the database as bound
// parameters.
//
// Rows are sorted by one column, those with the same value by ID in the same direction; texts
// sort as the database compares them, a missing text as an empty one.
//
// Pages are read by key, not by offset: `after` is the ID of the last row of the previous page,
// and a page holds the rows that come after it in the query's order. Sorted by time, a page of a
// million-row table costs as little as the first; by another column, each page sorts the range.
struct EventQuery {
    enum class Column { Time, Source, Type, Data };
    enum class Order { Descending, Ascending };  // by time: newest first, oldest first

    QString from;
    QString to;
    QString source;
    QString type;
    QString data;
    Column sortBy = Column::Time;
    Order order = Order::Descending;
    std::optional<qint64> after;
    int limit = 0;  // 0: every row

    bool operator==(const EventQuery&) const = default;
};

// The SELECT of an event query on one engine, with the values for its "?" marks in order.
struct EventSelect {
    QString sql;
    QStringList values;
};

// How an engine writes the parts of an event query that differ between engines.
struct EventSelectDialect {
    QString table;  // as it stands in SQL
    // What reads a date-time column in stored form: %1 is the column.
    QString timeColumn = QStringLiteral("%1");
    QString likeOperator = QStringLiteral("LIKE");  // one that ignores letter case
    // A text column as it sorts and compares: %1 is the column. Never NULL, so that a cursor on
    // a row without the text still compares.
    QString sortableText = QStringLiteral("COALESCE(%1, '')");
    bool limitWithTop = false;  // TOP (n) after SELECT, not LIMIT n at the end
    // Characters LIKE takes as wildcards besides "%" and "_", escaped in a filter.
    QString likeSpecials = {};
    // A text index of the data: a condition with one "?" that keeps a superset of the rows
    // whose data contains a term of at least kIndexedLength characters (the rows the index
    // holds that match, and every row it does not hold yet), and what that "?" is bound to for
    // the term (the LIKE pattern when none). Empty where the engine keeps no such index.
    QString dataIndex = {};
    QString (*dataIndexValue)(const QString& term) = nullptr;
    static constexpr int kIndexedLength = 3;
};

namespace EventSelects {

// The rows of `query`; `cursorValue` is what the row `query.after` names holds in the sorted
// column (the caller reads it first with `cursorOf`; a cursor row that is gone ends the reading).
EventSelect rows(const EventSelectDialect& dialect, const EventQuery& query,
                 const QString& cursorValue = {});
// How many rows the query's range and filters take, whatever its page and limit.
EventSelect count(const EventSelectDialect& dialect, const EventQuery& query);
// The condition that `column` contains `text` (see EventQuery), appended to `values`: LIKE with
// its wildcards escaped, narrowed by the dialect's data index where the term is long enough.
QString contains(const EventSelectDialect& dialect, const QString& column, const QString& text,
                 QStringList& values);
// The value of the cursor row `query.after` in the column the query sorts by.
EventSelect cursorOf(const EventSelectDialect& dialect, const EventQuery& query);

}  // namespace EventSelects
