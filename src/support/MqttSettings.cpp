#include "support/MqttSettings.h"

#include <QRegularExpression>

#include "support/IniFile.h"
#include "support/LoggerSettings.h"

namespace MqttSettingsFile {

QStringList classList(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

Loaded read(const IniFile& ini, const AppFolders& folders) {
    Loaded out;
    MqttSettings& m = out.settings;
    const auto value = [&](Setting id) { return SettingKeys::read(ini, id).trimmed(); };
    const auto valid = [&](Setting id, const QString& v) {
        if (const auto wrong = SettingKeys::wrongValue(id, v)) {
            out.problems.append(Problem{ErrorKind::Settings, *wrong});
            return false;
        }
        return true;
    };
    const auto file = [&](Setting id) {
        const QString name = value(id);
        return name.isEmpty() ? name : folders.resolve(name);
    };
    m.host = value(Setting::MqttHost);
    if (const QString port = value(Setting::MqttPort); valid(Setting::MqttPort, port)) {
        m.port = quint16(port.toUInt());
    }
    m.clientId = value(Setting::MqttClientId);
    m.username = value(Setting::MqttUsername);
    // A password may begin or end with a blank.
    m.password = SettingKeys::read(ini, Setting::MqttPassword);
    m.caFile = file(Setting::MqttCaFile);
    m.certFile = file(Setting::MqttCertFile);
    m.keyFile = file(Setting::MqttKeyFile);
    m.topicPrefix = value(Setting::MqttTopicPrefix);
    while (m.topicPrefix.endsWith(u'/')) {
        m.topicPrefix.chop(1);
    }
    if (m.topicPrefix.contains(u'+') || m.topicPrefix.contains(u'#')) {
        out.problems.append(
            Problem{ErrorKind::Settings,
                    QStringLiteral("TopicPrefix must be a topic without wildcards (+, #), not '") +
                        m.topicPrefix + u'\''});
        m.topicPrefix = SettingKeys::initial(Setting::MqttTopicPrefix);
    }
    if (const QString qos = value(Setting::MqttQos); valid(Setting::MqttQos, qos)) {
        m.qos = qos.toInt();
    }
    if (const QString on = value(Setting::MqttDiscovery); valid(Setting::MqttDiscovery, on)) {
        m.discovery = *SettingRules::readBoolean(on);
    }
    if (const QString on = value(Setting::MqttCommands); valid(Setting::MqttCommands, on)) {
        m.commands = *SettingRules::readBoolean(on);
    }
    m.commandClasses = classList(value(Setting::MqttCommandClasses));
    return out;
}

}  // namespace MqttSettingsFile
