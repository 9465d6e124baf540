#pragma once

#include <QDateTime>
#include <QObject>
#include <functional>

#include "record/Drainer.h"
#include "record/EventCodec.h"

class Reporter;
class Store;

// Where each event to log goes: the drainer of controller events (see Drainer): into the
// database, into the spool while the database cannot take it, into the rejected file when it
// refuses the value itself.
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

    using Outcome = DrainOutcome;
    // `ownReport`: the event is one of the logger's own reports, whose refusal is not reported
    // again (it would come back as another report).
    Outcome write(const LogEvent& event, bool ownReport);
    // Events in order, none of them the logger's own: what became of each.
    std::vector<Outcome> writeRun(std::span<const LogEvent> events) {
        return m_drainer.writeRun(events);
    }

    // One receive pass: its writes are committed together, its spooled events reach the disk
    // together.
    void beginPass() { m_drainer.beginPass(); }
    void endPass() { m_drainer.endPass(); }
    // Tries the database again now (settings applied, SIGHUP).
    void retryNow() { m_drainer.retryNow(); }
    // No more attempts; what waits in the spool is on disk for the next run.
    void stop() { m_drainer.stop(); }

    using Tally = DrainTally;
    Tally tally() const { return m_drainer.tally(); }
    qint64 waiting() const { return m_drainer.waiting(); }

private:
    Drainer<EventCodec> m_drainer;
};
