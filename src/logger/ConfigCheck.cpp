#include "logger/ConfigCheck.h"

#include <arpa/inet.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>

#include "mqtt/MqttClient.h"
#include "node/XapNode.h"
#include "report/Reporter.h"
#include "settings/SettingsStore.h"
#include "settings/WebSettings.h"
#include "store/ServerSource.h"
#include "store/Store.h"
#include "support/ApplicationReporter.h"
#include "support/InstanceLock.h"
#include "support/PathRules.h"
#include "support/ProgramNames.h"

namespace {

bool writable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

QString settingsFileState(const QString& path) {
    return QFileInfo::exists(path) ? path
                                   : path + QStringLiteral(" (not there: the defaults apply)");
}

// The lines of a settings file that are no setting, as the store reported them while reading.
void takeReports(MemoryReporter& reporter, QStringList& into) {
    for (const MemoryReporter::Entry& e : reporter.entries) {
        into.append(
            ApplicationReporter::journalLine(e.first, Reporter::plainText(e.second, e.problem)));
    }
    reporter.entries.clear();
}

bool isIpv4Address(const QString& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
}

bool isAddressPattern(const QString& text) {
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) {
        return false;
    }
    for (const QString& part : parts) {
        bool ok = false;
        const uint n = part.toUInt(&ok);
        if (!ok || n > 255) {
            return false;
        }
    }
    return true;
}

}  // namespace

void ConfigCheck::checkFolder(const StartupPlace& place, const AppFolders& folders) {
    const QString& app = folders.appPath();
    const QString notice = AppFolders::ownFolderNotice(place);
    const QString how = notice.isEmpty() ? QString() : QStringLiteral(" (") + notice + u')';
    const QFileInfo info(app);
    if (info.exists() && !info.isDir()) {
        problem(QStringLiteral("the application folder ") + app +
                QStringLiteral(" is a file, not a folder"));
    } else if (info.isDir()) {
        use(QStringLiteral("application folder"), app + how);
        if (!writable(app)) {
            problem(QStringLiteral("the application folder ") + app +
                    QStringLiteral(" is not writable"));
        }
    } else {
        // The logger makes it, and its Config and Data, at start.
        QString parent = info.absolutePath();
        while (!QFileInfo::exists(parent) && QFileInfo(parent).absolutePath() != parent) {
            parent = QFileInfo(parent).absolutePath();
        }
        use(QStringLiteral("application folder"), app + QStringLiteral(" (would be made)") + how);
        if (!QFileInfo(parent).isDir() || !writable(parent)) {
            problem(QStringLiteral("the application folder ") + app +
                    QStringLiteral(" cannot be made: ") + parent +
                    QStringLiteral(" is not a writable folder"));
        }
    }
    // The folders the logger makes below it: something else in their place stops it from
    // writing its settings, text log or spool.
    const QString data = folders.dataFolder();
    for (const QString& folder : {PathRules::join(app, QStringLiteral("Config")), data,
                                  QFileInfo(folders.textLogPath()).absolutePath(),
                                  PathRules::join(data, QStringLiteral("spool"))}) {
        if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir()) {
            problem(folder + QStringLiteral(" is a file where the logger needs a folder"));
        }
    }
    const qint64 holder = InstanceLock::holder(folders.lockPath());
    use(QStringLiteral("running logger"), holder == 0 ? QStringLiteral("none")
                                          : holder > 0
                                              ? QStringLiteral("pid ") + QString::number(holder)
                                              : QStringLiteral("one (pid unknown)"));
    if (holder == 0) {
        return;
    }
    // What it said it does, from its start; the lines below are what these settings would do
    // at the next start.
    for (const QString& note : InstanceLock::notes(folders.lockPath())) {
        const qsizetype tab = note.indexOf(u'\t');
        if (tab > 0) {
            m_running.insert(note.left(tab), note.mid(tab + 1));
            use(QStringLiteral("  ") + note.left(tab), note.mid(tab + 1));
        }
    }
}

