#include "logger/Logger.h"

#include <QDeadlineTimer>
#include <QTimer>

#include "intake/ReceiveQueue.h"
#include "intake/Receiver.h"
#include "logger/Frontend.h"
#include "record/Recorder.h"
#include "status/StatusTracker.h"
#include "store/Store.h"
#include "support/PathRules.h"
#include "support/ProgramNames.h"
#include "support/ThreadPriority.h"
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

// How long a source must be silent at least before it counts as quiet;
// QUILLJOT_QUIET_MINIMUM_SECONDS sets another, so that tests need not wait ten minutes. It is read
// here only.
qint64 minQuietMs() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUILLJOT_QUIET_MINIMUM_SECONDS", &ok);
    return ok && seconds > 0 ? qint64(seconds) * 1000 : QuietSources::kDefaultMinQuietMs;
}

// Runs `work` on the thread `object` lives on and waits for it.
template <typename Work>
void runOn(QObject* object, Work work) {
    QMetaObject::invokeMethod(object, std::move(work), Qt::BlockingQueuedConnection);
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
      m_folderMaker(m_reporter),
      m_bridge(m_reporter, m_outgoing),
      m_recent(m_clock),
      m_recount(m_recent, [this](quint64 recount, const DatabaseSettings& database) {
          QMetaObject::invokeMethod(m_recorder,
                                    [this, recount, database] { recountLater(recount, database); });
      }) {
    m_status = std::make_unique<StatusTracker>(
        m_clock, [this](LoggerStatus& s) { gather(s); }, this);
    connect(m_status.get(), &StatusTracker::changed, this, &LoggerControl::statusChanged);
    m_reporter.setOutgoing(&m_outgoing);
    m_reporter.setWatcher([this](const QString& line) { m_status->noteReport(line); });
    m_reporter.setJournal(m_options.journal);
    m_receiverThread.setObjectName(QStringLiteral("receiver"));
    m_recorderThread.setObjectName(QStringLiteral("recorder"));
    connect(
        &m_recorderThread, &QThread::started, &m_recorderThread, [] { ThreadPriority::giveWay(); },
        Qt::DirectConnection);
}

Logger::~Logger() {
    stop();
    stopThreads();
    m_reporter.setWatcher({});
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
        return Problem{ErrorKind::Generic,
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
    for (const Problem& p : network.repeats) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("InitXap"), p);
        if (m_options.notice) {
            m_options.notice(p.description);
        }
    }
    if (const Status started = startThreads(network.settings); !started) {
        stopThreads();
        m_stopped = true;  // the program ends here: no shutdown step runs
        return started;
    }
    m_outgoing.setReady(true);
    noteForChecks(QStringLiteral("sending"), QStringLiteral("from ") + node()->localIp() +
                                                 QStringLiteral(" to ") + node()->destination() +
                                                 u':' + QString::number(node()->remotePort()));
    // The start-up line on standard error names the port already.
    m_reporter.toNetworkOnly(ProgramNames::kProgram,
                             QStringLiteral("Using xAP port ") + signedNumber(m_bindResult));
    if (const QString& notice = node()->addressNotice(); !notice.isEmpty()) {
        if (m_options.notice) {
            m_options.notice(notice);
        }
        m_reporter.toNetworkOnly(ProgramNames::kProgram, notice);
    }

    (void)m_settingsStore->createIfMissing();  // reported where it fails
    loadSettings();
    const QString spoolFolder = m_folders.spoolFolder();
    const qint64 spoolLimit = qint64(settings().spoolLimitMiB) * 1024 * 1024;
    const EventWriter::Places places{
        spoolFolder, spoolLimit, PathRules::join(spoolFolder, QStringLiteral("rejected.jsonl"))};
    QMetaObject::invokeMethod(m_recorder, [r = m_recorder, places] { r->open(places); });
    applySettings();
    m_frontend.loadEchoWindow();
    m_frontend.trayUpdate(true, false);
    m_status->start();
    return {};
}

