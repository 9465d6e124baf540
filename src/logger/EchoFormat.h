#pragma once

#include <QString>

#include "store/LogEvent.h"

// The echo line of one logged event, and the live filters, shared by the echo window and the
// console echo of a headless logger:
//   source padded to 20, TAB, yyyy-MM-dd HH:mm:ss, " |  ", type, "  |  ", data
// Line breaks inside type and data become "|", so one event is always one line.
namespace EchoFormat {

constexpr qsizetype kMaxEchoText = 10000;

QString line(const LogEvent& event);

// Type and data filters: empty, or contained in the text without regard to case.
bool matches(const QString& typeFilter, const QString& dataFilter, const LogEvent& event);

// The echo text with one more line (CR LF in front of it), cut to its last 10000 characters.
QString append(const QString& text, const QString& line);

}  // namespace EchoFormat
