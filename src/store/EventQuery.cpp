#include "store/EventQuery.h"

namespace {

// The WHERE clause of the range and the filters, without the page, and its values.
EventSelect conditions(const EventSelectDialect& d, const EventQuery& q) {
    EventSelect where;
    QStringList terms;
    if (!q.from.isEmpty()) {
        terms.append(QStringLiteral("SampleDate >= ?"));
        where.values.append(q.from);
    }
    if (!q.to.isEmpty()) {
        terms.append(QStringLiteral("SampleDate < ?"));
        where.values.append(q.to);
    }
    const std::pair<const char*, const QString*> filters[] = {
        {"Source", &q.source}, {"Category", &q.type}, {"Data", &q.data}};
    for (const auto& [column, text] : filters) {
        if (!text->isEmpty()) {
            terms.append(QLatin1String(column) + u' ' + d.likeOperator + QStringLiteral(" ?"));
            where.values.append(u'%' + *text + u'%');
        }
    }
    if (!terms.isEmpty()) {
        where.sql = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    }
    return where;
}

}  // namespace

namespace EventSelects {

EventSelect rows(const EventSelectDialect& d, const EventQuery& query, const QString& cursorTime) {
    const bool newest = query.order == EventQuery::Order::NewestFirst;
    // The cursor bounds the range on the side the page moves away from. Where it is the tighter
    // bound, the range's own is left out: given two, a database may walk its time index from the
    // looser one, and a deep page would then cost more with every page before it.
    EventQuery q = query;
    if (q.after && newest && (q.to.isEmpty() || cursorTime < q.to)) {
        q.to.clear();
    } else if (q.after && !newest && (q.from.isEmpty() || cursorTime >= q.from)) {
        q.from.clear();
    }
    EventSelect select = conditions(d, q);
    if (q.after) {
        // The first term is a range on the time index; the second only sorts out the rows of
        // the cursor's own second.
        const QString term = newest
                                 ? QStringLiteral("SampleDate <= ? AND (SampleDate < ? OR ID < ?)")
                                 : QStringLiteral("SampleDate >= ? AND (SampleDate > ? OR ID > ?)");
        select.sql +=
            (select.sql.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + term;
        select.values << cursorTime << cursorTime << QString::number(*q.after);
    }
    const QString direction = newest ? QStringLiteral(" DESC") : QString();
    const QString top =
        d.limitWithTop && q.limit > 0
            ? QStringLiteral("TOP (") + QString::number(q.limit) + QStringLiteral(") ")
            : QString();
    select.sql = QStringLiteral("SELECT ") + top + QStringLiteral("ID, ") + d.timeColumn +
                 QStringLiteral(", Source, Category, Data FROM ") + d.table + select.sql +
                 QStringLiteral(" ORDER BY SampleDate") + direction + QStringLiteral(", ID") +
                 direction;
    if (!d.limitWithTop && q.limit > 0) {
        select.sql += QStringLiteral(" LIMIT ") + QString::number(q.limit);
    }
    return select;
}

EventSelect count(const EventSelectDialect& d, const EventQuery& q) {
    EventSelect select = conditions(d, q);
    select.sql = QStringLiteral("SELECT COUNT(*) FROM ") + d.table + select.sql;
    return select;
}

EventSelect timeOfRow(const EventSelectDialect& d, qint64 id) {
    return EventSelect{QStringLiteral("SELECT ") + d.timeColumn + QStringLiteral(" FROM ") +
                           d.table + QStringLiteral(" WHERE ID = ?"),
                       {QString::number(id)}};
}

}  // namespace EventSelects