Status Logger::startThreads(const NetworkSettings& network) {
    m_folderMaker.makeFoldersFor(PathRules::join(m_folders.dataFolder(), QStringLiteral("x")));
    m_queue = std::make_unique<ReceiveQueue>(m_folders.spoolFolder(), ReceiveQueue::Limits{});
    Recorder::SourceWatch watch;
    watch.minQuietMs = minQuietMs();
    // The system's time without a turn into local time, which costs a few thousand instructions
    // a pass; an injected clock is asked.
    if (!m_options.clock) {
        watch.epochMs = &QDateTime::currentMSecsSinceEpoch;
    }
    m_recorder = new Recorder(m_reporter, *m_queue, m_clock, std::move(watch));
    m_recorder->moveToThread(&m_recorderThread);
    connect(m_recorder, &Recorder::eventsLogged, this, &LoggerControl::eventsLogged,
            Qt::DirectConnection);
    // Counted on the recorder's thread as they are logged, a batch at a time.
    connect(
        m_recorder, &Recorder::eventsLogged, this,
        [this](const QList<LogEvent>& events) { m_recent.add(events); }, Qt::DirectConnection);
    m_queue->setWake([r = m_recorder] { QMetaObject::invokeMethod(r, &Recorder::wake); });
    m_queue->setLossReport([this](const QString& why, qint64 items) {
        m_reporter.toNetwork(ProgramNames::kProgram,
                             QString::number(items) +
                                 QStringLiteral(" received messages are lost: the writer is "
                                                "behind and the receive spool cannot take them. ") +
                                 why);
    });
    m_recorderThread.start();

    m_receiver = new Receiver(m_reporter, m_outgoing, *m_queue, m_clock);
    m_receiver->moveToThread(&m_receiverThread);
    m_receiverThread.start();
    Receiver::Setup setup;
    setup.xapPort = m_options.xapPort;
    setup.network =
        m_options.network ? std::move(m_options.network) : std::make_unique<SystemHostNetwork>();
    setup.settings = network;
    setup.source = ProgramNames::xapSource(m_computerName);
    setup.uid = ProgramNames::kUid;
    setup.programFile = m_folders.programFile();
    setup.heartbeatSeconds = heartbeatSeconds();
    runOn(m_receiver, [this, &setup] { m_bindResult = m_receiver->start(std::move(setup)); });
    m_outgoing.setSender(m_receiver->sender());
    if (m_bindResult <= 0) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("xAP Init Error ") +
                                                         signedNumber(m_bindResult) +
                                                         QStringLiteral(" occurred"));
        m_outgoing.setSender(nullptr);
        return Problem{ErrorKind::Socket,
                       QStringLiteral("the xAP node could not start (result ") +
                           QString::number(m_bindResult) +
                           QStringLiteral("): no free loopback port from 32768, or the host "
                                          "address could not be bound. See ") +
                           m_folders.textLogPath()};
    }
    const XapNode& n = *m_receiver->node();
    LoggerStatus fixed;
    fixed.version = QStringLiteral(QUILLJOT_VERSION);
    fixed.xapSource = n.source();
    fixed.listenPort = quint16(n.port());
    fixed.sendFrom = n.localIp();
    fixed.destination = n.destination();
    fixed.destinationPort = n.remotePort();
    fixed.startedAt = m_clock();
    m_status->setFixed(fixed);
    return {};
}

// Reports as "InitXap": steps 1 to 4 the settings, 10 opening the database.
void Logger::loadSettings() {
    const std::lock_guard hold(m_settingsLock);
    const SettingsStore::Loaded loaded = m_settingsStore->load(m_settings);
    for (const Problem& p : loaded.problems) {
        reportInit(p);
    }
    m_settings = loaded.settings;
    m_rules = loaded.rules;
}

