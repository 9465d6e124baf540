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

// Which of a date's first two numbers is the day: a 12-hour time is written month first, a number
// above 12 can only be the day, and otherwise the order of the locale decides.
bool dayComesFirst(int first, int second, bool twelveHour, Order order) {
    if (first > 12 && second <= 12) {
        return true;
    }
    if (second > 12 && first <= 12) {
        return false;
    }
    return twelveHour ? false : order == Order::DayFirst;
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
        const bool dayFirst = dayComesFirst(a, b, !m2.captured(8).isEmpty(), order);
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

// Reads a text left to right; each step moves past what it took.
class Scan {
public:
    explicit Scan(QStringView s) : m_s(s) {}

    bool atEnd() const { return m_at == m_s.size(); }
    QStringView rest() const { return m_s.sliced(m_at); }

    // Skips `c` when it comes next.
    bool skip(char16_t c) {
        if (m_at < m_s.size() && m_s[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    // One or two digits; -1 when there is none.
    int shortNumber() {
        const int first = digitAt(m_at);
        if (first < 0) {
            return -1;
        }
        ++m_at;
        if (const int second = digitAt(m_at); second >= 0) {
            ++m_at;
            return first * 10 + second;
        }
        return first;
    }
    // Exactly `width` digits; -1 when there are fewer.
    int number(int width) {
        if (m_at + width > m_s.size()) {
            return -1;
        }
        const int value = digits(m_s, m_at, width);
        m_at += width;
        return value;
    }
    // "/" or "."; null when neither comes next.
    char16_t dateSeparator() {
        if (m_at < m_s.size() && (m_s[m_at] == u'/' || m_s[m_at] == u'.')) {
            return m_s[m_at++].unicode();
        }
        return 0;
    }
    void skipRest() { m_at = m_s.size(); }

private:
    int digitAt(qsizetype at) const { return at < m_s.size() ? digits(m_s, at, 1) : -1; }

    QStringView m_s;
    qsizetype m_at = 0;
};

// A date as controllers write it: two short numbers, month and day in either order, and a year.
struct ControllerDate {
    int first;
    int second;
    int year;
};

struct ControllerTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool twelveHour = false;
};

// 12/4/2026 or 4.12.2026.
std::optional<ControllerDate> scanDate(Scan& scan) {
    ControllerDate date{};
    date.first = scan.shortNumber();
    const char16_t separator = date.first < 0 ? 0 : scan.dateSeparator();
    if (separator == 0) {
        return std::nullopt;
    }
    date.second = scan.shortNumber();
    if (date.second < 0 || !scan.skip(separator) || (date.year = scan.number(4)) < 0) {
        return std::nullopt;
    }
    return date;
}

// " AM" or "PM" ending the text, in any case, applied to the hour of `time`; false for a wrong
// letter or an hour that no 12-hour clock shows. Nothing to do when the text ends otherwise.
bool scanHalfOfDay(Scan& scan, ControllerTime& time) {
    scan.skip(u' ');
    const QStringView rest = scan.rest();
    if (rest.size() != 2 || (rest[1] != u'M' && rest[1] != u'm')) {
        return true;
    }
    const bool pm = rest[0] == u'P' || rest[0] == u'p';
    if (!pm && rest[0] != u'A' && rest[0] != u'a') {
        return false;
    }
    if (time.hour < 1 || time.hour > 12) {
        return false;
    }
    time.hour = time.hour % 12 + (pm ? 12 : 0);
    time.twelveHour = true;
    scan.skipRest();
    return true;
}

// " 11:13:09 PM", without seconds or AM/PM, or nothing (midnight) up to the end of the text.
std::optional<ControllerTime> scanTime(Scan& scan) {
    ControllerTime time;
    if (scan.atEnd()) {
        return time;
    }
    if (!scan.skip(u' ') || (time.hour = scan.shortNumber()) < 0 || !scan.skip(u':') ||
        (time.minute = scan.number(2)) < 0) {
        return std::nullopt;
    }
    if (scan.skip(u':') && (time.second = scan.number(2)) < 0) {
        return std::nullopt;
    }
    if (!scanHalfOfDay(scan, time) || !scan.atEnd()) {
        return std::nullopt;
    }
    return time;
}

// The form controllers write, exactly: 12/4/2026 11:13:09 PM (or with "." between the date's
// numbers, without seconds, without AM/PM, without the time), no blanks around it. Written as
// yyyy-MM-dd HH:mm:ss when it is a valid date and time; empty for any other text, which the full
// reader takes instead (it tries each form by pattern, some microseconds a text).
std::optional<QString> controllerForm(QStringView s, Order order) {
    Scan scan(s);
    const std::optional<ControllerDate> date = scanDate(scan);
    if (!date) {
        return std::nullopt;
    }
    const std::optional<ControllerTime> time = scanTime(scan);
    if (!time) {
        return std::nullopt;
    }
    const bool dayFirst = dayComesFirst(date->first, date->second, time->twelveHour, order);
    const int month = dayFirst ? date->second : date->first;
    const int day = dayFirst ? date->first : date->second;
    if (!QDate::isValid(date->year, month, day) ||
        !QTime::isValid(time->hour, time->minute, time->second)) {
        return std::nullopt;
    }
    return writtenForm(date->year, month, day, time->hour, time->minute, time->second);
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
