#pragma once

#include <QByteArray>
#include <QDateTime>

#include "status/LoggerStatus.h"

// The logger's status for monitoring, in the Prometheus text format (version 0.0.4) that /metrics
// answers: what became of the datagrams since the start as counters; the spools, the receive
// queue, the database, the silences and the web sessions as gauges. Names carry the quilljot_
// prefix, counters end in _total and quantities in their unit.
namespace MetricsText {

inline constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

QByteArray format(const LoggerStatus& status, const QDateTime& now, int webSessions);

}  // namespace MetricsText
