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
    // The locale does not change while the program runs; asking it is slow on a hot path.
    static const Order order = [] {
        const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
        const qsizetype d = format.indexOf(u'd');
        const qsizetype m = format.indexOf(u'M');
        return (d >= 0 && (m < 0 || d < m)) ? Order::DayFirst : Order::MonthFirst;
    }();
    return order;
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

namespace {

void putDigits(QChar* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
}

// yyyy-MM-dd HH:mm:ss
QString writtenForm(int year, int month, int day, int hour, int minute, int second) {
    QString out(19, Qt::Uninitialized);
    QChar* p = out.data();
    putDigits(p, year, 4);
    p[4] = u'-';
    putDigits(p + 5, month, 2);
    p[7] = u'-';
    putDigits(p + 8, day, 2);
    p[10] = u' ';
    putDigits(p + 11, hour, 2);
    p[13] = u':';
    putDigits(p + 14, minute, 2);
    p[16] = u':';
    putDigits(p + 17, second, 2);
    return out;
}

// Reads `width` digits at `at`; -1 when any is not a digit.
int digits(QStringView s, qsizetype at, int width) {
    int value = 0;
    for (int i = 0; i < width; ++i) {
        const char16_t c = s[at + i].unicode();
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

// yyyy-MM-dd or yyyy-MM-dd HH:mm:ss exactly, with a valid date and time.
bool isCanonical(QStringView s) {
    if (s.size() != 10 && s.size() != 19) {
        return false;
    }
    if (s[4] != u'-' || s[7] != u'-') {
        return false;
    }
    const int y = digits(s, 0, 4);
    const int mo = digits(s, 5, 2);
    const int d = digits(s, 8, 2);
    if (y < 0 || mo < 0 || d < 0 || !QDate::isValid(y, mo, d)) {
        return false;
    }
    if (s.size() == 10) {
        return true;
    }
    if (s[10] != u' ' || s[13] != u':' || s[16] != u':') {
        return false;
    }
    const int h = digits(s, 11, 2);
    const int mi = digits(s, 14, 2);
    const int se = digits(s, 17, 2);
    return h >= 0 && mi >= 0 && se >= 0 && QTime::isValid(h, mi, se);
}

// The form controllers write, exactly: 12/4/2026 11:13:09 PM (or with "." between the date's
// numbers, without seconds, without AM/PM, without the time), no blanks around it. Written as
// yyyy-MM-dd HH:mm:ss when it is a valid date and time; empty for any other text, which the full
// reader takes instead (it tries each form by pattern, some microseconds a text).
std::optional<QString> controllerForm(QStringView s, Order order) {
    const qsizetype n = s.size();
    qsizetype at = 0;
    // One or two digits at `at`, moving past them; -1 when there is none.
    const auto shortNumber = [&]() {
        const int first = at < n ? digits(s, at, 1) : -1;
        if (first < 0) {
            return -1;
        }
        ++at;
        if (const int second = at < n ? digits(s, at, 1) : -1; second >= 0) {
            ++at;
            return first * 10 + second;
        }
        return first;
    };
    const auto skip = [&](char16_t c) {
        if (at < n && s[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    const int a = shortNumber();
    if (a < 0 || at >= n || (s[at] != u'/' && s[at] != u'.')) {
        return std::nullopt;
    }
    const char16_t separator = s[at++].unicode();
    const int b = shortNumber();
    if (b < 0 || !skip(separator) || at + 4 > n) {
        return std::nullopt;
    }
    const int year = digits(s, at, 4);
    at += 4;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool twelveHour = false;
    if (at < n) {
        if (!skip(u' ') || (hour = shortNumber()) < 0 || !skip(u':') || at + 2 > n ||
            (minute = digits(s, at, 2)) < 0) {
            return std::nullopt;
        }
        at += 2;
        if (skip(u':')) {
            if (at + 2 > n || (second = digits(s, at, 2)) < 0) {
                return std::nullopt;
            }
            at += 2;
        }
        skip(u' ');
        if (at + 2 == n && (s[at + 1] == u'M' || s[at + 1] == u'm')) {
            const char16_t half = s[at].unicode();
            const bool pm = half == u'P' || half == u'p';
            if (!pm && half != u'A' && half != u'a') {
                return std::nullopt;
            }
            if (hour < 1 || hour > 12) {
                return std::nullopt;
            }
            hour = hour % 12 + (pm ? 12 : 0);
            twelveHour = true;
            at = n;
        }
        if (at != n) {
            return std::nullopt;
        }
    }
    if (year < 0) {
        return std::nullopt;
    }
    // As the full reader decides: a 12-hour time is written month first, and a number above 12
    // can only be the day.
    bool dayFirst = twelveHour ? false : order == Order::DayFirst;
    if (a > 12 && b <= 12) {
        dayFirst = true;
    } else if (b > 12 && a <= 12) {
        dayFirst = false;
    }
    const int month = dayFirst ? b : a;
    const int day = dayFirst ? a : b;
    if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second)) {
        return std::nullopt;
    }
    return writtenForm(year, month, day, hour, minute, second);
}

}  // namespace

QString isoText(const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    return writtenForm(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

std::optional<QString> normalize(QStringView text, Order order) {
    if (isCanonical(text)) {
        return text.size() == 19 ? text.toString() : text + QStringLiteral(" 00:00:00");
    }
    if (auto written = controllerForm(text, order)) {
        return written;
    }
    const auto when = read(text.toString(), order);
    if (!when) {
        return std::nullopt;
    }
    return isoText(*when);
}

std::optional<QString> normalize(QStringView text) {
    return normalize(text, systemOrder());
}

}  // namespace DateText
