#pragma once

#include <QJsonObject>

#include "logger/LoggerStatus.h"

// The logger's status as /api/status answers it, for the status page and for monitoring. Times
// are "yyyy-MM-dd hh:mm:ss" local time; lastReceived is null while no datagram has arrived (no
// hub forwards to the logger); a server password in the database source is masked.
namespace StatusJson {

QJsonObject toJson(const LoggerStatus& status);

}  // namespace StatusJson
