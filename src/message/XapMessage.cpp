#include "message/XapMessage.h"

#include "message/AsciiCase.h"
#include "message/SpaceTrim.h"
#include "message/XapAddress.h"

namespace {

// Line and block numbers of the wire format are 16-bit signed counters.
constexpr qsizetype kLastLineNumber = 32767;

constexpr QStringView kUnknown = u"Unknown";

}  // namespace

XapMessage::XapMessage(QString text)
    : m_text(std::move(text)),
      m_class(kUnknown),
      m_source(kUnknown),
      m_target(kUnknown),
      m_uid(kUnknown) {}

XapMessage XapMessage::read(QString text) {
    XapMessage m(std::move(text));
    m.parse();
    return m;
}

// Steps, as the reports number them: 5 a block's "}" and the name after it, 6 an item or header
// line, 7 moving to the next line.
void XapMessage::parse() {
    if (m_text.isEmpty()) {
        return;
    }
    const QStringView all(m_text);
    qsizetype lineEnd = all.indexOf(u'\n');
    const QStringView first = lineEnd < 0 ? all : all.first(lineEnd);
    if (!first.contains(u"xap-header", Qt::CaseInsensitive)) {
        return;
    }
    QVarLengthArray<QStringView, 64> lines;
    lines.append(first);
    for (qsizetype from = lineEnd + 1; lineEnd >= 0; from = lineEnd + 1) {
        lineEnd = all.indexOf(u'\n', from);
        lines.append(lineEnd < 0 ? all.sliced(from) : all.sliced(from, lineEnd - from));
    }
    auto fail = [this](int step, QString description) {
        m_fault = ReadFault{step, std::move(description)};
    };
    qsizetype block = -1;
    const qsizetype last = lines.size() - 1;
    for (qsizetype i = 2; i <= last; ++i) {
        const QStringView line = lines[i];
        if (line == u"}") {
            ++block;
            if (i >= kLastLineNumber) {
                return fail(5, QStringLiteral("Overflow"));
            }
            ++i;
            if (i > last) {
                return fail(5, QStringLiteral("Subscript out of range"));
            }
            const QStringView name = lines[i];
            for (const Block& b : m_blocks) {
                if (equalsIgnoringCase(b.name, name)) {
                    return fail(5, QStringLiteral("Duplicate section name: ") + lowered(name));
                }
            }
            m_blocks.append(Block{name});
        } else if (const qsizetype eq = line.indexOf(u'='); eq >= 0) {
            const QStringView name = trimSpaces(line.first(eq));
            if (block >= 0) {
                for (qsizetype k = m_items.size() - 1; k >= 0 && m_items[k].block == block; --k) {
                    if (equalsIgnoringCase(m_items[k].name, name)) {
                        return fail(6, QStringLiteral("Duplicate item name: ") + lowered(name));
                    }
                }
                m_items.append(Item{block, name, line, eq + 1});
            } else {
                const QStringView value = trimSpaces(line.sliced(eq + 1));
                if (equalsIgnoringCase(name, u"uid")) {
                    m_uid = value;
                } else if (equalsIgnoringCase(name, u"class")) {
                    m_class = value;
                } else if (equalsIgnoringCase(name, u"source")) {
                    m_source = value;
                } else if (equalsIgnoringCase(name, u"target")) {
                    m_target = value;
                }
            }
        }
        if (i >= kLastLineNumber) {
            return fail(7, QStringLiteral("Overflow"));
        }
    }
}

bool XapMessage::isClass(QStringView name) const {
    return equalsIgnoringCase(name, m_class);
}

bool XapMessage::sourceMatches(QStringView address) const {
    return XapAddress::matches(address, m_source);
}

bool XapMessage::targetMatches(QStringView address) const {
    return XapAddress::matches(address, m_target);
}

QStringView XapMessage::item(QStringView block, QStringView name) const {
    qsizetype number = -1;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (equalsIgnoringCase(m_blocks[b].name, block)) {
            number = b;
            break;
        }
    }
    if (number < 0) {
        return kUnknown;
    }
    for (const Item& it : m_items) {
        if (it.block == number && equalsIgnoringCase(it.name, name)) {
            return it.line.sliced(it.valueAt);
        }
    }
    return kUnknown;
}

QList<QString> XapMessage::blockNames() const {
    QList<QString> names;
    for (qsizetype b = 0; b + 1 < m_blocks.size(); ++b) {
        names.append(lowered(m_blocks[b].name));
    }
    return names;
}

QList<QStringView> XapMessage::itemLines(qsizetype index) const {
    QList<QStringView> out;
    for (const Item& it : m_items) {
        if (it.block == index) {
            out.append(it.line);
        }
    }
    return out;
}
