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
            terms.append(EventSelects::contains(d, QLatin1String(column), *text, where.values));
        }
    }
    if (!terms.isEmpty()) {
        where.sql = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    }
    return where;
}

// The column a query sorts by, as the engine sorts and compares it.
QString sortExpression(const EventSelectDialect& d, EventQuery::Column column) {
    switch (column) {
        case EventQuery::Column::Source:
            return d.sortableText.arg(QStringLiteral("Source"));
        case EventQuery::Column::Type:
            return d.sortableText.arg(QStringLiteral("Category"));
        case EventQuery::Column::Data:
            return d.sortableText.arg(QStringLiteral("Data"));
        case EventQuery::Column::Time:
            break;
    }
    return QStringLiteral("SampleDate");
}

}  // namespace

namespace EventSelects {

QString contains(const EventSelectDialect& d, const QString& column, const QString& text,
                 QStringList& values) {
    QString pattern;
    pattern.reserve(text.size() + 2);
    pattern.append(u'%');
    for (const QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'\\' || d.likeSpecials.contains(c)) {
            pattern.append(u'\\');
        }
        pattern.append(c);
    }
    pattern.append(u'%');
    QString term = column + u' ' + d.likeOperator + QStringLiteral(" ? ESCAPE '\\'");
    values.append(pattern);
    // Characters as the index counts them: code points, not UTF-16 units.
    if (!d.dataIndex.isEmpty() && column == u"Data" &&
        text.toUcs4().size() >= EventSelectDialect::kIndexedLength) {
        term = u'(' + term + QStringLiteral(" AND ") + d.dataIndex + u')';
        values.append(d.dataIndexValue ? d.dataIndexValue(text) : pattern);
    }
    return term;
}

EventSelect rows(const EventSelectDialect& d, const EventQuery& query, const QString& cursorValue) {
    const bool descending = query.order == EventQuery::Order::Descending;
    const bool byTime = query.sortBy == EventQuery::Column::Time;
    // Sorted by time, the cursor bounds the range on the side the page moves away from. Where it
    // is the tighter bound, the range's own is left out: given two, a database may walk its time
    // index from the looser one, and a deep page would then cost more with every page before it.
    EventQuery q = query;
    if (q.after && byTime && descending && (q.to.isEmpty() || cursorValue < q.to)) {
        q.to.clear();
    } else if (q.after && byTime && !descending && (q.from.isEmpty() || cursorValue >= q.from)) {
        q.from.clear();
    }
    EventSelect select = conditions(d, q);
    const QString sorted = sortExpression(d, q.sortBy);
    if (q.after) {
        // By time, the first term is a range on the time index; the rest only sorts out the rows
        // that share the cursor's value.
        const QString beyond = descending ? QStringLiteral(" < ") : QStringLiteral(" > ");
        QString term = byTime ? sorted + (descending ? QStringLiteral(" <= ? AND ")
                                                     : QStringLiteral(" >= ? AND "))
                              : QString();
        term += u'(' + sorted + beyond + QStringLiteral("? OR ") +
                (byTime ? QString() : sorted + QStringLiteral(" = ? AND ")) + QStringLiteral("ID") +
                beyond + QStringLiteral("?)");
        select.sql +=
            (select.sql.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + term;
        select.values << cursorValue << cursorValue << QString::number(*q.after);
    }
    const QString direction = descending ? QStringLiteral(" DESC") : QString();
    const QString top =
        d.limitWithTop && q.limit > 0
            ? QStringLiteral("TOP (") + QString::number(q.limit) + QStringLiteral(") ")
            : QString();
    select.sql = QStringLiteral("SELECT ") + top + QStringLiteral("ID, ") +
                 d.timeColumn.arg(QStringLiteral("SampleDate")) +
                 QStringLiteral(", Source, Category, Data FROM ") + d.table + select.sql +
                 QStringLiteral(" ORDER BY ") + sorted + direction + QStringLiteral(", ID") +
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

EventSelect cursorOf(const EventSelectDialect& d, const EventQuery& query) {
    // By time, the stored form: the one the range's bounds are written in.
    const QString column = query.sortBy == EventQuery::Column::Time
                               ? d.timeColumn.arg(QStringLiteral("SampleDate"))
                               : sortExpression(d, query.sortBy);
    return EventSelect{QStringLiteral("SELECT ") + column + QStringLiteral(" FROM ") + d.table +
                           QStringLiteral(" WHERE ID = ?"),
                       {QString::number(query.after.value_or(0))}};
}

}  // namespace EventSelects
