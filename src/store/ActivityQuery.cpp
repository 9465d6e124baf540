#include "store/ActivityQuery.h"

#include <QDateTime>

#include "support/DateText.h"

namespace {

// Stored times are read as UTC: the texts name a clock of their own, and UTC has no gaps or
// repeated hours that would move a bucket's start.
std::optional<QDateTime> readTime(const QString& text) {
    // Read as date and time apart: a local time that a clock change skips is still a time here.
    const QDate day = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
    if (text.size() != 19 || text.at(10) != u' ' || !day.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return QDateTime(day, time, Qt::UTC);
}

QString timeText(const QDateTime& t) {
    return DateText::isoText(t);
}

QString twoDigits(int n) {
    const QChar digits[2] = {QChar(u'0' + n / 10), QChar(u'0' + n % 10)};
    return QString(digits, 2);
}

// The starts of the minutes of a range, with one date computation a day rather than one a minute:
// the chart of a day has 1,440.
std::optional<QStringList> minuteStarts(const QString& from, const QString& to) {
    std::optional<QDateTime> first = readTime(from);
    const std::optional<QDateTime> end = readTime(to);
    if (!first || !end || *first >= *end) {
        return std::nullopt;
    }
    first = first->addSecs(-first->time().second());
    const qint64 minutes = (first->secsTo(*end) + 59) / 60;
    if (minutes > ActivityQuery::kMaxBuckets) {
        return std::nullopt;
    }
    QStringList out;
    out.reserve(minutes);
    QDate day = first->date();
    QString dayText = day.toString(QStringLiteral("yyyy-MM-dd "));
    int minute = first->time().hour() * 60 + first->time().minute();
    for (qint64 i = 0; i < minutes; ++i, ++minute) {
        if (minute == 24 * 60) {
            minute = 0;
            day = day.addDays(1);
            dayText = day.toString(QStringLiteral("yyyy-MM-dd "));
        }
        out.append(dayText + twoDigits(minute / 60) + u':' + twoDigits(minute % 60) +
                   QStringLiteral(":00"));
    }
    return out;
}

}  // namespace

ActivityQuery::Bucket ActivityQuery::bucketFor(const QString& from, const QString& to) {
    const std::optional<QDateTime> a = readTime(from);
    const std::optional<QDateTime> b = readTime(to);
    const qint64 hours = a && b ? a->secsTo(*b) / 3600 : 24 * 7;
    if (hours <= 6) {
        return Bucket::Minute;
    }
    if (hours <= 14 * 24) {
        return Bucket::Hour;
    }
    if (hours <= 120 * 24) {
        return Bucket::Day;
    }
    return Bucket::Week;
}

namespace ActivityBuckets {

QString startOf(ActivityQuery::Bucket bucket, const QString& time) {
    switch (bucket) {
        case ActivityQuery::Bucket::Minute:
            return time.left(16) + QStringLiteral(":00");
        case ActivityQuery::Bucket::Hour:
            return time.left(13) + QStringLiteral(":00:00");
        case ActivityQuery::Bucket::Day:
            return time.left(10) + QStringLiteral(" 00:00:00");
        case ActivityQuery::Bucket::Week:
            break;
    }
    const QDate day = QDate::fromString(time.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid()) {
        return time.left(10) + QStringLiteral(" 00:00:00");
    }
    return day.addDays(1 - day.dayOfWeek()).toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(" 00:00:00");
}

QString next(ActivityQuery::Bucket bucket, const QString& start) {
    const std::optional<QDateTime> t = readTime(start);
    if (!t) {
        return QString();
    }
    switch (bucket) {
        case ActivityQuery::Bucket::Minute:
            return timeText(t->addSecs(60));
        case ActivityQuery::Bucket::Hour:
            return timeText(t->addSecs(3600));
        case ActivityQuery::Bucket::Day:
            return timeText(t->addDays(1));
        case ActivityQuery::Bucket::Week:
            break;
    }
    return timeText(t->addDays(7));
}

std::optional<QStringList> starts(const ActivityQuery& query) {
    if (query.bucket == ActivityQuery::Bucket::Minute) {
        return minuteStarts(query.from, query.to);
    }
    if (!readTime(query.from) || !readTime(query.to) || query.from >= query.to) {
        return std::nullopt;
    }
    QStringList out;
    for (QString at = startOf(query.bucket, query.from); at < query.to;
         at = next(query.bucket, at)) {
        if (out.size() >= ActivityQuery::kMaxBuckets || at.isEmpty()) {
            return std::nullopt;
        }
        out.append(at);
    }
    return out;
}

QString name(ActivityQuery::Bucket bucket) {
    switch (bucket) {
        case ActivityQuery::Bucket::Minute:
            return QStringLiteral("minute");
        case ActivityQuery::Bucket::Hour:
            return QStringLiteral("hour");
        case ActivityQuery::Bucket::Day:
            return QStringLiteral("day");
        case ActivityQuery::Bucket::Week:
            break;
    }
    return QStringLiteral("week");
}

std::optional<ActivityQuery::Bucket> fromName(const QString& text) {
    for (const auto bucket : {ActivityQuery::Bucket::Minute, ActivityQuery::Bucket::Hour,
                              ActivityQuery::Bucket::Day, ActivityQuery::Bucket::Week}) {
        if (text == name(bucket)) {
            return bucket;
        }
    }
    return std::nullopt;
}

}  // namespace ActivityBuckets
