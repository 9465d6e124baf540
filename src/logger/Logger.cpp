#include "logger/Logger.h"

#include "logger/EventWriter.h"
#include "logger/Frontend.h"
#include "logger/MessageHandler.h"
#include "logger/MessageWriter.h"
#include "logger/Retention.h"
#include "support/PathRules.h"
#include "support/ProgramNames.h"
#include "support/WritableFolder.h"

namespace {

// The signed number text: a blank before a positive number, a minus before a negative one.
QString signedNumber(int n) {
    return n < 0 ? QString::number(n) : u' ' + QString::number(n);
}

// The heartbeat interval; QUILLJOT_HEARTBEAT_SECONDS sets another (5 to 60), so that tests of a
// hub restart need not wait a minute. It is read here only.
int heartbeatSeconds() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUILLJOT_HEARTBEAT_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : Logger::kHeartbeatInterval;
}

}  // namespace

Logger::Logger(Frontend& frontend, Options options, QObject* parent)
    : LoggerControl(parent),
      m_frontend(frontend),
      m_options(std::move(options)),
      m_clock(m_options.clock ? m_options.clock : [] { return QDateTime::currentDateTime(); }),
      m_textLog(QString(), m_options.notice),
      m_reporter(m_textLog, m_clock),
      m_outgoing(m_reporter),
      m_folderMaker(m_reporter) {
    m_reporter.setOutgoing(&m_outgoing);
    m_reporter.setWatcher([this](const QString& line) { noteReport(line); });
    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, &Logger::checkStatusChanged);
    m_reporter.setJournal(m_options.journal);
    m_writer = std::make_unique<EventWriter>(m_store, m_reporter, m_clock);
    m_handler = std::make_unique<MessageHandler>(*m_writer, m_outgoing, m_reporter, m_clock);
    m_messageWriter = std::make_unique<MessageWriter>(m_store, m_reporter);
    m_retention = std::make_unique<Retention>(m_store, m_reporter, m_clock);
    // A call, not a connection of two signals: with nobody listening (a headless logger without
    // --echo or a live page) an event costs one check here instead of a signal passed on.
    m_handler->setLogged([this](const LogEvent& event) { emit eventsLogged({event}); });
}

Logger::~Logger() {
    stop();
}

void Logger::reportInit(const Problem& problem) {
    m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("InitXap "), problem);
}

// Two loggers on one folder would store every event twice and share one spool.
Status Logger::lockFolder() {
    m_folderMaker.makeFoldersFor(m_folders.lockPath());
    qint64 holder = 0;
    Result<InstanceLock> lock = InstanceLock::take(m_folders.lockPath(), &holder);
    if (lock) {
        m_folderLock = std::move(lock.value());
        return {};
    }
    if (holder != 0) {
        const QString who =
            holder > 0 ? QStringLiteral(" (pid ") + QString::number(holder) + u')' : QString();
        return Problem{ErrorNumber::Generic,
                       QStringLiteral("another quilljot") + who +
                           QStringLiteral(" already logs from the application folder ") +
                           m_folders.appPath() +
                           QStringLiteral("; one logger per folder, so this one does not start")};
    }
    // A folder where no lock can be made (read-only, say) does not keep the logger from working.
    if (m_options.notice) {
        m_options.notice(lock.problem().description +
                         QStringLiteral("; a second logger on this folder would not be stopped"));
    }
    return {};
}

