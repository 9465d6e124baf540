#include "record/EventWriter.h"

EventWriter::EventWriter(Store& store, Reporter& reporter, std::function<QDateTime()> clock,
                         QObject* parent)
    : QObject(parent),
      m_drainer(EventCodec(store, reporter, std::move(clock)), reporter,
                std::make_unique<QtDrainTimer>(this)) {}

EventWriter::~EventWriter() = default;

void EventWriter::open(const Places& places) {
    m_drainer.codec().setRejectedFile(places.rejectedFile);
    m_drainer.open(places.spoolFolder, places.spoolLimitBytes);
}

EventWriter::Outcome EventWriter::write(const LogEvent& event, bool ownReport) {
    return m_drainer.write(event, ownReport);
}
