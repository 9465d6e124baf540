// The xAP text parser and item lookup: whatever arrives on the network is parsed without harm,
// and looking up what the parser stored (or anything else) never fails.
#include "FuzzInput.h"
#include "message/XapMessage.h"
#include "support/Reporting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryReporting reporting;
    XapMessage m(reporting);
    m.FromXap(FuzzInput::text(data, size));
    const qsizetype parsingReports = reporting.entries.size();
    const QList<QString> sections = m.msgSection();
    for (int i = 0; i < sections.size(); ++i) {
        if (const XapMessage::ItemLines* lines = m.msgCollection(i)) {
            lines->forEach([&](const QString& name, const QString&) {
                m.GetItem(sections[i], name);
                m.GetItem(sections[i].toUpper(), name.toUpper());
            });
        }
    }
    m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Time"));
    m.CompareClass(QStringLiteral("Homeseer.Event"));
    m.CompareTarget(QStringLiteral("zel.Quilljot.host"));
    m.CompareTarget(QStringLiteral("Unknown"));
    m.CompareSource(QStringLiteral("zel.>"));
    if (reporting.entries.size() != parsingReports) {
        FuzzInput::fail("lookups and matching report no failure", reporting.entries.last().first);
    }
    return 0;
}
