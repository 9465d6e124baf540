#pragma once

#include <QByteArray>
#include <QtGlobal>

// One datagram as a capture keeps it: its bytes, unchanged, and when it arrived (microseconds
// since 1970-01-01 UTC).
struct CaptureRecord {
    qint64 microseconds = 0;
    QByteArray bytes;
};