Status Logger::start() {
    m_startedAt = m_clock();
    m_computerName = localComputerName(m_options.place.hostName);
    m_folders = AppFolders::locate(m_options.place);
    m_textLog.setPath(m_folders.textLogPath());
    if (const Status spool = makeSpoolFolder(m_folders); !spool) {
        m_stopped = true;  // the program ends here: no shutdown step runs
        return spool;
    }
    m_folderMaker.makeFoldersFor(m_folders.configFile(QStringLiteral("x")));
    // The text log's own folder too, so that a start-up that fails before the logging settings
    // are read still leaves its line.
    m_folderMaker.makeFoldersFor(m_folders.textLogPath());
    if (const Status locked = lockFolder(); !locked) {
        m_stopped = true;  // the program ends here: no shutdown step runs
        return locked;
    }
    m_settingsStore = std::make_unique<SettingsStore>(m_folders, m_reporter);
    const SettingsStore::LoadedNetwork network = m_settingsStore->loadNetwork();
    for (const Problem& p : network.problems) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("InitXap"), p);
        // The node cannot report yet, and these settings decide whether it ever can.
        if (m_options.notice) {
            m_options.notice(QStringLiteral("network settings not read, the defaults apply: ") +
                             p.description);
        }
    }

    auto host =
        m_options.network ? std::move(m_options.network) : std::make_unique<SystemHostNetwork>();
    m_node = std::make_unique<XapNode>(m_reporter, std::move(host), m_options.xapPort);
    connect(m_node.get(), &XapNode::messagesWaiting, this, &Logger::onMessagesWaiting);
    m_outgoing.setSender(m_node.get());
    m_node->setIdentity(ProgramNames::xapSource(m_computerName), ProgramNames::kUid);
    m_node->setNetworkSettings(network.settings);
    m_handler->setOwnSource(m_node->source());
    m_handler->setProgramFile(m_folders.programFile());

    m_bindResult = m_node->bind();
    if (m_bindResult <= 0) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("xAP Init Error ") +
                                                         signedNumber(m_bindResult) +
                                                         QStringLiteral(" occurred"));
        m_stopped = true;  // the program ends here: no shutdown step runs
        return Problem{ErrorNumber::Socket,
                       QStringLiteral("the xAP node could not start (result ") +
                           QString::number(m_bindResult) +
                           QStringLiteral("): no free loopback port from 32768, or the host "
                                          "address could not be bound. See ") +
                           m_folders.textLogPath()};
    }
    m_node->sendHeartbeat(heartbeatSeconds());
    m_outgoing.setReady(true);
    // The start-up line on standard error names the port already.
    m_reporter.toNetworkOnly(ProgramNames::kProgram,
                             QStringLiteral("Using xAP port ") + signedNumber(m_bindResult));
    if (const QString& notice = m_node->addressNotice(); !notice.isEmpty()) {
        if (m_options.notice) {
            m_options.notice(notice);
        }
        m_reporter.toNetworkOnly(ProgramNames::kProgram, notice);
    }

    (void)m_settingsStore->createIfMissing();  // reported where it fails
    loadSettingsAndOpen();
    const QString spoolFolder = PathRules::join(m_folders.dataFolder(), QStringLiteral("spool"));
    const qint64 spoolLimit = qint64(m_settings.spoolLimitMiB) * 1024 * 1024;
    m_writer->open(EventWriter::Places{
        spoolFolder, spoolLimit, PathRules::join(spoolFolder, QStringLiteral("rejected.jsonl"))});
    m_messageWriter->open(spoolFolder, spoolLimit);
    m_frontend.loadEchoWindow();
    m_frontend.trayUpdate(true, false);
    m_statusTimer.start();
    return {};
}

// Reports as "InitXap": steps 1 to 4 the settings, 10 opening the database.
void Logger::loadSettingsAndOpen() {
    if (!m_settingsStore) {
        return;
    }
    const SettingsStore::Loaded loaded = m_settingsStore->load(m_settings);
    for (const Problem& p : loaded.problems) {
        reportInit(p);
    }
    m_settings = loaded.settings;
    m_rules = loaded.rules;
    m_settings.database.messagesTable = m_rules.messagesTable;
    m_handler->setRules(LogRules(m_rules), m_messageWriter.get());
    if (m_settings.database.kind == DatabaseKind::File &&
        m_settings.database.database.contains(u'.')) {
        m_folderMaker.makeFoldersFor(m_settings.database.database);
    }
    m_folderMaker.makeFoldersFor(m_folders.textLogPath());
    const Store::OpenProblems opened = m_store.open(m_settings.database);
    if (opened.create) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("CreateDatabase "),
                             *opened.create);
    }
    if (opened.open) {
        reportInit(opened.open->atStep(10));
    }
    m_writer->retryNow();
    m_messageWriter->retryNow();
    m_retention->start(Retention::Limits{m_rules.eventKeepDays, m_rules.messageKeepDays});
    emit settingsReloaded(m_settings);
}

void Logger::reloadSettings() {
    if (!m_stopped) {
        loadSettingsAndOpen();
    }
}

Status Logger::applyDatabaseSettings(const DatabaseSettings& database) {
    if (!m_settingsStore) {
        return Problem{ErrorNumber::Settings, QStringLiteral("The logger has not started")};
    }
    if (const Status saved = m_settingsStore->saveDatabase(database); !saved) {
        return saved;
    }
    reloadSettings();
    return {};
}

Status Logger::saveEchoWindowSettings(const EchoWindowSettings& window) {
    if (!m_settingsStore) {
        return Problem{ErrorNumber::Settings, QStringLiteral("The logger has not started")};
    }
    m_settings.echoWindow = window;
    return m_settingsStore->saveEchoWindow(window);
}

