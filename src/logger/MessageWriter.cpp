#include "logger/MessageWriter.h"

#include <optional>
#include <utility>

#include "report/Reporter.h"
#include "store/SpoolRecords.h"
#include "store/Store.h"
#include "support/ProgramNames.h"

MessageWriter::MessageWriter(Store& store, Reporter& reporter, QObject* parent)
    : QObject(parent), m_store(store), m_reporter(reporter) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MessageWriter::drainStep);
}

MessageWriter::~MessageWriter() = default;

void MessageWriter::open(const QString& folder, qint64 limitBytes) {
    m_spool = std::make_unique<Spool>(folder, QStringLiteral("messages"), limitBytes);
    const Result<Spool::Recovered> found = m_spool->open();
    if (!found) {
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Messages "), found.problem());
        return;
    }
    if (found.value().cutBytes > 0) {
        m_reporter.toNetwork(
            ProgramNames::kProgram,
            QStringLiteral("Messages spool: ") + QString::number(found.value().cutBytes) +
                QStringLiteral(" bytes of torn or damaged records were cut from ") +
                m_spool->path() + QStringLiteral("; they never reach the database"));
    }
    if (found.value().records > 0) {
        m_reporter.toNetwork(ProgramNames::kProgram,
                             QStringLiteral("Messages spool: ") +
                                 QString::number(found.value().records) +
                                 QStringLiteral(" messages left by an earlier run are written "
                                                "first"));
        m_retry.start(0);
    }
}

bool MessageWriter::write(const LoggedMessage& message) {
    if (m_inPass) {
        m_held.append(message);
        return true;
    }
    return writeNow(message);
}

void MessageWriter::endPass() {
    m_inPass = false;
    if (m_held.isEmpty()) {
        return;
    }
    const QList<LoggedMessage> held = std::exchange(m_held, {});
    (void)m_store.beginBatch();
    // Once one is kept in the spool, the rest follow it there; those written before it are kept
    // ahead of them if the transaction fails, so that the order holds either way.
    QList<LoggedMessage> written;
    qsizetype next = 0;
    std::optional<Problem> away;
    for (; next < held.size(); ++next) {
        if (m_spool && !m_spool->isEmpty()) {
            break;
        }
        const Status w = m_store.insertMessage(held[next]);
        if (w) {
            written.append(held[next]);
        } else if (m_spool && isAway(w.problem())) {
            away = w.problem();
            break;
        } else {
            refuse(held[next], w.problem());
        }
    }
    QList<LoggedMessage> toKeep = held.mid(next);
    if (const Status committed = m_store.endBatch(); !committed) {
        away = committed.problem();
        toKeep = written + toKeep;
        written.clear();
    }
    m_written += quint64(written.size());
    if (!written.isEmpty()) {
        m_refusalReported = false;
    }
    for (const LoggedMessage& message : toKeep) {
        if (m_spool) {
            keep(message, away.value_or(Problem{}));
        } else {
            refuse(message, away.value_or(Problem{}));
        }
    }
}

bool MessageWriter::writeNow(const LoggedMessage& message) {
    // While anything waits in the spool, newer messages queue up behind it.
    if (m_spool && !m_spool->isEmpty()) {
        return keep(message, Problem{});
    }
    const Status written = m_store.insertMessage(message);
    if (written) {
        ++m_written;
        m_refusalReported = false;
        return true;
    }
    if (m_spool && isAway(written.problem())) {
        return keep(message, written.problem());
    }
    refuse(message, written.problem());
    return false;
}

// A provider that closed itself (a file moved away, never found) may not say so in the error
// of a write to its messages table.
bool MessageWriter::isAway(const Problem& failure) const {
    return failure.number == ErrorNumber::DatabaseUnavailable || !m_store.isOpen();
}

