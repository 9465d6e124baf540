#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

#include "CaptureRecord.h"
#include "report/Result.h"

// The text form of a capture: JSON lines, one object per line. The first line names the format
// and who captured when,
//   {"format":"xap-capture","version":1,"source":"zel.xapsnoop.host","started":"2026-12-05T10:11:12Z"}
// and each further line holds one datagram in arrival order,
//   {"t":1764929472.345678,"text":"xap-header\n{\n..."}
// with "t" the arrival time in seconds since 1970 UTC. A datagram that is not valid UTF-8 is kept
// exactly as "base64" instead of "text". Readers skip empty lines and keys they do not know.
namespace CaptureFormat {

QByteArray headerLine(const QString& source, qint64 startedMicroseconds);
QByteArray recordLine(const CaptureRecord& record);

// A record, nothing for the header line or an empty line, or what is wrong with the line.
Result<std::optional<CaptureRecord>> readLine(QByteArrayView line);

}  // namespace CaptureFormat
