#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "intake/ReceivedItem.h"
#include "record/EventWriter.h"
#include "record/Retention.h"
#include "status/QuietSources.h"
#include "store/Store.h"

class MessageWriter;
class ReceiveQueue;
class Reporter;

// The logger's hand, on a thread of its own: owns the writer's database connection, takes what
// the receiver handed on, a batch at a time, and stores it (events and the messages the rules log,
// through their spools while the database is away), keeps the tables to their days, and says
// which events were logged. It may wait on the database and the disk; nothing waits on it.
class Recorder : public QObject {
    Q_OBJECT

public:
    // How the recorder follows the sources of events: the time each pass is noted at, in
    // milliseconds since the epoch (the clock's when empty), and the least silence after which a
    // source is quiet.
    struct SourceWatch {
        std::function<qint64()> epochMs;
        qint64 minQuietMs = QuietSources::kDefaultMinQuietMs;
    };

    Recorder(Reporter& reporter, ReceiveQueue& queue, std::function<QDateTime()> clock,
             SourceWatch watch);
    ~Recorder() override;

    // These run on the recorder's thread; the logger calls them queued.
    //
    // Takes over the spools an earlier run left.
    void open(const EventWriter::Places& places);
    // Opens the database the settings name, making it when missing, and keeps the tables to the
    // limits' days.
    void apply(const DatabaseSettings& database, const Retention::Limits& limits);
    // Stores what waits in the receive queue.
    void drain();
    // More waits in the receive queue: stored after kGatherMs, so that a pass commits what
    // arrived meanwhile rather than one read's few datagrams.
    void wake();
    // Stores what it can within `ms`, leaves the rest in the receive queue's files for the next
    // start, and closes the database.
    void finish(int ms);
    // The key of the newest row written so far: every event logged after this call has a later
    // one.
    Result<qint64> newestKey() { return m_store.newestKey(); }

    // What became of what was taken so far; any thread.
    struct Counts {
        EventWriter::Tally events;
        quint64 messagesWritten = 0;
        quint64 messagesLost = 0;
        qint64 eventsWaiting = 0;    // in the event spool
        qint64 messagesWaiting = 0;  // in the messages' spool
        bool databaseOpen = false;
        // Databases the settings named that were tried (opened or not).
        quint64 opensTried = 0;
        quint64 passes = 0;
    };
    Counts counts() const;
    // The sources of the events taken so far (not the logger's own reports); any thread.
    const QuietSources& sources() const { return m_sources; }

    // Receive passes of at most this many items are committed together: a crash costs no more.
    static constexpr qsizetype kPassItems = 2000;
    static constexpr int kGatherMs = 10;

signals:
    // Events written or spooled, in order; emitted on the recorder's thread.
    void eventsLogged(const QList<LogEvent>& events);
    // Messages the rules log, written or spooled, in order; emitted on the recorder's thread.
    void messagesLogged(const QList<LoggedMessage>& messages);

private:
    void store(std::vector<ReceivedItem>& items);
    void publish();
    void reportOpen(const Store::OpenProblems& opened);

    Reporter& m_reporter;
    ReceiveQueue& m_queue;
    std::function<QDateTime()> m_clock;
    Store m_store;
    // Made on the recorder's thread, so that their timers run there.
    std::unique_ptr<EventWriter> m_events;
    std::unique_ptr<MessageWriter> m_messages;
    std::unique_ptr<Retention> m_retention;
    std::unique_ptr<QTimer> m_publishTimer;
    std::unique_ptr<QTimer> m_gatherTimer;
    quint64 m_passes = 0;
    quint64 m_opensTried = 0;
    bool m_finished = false;

    std::function<qint64()> m_epochMs;
    QuietSources m_sources;

    mutable std::mutex m_countsLock;
    Counts m_counts;
};