void ConfigCheck::checkNetwork(const NetworkSettings& settings, quint16 xapPort) {
    const QString destination = settings.broadcastAddress.trimmed();
    if (destination.compare(u"default", Qt::CaseInsensitive) != 0 && !isIpv4Address(destination)) {
        problem(QStringLiteral("BroadcastAddress must be Default or an IPv4 address, not '") +
                settings.broadcastAddress + u'\'');
    }
    const QString pattern = settings.interfaceAddress.trimmed();
    if (pattern.compare(u"default", Qt::CaseInsensitive) != 0 && !isAddressPattern(pattern)) {
        problem(QStringLiteral("InterfaceAddress must be Default or four numbers 0 to 255 "
                               "separated by dots, not '") +
                settings.interfaceAddress + u'\'');
    }
    // What the node would choose at start: from loopback it sends to 127.0.0.1, whatever
    // destination the settings name.
    const XapNode::Addresses chosen =
        XapNode::chooseAddresses(SystemHostNetwork().interfaceAddresses(), settings);
    use(QStringLiteral("sending"), QStringLiteral("from ") + chosen.from + QStringLiteral(" to ") +
                                       chosen.to + u':' + QString::number(xapPort));
    if (chosen.to.startsWith(u"127.") && !destination.startsWith(u"127.") &&
        !chosen.notice.isEmpty()) {
        problem(chosen.notice + QStringLiteral(": nothing would reach other hosts"));
    }
}

ConfigCheck ConfigCheck::run(const StartupPlace& place, quint16 xapPort) {
    ConfigCheck check;
    const AppFolders folders = AppFolders::locate(place);
    check.checkFolder(place, folders);

    MemoryReporter reporter;
    const SettingsStore store(folders, reporter);
    const QString sharedFile = folders.configFile(ProgramNames::kSharedSettingsFile);
    check.use(QStringLiteral("network settings"), settingsFileState(sharedFile));
    const SettingsStore::LoadedNetwork network = store.loadNetwork();
    for (const Problem& p : network.problems + network.repeats) {
        check.problem(p.description);
    }
    takeReports(reporter, check.m_problems);
    check.checkNetwork(network.settings, xapPort);

    const QString loggerFile = folders.configFile(ProgramNames::kLoggerSettingsFile);
    check.use(QStringLiteral("logger settings"), settingsFileState(loggerFile));
    const SettingsStore::Loaded loaded = store.load(store.defaults());
    for (const Problem& p : loaded.problems) {
        check.problem(p.description);
    }
    takeReports(reporter, check.m_problems);
    const DatabaseSettings& d = loaded.settings.database;
    check.use(QStringLiteral("engine"), SettingRules::engineName(d.kind));
    if (d.kind != DatabaseKind::File) {
        const QString source = ServerSource::redactedSource(d.sqlSource);
        check.use(QStringLiteral("source"), source.isEmpty() ? QStringLiteral("(none)") : source);
        if (d.kind == DatabaseKind::SqlServer && ServerSource::parse(d.sqlSource).host.isEmpty()) {
            check.problem(QStringLiteral("SQLSource names no server"));
        }
    }
    const Result<QString> found = Store::probe(d);
    check.use(QStringLiteral("database"),
              Store::describe(d) + (found ? QStringLiteral(": ") + found.value() : QString()));
    if (!found) {
        check.problem(found.problem().description);
    }
    check.use(QStringLiteral("table"), d.table);
    check.use(QStringLiteral("text index"),
              !d.searchIndex ? QStringLiteral("none (SearchIndex is False): a Data filter reads "
                                              "the rows")
              : d.kind == DatabaseKind::File ? QStringLiteral("kept, of the Data (SearchIndex)")
              : d.kind == DatabaseKind::PostgreSql
                  ? QStringLiteral("kept, of the Data, where the database user may add the "
                                   "extension pg_trgm (a user who may not gets none, and the "
                                   "logger says so when it upgrades the table)")
                  : QStringLiteral("none on SQL Server: a Data filter reads the rows"));
    check.listRules(loaded.rules, d.table);
    check.use(QStringLiteral("spool limit"),
              QString::number(loaded.settings.spoolLimitMiB) + QStringLiteral(" MiB"));
    if (const Result<WebSettings> web = WebSettingsFile::load(folders); !web) {
        check.problem(web.problem().description);
    }
    check.checkBroker(loaded.settings.mqtt);
    return check;
}

