#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "report/Problem.h"
#include "report/Result.h"
#include "settings/SettingKeys.h"
#include "support/AppFolders.h"

class IniFile;

// The MQTT bridge's settings, section "Mqtt" of the logger's settings file: the broker and how to
// sign in to it (TLS when a CA file is named), the topics' first levels, the quality of service,
// and whether Home Assistant discovery and commands from MQTT are on. No host: no bridge.
struct MqttSettings {
    QString host;
    quint16 port = quint16(SettingKeys::initialNumber(Setting::MqttPort));
    QString clientId;
    QString username;
    QString password;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString topicPrefix = SettingKeys::initial(Setting::MqttTopicPrefix);
    int qos = SettingKeys::initialNumber(Setting::MqttQos);
    bool discovery = false;
    bool commands = false;
    QStringList commandClasses = {SettingKeys::initial(Setting::MqttCommandClasses)};

    bool enabled() const { return !host.trimmed().isEmpty(); }
    bool tls() const { return !caFile.isEmpty(); }
    // The client id, "quilljot-" and the computer's name when the settings name none.
    QString clientIdFor(const QString& computerName) const {
        return clientId.isEmpty() ? QStringLiteral("quilljot-") + computerName : clientId;
    }
    // "host:port", as reports name the broker.
    QString brokerName() const { return host + u':' + QString::number(port); }

    bool operator==(const MqttSettings&) const = default;
};

namespace MqttSettingsFile {

struct Loaded {
    MqttSettings settings;
    QList<Problem> problems;  // a value that is not valid keeps its default
};
// Relative file names are taken from the application folder.
Loaded read(const IniFile& ini, const AppFolders& folders);

// The values of Setting::MqttCommandClasses, split at blanks and commas.
QStringList classList(const QString& text);

// Each key of the section with its value as the settings file holds it, the password too.
QList<std::pair<Setting, QString>> values(const MqttSettings& settings);
// `current` with the values a form gives (any keys of the section), each checked by its key's
// rule: a wrong value is refused with the sentence that names its key. File names stay as given.
Result<MqttSettings> withValues(const MqttSettings& current,
                                const QList<std::pair<Setting, QString>>& values);

// What the setup dialog and the web page show for the password: a mask when there is one, so
// that it never leaves the logger; the mask sent back keeps the password for the same `host`
// only, so that a stored password never goes to a broker it was not typed for.
QString shownPassword(const MqttSettings& settings);
QString chosenPassword(const QString& shown, const MqttSettings& current, const QString& host);

}  // namespace MqttSettingsFile
