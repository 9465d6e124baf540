#pragma once

#include <QJsonObject>

#include "report/Result.h"
#include "settings/LoggerSettings.h"

// The setup page's settings as JSON: {"engine":"file|sqlserver|postgresql","sqlSource":..,
// "database":..,"table":..,"mqtt":{"host":..,"port":1883,..,"discovery":false,..}}, the same
// choices as the setup dialog. A password never leaves in clear: the source is shown masked and
// the MQTT password as a mask, and the mask sent back keeps the password it stands for.
namespace SettingsJson {

// What the page can change.
struct Chosen {
    DatabaseSettings database;
    MqttSettings mqtt;
};

QJsonObject toJson(const Chosen& settings);

// Settings from a PUT body, checked as the settings file's reader checks them, with the same
// sentences; a part or field left out keeps its value in `current`, which also gives the
// passwords the masks stand for. Unknown fields and wrong types are refused by name.
Result<Chosen> fromJson(const QByteArray& body, const Chosen& current);

}  // namespace SettingsJson
