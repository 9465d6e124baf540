#include "record/Recorder.h"

#include <QElapsedTimer>
#include <QThread>

#include "intake/ReceiveQueue.h"
#include "record/MessageWriter.h"
#include "report/ReportSteps.h"
#include "report/Reporter.h"
#include "support/ProgramNames.h"

namespace {
// Passes stored before the recorder lets its event loop run (retries, purges, settings).
constexpr int kPassesPerTurn = 8;
constexpr int kPublishMs = 250;
}  // namespace

Recorder::Recorder(Reporter& reporter, ReceiveQueue& queue, std::function<QDateTime()> clock,
                   SourceWatch watch)
    : m_reporter(reporter),
      m_queue(queue),
      m_clock(std::move(clock)),
      m_epochMs(watch.epochMs ? std::move(watch.epochMs)
                              : [c = m_clock] { return c().toMSecsSinceEpoch(); }),
      m_sources(watch.minQuietMs) {}

Recorder::~Recorder() = default;

void Recorder::open(const EventWriter::Places& places) {
    m_events = std::make_unique<EventWriter>(m_store, m_reporter, m_clock);
    m_messages = std::make_unique<MessageWriter>(m_store, m_reporter);
    m_retention = std::make_unique<Retention>(m_store, m_reporter, m_clock);
    m_events->open(places);
    m_messages->open(places.spoolFolder, places.spoolLimitBytes);
    m_gatherTimer = std::make_unique<QTimer>();
    m_gatherTimer->setSingleShot(true);
    m_gatherTimer->setInterval(kGatherMs);
    connect(m_gatherTimer.get(), &QTimer::timeout, this, &Recorder::drain);
    m_publishTimer = std::make_unique<QTimer>();
    m_publishTimer->setInterval(kPublishMs);
    connect(m_publishTimer.get(), &QTimer::timeout, this, &Recorder::publish);
    // A summary that is behind also catches up while no events come.
    connect(m_publishTimer.get(), &QTimer::timeout, this, [this] { m_store.catchUpActivity(); });
    m_publishTimer->start();
    publish();
}

void Recorder::reportOpen(const Store::OpenProblems& opened) {
    if (opened.create) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("CreateDatabase "),
                             *opened.create);
    }
    if (opened.open) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("InitXap "),
                             opened.open->atStep(ReportStep::InitXap::OpenDatabase));
    }
    if (!opened.upgraded.isEmpty()) {
        m_reporter.toNetwork(ProgramNames::kProgram, opened.upgraded);
    }
}

void Recorder::apply(const DatabaseSettings& database, const Retention::Limits& limits) {
    if (m_finished || !m_events) {
        return;
    }
    reportOpen(m_store.open(database));
    ++m_opensTried;
    m_events->retryNow();
    m_messages->retryNow();
    m_retention->start(limits);
    publish();
    drain();
}

void Recorder::wake() {
    if (!m_gatherTimer) {
        drain();
    } else if (!m_gatherTimer->isActive()) {
        m_gatherTimer->start();
    }
}

void Recorder::drain() {
    if (m_finished || !m_events) {
        return;
    }
    for (int pass = 0; pass < kPassesPerTurn; ++pass) {
        std::vector<ReceivedItem> items = m_queue.take(kPassItems);
        if (items.empty()) {
            publish();
            return;  // the queue wakes the recorder when more arrives
        }
        store(items);
    }
    publish();
    QMetaObject::invokeMethod(this, &Recorder::drain, Qt::QueuedConnection);
}

void Recorder::store(std::vector<ReceivedItem>& items) {
    m_events->beginPass();
    m_messages->beginPass();
    QList<LogEvent> logged;
    logged.reserve(qsizetype(items.size()));
    // The devices heard, whatever became of their events; the logger's own reports left out.
    QList<QString> heardFrom;
    QList<LoggedMessage> messages;
    // Consecutive events of others are written as one run.
    std::vector<LogEvent> run;
    run.reserve(items.size());
    const auto writeRun = [&] {
        const std::vector<EventWriter::Outcome> outcomes = m_events->writeRun(run);
        for (std::size_t i = 0; i < run.size(); ++i) {
            if (isLogged(outcomes[i])) {
                logged.append(std::move(run[i]));
            }
        }
        run.clear();
    };
    for (ReceivedItem& item : items) {
        if (auto* event = std::get_if<LogEvent>(&item.what)) {
            if (!item.ownReport) {
                heardFrom.append(event->source);
                run.push_back(std::move(*event));
                continue;
            }
            writeRun();
            if (isLogged(m_events->write(*event, true))) {
                logged.append(std::move(*event));
            }
        } else {
            writeRun();
            auto& message = std::get<LoggedMessage>(item.what);
            if (m_messages->write(message)) {
                messages.append(std::move(message));
            }
        }
    }
    writeRun();
    m_events->endPass();
    m_messages->endPass();
    ++m_passes;
    // Once per pass, with the pass's time: when the events arrived, unless the recorder is behind.
    if (!heardFrom.isEmpty()) {
        m_sources.heard(heardFrom, m_epochMs());
    }
    if (!logged.isEmpty()) {
        emit eventsLogged(logged);
    }
    if (!messages.isEmpty()) {
        emit messagesLogged(messages);
    }
}

void Recorder::finish(int ms) {
    if (m_finished) {
        return;
    }
    if (m_events) {
        QElapsedTimer spent;
        spent.start();
        while (spent.elapsed() < ms) {
            std::vector<ReceivedItem> items = m_queue.take(kPassItems);
            if (items.empty()) {
                break;
            }
            store(items);
        }
        m_queue.stored();
        m_queue.keepForLater();
        m_retention->stop();
        m_events->stop();
        m_messages->stop();
        m_store.close();
        publish();
        // Their timers belong to this thread: they go with it.
        m_publishTimer.reset();
        m_retention.reset();
        m_messages.reset();
        m_events.reset();
    }
    m_store.close();
    m_finished = true;
    QThread::currentThread()->quit();
}

void Recorder::publish() {
    if (!m_events) {
        return;
    }
    Counts c;
    c.events = m_events->tally();
    c.messagesWritten = m_messages->written();
    c.messagesLost = m_messages->lost();
    c.eventsWaiting = m_events->waiting();
    c.messagesWaiting = m_messages->waiting();
    c.databaseOpen = m_store.isOpen();
    c.opensTried = m_opensTried;
    c.passes = m_passes;
    const std::lock_guard hold(m_countsLock);
    m_counts = c;
}

Recorder::Counts Recorder::counts() const {
    const std::lock_guard hold(m_countsLock);
    return m_counts;
}
