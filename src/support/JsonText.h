#pragma once

#include <QByteArray>
#include <QByteArrayView>

// JSON strings written by hand where a document per line or record would cost more than the
// writing: UTF-8 passes through byte for byte, quotes, backslashes and control characters are
// escaped, so that the output is predictable to the byte.
namespace JsonText {

// `utf8` as a JSON string, quotes included, appended to `out`.
void appendString(QByteArray& out, QByteArrayView utf8);

}  // namespace JsonText
