#pragma once

#include <QList>
#include <QStringList>
#include <algorithm>
#include <concepts>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "record/DrainReports.h"
#include "record/DrainTimer.h"
#include "record/RetryPause.h"
#include "report/Result.h"
#include "spool/Spool.h"
#include "store/StoreProvider.h"

// What became of a record handed to a drainer.
enum class DrainOutcome { Written, Spooled, Rejected, Dropped };

// Written into the database or kept in the spool for it.
inline bool isLogged(DrainOutcome outcome) {
    return outcome == DrainOutcome::Written || outcome == DrainOutcome::Spooled;
}

struct DrainTally {
    quint64 written = 0;         // records of this run in the database
    quint64 spooled = 0;         // records of this run waiting in the spool
    quint64 rejected = 0;        // refused for good
    quint64 dropped = 0;         // lost: the spool was full or could not be written
    quint64 earlierWritten = 0;  // records an earlier run left in the spool, now taken from it
    quint64 earlierWaiting = 0;  // and those still waiting
};

// A record the database refused for good, for the codec to report.
struct Refusal {
    Problem why;
    bool ownReport = false;          // one of the logger's own reports
    bool refusedSinceWrite = false;  // another was refused since a record was last written
};

// What a drainer needs of one kind of record: how it is kept in the spool and read back, how it
// is written to the database (in batches, with the database opened again after an outage), what
// is done with one the database refuses for good, and how reports name it.
template <class C>
concept DrainCodec = requires(C codec, const typename C::Record& record, const QStringList& texts,
                              const Refusal& refusal) {
    { C::texts() } -> std::convertible_to<const DrainTexts&>;
    { C::toSpool(record) } -> std::same_as<QStringList>;
    { C::fromSpool(texts) } -> std::same_as<typename C::Record>;
    { codec.insert(record) } -> std::same_as<Status>;
    { codec.beginBatch() } -> std::same_as<Status>;
    { codec.endBatch() } -> std::same_as<Status>;
    { codec.isOpen() } -> std::same_as<bool>;
    { codec.reopen() } -> std::same_as<Status>;
    codec.refuse(record, refusal);
};

// A codec whose database writes a run of records more cheaply than one at a time.
template <class C>
concept RunCodec = requires(C codec, std::span<const typename C::Record> run) {
    { codec.insertRun(run) } -> std::same_as<StoreProvider::RunWritten>;
};

// Where each record to log goes: into the database when it takes it; into the spool while it
// cannot (the provider says the failure passes: locked, unreachable, moved away, full), and then
// every later record too, so that the order holds; to the codec's refusal when the database
// refuses the value itself. The spool is written into the database in steps, ahead of newer
// records, with growing pauses (RetryPause) while the database stays away; a cause is reported
// once per outage, not once per record (DrainReports).
//
// Runs on the thread of its timer's event loop, and nowhere else.
template <DrainCodec Codec>
class Drainer {
public:
    using Record = typename Codec::Record;

    // Records written per step of the background drain: a step is short enough that new
    // records never wait long behind it.
    static constexpr int kDrainStep = 2000;

    Drainer(Codec codec, Reporter& reporter, std::unique_ptr<DrainTimer> timer);
    Drainer(const Drainer&) = delete;
    Drainer& operator=(const Drainer&) = delete;

    // Takes over the spool an earlier run left in `folder`, and starts writing it. Until then a
    // record the database cannot take is refused.
    void open(const QString& folder, qint64 limitBytes);

    // `ownReport`: the record is one of the logger's own reports, whose refusal is not reported
    // again (it would come back as another report).
    DrainOutcome write(const Record& record, bool ownReport = false);
    // Records in order, none of them one of the logger's own reports: what became of each, as
    // write() would have said. A run the database takes is written in one go.
    std::vector<DrainOutcome> writeRun(std::span<const Record> records);

    // One pass: its writes are committed together, its spooled records reach the disk together.
    void beginPass();
    void endPass();
    // Tries the database again now (settings applied, SIGHUP).
    void retryNow();
    // No more attempts; what waits in the spool is on disk for the next run.
    void stop();

    DrainTally tally() const;
    qint64 waiting() const { return m_spool ? m_spool->waiting() : 0; }

    Codec& codec() { return m_codec; }

private:
    DrainOutcome written(const Record& record);
    // A record the database did not take: spooled when the failure passes, refused otherwise.
    DrainOutcome notTaken(const Record& record, bool ownReport, const Problem& why);
    // Writes the first of `records`, or as many of them as the codec takes in one go.
    StoreProvider::RunWritten insertSome(std::span<const Record> records);
    DrainOutcome keep(const QStringList& texts, const Problem& cause);
    // Commits what this pass wrote; when the commit fails, those records go to the spool first.
    void commitPass();
    void drainStep();
    void tryAgainLater(qint64 attemptStartedMs);
    void reportCause(const Problem& cause) { m_reports.cause(cause, waiting(), m_timer->nowMs()); }

