// The xAP text reader and builders: whatever arrives on the network is read without harm, every
// item the reader kept is found again by name, a message built from the input's lines reads back
// item for item, and a heartbeat reads back as it was written.
#include <QSet>
#include <algorithm>

#include "FuzzInput.h"
#include "message/Heartbeat.h"
#include "message/SpaceTrim.h"
#include "message/XapMessage.h"
#include "message/XapText.h"

namespace {

bool isAscii(QStringView s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Letters, digits, ".", "-" and "_" of plain ASCII.
bool plainName(QStringView s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) {
        return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_');
    });
}

void readAnything(const QString& text) {
    const XapMessage m = XapMessage::read(text);
    const QList<QString> blocks = m.blockNames();
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        for (const QStringView line : m.itemLines(i)) {
            const qsizetype eq = line.indexOf(u'=');
            const QStringView name = trimLayout(line.first(eq));
            // Item names are unique in their block, so the item found is the item of this line.
            // (Lower-casing keeps a block name apart from the others only in plain ASCII.)
            if (isAscii(blocks[i]) && m.item(blocks[i], name) != line.sliced(eq + 1)) {
                FuzzInput::fail("every item read is found by its block and name", text);
            }
            m.item(blocks[i].toUpper(), name.toString().toUpper());
        }
    }
    m.itemLines(blocks.size());
    m.item(u"Event.Log", u"Time");
    m.isClass(u"Homeseer.Event");
    m.targetMatches(u"zel.Quilljot.host");
    m.sourceMatches(u"zel.>");
    if (const auto hb = Heartbeat::read(text)) {
        hb->isAlive();
        hb->isStopped();
    }
}

// First line: a block name; each further line NAME=VALUE an item (other lines are skipped).
void buildAndReadBack(const QString& text) {
    const QStringList lines = text.split(u'\n');
    const QString block = lines.first();
    if (!plainName(block)) {
        return;
    }
    QList<XapItem> items;
    QSet<QString> names;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf(u'=');
        const QString name = lines[i].left(eq);
        // A CR at the end of a line is read as part of a CR LF line end.
        if (eq < 0 || !plainName(name) || names.contains(name.toLower()) ||
            lines[i].endsWith(u'\r')) {
            continue;
        }
        names.insert(name.toLower());
        items.append(XapItem{name, lines[i].mid(eq + 1)});
    }
    const QString wire =
        XapText::message(XapHeader{QStringLiteral("FF.000A:00"), QStringLiteral("Homeseer.Event"),
                                   QStringLiteral("zel.Quilljot.host"), QString()},
                         block, items);
    const XapMessage read = XapMessage::read(wire);
    if (read.fault() || read.cutOff()) {
        FuzzInput::fail("a built message reads without fault", wire);
    }
    // The same text with CR LF line ends reads the same.
    const QString crlf = QString(wire).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const XapMessage readCrlf = XapMessage::read(crlf);
    for (const XapItem& it : items) {
        if (read.item(block, it.name) != it.value) {
            FuzzInput::fail("a built item reads back as it was written", wire);
        }
        if (readCrlf.item(block, it.name) != it.value) {
            FuzzInput::fail("a built item reads back from CR LF lines", crlf);
        }
    }
    if (!read.isClass(u"homeseer.event") || read.source() != u"zel.Quilljot.host" ||
        read.uid() != u"FF.000A:00" || read.target() != u"Unknown") {
        FuzzInput::fail("a built header reads back", wire);
    }

    // A heartbeat from the same names: the block name as source, the first item's value as UID.
    const QString uid = items.isEmpty() ? QString() : items.first().value.trimmed();
    const Heartbeat hb{Heartbeat::kAlive.toString(), block, uid, 600, 3639};
    const auto back = Heartbeat::read(hb.text());
    if (!back || back->source != block || back->uid != uid || back->intervalSeconds != 600 ||
        back->port != 3639 || !back->isAlive()) {
        FuzzInput::fail("a heartbeat reads back as it was written", hb.text());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    readAnything(text);
    buildAndReadBack(text);
    return 0;
}
