#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "settings/LoggerSettings.h"
#include "settings/RuleSettings.h"
#include "support/AppFolders.h"

// What `quilljot --check-config` finds: the settings of an application folder, read and checked
// as the logger would read them, and what the logger would use: folder, database, table, what is
// logged and how long it is kept, addresses. Nothing is made or changed, on disk or on a database
// server; servers are connected to, to see that they answer.
class ConfigCheck {
public:
    struct Finding {
        QString what;
        QString value;
    };

    static ConfigCheck run(const StartupPlace& place, quint16 xapPort);

    const QList<Finding>& uses() const { return m_uses; }
    // What the logger running on the folder says it does (see Logger::noteForChecks), by what:
    // "sending", "web page"; empty when none runs or it did not say.
    QString running(const QString& what) const { return m_running.value(what); }
    const QStringList& problems() const { return m_problems; }
    // What it would use, a line each, then a line per problem.
    QString text() const;

private:
    void use(const QString& what, const QString& value) { m_uses.append(Finding{what, value}); }
    void problem(const QString& text) { m_problems.append(text); }
    void checkFolder(const StartupPlace& place, const AppFolders& folders);
    void checkNetwork(const NetworkSettings& settings, quint16 xapPort);
    void checkBroker(const MqttSettings& mqtt);
    void listRules(const StorageRules& rules, const QString& eventTable);

    QList<Finding> m_uses;
    QStringList m_problems;
    QHash<QString, QString> m_running;
};
