#include "web/ActivityRequest.h"

#include "support/DateText.h"
#include "web/EventRequest.h"

namespace ActivityRequest {

Result<ActivityQuery> parse(const QUrlQuery& url, const QDateTime& now) {
    const QString kBucket = QStringLiteral("bucket");
    const QString kSplit = QStringLiteral("split");
    const QString kTop = QStringLiteral("top");
    const QString kHours = QStringLiteral("hours");
    const Result<EventQuery> events = EventRequest::parse(url, {kBucket, kSplit, kTop, kHours});
    if (!events) {
        return events.problem();
    }
    ActivityQuery query;
    query.source = events.value().source;
    query.type = events.value().type;
    query.data = events.value().data;
    query.to = events.value().to;
    if (query.to.isEmpty()) {
        query.to = DateText::isoText(QDateTime(now.date().addDays(1), QTime(0, 0)));
    }
    query.from = events.value().from;
    if (query.from.isEmpty()) {
        const QDateTime to(QDate::fromString(query.to.left(10), QStringLiteral("yyyy-MM-dd")),
                           QTime::fromString(query.to.mid(11), QStringLiteral("HH:mm:ss")),
                           Qt::UTC);
        query.from = DateText::isoText(to.addDays(-7));
    }
    if (url.hasQueryItem(kHours)) {
        bool ok = false;
        const int hours = url.queryItemValue(kHours).toInt(&ok);
        if (!ok || hours < 1 || hours > kMaxHours || !events.value().from.isEmpty() ||
            !events.value().to.isEmpty()) {
            return EventRequest::badRequest(QStringLiteral("'hours' must be a number from 1 to ") +
                                            QString::number(kMaxHours) +
                                            QStringLiteral(", given without 'from' and 'to'"));
        }
        // Whole minutes, the current one last, so that a chart by minute ends with it.
        const QDateTime end(now.date(), QTime(now.time().hour(), now.time().minute()), Qt::UTC);
        query.to = DateText::isoText(end.addSecs(60));
        query.from = DateText::isoText(end.addSecs(60 - qint64(hours) * 3600));
    }
    if (query.from >= query.to) {
        return EventRequest::badRequest(QStringLiteral("'from' must be before 'to'"));
    }
    const QString bucket = url.queryItemValue(kBucket);
    if (bucket.isEmpty()) {
        query.bucket = ActivityQuery::bucketFor(query.from, query.to);
    } else if (const auto named = ActivityBuckets::fromName(bucket)) {
        query.bucket = *named;
    } else {
        return EventRequest::badRequest(
            QStringLiteral("'bucket' must be minute, hour, day or week"));
    }
    const QString split = url.queryItemValue(kSplit);
    if (split == u"source") {
        query.split = ActivityQuery::Split::Source;
    } else if (split == u"type") {
        query.split = ActivityQuery::Split::Type;
    } else if (!split.isEmpty()) {
        return EventRequest::badRequest(QStringLiteral("'split' must be source or type"));
    }
    if (url.hasQueryItem(kTop)) {
        bool ok = false;
        query.top = url.queryItemValue(kTop).toInt(&ok);
        if (!ok || query.top < 1 || query.top > kMaxTop) {
            return EventRequest::badRequest(QStringLiteral("'top' must be a number from 1 to ") +
                                            QString::number(kMaxTop));
        }
    }
    if (!ActivityBuckets::starts(query)) {
        return EventRequest::badRequest(
            QStringLiteral("The range holds more than ") +
            QString::number(ActivityQuery::kMaxBuckets) + QStringLiteral(" intervals of a ") +
            ActivityBuckets::name(query.bucket) +
            QStringLiteral(": choose a longer bucket or a shorter range"));
    }
    return query;
}

}  // namespace ActivityRequest
