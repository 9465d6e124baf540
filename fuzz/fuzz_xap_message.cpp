// The xAP text parser and item lookup: whatever arrives on the network is parsed without harm,
// looking up what the parser stored (or anything else) never fails, and a message built from
// the input's lines reads back item for item.
#include <QSet>

#include "FuzzInput.h"
#include "message/XapMessage.h"
#include "support/Reporting.h"

namespace {

bool plainName(QStringView s) {
    if (s.isEmpty()) {
        return false;
    }
    for (QChar c : s) {
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_') {
            return false;
        }
    }
    return true;
}

void parseAnything(const QString& text) {
    MemoryReporting reporting;
    XapMessage m(reporting);
    m.FromXap(text);
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
}

// First line: a section name; each further line NAME=VALUE an item (other lines are skipped).
void buildAndReadBack(const QString& text) {
    const QStringList lines = text.split(u'\n');
    const QString section = lines.first();
    if (!plainName(section)) {
        return;
    }
    QList<std::pair<QString, QString>> items;
    QSet<QString> names;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf(u'=');
        const QString name = lines[i].left(eq);
        if (eq < 0 || !plainName(name) || names.contains(name.toLower())) {
            continue;
        }
        names.insert(name.toLower());
        items.append({name, lines[i].mid(eq + 1)});
    }
    MemoryReporting reporting;
    XapMessage built(reporting);
    built.setHeaderPrefix(QStringLiteral("xap-header\n{\nv=12\nhop=1\nuid=FF.000A:00\n"));
    built.setMsgClass(QStringLiteral("Homeseer.Event"));
    built.setMsgSource(QStringLiteral("zel.Quilljot.host"));
    built.AddHeader();
    built.AddSection(section);
    for (const auto& [name, value] : items) {
        built.AddItem(section, name, value);
    }
    const QString wire = built.ToXap();
    XapMessage read(reporting);
    read.FromXap(wire);
    for (const auto& [name, value] : items) {
        if (read.GetItem(section, name) != value) {
            FuzzInput::fail("a built item reads back as it was written", wire);
        }
    }
    if (!read.CompareClass(QStringLiteral("homeseer.event")) ||
        read.msgSource() != u"zel.Quilljot.host") {
        FuzzInput::fail("a built header reads back", wire);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    parseAnything(text);
    buildAndReadBack(text);
    return 0;
}
