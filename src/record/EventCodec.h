#pragma once

#include <QDateTime>
#include <functional>
#include <optional>

#include "record/Drainer.h"
#include "record/SpoolRecords.h"
#include "record/StoreCodec.h"
#include "store/RejectedEvents.h"

class Reporter;

// How the drainer handles controller events: written to the event table, kept in the spool
// "events" as their four texts; one the database refuses is kept in the rejected file and
// reported as a failed write always was (step 4 of "Readmessage").
class EventCodec : public StoreCodec {
public:
    using Record = LogEvent;

    EventCodec(Store& store, Reporter& reporter, std::function<QDateTime()> clock);

    static const DrainTexts& texts();
    static QStringList toSpool(const LogEvent& event) { return SpoolRecords::texts(event); }
    static LogEvent fromSpool(const QStringList& texts) { return SpoolRecords::event(texts); }

    Status insert(const LogEvent& event) { return m_store->insert(event); }
    StoreProvider::RunWritten insertRun(std::span<const LogEvent> events) {
        return m_store->insertRun(events);
    }
    void refuse(const LogEvent& event, const Refusal& refusal);

    void setRejectedFile(const QString& path) { m_rejected.emplace(path); }

private:
    Reporter* m_reporter;
    std::function<QDateTime()> m_clock;
    std::optional<RejectedEvents> m_rejected;
};
