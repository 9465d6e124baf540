#pragma once

#include <QList>

#include "report/Result.h"
#include "settings/LoggerSettings.h"
#include "settings/RuleSettings.h"
#include "settings/SettingKeys.h"
#include "support/AppFolders.h"

class IniFile;
class Reporter;

// Reads and writes the settings values in the application's Config folder. Every key and its
// default is in SettingKeys. Lines of a settings file that are no setting are reported as they
// are read; everything else that goes wrong is handed back to the caller.
class SettingsStore {
public:
    SettingsStore(AppFolders folders, Reporter& reporter);

    struct Loaded {
        LoggerSettings settings;
        StorageRules rules;
        // Steps: 1 the file itself, Engine or UseSQL, 2 SQLSource, 3 Database, 4 DatabaseTable,
        // 5 SpoolLimit; then the rules' values, then keys no setting reads and keys given twice
        // (step 0).
        QList<Problem> problems;
    };
    // The logger's settings and rules, checked once for the running logger and --check-config
    // alike. A key that cannot be read or is not valid keeps its value in `previous` (a rule its
    // default); a file that cannot be read keeps them all.
    Loaded load(const LoggerSettings& previous) const;
    LoggerSettings defaults() const;
    // A first start (nothing in the place of the logger's settings file) writes the file with
    // every key at its default and a comment on each, for people to edit. Failures are reported.
    Status createIfMissing() const;

    // Writes only the keys whose values differ from `before` (what the file gave), so that a key
    // left alone keeps the form its author wrote: a relative path, an engine's other name.
    Status saveDatabase(const DatabaseSettings& database, const DatabaseSettings& before) const;
    // The MQTT bridge's keys, likewise only those that changed.
    Status saveMqtt(const MqttSettings& mqtt, const MqttSettings& before) const;
    Status saveEchoWindow(const EchoWindowSettings& window) const;

    struct LoadedNetwork {
        NetworkSettings settings;
        QList<Problem> problems;  // Steps: 9 InterfaceAddress, 10 BroadcastAddress.
        // Keys given twice (the later line counts): the file was read.
        QList<Problem> repeats;
    };
    LoadedNetwork loadNetwork() const;

    const AppFolders& folders() const { return m_folders; }

private:
    Result<IniFile> read(const QString& file, bool reportLines = true) const;
    Status save(const QList<std::pair<Setting, QString>>& values) const;
    Status write(const IniFile& ini) const;

    AppFolders m_folders;
    Reporter& m_reporter;
};
