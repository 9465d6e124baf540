#pragma once

#include <QDateTime>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

#include "logger/BridgeRun.h"
#include "logger/LoggerControl.h"
#include "node/XapNode.h"
#include "settings/LoggerSettings.h"
#include "settings/RuleSettings.h"
#include "settings/SettingsStore.h"
#include "status/LoggerStatus.h"
#include "status/RecentActivity.h"
#include "status/RecentRecount.h"
#include "support/AppFolders.h"
#include "support/ApplicationReporter.h"
#include "support/InstanceLock.h"
#include "support/OutgoingQueue.h"
#include "support/TextLog.h"

class Frontend;
class ReceiveQueue;
class Receiver;
class Recorder;
class StatusTracker;

// The running logger: finds its folders, reads its settings, and runs two threads of its own:
// the receiver, which reads the xAP node's sockets, answers queries and hands what is to be
// stored on through a bounded queue, and the recorder, which stores it. This object lives on the
// program's main thread, with the windows; it reloads settings on request and shuts down in
// order. Windows and the web page see it as a LoggerControl.
class Logger : public LoggerControl {
    Q_OBJECT

public:
    struct Options {
        StartupPlace place;
        quint16 xapPort = XapNode::kXapPort;
        std::unique_ptr<HostNetwork> network;  // the system's when empty
        std::function<QDateTime()> clock;      // the system's when empty
        // Lines for the operator about the start-up itself (standard error by default).
        TextLog::Notice notice = TextLog::standardError();
        // Where each event report is also written as one line: a headless logger's standard
        // error, which a service manager keeps. None when empty.
        ApplicationReporter::Journal journal;
    };

    // What the program did in its run, taken when it stops (see LoggerStatus::Counts).
    using RunTally = LoggerStatus::Counts;

    static constexpr int kHeartbeatInterval = 60;
    // How long a stop may spend storing what was received before it keeps the rest on disk for
    // the next start.
    static constexpr int kStopStoringMs = 1500;

    Logger(Frontend& frontend, Options options, QObject* parent = nullptr);
    ~Logger() override;

    // Fails when another logger uses the application folder or the node could not start: the
    // program must end (status 1); the problem is the line that tells the operator why.
    Status start();
    // Reads the logging settings again and reopens the database (closing the setup dialog, or
    // SIGHUP on a headless logger).
    void reloadSettings();
    // Stops receiving, stores what was received (or keeps it on disk), and closes.
    void stop();

    // Tells `quilljot --check-config` on this folder what the running logger does (`what`: a
    // word or two, as its lines name things), through the folder's lock file.
    void noteForChecks(const QString& what, const QString& value);

    LoggerSettings settings() const override;
    // What is logged where and kept how long, read with the settings.
    StorageRules storageRules() const;
    Status applyDatabaseSettings(const DatabaseSettings& database) override;
    Status applyMqttSettings(const MqttSettings& mqtt) override;
    Status saveEchoWindowSettings(const EchoWindowSettings& window) override;

    QDateTime now() const override { return m_clock(); }
    std::optional<Result<ActivityChart>> recentActivity(const ActivityQuery& query) const override;
    const AppFolders& folders() const override { return m_folders; }
    // The node's addresses, fixed at start; null before start and after stop.
    const XapNode* node() const;
    bool databaseOpen() const;
    // Whether the database the settings name has been tried since the start (opened or not).
    bool databaseTried() const;
    const RunTally& runTally() const { return m_runTally; }
    LoggerStatus status() const override;
    bool stopped() const { return m_stopped; }
    Reporter& reporter() override { return m_reporter; }

private:
    void loadSettings();
    void applySettings();
    void stopThreads();
    void reportInit(const Problem& problem);
    Status lockFolder();
    Status startThreads(const NetworkSettings& network);
    void gather(LoggerStatus& status) const;
    // Counts the recent events of the database the recorder has just opened (see RecentRecount),
    // trying again while it cannot be read. On the recorder's thread.
    void recountRecentActivity(const DatabaseSettings& database);
    void recountLater(quint64 recount, const DatabaseSettings& database);

    Frontend& m_frontend;
    Options m_options;
    std::function<QDateTime()> m_clock;
    QString m_computerName;
    AppFolders m_folders;
    TextLog m_textLog;
    ApplicationReporter m_reporter;
    OutgoingQueue m_outgoing;
    FolderMaker m_folderMaker;
    InstanceLock m_folderLock;
    QStringList m_lockNotes;
    std::unique_ptr<StatusTracker> m_status;

    // The settings, read and saved from any thread.
    mutable std::mutex m_settingsLock;
    std::unique_ptr<SettingsStore> m_settingsStore;
    LoggerSettings m_settings;
    StorageRules m_rules;

    std::unique_ptr<ReceiveQueue> m_queue;
    QThread m_receiverThread;
    QThread m_recorderThread;
    Receiver* m_receiver = nullptr;  // lives on m_receiverThread
    Recorder* m_recorder = nullptr;  // lives on m_recorderThread
    BridgeRun m_bridge;
    bool m_stopped = false;
    int m_bindResult = 0;
    RunTally m_runTally;
    RecentActivity m_recent;
    RecentRecount m_recount;
};