// The receiver logs by the rules, the recorder opens the database and keeps the tables' days.
void Logger::applySettings() {
    const LoggerSettings loadedSettings = settings();
    const StorageRules rules = storageRules();
    if (loadedSettings.database.kind == DatabaseKind::File &&
        loadedSettings.database.database.contains(u'.')) {
        m_folderMaker.makeFoldersFor(loadedSettings.database.database);
    }
    m_folderMaker.makeFoldersFor(m_folders.textLogPath());
    m_status->setDatabase(loadedSettings.database);
    const LogRules logRules(rules);
    QMetaObject::invokeMethod(m_receiver, [r = m_receiver, logRules] { r->setRules(logRules); });
    const Retention::Limits limits{rules.eventKeepDays, rules.messageKeepDays};
    QMetaObject::invokeMethod(
        m_recorder, [r = m_recorder, d = loadedSettings.database, limits] { r->apply(d, limits); });
    QMetaObject::invokeMethod(m_recorder,
                              [this, d = loadedSettings.database] { recountRecentActivity(d); });
    if (m_recorder != nullptr) {
        m_bridge.apply(loadedSettings.mqtt, *m_recorder, m_computerName, m_folders.spoolFolder(),
                       qint64(settings().spoolLimitMiB) * 1024 * 1024);
    }
    emit settingsReloaded(loadedSettings);
}

void Logger::reloadSettings() {
    if (!m_stopped && m_receiver != nullptr) {
        loadSettings();
        applySettings();
    }
}

void Logger::noteForChecks(const QString& what, const QString& value) {
    m_lockNotes.append(what + u'\t' + value);
    m_folderLock.setNotes(m_lockNotes);
}

LoggerSettings Logger::settings() const {
    const std::lock_guard hold(m_settingsLock);
    return m_settings;
}

StorageRules Logger::storageRules() const {
    const std::lock_guard hold(m_settingsLock);
    return m_rules;
}

// Any thread: the settings are saved here, and the logger's own thread reads them again and
// has the recorder open the database, so that the caller never waits on a server.
Status Logger::applyDatabaseSettings(const DatabaseSettings& database) {
    {
        const std::lock_guard hold(m_settingsLock);
        if (!m_settingsStore) {
            return Problem{ErrorKind::Settings, QStringLiteral("The logger has not started")};
        }
        if (const Status saved = m_settingsStore->saveDatabase(database, m_settings.database);
            !saved) {
            return saved;
        }
        m_settings.database.kind = database.kind;
        m_settings.database.sqlSource = database.sqlSource;
        m_settings.database.database = database.database;
        m_settings.database.table = database.table;
    }
    QMetaObject::invokeMethod(this, &Logger::reloadSettings, Qt::QueuedConnection);
    return {};
}

// As for the database: saved here, the bridge restarted by the reload on the logger's thread.
Status Logger::applyMqttSettings(const MqttSettings& mqtt) {
    {
        const std::lock_guard hold(m_settingsLock);
        if (!m_settingsStore) {
            return Problem{ErrorKind::Settings, QStringLiteral("The logger has not started")};
        }
        if (const Status saved = m_settingsStore->saveMqtt(mqtt, m_settings.mqtt); !saved) {
            return saved;
        }
        m_settings.mqtt = mqtt;
    }
    QMetaObject::invokeMethod(this, &Logger::reloadSettings, Qt::QueuedConnection);
    return {};
}

Status Logger::saveEchoWindowSettings(const EchoWindowSettings& window) {
    const std::lock_guard hold(m_settingsLock);
    if (!m_settingsStore) {
        return Problem{ErrorKind::Settings, QStringLiteral("The logger has not started")};
    }
    m_settings.echoWindow = window;
    return m_settingsStore->saveEchoWindow(window);
}

const XapNode* Logger::node() const {
    return m_receiver != nullptr && !m_stopped ? m_receiver->node() : nullptr;
}

bool Logger::databaseTried() const {
    return m_recorder != nullptr && m_recorder->counts().opensTried > 0;
}

bool Logger::databaseOpen() const {
    return m_recorder != nullptr && m_recorder->counts().databaseOpen;
}

void Logger::stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_frontend.trayUpdate(false, false);
    m_frontend.unloadEchoWindow();
    m_status->stop();
    stopThreads();
    m_folderLock = InstanceLock();
}

std::optional<Result<ActivityChart>> Logger::recentActivity(const ActivityQuery& query) const {
    return m_recent.chart(query);
}