    Codec m_codec;
    std::unique_ptr<DrainTimer> m_timer;
    DrainReports m_reports;
    RetryPause m_pause;
    std::unique_ptr<Spool> m_spool;
    bool m_inPass = false;
    QList<Record> m_uncommitted;  // written in this pass, not committed yet
    bool m_refusedSinceWrite = false;
    quint64 m_written = 0;        // written without the spool
    quint64 m_consumed = 0;       // taken from the spool (written or refused)
    quint64 m_drainRejected = 0;  // of those, refused
    quint64 m_rejected = 0;
    quint64 m_dropped = 0;
    quint64 m_earlier = 0;  // records the spool held at start
};

template <DrainCodec Codec>
Drainer<Codec>::Drainer(Codec codec, Reporter& reporter, std::unique_ptr<DrainTimer> timer)
    : m_codec(std::move(codec)), m_timer(std::move(timer)), m_reports(reporter, Codec::texts()) {
    m_timer->setFire([this] { drainStep(); });
}

template <DrainCodec Codec>
void Drainer<Codec>::open(const QString& folder, qint64 limitBytes) {
    m_spool = std::make_unique<Spool>(folder, Codec::texts().spoolName, limitBytes);
    const Result<Spool::Recovered> found = m_spool->open();
    if (!found) {
        m_reports.openFailed(found.problem());
        return;
    }
    m_earlier = quint64(found.value().records);
    m_reports.recovered(found.value(), m_spool->path());
    if (m_earlier > 0) {
        m_timer->start(0);
    }
}

template <DrainCodec Codec>
DrainOutcome Drainer<Codec>::write(const Record& record, bool ownReport) {
    // While anything waits in the spool, newer records queue up behind it.
    if (m_spool && !m_spool->isEmpty()) {
        return keep(Codec::toSpool(record), Problem{});
    }
    const Status inserted = m_codec.insert(record);
    return inserted ? written(record) : notTaken(record, ownReport, inserted.problem());
}

template <DrainCodec Codec>
std::vector<DrainOutcome> Drainer<Codec>::writeRun(std::span<const Record> records) {
    std::vector<DrainOutcome> outcomes;
    outcomes.reserve(records.size());
    while (outcomes.size() < records.size()) {
        const std::span<const Record> rest = records.subspan(outcomes.size());
        if (m_spool && !m_spool->isEmpty()) {
            outcomes.push_back(keep(Codec::toSpool(rest.front()), Problem{}));
            continue;
        }
        const StoreProvider::RunWritten run = insertSome(rest);
        for (const Record& record : rest.first(std::size_t(run.written))) {
            outcomes.push_back(written(record));
        }
        if (!run.next) {
            outcomes.push_back(notTaken(rest[std::size_t(run.written)], false, run.next.problem()));
        }
    }
    return outcomes;
}

template <DrainCodec Codec>
StoreProvider::RunWritten Drainer<Codec>::insertSome(std::span<const Record> records) {
    if constexpr (RunCodec<Codec>) {
        return m_codec.insertRun(records);
    } else {
        const Status inserted = m_codec.insert(records.front());
        return {inserted ? 1 : 0, inserted};
    }
}

template <DrainCodec Codec>
DrainOutcome Drainer<Codec>::written(const Record& record) {
    ++m_written;
    m_refusedSinceWrite = false;
    if (m_inPass) {
        m_uncommitted.append(record);
    }
    return DrainOutcome::Written;
}

template <DrainCodec Codec>
DrainOutcome Drainer<Codec>::notTaken(const Record& record, bool ownReport, const Problem& why) {
    if (why.passes() && m_spool) {
        // What this pass wrote so far goes first: committed now, or spooled ahead of this one.
        if (m_inPass) {
            commitPass();
            (void)m_codec.beginBatch();
        }
        return keep(Codec::toSpool(record), why);
    }
    ++m_rejected;
    m_codec.refuse(record, Refusal{why, ownReport, m_refusedSinceWrite});
    m_refusedSinceWrite = true;
    return DrainOutcome::Rejected;
}

template <DrainCodec Codec>
DrainOutcome Drainer<Codec>::keep(const QStringList& texts, const Problem& cause) {
    const Result<Spool::Appended> kept = m_spool->append(texts);
    if (!kept) {
        ++m_dropped;
        reportCause(kept.problem());
        return DrainOutcome::Dropped;
    }
    if (kept.value() == Spool::Appended::Full) {
        ++m_dropped;
        m_reports.full(waiting());
        return DrainOutcome::Dropped;
    }
    reportCause(cause);
    if (!m_timer->isActive()) {
        m_timer->start(m_pause.ms());
    }
    return DrainOutcome::Spooled;
}