bool MessageWriter::keep(const LoggedMessage& message, const Problem& cause) {
    const Result<Spool::Appended> kept = m_spool->append(SpoolRecords::texts(message));
    if (!kept) {
        ++m_lost;
        reportCause(kept.problem());
        return false;
    }
    if (kept.value() == Spool::Appended::Full) {
        ++m_lost;
        if (!m_fullReported) {
            m_fullReported = true;
            m_reporter.toNetwork(ProgramNames::kProgram,
                                 QStringLiteral("Messages spool full: new messages are dropped "
                                                "until the database takes the ") +
                                     QString::number(waiting()) +
                                     QStringLiteral(" waiting (SpoolLimit in the settings)"));
        }
        return false;
    }
    reportCause(cause);
    if (!m_retry.isActive()) {
        m_retry.start(m_retryMs);
    }
    return true;
}

void MessageWriter::refuse(const LoggedMessage& message, const Problem& why) {
    ++m_lost;
    if (m_refusalReported) {
        return;
    }
    m_refusalReported = true;
    Problem said = why;
    said.description += QStringLiteral(". The message from ") + message.source +
                        QStringLiteral(" is left out (said again after a message is written)");
    m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Messages "), said);
}

void MessageWriter::reportCause(const Problem& cause) {
    if (cause.description.isEmpty() || m_causeReported) {
        return;
    }
    m_causeReported = true;
    Problem said = cause;
    said.description += QStringLiteral(". Messages the rules log are kept in the spool (") +
                        QString::number(waiting()) +
                        QStringLiteral(" waiting) and written when the database takes them");
    m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Messages "), said);
}

void MessageWriter::retryNow() {
    if (m_spool && !m_spool->isEmpty()) {
        m_retryMs = kRetryMs;
        m_retry.start(0);
    }
}

void MessageWriter::stop() {
    m_retry.stop();
    if (m_spool) {
        (void)m_spool->sync();
    }
}

// An attempt that took time (a connection that timed out) held the event loop: the next ones
// come ever more rarely. One that failed at once costs nothing and comes again soon.
void MessageWriter::retryLater(qint64 attemptMs) {
    m_retryMs = attemptMs < kRetryMs / 5 ? kRetryMs : std::min(m_retryMs * 2, kLongestRetryMs);
    m_retry.start(m_retryMs);
}

void MessageWriter::drainStep() {
    if (!m_spool || m_spool->isEmpty()) {
        return;
    }
    QElapsedTimer attempt;
    attempt.start();
    const Status ready = m_store.isOpen() ? Status() : m_store.reopen();
    (void)m_spool->sync();
    const Result<QList<QStringList>> records =
        ready ? m_spool->peek(kDrainStep) : Result<QList<QStringList>>(ready.problem());
    if (!records) {
        reportCause(records.problem());
        retryLater(attempt.elapsed());
        return;
    }
    (void)m_store.beginBatch();
    int taken = 0;
    int written = 0;
    std::optional<Problem> stopped;
    for (const QStringList& record : records.value()) {
        const LoggedMessage message = SpoolRecords::message(record);
        if (const Status w = m_store.insertMessage(message); w) {
            ++written;
            m_refusalReported = false;
        } else if (isAway(w.problem())) {
            stopped = w.problem();
            break;
        } else {
            refuse(message, w.problem());
        }
        ++taken;
    }
    if (const Status committed = m_store.endBatch(); !committed) {
        stopped = committed.problem();
        taken = 0;  // nothing of this step reached the database
        written = 0;
    }
    if (const Status consumed = m_spool->consume(taken); !consumed) {
        reportCause(consumed.problem());
    }
    m_written += quint64(written);
    m_drained += quint64(written);
    if (stopped) {
        reportCause(*stopped);
        retryLater(attempt.elapsed());
        return;
    }
    m_retryMs = kRetryMs;
    if (!m_spool->isEmpty()) {
        m_retry.start(0);
        return;
    }
    m_reporter.toNetwork(ProgramNames::kProgram,
                         QStringLiteral("Messages spool written: every waiting message is in the "
                                        "database (") +
                             QString::number(m_drained) + QStringLiteral(" in this run)"));
    m_causeReported = false;
    m_fullReported = false;
}