qint64 Logger::spoolWaiting() const {
    return m_writer->waiting();
}

Status Logger::readEvents(const EventQuery& query, const StoreProvider::RowVisitor& visit) {
    return m_store.readEvents(query, visit);
}

void Logger::onMessagesWaiting() {
    const auto& stop = m_options.stopRequested;
    if (m_busy || !m_node || (stop && stop())) {
        return;
    }
    m_busy = true;
    m_writer->beginPass();
    m_messageWriter->beginPass();
    int handled = 0;
    while (!stop || !stop()) {
        QString text = m_node->takeMessage();
        if (text.isEmpty()) {
            // Whatever arrived during the pass is taken by the same pass.
            m_node->drainSockets();
            text = m_node->takeMessage();
            if (text.isEmpty()) {
                break;
            }
        }
        m_handler->handle(std::move(text));
        // Datagrams keep arriving during a long pass; taking them off the socket here keeps the
        // system from dropping them, and committing in steps bounds a crash's loss.
        if (++handled % kRowsPerCommit == 0) {
            m_writer->endPass();
            m_messageWriter->endPass();
            m_writer->beginPass();
            m_messageWriter->beginPass();
        }
        if (handled % 256 == 0) {
            m_node->drainSockets();
        }
    }
    m_writer->endPass();
    m_messageWriter->endPass();
    m_busy = false;
}

void Logger::stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_frontend.trayUpdate(false, false);
    m_frontend.unloadEchoWindow();
    m_outgoing.setSender(nullptr);
    m_statusTimer.stop();
    if (m_node) {
        m_node->sayGoodbye();
    }
    m_runTally = tallySoFar();
    m_retention->stop();
    m_node.reset();
    m_writer->stop();
    m_messageWriter->stop();
    m_store.close();
    m_folderLock = InstanceLock();
}

Logger::RunTally Logger::tallySoFar() const {
    RunTally tally = m_runTally;
    if (m_node) {
        tally.received = m_node->datagramsReceived();
        tally.dropped = m_node->queuedCount();
        tally.other = m_node->datagramsIgnored();
    }
    const MessageHandler::Tally& t = m_handler->tally();
    const EventWriter::Tally w = m_writer->tally();
    tally.written = w.written;
    tally.spooled = w.spooled;
    tally.rejected = w.rejected;
    tally.dropped += w.dropped;
    tally.earlierWritten = w.earlierWritten;
    tally.other += t.messages - t.events;
    return tally;
}

LoggerStatus Logger::status() const {
    LoggerStatus s;
    s.version = QStringLiteral(QUILLJOT_VERSION);
    if (m_node) {
        s.xapSource = m_node->source();
        s.listenPort = m_node->port();
        s.sendFrom = m_node->localIp();
        s.destination = m_node->destination();
        s.destinationPort = m_node->remotePort();
    }
    s.startedAt = m_startedAt;
    // Noted once a second (the clock costs more than taking a datagram); what came since is now.
    s.lastReceived =
        m_node && m_node->datagramsReceived() != m_receivedSeen ? m_clock() : m_lastReceived;
    s.database = m_settings.database;
    s.databaseOpen = m_store.isOpen();
    s.spoolWaiting = m_writer->waiting();
    s.messagesWaiting = m_messageWriter->waiting();
    s.counts = m_stopped ? m_runTally : tallySoFar();
    s.reportsSent = m_reportsSent;
    s.lastReports = m_lastReports;
    return s;
}

void Logger::noteReport(const QString& line) {
    ++m_reportsSent;
    m_lastReports.prepend(m_clock().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line);
    if (m_lastReports.size() > LoggerStatus::kRecentReports) {
        m_lastReports.removeLast();
    }
}

void Logger::checkStatusChanged() {
    if (m_node && m_node->datagramsReceived() != m_receivedSeen) {
        m_receivedSeen = m_node->datagramsReceived();
        m_lastReceived = m_clock();
    }
    const LoggerStatus now = status();
    const RunTally& c = now.counts;
    const QList<quint64> seen = {c.received,
                                 c.written,
                                 c.spooled,
                                 c.rejected,
                                 c.other,
                                 c.dropped,
                                 quint64(now.spoolWaiting),
                                 quint64(now.messagesWaiting),
                                 quint64(now.databaseOpen),
                                 quint64(now.lastReceived.toMSecsSinceEpoch()),
                                 now.reportsSent};
    if (seen != m_statusSeen) {
        m_statusSeen = seen;
        emit statusChanged();
    }
}