// What the logger would log where, and what it would delete when, as sentences.
void ConfigCheck::listRules(const StorageRules& rules, const QString& eventTable) {
    auto kept = [](int days, const char16_t* key) {
        return days == 0 ? QString(QStringLiteral("every row kept (") + QString::fromUtf16(key) +
                                   QStringLiteral(" is 0)"))
                         : QStringLiteral("rows older than ") + QString::number(days) +
                               QStringLiteral(" days deleted at start, on reload and hourly (") +
                               QString::fromUtf16(key) + u')';
    };
    use(QStringLiteral("events kept"),
        eventTable + QStringLiteral(": ") + kept(rules.eventKeepDays, u"KeepDays"));
    if (rules.include.isEmpty()) {
        use(QStringLiteral("logging rules"),
            QStringLiteral("no Include line: controller events only, no other messages"));
    } else {
        use(QStringLiteral("logging rules"),
            QStringLiteral("controller events, and the other messages an Include line takes and "
                           "no Exclude line does, into ") +
                rules.messagesTable);
        use(QStringLiteral("messages kept"), rules.messagesTable + QStringLiteral(": ") +
                                                 kept(rules.messageKeepDays, u"MessagesKeepDays"));
    }
    // In the order the logger applies them, which is that of their numbers.
    for (const MessageRule& rule : rules.include) {
        use(QStringLiteral("  include"), RuleSettings::ruleText(rule));
    }
    for (const MessageRule& rule : rules.exclude) {
        use(QStringLiteral("  exclude"), RuleSettings::ruleText(rule));
    }
    if (rules.excludeOwnReports) {
        use(QStringLiteral("  exclude"),
            QStringLiteral("the logger's own reports (ExcludeOwnReports)"));
    }
}

// The broker is asked whether it takes the sign-in (CONNECT, its answer, DISCONNECT); nothing
// is published. A client id of its own keeps a running logger's connection.
void ConfigCheck::checkBroker(const MqttSettings& mqtt) {
    if (!mqtt.enabled()) {
        use(QStringLiteral("mqtt broker"), QStringLiteral("none (no MQTT bridge)"));
        return;
    }
    const QString clientId = mqtt.clientIdFor(localComputerName({})) + QStringLiteral("-check");
    MqttClient client;
    const Status connected = client.connect(MqttClient::Options::from(mqtt, clientId), 5000);
    use(QStringLiteral("mqtt broker"),
        mqtt.brokerName() + (mqtt.tls() ? QStringLiteral(" over TLS") : QString()) +
            (mqtt.username.isEmpty() ? QString() : QStringLiteral(" as ") + mqtt.username) +
            (connected ? QStringLiteral(": answers, sign-in accepted") : QString()));
    use(QStringLiteral("mqtt topics"), mqtt.topicPrefix + QStringLiteral("/..."));
    if (!connected) {
        problem(connected.problem().description);
    }
    client.disconnect();
}

QString ConfigCheck::text() const {
    QString out;
    for (const Finding& f : m_uses) {
        out += f.what.leftJustified(20) + f.value + u'\n';
    }
    for (const QString& p : m_problems) {
        out += QStringLiteral("problem: ") + p + u'\n';
    }
    if (m_problems.isEmpty()) {
        out += QStringLiteral("the settings can be used\n");
    } else {
        out += QString::number(m_problems.size()) + (m_problems.size() == 1
                                                         ? QStringLiteral(" problem found\n")
                                                         : QStringLiteral(" problems found\n"));
    }
    return out;
}
