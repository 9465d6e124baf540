#pragma once

#include <QDateTime>
#include <QString>

// The echo line of one logged event, and the live filters, shared by the echo window and the
// console echo of a headless logger:
//   source padded to 20, TAB, yyyy-MM-dd HH:mm:ss, " |  ", category, "  |  ", data
// Line breaks inside category and data become "|", so one event is always one line.
namespace EchoFormat {

constexpr qsizetype kMaxEchoText = 10000;

QString line(const QString& source, const QString& time, const QString& category,
             const QString& data, const QDateTime& now);

// Category and data filters: empty, or contained in the text without regard to case.
bool matches(const QString& categoryFilter, const QString& dataFilter, const QString& category,
             const QString& data);

// The echo text with one more line (CR LF in front of it), cut to its last 10000 characters.
QString append(const QString& text, const QString& line);

}  // namespace EchoFormat
