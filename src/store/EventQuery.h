#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Which stored events a reader asks for, and in which order. Times are in the stored form
// "yyyy-MM-dd HH:mm:ss": `from` is the first time taken, `to` the first time no longer taken;
// either may be empty (no bound). Source, type and data each take the rows whose text contains
// the filter's, in any letter case ("%" and "_" are wildcards of the database's LIKE); an empty
// filter takes all. Values only ever reach the database as bound parameters.
//
// Pages are read by key, not by offset: `after` is the ID of the last row of the previous page,
// and a page holds the rows that come after it in the query's order. A page of a million-row
// table costs as little as the first.
struct EventQuery {
    enum class Order { NewestFirst, OldestFirst };

    QString from;
    QString to;
    QString source;
    QString type;
    QString data;
    Order order = Order::NewestFirst;
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
    QString table;                                      // as it stands in SQL
    QString timeColumn = QStringLiteral("SampleDate");  // what reads SampleDate in stored form
    QString likeOperator = QStringLiteral("LIKE");      // one that ignores letter case
    bool limitWithTop = false;  // TOP (n) after SELECT, not LIMIT n at the end
};

namespace EventSelects {

// The rows of `query`; `cursorTime` is the stored time of the row `query.after` names (the
// caller reads it first; a cursor row that is gone ends the reading).
EventSelect rows(const EventSelectDialect& dialect, const EventQuery& query,
                 const QString& cursorTime = {});
// How many rows the query's range and filters take, whatever its page and limit.
EventSelect count(const EventSelectDialect& dialect, const EventQuery& query);
// The stored time of one row, for the cursor.
EventSelect timeOfRow(const EventSelectDialect& dialect, qint64 id);

}  // namespace EventSelects
