#include "logger/EventWriter.h"

#include "report/Reporter.h"
#include "store/SpoolRecords.h"
#include "store/Store.h"
#include "support/DateText.h"
#include "support/ProgramNames.h"

EventWriter::EventWriter(Store& store, Reporter& reporter, std::function<QDateTime()> clock,
                         QObject* parent)
    : QObject(parent), m_store(store), m_reporter(reporter), m_clock(std::move(clock)) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &EventWriter::drainStep);
}

EventWriter::~EventWriter() = default;

void EventWriter::open(const Places& places) {
    m_spool = std::make_unique<Spool>(places.spoolFolder, QStringLiteral("events"),
                                      places.spoolLimitBytes);
    m_rejected = std::make_unique<RejectedEvents>(places.rejectedFile);
    const Result<Spool::Recovered> found = m_spool->open();
    if (!found) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Spool "), found.problem());
        return;
    }
    m_earlier = quint64(found.value().records);
    if (found.value().cutBytes > 0) {
        m_reporter.toNetwork(
            ProgramNames::kProgram,
            QStringLiteral("Spool: ") + QString::number(found.value().cutBytes) +
                QStringLiteral(" bytes of torn or damaged records were cut from ") +
                m_spool->path() + QStringLiteral("; they never reach the database"));
    }
    if (m_earlier > 0) {
        m_reporter.toNetwork(ProgramNames::kProgram,
                             QStringLiteral("Spool: ") + QString::number(m_earlier) +
                                 QStringLiteral(" events left by an earlier run are written "
                                                "first"));
        m_retry.start(0);
    }
}

EventWriter::Outcome EventWriter::write(const LogEvent& event, bool ownReport) {
    // While anything waits in the spool, newer events queue up behind it.
    if (m_spool && !m_spool->isEmpty()) {
        const quint64 before = m_spooledTotal;
        spool(event, Problem{});
        return m_spooledTotal > before ? Outcome::Spooled : Outcome::Dropped;
    }
    const Status written = m_store.insert(event);
    if (written) {
        ++m_written;
        m_uncommitted.append(event);
        return Outcome::Written;
    }
    if (written.problem().number == ErrorNumber::DatabaseUnavailable && m_spool) {
        // What this pass wrote so far goes first: committed now, or spooled ahead of this one.
        commitPass();
        (void)m_store.beginBatch();
        const quint64 before = m_spooledTotal;
        spool(event, written.problem());
        return m_spooledTotal > before ? Outcome::Spooled : Outcome::Dropped;
    }
    reject(event, written.problem(), ownReport);
    return Outcome::Rejected;
}

// Reported as step 4 of "Readmessage", as a write that failed always was.
void EventWriter::reportCause(const Problem& cause) {
    if (cause.description.isEmpty() || cause.description == m_reportedCause) {
        return;
    }
    // A failed retry often says the same thing in other words (the file went away, then it is
    // not found): within one outage a new cause is said at most once a minute.
    if (!m_reportedCause.isEmpty() && m_lastCauseReport.isValid() &&
        m_lastCauseReport.elapsed() < kCauseRepeatMs) {
        return;
    }
    m_lastCauseReport.start();
    m_reportedCause = cause.description;
    Problem said = cause.atStep(4);
    said.description += QStringLiteral(". Events are kept in the spool (") +
                        QString::number(waiting()) +
                        QStringLiteral(" waiting) and written when the database takes them");
    m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Readmessage"), said);
}

void EventWriter::spool(const LogEvent& event, const Problem& cause) {
    const Result<Spool::Appended> kept = m_spool->append(SpoolRecords::texts(event));
    if (!kept) {
        ++m_dropped;
        reportCause(kept.problem());
        return;
    }
    if (kept.value() == Spool::Appended::Full) {
        ++m_dropped;
        if (!m_fullReported) {
            m_fullReported = true;
            m_reporter.toNetwork(ProgramNames::kProgram,
                                 QStringLiteral("Spool full: new events are dropped until the "
                                                "database takes the ") +
                                     QString::number(waiting()) +
                                     QStringLiteral(" waiting (SpoolLimit in the settings)"));
        }
        return;
    }
    ++m_spooledTotal;
    reportCause(cause);
    if (!m_retry.isActive()) {
        m_retry.start(m_retryMs);
    }
}

