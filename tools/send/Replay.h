#pragma once

#include <QHostAddress>
#include <QList>
#include <functional>

#include "CaptureRecord.h"
#include "report/Result.h"

// Sending a capture again: every record, in file order, to one address, with the capture's own
// spacing divided by `speed`, or at a fixed `rate` of datagrams per second instead.
struct ReplayPace {
    double speed = 1;  // > 0
    double rate = -1;  // >= 0 replaces speed; 0: no pauses at all
};

// When each record is due, in microseconds after the first. A clock that went back in the
// capture never makes a record due before the one ahead of it.
QList<qint64> replaySchedule(const QList<CaptureRecord>& records, ReplayPace pace);

// Sends the records on schedule; `progress(sent)` is called now and then and once at the end.
Status replay(const QList<CaptureRecord>& records, ReplayPace pace, const QHostAddress& to,
              quint16 port, const std::function<void(qsizetype)>& progress);