template <DrainCodec Codec>
void Drainer<Codec>::beginPass() {
    m_inPass = true;
    m_uncommitted.clear();
    (void)m_codec.beginBatch();
}

template <DrainCodec Codec>
void Drainer<Codec>::commitPass() {
    const Status committed = m_codec.endBatch();
    if (!committed) {
        m_written -= quint64(m_uncommitted.size());
        for (const Record& r : std::as_const(m_uncommitted)) {
            if (m_spool) {
                keep(Codec::toSpool(r), committed.problem());
            } else {
                ++m_dropped;
            }
        }
    }
    m_uncommitted.clear();
}

template <DrainCodec Codec>
void Drainer<Codec>::endPass() {
    commitPass();
    m_inPass = false;
    if (m_spool) {
        if (const Status synced = m_spool->sync(); !synced) {
            reportCause(synced.problem());
        }
    }
}

template <DrainCodec Codec>
void Drainer<Codec>::retryNow() {
    if (m_spool && !m_spool->isEmpty()) {
        m_pause.reset();
        m_timer->start(0);
    }
}

template <DrainCodec Codec>
void Drainer<Codec>::stop() {
    m_timer->stop();
    if (m_spool) {
        (void)m_spool->sync();
    }
}

template <DrainCodec Codec>
void Drainer<Codec>::tryAgainLater(qint64 attemptStartedMs) {
    m_timer->start(m_pause.failed(m_timer->nowMs() - attemptStartedMs));
}

template <DrainCodec Codec>
void Drainer<Codec>::drainStep() {
    if (!m_spool || m_spool->isEmpty()) {
        return;
    }
    const qint64 started = m_timer->nowMs();
    if (!m_codec.isOpen()) {
        if (const Status opened = m_codec.reopen(); !opened) {
            reportCause(opened.problem());
            tryAgainLater(started);
            return;
        }
    }
    (void)m_spool->sync();
    const Result<QList<QStringList>> records = m_spool->peek(kDrainStep);
    if (!records) {
        reportCause(records.problem());
        tryAgainLater(started);
        return;
    }
    std::vector<Record> step;
    step.reserve(std::size_t(records.value().size()));
    for (const QStringList& texts : records.value()) {
        step.push_back(Codec::fromSpool(texts));
    }
    (void)m_codec.beginBatch();
    qsizetype taken = 0;
    int refused = 0;
    std::optional<Problem> stopped;
    while (std::size_t(taken) < step.size()) {
        const StoreProvider::RunWritten run =
            insertSome(std::span<const Record>(step).subspan(std::size_t(taken)));
        taken += run.written;
        if (run.written > 0) {
            m_refusedSinceWrite = false;
        }
        if (run.next) {
            continue;
        }
        if (run.next.problem().passes()) {
            stopped = run.next.problem();
            break;
        }
        ++refused;
        m_codec.refuse(step[std::size_t(taken)],
                       Refusal{run.next.problem(), false, m_refusedSinceWrite});
        m_refusedSinceWrite = true;
        ++taken;
    }
    if (const Status committed = m_codec.endBatch(); !committed) {
        stopped = committed.problem();
        taken = 0;  // nothing of this step reached the database: it is taken again
        refused = 0;
    }
    if (const Status consumed = m_spool->consume(int(taken)); !consumed) {
        reportCause(consumed.problem());
    }
    m_consumed += quint64(taken);
    m_drainRejected += quint64(refused);
    m_rejected += quint64(refused);
    if (stopped) {
        reportCause(*stopped);
        tryAgainLater(started);
        return;
    }
    m_pause.reset();
    if (!m_spool->isEmpty()) {
        m_timer->start(0);
        return;
    }
    m_reports.drained(m_consumed);
}

template <DrainCodec Codec>
DrainTally Drainer<Codec>::tally() const {
    DrainTally t;
    // What the spool held at start is taken first. (A record of an earlier run that the
    // database refuses counts as rejected in this run.)
    t.earlierWritten = std::min(m_consumed, m_earlier);
    t.earlierWaiting = m_earlier - t.earlierWritten;
    const quint64 consumedOfThisRun = m_consumed - t.earlierWritten;
    t.written = m_written + consumedOfThisRun - std::min(consumedOfThisRun, m_drainRejected);
    t.spooled = quint64(waiting()) - t.earlierWaiting;
    t.rejected = m_rejected;
    t.dropped = m_dropped;
    return t;
}