// Between two passes of the recorder: the rows up to the newest key are counted on the recount's
// thread, and every event logged from here on is counted on top, so the counts are exact. Each
// attempt begins afresh: what went to the spool meanwhile may be in the rows by then.
void Logger::recountRecentActivity(const DatabaseSettings& database) {
    const quint64 recount = m_recent.beginRecount();
    // A server that is away is not waited on here too: the recorder tries it again itself.
    const Result<qint64> newest =
        m_recorder->counts().databaseOpen
            ? m_recorder->newestKey()
            : Result<qint64>(Problem{ErrorKind::DatabaseUnavailable,
                                     QStringLiteral("the database ") + database.database +
                                         QStringLiteral(" is not open")});
    if (!newest) {
        m_recent.recountFailed(recount, newest.problem().description);
        recountLater(recount, database);
        return;
    }
    m_recount.start(recount, database, newest.value());
}

void Logger::recountLater(quint64 recount, const DatabaseSettings& database) {
    constexpr int kRetryMs = 10'000;
    QTimer::singleShot(kRetryMs, m_recorder, [this, recount, database] {
        if (m_recent.recountCurrent(recount)) {
            recountRecentActivity(database);
        }
    });
}

void Logger::stopThreads() {
    // A count under way asks nothing more of the recorder.
    m_recount.stop();
    // The ears first: what the sockets hold is taken and handed on, the hubs told goodbye.
    if (m_receiver != nullptr) {
        runOn(m_receiver, [r = m_receiver] { r->stop(); });
    }
    if (m_recorder != nullptr) {
        // finish() ends the recorder's thread once it is done.
        QMetaObject::invokeMethod(m_recorder, [r = m_recorder] { r->finish(kStopStoringMs); });
        // A recorder held by a database that does not answer: what waits in memory is kept on
        // disk from here, and the stop goes on waiting for the batch in its hands.
        if (!m_recorderThread.wait(QDeadlineTimer(kStopStoringMs + 1500))) {
            m_queue->keepForLater();
            m_recorderThread.wait();
        }
    } else if (m_recorderThread.isRunning()) {
        m_recorderThread.quit();
        m_recorderThread.wait();
    }
    // What the recorder logged last is handed on before the bridge says goodbye.
    m_bridge.stop();
    m_outgoing.setSender(nullptr);
    if (m_receiver != nullptr && m_recorder != nullptr) {
        m_runTally = status().counts;
    }
    if (m_receiver != nullptr) {
        runOn(m_receiver, [r = m_receiver] { r->close(); });
        m_receiverThread.quit();
        m_receiverThread.wait();
    }
    delete m_receiver;
    m_receiver = nullptr;
    delete m_recorder;
    m_recorder = nullptr;
}

void Logger::gather(LoggerStatus& s) const {
    if (m_receiver == nullptr || m_recorder == nullptr || !m_queue) {
        s.counts = m_runTally;
        return;
    }
    const Receiver::Counts heard = m_receiver->counts();
    const Recorder::Counts kept = m_recorder->counts();
    const ReceiveQueue::Counts queued = m_queue->counts();
    LoggerStatus::Counts& c = s.counts;
    c.received = heard.received;
    c.droppedBeforeReceive = heard.droppedBeforeReceive;
    c.other = heard.other;
    c.written = kept.events.written;
    c.spooled = kept.events.spooled;
    c.rejected = kept.events.rejected;
    c.earlierWritten = kept.events.earlierWritten;
    c.messagesWritten = kept.messagesWritten;
    c.messagesSpooled = quint64(kept.messagesWaiting);
    c.waiting = quint64(m_queue->waiting());
    c.dropped = kept.events.dropped + kept.messagesLost + queued.lost;
    m_bridge.gather(s);
    s.databaseOpen = kept.databaseOpen;
    s.spoolWaiting = kept.eventsWaiting;
    s.messagesWaiting = kept.messagesWaiting;
    const QuietSources& sources = m_recorder->sources();
    if (const std::optional<qint64> last = sources.lastHeardMs()) {
        s.lastEvent = QDateTime::fromMSecsSinceEpoch(*last);
    }
    for (const QuietSources::Quiet& q : sources.quiet(m_clock().toMSecsSinceEpoch())) {
        s.quietSources.append(
            {q.source, QDateTime::fromMSecsSinceEpoch(q.lastHeardMs), (q.usualGapMs + 500) / 1000});
    }
}

LoggerStatus Logger::status() const {
    return m_status->status();
}
