#include "web/EventRequest.h"

#include <QDateTime>

#include "support/DateText.h"

namespace EventRequest {

Problem badRequest(const QString& text) {
    return Problem{ErrorKind::Generic, text};
}

QString storedTime(const QString& text, bool endOfDay) {
    QString t = text.trimmed();
    t.replace(u'T', u' ');
    const QDate date = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid() || date.year() < 1000) {
        return {};
    }
    if (t.size() == 10) {
        return DateText::isoText(QDateTime(endOfDay ? date.addDays(1) : date, QTime(0, 0)));
    }
    if (t.size() < 11 || t[10] != u' ') {
        return {};
    }
    const QString clock = t.mid(11);
    QTime time = QTime::fromString(clock, QStringLiteral("HH:mm:ss"));
    if (!time.isValid()) {
        time = QTime::fromString(clock, QStringLiteral("HH:mm"));
    }
    if (!time.isValid()) {
        return {};
    }
    return DateText::isoText(QDateTime(date, time));
}

Result<EventQuery> parse(const QUrlQuery& url, const QSet<QString>& allowed) {
    static const QSet<QString> kFilters = {QStringLiteral("from"), QStringLiteral("to"),
                                           QStringLiteral("source"), QStringLiteral("type"),
                                           QStringLiteral("data")};
    EventQuery query;
    query.order = EventQuery::Order::Descending;
    QSet<QString> seen;
    for (const auto& [key, encoded] : url.queryItems(QUrl::FullyDecoded)) {
        if (!kFilters.contains(key) && !allowed.contains(key)) {
            return badRequest(QStringLiteral("Unknown parameter '") + key.left(40) +
                              QStringLiteral("'"));
        }
        if (seen.contains(key)) {
            return badRequest(QStringLiteral("Parameter '") + key +
                              QStringLiteral("' given twice"));
        }
        seen.insert(key);
        const QString& value = encoded;
        if (key == u"from" || key == u"to") {
            if (value.isEmpty()) {
                continue;
            }
            const QString stored = storedTime(value, key == u"to");
            if (stored.isEmpty()) {
                return badRequest(
                    QStringLiteral("'") + key +
                    QStringLiteral("' must be a date yyyy-mm-dd, optionally with a time hh:mm:ss"));
            }
            (key == u"from" ? query.from : query.to) = stored;
        } else if (kFilters.contains(key)) {
            if (value.size() > kMaxFilterLength) {
                return badRequest(
                    QStringLiteral("The filter '") + key + QStringLiteral("' is longer than ") +
                    QString::number(kMaxFilterLength) + QStringLiteral(" characters"));
            }
            (key == u"source" ? query.source : key == u"type" ? query.type : query.data) = value;
        } else if (key == u"limit") {
            bool ok = false;
            const int limit = value.toInt(&ok);
            if (!ok || limit < 1 || limit > kMaxLimit) {
                return badRequest(QStringLiteral("'limit' must be a number from 1 to ") +
                                  QString::number(kMaxLimit));
            }
            query.limit = limit;
        } else if (key == u"before") {
            if (value.isEmpty() || value == u"null") {
                continue;
            }
            bool ok = false;
            const qint64 id = value.toLongLong(&ok);
            if (!ok || id < 1) {
                return badRequest(
                    QStringLiteral("'before' must be the ID of a row (a number from 1)"));
            }
            query.after = id;
        } else if (key == u"sort") {
            static const QStringList kColumns = {QStringLiteral("time"), QStringLiteral("source"),
                                                 QStringLiteral("type"), QStringLiteral("data")};
            const qsizetype column = kColumns.indexOf(value);
            if (column < 0) {
                return badRequest(QStringLiteral("'sort' must be one of ") +
                                  kColumns.join(QStringLiteral(", ")));
            }
            query.sortBy = EventQuery::Column(column);
        } else if (key == u"order") {
            if (value != u"desc" && value != u"asc") {
                return badRequest(QStringLiteral("'order' must be desc or asc"));
            }
            query.order =
                value == u"asc" ? EventQuery::Order::Ascending : EventQuery::Order::Descending;
        }
    }
    if (!query.from.isEmpty() && !query.to.isEmpty() && query.from > query.to) {
        return badRequest(QStringLiteral("'from' is after 'to'"));
    }
    if (allowed.contains(QStringLiteral("limit")) && query.limit == 0) {
        query.limit = kDefaultLimit;
    }
    return query;
}

}  // namespace EventRequest
