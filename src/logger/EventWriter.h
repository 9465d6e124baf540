#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "store/LogEvent.h"
#include "store/RejectedEvents.h"
#include "store/Spool.h"

class Reporter;
class Store;

// Where each event to log goes: into the database when it takes it; into the spool while it
// cannot (locked, unreachable, moved away, full), and then every later event too, so that the
// order holds; into the rejected file when the database refuses the value itself. The spool is
// written into the database in the background, with growing pauses while the database stays
// away, ahead of newer events. A cause is reported once, not once per event.
class EventWriter : public QObject {
    Q_OBJECT

public:
    struct Places {
        QString spoolFolder;
        qint64 spoolLimitBytes = 256ll * 1024 * 1024;
        QString rejectedFile;
    };

    EventWriter(Store& store, Reporter& reporter, std::function<QDateTime()> clock,
                QObject* parent = nullptr);
    ~EventWriter() override;

    // Takes over the spool an earlier run left, and starts writing it into the database.
    void open(const Places& places);

    enum class Outcome { Written, Spooled, Rejected, Dropped };
    // `ownReport`: the event is one of the logger's own reports, whose refusal is not reported
    // again (it would come back as another report).
    Outcome write(const LogEvent& event, bool ownReport);

    // One receive pass: its writes are committed together, its spooled events reach the disk
    // together.
    void beginPass();
    void endPass();
    // Tries the database again now (settings applied, SIGHUP).
    void retryNow();
    // No more attempts; what waits in the spool is on disk for the next run.
    void stop();

    struct Tally {
        quint64 written = 0;         // events of this run in the database
        quint64 spooled = 0;         // events of this run waiting in the spool
        quint64 rejected = 0;        // refused for good, in the rejected file
        quint64 dropped = 0;         // lost: the spool was full or could not be written
        quint64 earlierWritten = 0;  // events an earlier run left in the spool, now written
        quint64 earlierWaiting = 0;  // and those still waiting
    };
    Tally tally() const;
    qint64 waiting() const { return m_spool ? m_spool->waiting() : 0; }

    // The first pause after a failed attempt, the longest after attempts that failed at once, and
    // the longest after attempts that took time.
    static constexpr int kFirstRetryMs = 250;
    static constexpr int kCheapRetryMs = 500;
    static constexpr int kLongestRetryMs = 30000;
    static constexpr int kCheapAttemptMs = 100;
    // Events written per step of the background drain; a step is short enough that received
    // datagrams never wait long for the event loop.
    static constexpr int kDrainStep = 2000;
    static constexpr int kCauseRepeatMs = 60000;

private:
    void spool(const LogEvent& event, const Problem& cause);
    // Commits what this pass wrote; when the commit fails, those events go to the spool first.
    void commitPass();
    void reject(const LogEvent& event, const Problem& why, bool ownReport);
    void drainStep();
    void scheduleRetry();
    void reportCause(const Problem& cause);

    Store& m_store;
    Reporter& m_reporter;
    std::function<QDateTime()> m_clock;
    std::unique_ptr<Spool> m_spool;
    std::unique_ptr<RejectedEvents> m_rejected;
    // Events of this pass the database took but has not committed yet.
    QList<LogEvent> m_uncommitted;
    QTimer m_retry;
    int m_retryMs = kFirstRetryMs;
    QElapsedTimer m_attempt;
    QString m_reportedCause;
    QElapsedTimer m_lastCauseReport;
    bool m_fullReported = false;
    quint64 m_written = 0;
    quint64 m_spooledTotal = 0;   // events of this run put into the spool
    quint64 m_consumed = 0;       // events taken from the spool (written or rejected)
    quint64 m_drainRejected = 0;  // of those, refused by the database
    quint64 m_rejectedCount = 0;
    quint64 m_dropped = 0;
    quint64 m_earlier = 0;  // events the spool held at start
};
