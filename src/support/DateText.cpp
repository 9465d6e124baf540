#include "support/DateText.h"

#include <QLocale>
#include <QRegularExpression>

namespace DateText {

namespace {

std::optional<QTime> timeOf(const QRegularExpressionMatch& m, int hourGroup) {
    if (!m.hasCaptured(hourGroup)) {
        return QTime(0, 0);
    }
    int hour = m.captured(hourGroup).toInt();
    const int minute = m.captured(hourGroup + 1).toInt();
    const int second = m.hasCaptured(hourGroup + 2) ? m.captured(hourGroup + 2).toInt() : 0;
    const QString half = m.captured(hourGroup + 3).toUpper();
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12) {
            return std::nullopt;
        }
        hour = (hour % 12) + (half == u"PM" ? 12 : 0);
    }
    QTime t(hour, minute, second);
    if (!t.isValid()) {
        return std::nullopt;
    }
    return t;
}

}  // namespace

Order systemOrder() {
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    const qsizetype d = format.indexOf(u'd');
    const qsizetype m = format.indexOf(u'M');
    return (d >= 0 && (m < 0 || d < m)) ? Order::DayFirst : Order::MonthFirst;
}

std::optional<QDateTime> read(const QString& text, Order order) {
    static const QRegularExpression iso(
        QStringLiteral(
            R"(^\s*(\d{4})-(\d{1,2})-(\d{1,2})(?:(?:\s+|T)(\d{1,2}):(\d{2})(?::(\d{2})(?:\.\d+)?)?\s*(AM|PM)?)?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression local(
        QStringLiteral(
            R"(^\s*(\d{1,2})([/.])(\d{1,2})\2(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?\s*(AM|PM)?)?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);

    QDate date;
    std::optional<QTime> time;
    if (const auto m = iso.match(text); m.hasMatch()) {
        date = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        time = timeOf(m, 4);
    } else if (const auto m2 = local.match(text); m2.hasMatch()) {
        const int a = m2.captured(1).toInt();
        const int b = m2.captured(3).toInt();
        const bool twelveHour = !m2.captured(8).isEmpty();
        bool dayFirst = twelveHour ? false : order == Order::DayFirst;
        if (a > 12 && b <= 12) {
            dayFirst = true;
        } else if (b > 12 && a <= 12) {
            dayFirst = false;
        }
        const int year = m2.captured(4).toInt();
        date = dayFirst ? QDate(year, b, a) : QDate(year, a, b);
        time = timeOf(m2, 5);
    } else {
        return std::nullopt;
    }
    if (!date.isValid() || !time) {
        return std::nullopt;
    }
    return QDateTime(date, *time);
}

std::optional<QDateTime> read(const QString& text) {
    return read(text, systemOrder());
}

QString isoText(const QDateTime& when) {
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace DateText
