#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>
#include <span>

class IniFile;

// Every key of Config/zelXapQuilljot.ini, named in code by its role.
enum class Setting {
    Engine,
    UseSql,
    SqlSource,
    Database,
    DatabaseTable,
    SpoolLimit,
    WindowHeight,
    WindowWidth,
    SourceFilter,
    CategoryFilter,
    DataFilter,
    KeepDays,
    MessagesTable,
    SearchIndex,
    MessagesKeepDays,
    Include,  // Include1, Include2, ...
    Exclude,  // Exclude1, ...
    ExcludeOwnReports,
    WebPort,
    WebBind,
    WebPasswordHash,
    WebCertFile,
    WebKeyFile,
    WebHostNames,
    WebTrustedProxies,
    MqttHost,
    MqttPort,
    MqttClientId,
    MqttUsername,
    MqttPassword,
    MqttCaFile,
    MqttCertFile,
    MqttKeyFile,
    MqttTopicPrefix,
    MqttQos,
    MqttDiscovery,
    MqttCommands,
    MqttCommandClasses,
};

// What a key's value must be; the check and the sentence that names a wrong value follow from it.
enum class SettingValue {
    Text,       // anything
    Engine,     // file, sqlserver, postgresql or empty
    Boolean,    // True, False or a number
    PlainName,  // a name that can stand in a statement as it is
    Days,       // a whole number, 0 or more
    MiB,        // a whole number above 0
    Twips,      // a number; what is none counts as 0 (the window's smallest size)
    Port,       // a TCP port, 0 to 65535
    Address,    // an IP address
    Addresses,  // IP addresses, apart by blanks or commas; none too
    Rule,       // "class [source [target]]"
    Qos,        // an MQTT quality of service the bridge offers: 0 or 1
    Topic,      // MQTT topic levels without wildcards
};

// One key of the logger's settings file: its role, section and name, the value a first start
// writes (and the loader takes when the key is missing), what the value must be, and the comment
// written above it in a new file.
struct SettingKey {
    Setting id;
    QStringView section;
    QStringView name;
    QStringView initial;
    SettingValue value;
    QStringView comment;
};

// The table of keys. A new setting is one row there plus the code that uses its value: the
// loader, --check-config, the first file's text and the check of unknown keys read the table.
namespace SettingKeys {

// In the order the first start's file lists them, grouped by section.
std::span<const SettingKey> all();
const SettingKey& of(Setting id);
QString name(Setting id);
// The value a first start writes, which is also the value of a missing key.
QString initial(Setting id);
int initialNumber(Setting id);

// The key's value in `ini`, or its initial value when the key is missing. A numbered key
// (Include, Exclude) is read with its number: read(ini, Setting::Include, 2) is Include2.
QString read(const IniFile& ini, Setting id, int number = 0);
void write(IniFile& ini, Setting id, const QString& value, int number = 0);
void remove(IniFile& ini, Setting id, int number);
// Each number of a numbered key in `ini` with its value, in the file's order.
QList<std::pair<int, QString>> numbered(const IniFile& ini, Setting id);

// Why `value` cannot be the key's value (a plain sentence naming the key and the value), or
// nothing when it can.
std::optional<QString> wrongValue(Setting id, const QString& value, int number = 0);
// The items of a list value, apart by blanks or commas.
QStringList splitList(const QString& value);

// The text of the file a first start writes: a few lines on the format, then each section with
// every key at its initial value, a comment line above each; the platform's line ends.
QString firstFileText();

}  // namespace SettingKeys
