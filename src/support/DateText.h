#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Reading the date-time texts that xAP controllers send, and the one text form Quilljot writes.
//
// Accepted forms (leading and trailing blanks ignored, seconds optional everywhere):
//   2026-12-04 23:13:09      ISO date, blank or "T" before the time, fractions of a second ignored
//   12/4/2026 11:13:09 PM    12-hour time with AM or PM: month before day, as such controllers
//   write 04/12/2026 23:13:09      day and month in the order the system locale uses; "." may
//   replace "/" any of the dates alone   midnight of that day
// When one of the two leading numbers is above 12 it can only be the day, whatever the order.
namespace DateText {

enum class Order { MonthFirst, DayFirst };

// The order of day and month in the system locale's short date form.
Order systemOrder();

std::optional<QDateTime> read(const QString& text, Order order);
std::optional<QDateTime> read(const QString& text);

// yyyy-MM-dd HH:mm:ss
QString isoText(const QDateTime& when);

// The text in the form yyyy-MM-dd HH:mm:ss when it names a date, without building a QDateTime
// when it is already in that form (the common case, and a hot path of the logger).
std::optional<QString> normalize(QStringView text, Order order);
std::optional<QString> normalize(QStringView text);

}  // namespace DateText
