#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "logger/LoggerControl.h"
#include "logger/LoggerStatus.h"
#include "node/XapNode.h"
#include "store/Store.h"
#include "support/AppFolders.h"
#include "support/ApplicationReporter.h"
#include "support/InstanceLock.h"
#include "support/LoggerSettings.h"
#include "support/OutgoingQueue.h"
#include "support/RuleSettings.h"
#include "support/SettingsStore.h"
#include "support/TextLog.h"

class EventWriter;
class Frontend;
class MessageHandler;
class MessageWriter;
class Retention;

// The running logger: finds its folders, joins the xAP network, opens the database its settings
// name, and writes what arrives; reloads on request; shuts down in order. Windows hear of what
// happens through its signals and change settings through its methods.
class Logger : public LoggerControl {
    Q_OBJECT

public:
    struct Options {
        StartupPlace place;
        quint16 xapPort = XapNode::kXapPort;
        std::unique_ptr<HostNetwork> network;  // the system's when empty
        // Asked between two messages of a pass: true ends the pass early, so that a shutdown
        // asked for during a long burst is not kept waiting until the queue is empty.
        std::function<bool()> stopRequested;
        std::function<QDateTime()> clock;  // the system's when empty
        // Lines for the operator about the start-up itself (standard error by default).
        TextLog::Notice notice = TextLog::standardError();
        // Where each event report is also written as one line: a headless logger's standard
        // error, which a service manager keeps. None when empty.
        ApplicationReporter::Journal journal;
    };

    // What the program did in its run, taken when it stops: every datagram received is written,
    // spooled, rejected, other or dropped.
    using RunTally = LoggerStatus::Counts;

    static constexpr int kHeartbeatInterval = 60;
    // Rows of one receive pass committed together at most; bounds what a crash can cost.
    static constexpr int kRowsPerCommit = 2000;

    Logger(Frontend& frontend, Options options, QObject* parent = nullptr);
    ~Logger() override;

    // Fails when another logger uses the application folder or the node could not start: the
    // program must end (status 1); the problem is the line that tells the operator why.
    Status start();
    // Reads the logging settings again and reopens the database (closing the setup dialog, or
    // SIGHUP on a headless logger).
    void reloadSettings();
    void stop();

    LoggerSettings settings() const override { return m_settings; }
    // What is logged where and kept how long, read with the settings.
    const StorageRules& storageRules() const { return m_rules; }
    Retention& retention() { return *m_retention; }
    // Saves a new database choice and has it take effect at once (what is wrong with it is
    // reported as the settings are read again).
    Status applyDatabaseSettings(const DatabaseSettings& database) override;
    Status saveEchoWindowSettings(const EchoWindowSettings& window) override;

    // Reads on the logger's own connection, between two receive passes.
    Status readEvents(const EventQuery& query, const StoreProvider::RowVisitor& visit);
    QDateTime now() const override { return m_clock(); }

    const AppFolders& folders() const override { return m_folders; }
    const XapNode* node() const { return m_node.get(); }
    int bindResult() const { return m_bindResult; }
    bool databaseOpen() const { return m_store.isOpen(); }
    qint64 spoolWaiting() const;
    const RunTally& runTally() const { return m_runTally; }
    LoggerStatus status() const override;
    bool stopped() const { return m_stopped; }
    Reporter& reporter() override { return m_reporter; }

private:
    void loadSettingsAndOpen();
    void onMessagesWaiting();
    void reportInit(const Problem& problem);
    RunTally tallySoFar() const;
    void noteReport(const QString& line);
    void checkStatusChanged();
    Status lockFolder();

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
    std::unique_ptr<SettingsStore> m_settingsStore;
    LoggerSettings m_settings;
    Store m_store;
    std::unique_ptr<EventWriter> m_writer;
    std::unique_ptr<XapNode> m_node;
    std::unique_ptr<MessageHandler> m_handler;
    std::unique_ptr<MessageWriter> m_messageWriter;
    std::unique_ptr<Retention> m_retention;
    StorageRules m_rules;
    bool m_busy = false;
    bool m_stopped = false;
    int m_bindResult = 0;
    RunTally m_runTally;
    QDateTime m_startedAt;
    QDateTime m_lastReceived;
    quint64 m_receivedSeen = 0;
    QStringList m_lastReports;
    quint64 m_reportsSent = 0;
    QTimer m_statusTimer;
    // What status() said when statusChanged was last emitted, in short.
    QList<quint64> m_statusSeen;
};
