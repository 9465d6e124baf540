#include "settings/MqttSettings.h"

#include <QRegularExpression>

#include "settings/IniFile.h"
#include "settings/LoggerSettings.h"

namespace {

const QString kPasswordMask = QStringLiteral("********");

QString booleanText(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

}  // namespace

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
    if (const QString prefix = value(Setting::MqttTopicPrefix);
        valid(Setting::MqttTopicPrefix, prefix)) {
        m.topicPrefix = prefix;
        while (m.topicPrefix.endsWith(u'/')) {
            m.topicPrefix.chop(1);
        }
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

QList<std::pair<Setting, QString>> values(const MqttSettings& m) {
    return {
        {Setting::MqttHost, m.host},
        {Setting::MqttPort, QString::number(m.port)},
        {Setting::MqttClientId, m.clientId},
        {Setting::MqttUsername, m.username},
        {Setting::MqttPassword, m.password},
        {Setting::MqttCaFile, m.caFile},
        {Setting::MqttCertFile, m.certFile},
        {Setting::MqttKeyFile, m.keyFile},
        {Setting::MqttTopicPrefix, m.topicPrefix},
        {Setting::MqttQos, QString::number(m.qos)},
        {Setting::MqttDiscovery, booleanText(m.discovery)},
        {Setting::MqttCommands, booleanText(m.commands)},
        {Setting::MqttCommandClasses, m.commandClasses.join(u' ')},
    };
}

Result<MqttSettings> withValues(const MqttSettings& current,
                                const QList<std::pair<Setting, QString>>& values) {
    MqttSettings m = current;
    for (const auto& [id, given] : values) {
        // A password may begin or end with a blank.
        const QString v = id == Setting::MqttPassword ? given : given.trimmed();
        if (const auto wrong = SettingKeys::wrongValue(id, v)) {
            return Problem{ErrorKind::Settings, *wrong};
        }
        switch (id) {
            case Setting::MqttHost:
                m.host = v;
                break;
            case Setting::MqttPort:
                m.port = quint16(v.toUInt());
                break;
            case Setting::MqttClientId:
                m.clientId = v;
                break;
            case Setting::MqttUsername:
                m.username = v;
                break;
            case Setting::MqttPassword:
                m.password = v;
                break;
            case Setting::MqttCaFile:
                m.caFile = v;
                break;
            case Setting::MqttCertFile:
                m.certFile = v;
                break;
            case Setting::MqttKeyFile:
                m.keyFile = v;
                break;
            case Setting::MqttTopicPrefix:
                m.topicPrefix = v;
                break;
            case Setting::MqttQos:
                m.qos = v.toInt();
                break;
            case Setting::MqttDiscovery:
                m.discovery = *SettingRules::readBoolean(v);
                break;
            case Setting::MqttCommands:
                m.commands = *SettingRules::readBoolean(v);
                break;
            case Setting::MqttCommandClasses:
                m.commandClasses = classList(v);
                break;
            default:
                return Problem{ErrorKind::Settings,
                               SettingKeys::name(id) + QStringLiteral(" is no MQTT setting")};
        }
    }
    return m;
}

QString shownPassword(const MqttSettings& settings) {
    return settings.password.isEmpty() ? QString() : kPasswordMask;
}

QString chosenPassword(const QString& shown, const MqttSettings& current, const QString& host) {
    if (current.password.isEmpty() || shown != kPasswordMask) {
        return shown;
    }
    return host.trimmed().compare(current.host.trimmed(), Qt::CaseInsensitive) == 0
               ? current.password
               : QString();
}

}  // namespace MqttSettingsFile
