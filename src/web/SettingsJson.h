#pragma once

#include <QJsonObject>

#include "report/Result.h"
#include "support/LoggerSettings.h"

// The setup page's settings as JSON: {"engine":"file|sqlserver|postgresql","sqlSource":..,
// "database":..,"table":..}, the same choices as the setup dialog. A server password never
// leaves in clear: the source is shown masked, and the masked text sent back keeps it.
namespace SettingsJson {

QJsonObject toJson(const DatabaseSettings& database);

// Settings from a PUT body, checked as the settings file's reader checks them; `current` gives
// the password a masked source stands for. Unknown fields and wrong types are refused by name.
Result<DatabaseSettings> fromJson(const QByteArray& body, const DatabaseSettings& current);

}  // namespace SettingsJson
