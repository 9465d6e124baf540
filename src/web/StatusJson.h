#pragma once

#include <QJsonObject>

#include "status/LoggerStatus.h"

// The logger's status as /api/status answers it, for the status page and for monitoring. Times
// are "yyyy-MM-dd hh:mm:ss" local time; lastReceived is null while no datagram has arrived (no
// hub forwards to the logger), lastEvent while no event has been logged; quietSources lists the
// sources that went quiet, each with when it was last heard and its usual spacing in seconds; a
// server password in the database source is masked.
namespace StatusJson {

QJsonObject toJson(const LoggerStatus& status);

}  // namespace StatusJson
