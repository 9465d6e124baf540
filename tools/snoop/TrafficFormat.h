#pragma once

#include <QByteArray>

#include "SeenMessage.h"

// How the snoop prints one datagram: a summary line, the whole text under a summary line, or one
// JSON object on one line for scripts. Received text never reaches the terminal raw: control
// characters that could move the cursor or change colours are shown as "?".
namespace TrafficFormat {

QByteArray summary(const SeenMessage& seen, bool colour);
QByteArray full(const SeenMessage& seen, bool colour);
QByteArray json(const SeenMessage& seen);

// The text with line breaks as "|" (or kept, with `keepLines`) and other control characters as "?".
QString printable(QStringView text, bool keepLines);

}  // namespace TrafficFormat