void EventWriter::reject(const LogEvent& event, const Problem& why, bool ownReport) {
    ++m_rejectedCount;
    const Status kept =
        m_rejected ? m_rejected->add(event, why.description, DateText::isoText(m_clock()))
                   : Status(Problem{ErrorNumber::FileSystem, QStringLiteral("no rejected file")});
    // Our own reports come back through the hub; reporting their refusal again would feed the
    // failure to itself.
    if (ownReport) {
        return;
    }
    Problem said = why.atStep(4);
    if (kept && m_rejected) {
        said.description += QStringLiteral(" (kept in ") + m_rejected->path() + u')';
    }
    m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Readmessage"), said);
}

void EventWriter::beginPass() {
    m_uncommitted.clear();
    (void)m_store.beginBatch();
}

void EventWriter::commitPass() {
    const Status committed = m_store.endBatch();
    if (!committed && m_spool) {
        m_written -= quint64(m_uncommitted.size());
        for (const LogEvent& e : std::as_const(m_uncommitted)) {
            spool(e, committed.problem());
        }
    }
    m_uncommitted.clear();
}

void EventWriter::endPass() {
    commitPass();
    if (m_spool) {
        if (const Status synced = m_spool->sync(); !synced) {
            reportCause(synced.problem());
        }
    }
}

void EventWriter::retryNow() {
    if (m_spool && !m_spool->isEmpty()) {
        m_retryMs = kFirstRetryMs;
        m_retry.start(0);
    }
}

void EventWriter::stop() {
    m_retry.stop();
    if (m_spool) {
        (void)m_spool->sync();
    }
}

void EventWriter::scheduleRetry() {
    m_retry.start(m_retryMs);
    // An attempt that failed at once (a locked file, a server whose provider waits out its own
    // pause) costs nothing: the next one comes soon, so that the spool is written within half a
    // second of the database taking writes again. One that held the event loop (a connection
    // that timed out) is made ever more rarely.
    const bool cheap = m_attempt.isValid() && m_attempt.elapsed() < kCheapAttemptMs;
    m_retryMs = std::min(m_retryMs * 2, cheap ? kCheapRetryMs : kLongestRetryMs);
}

void EventWriter::drainStep() {
    if (!m_spool || m_spool->isEmpty()) {
        return;
    }
    m_attempt.start();
    if (!m_store.isOpen()) {
        if (const Status opened = m_store.reopen(); !opened) {
            reportCause(opened.problem());
            scheduleRetry();
            return;
        }
    }
    (void)m_spool->sync();
    const Result<QList<QStringList>> events = m_spool->peek(kDrainStep);
    if (!events) {
        reportCause(events.problem());
        scheduleRetry();
        return;
    }
    (void)m_store.beginBatch();
    int taken = 0;
    std::optional<Problem> stopped;
    for (const QStringList& record : events.value()) {
        const LogEvent e = SpoolRecords::event(record);
        const Status written = m_store.insert(e);
        if (!written && written.problem().number == ErrorNumber::DatabaseUnavailable) {
            stopped = written.problem();
            break;
        }
        if (!written) {
            reject(e, written.problem(), false);
            ++m_drainRejected;
        }
        ++taken;
    }
    if (const Status committed = m_store.endBatch(); !committed) {
        stopped = committed.problem();
        taken = 0;  // nothing of this step reached the database
    }
    if (const Status consumed = m_spool->consume(taken); !consumed) {
        reportCause(consumed.problem());
    }
    m_consumed += quint64(taken);
    if (stopped) {
        reportCause(*stopped);
        scheduleRetry();
        return;
    }
    m_retryMs = kFirstRetryMs;
    if (!m_spool->isEmpty()) {
        m_retry.start(0);
        return;
    }
    m_reporter.toNetwork(ProgramNames::kProgram,
                         QStringLiteral("Spool written: every waiting event is in the database (") +
                             QString::number(m_consumed) + QStringLiteral(" in this run)"));
    m_reportedCause.clear();
    m_lastCauseReport.invalidate();
    m_fullReported = false;
}

EventWriter::Tally EventWriter::tally() const {
    Tally t;
    // What the spool held at start is taken first. (An event of an earlier run that the
    // database refuses counts as rejected in this run.)
    t.earlierWritten = std::min<quint64>(m_consumed, m_earlier);
    t.earlierWaiting = m_earlier - t.earlierWritten;
    const quint64 consumedOfThisRun = m_consumed - t.earlierWritten;
    t.written = m_written + consumedOfThisRun - std::min(consumedOfThisRun, m_drainRejected);
    t.spooled = quint64(waiting()) - t.earlierWaiting;
    t.rejected = m_rejectedCount;
    t.dropped = m_dropped;
    return t;
}
