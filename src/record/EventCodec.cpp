#include "record/EventCodec.h"

#include "report/ReportSteps.h"
#include "report/Reporter.h"
#include "support/DateText.h"
#include "support/ProgramNames.h"

EventCodec::EventCodec(Store& store, Reporter& reporter, std::function<QDateTime()> clock)
    : StoreCodec(store), m_reporter(&reporter), m_clock(std::move(clock)) {}

const DrainTexts& EventCodec::texts() {
    static const DrainTexts t{
        .spoolName = QStringLiteral("events"),
        .spool = QStringLiteral("Spool"),
        .record = QStringLiteral("event"),
        .records = QStringLiteral("events"),
        .openWhat = QStringLiteral("Spool "),
        .problemWhat = QStringLiteral("Readmessage"),
        .problemStep = ReportStep::Readmessage::Store,
        .keptWhat = QStringLiteral("Events"),
    };
    return t;
}

void EventCodec::refuse(const LogEvent& event, const Refusal& refusal) {
    const Status kept =
        m_rejected ? m_rejected->add(event, refusal.why.description, DateText::isoText(m_clock()))
                   : Status(Problem{ErrorKind::FileSystem, QStringLiteral("no rejected file")});
    // Our own reports come back through the hub; reporting their refusal again would feed the
    // failure to itself.
    if (refusal.ownReport) {
        return;
    }
    Problem said = refusal.why.atStep(ReportStep::Readmessage::Store);
    if (kept) {
        said.description += QStringLiteral(" (kept in ") + m_rejected->path() + u')';
    }
    m_reporter->toNetwork(ProgramNames::kProgram, QStringLiteral("Readmessage"), said);
}
