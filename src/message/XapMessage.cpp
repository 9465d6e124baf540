#include "message/XapMessage.h"

#include <QSet>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

namespace {

// Whether the first line names the header, without regard to case; the common case, a line
// that is exactly "xap-header", is answered without a search.
bool namesHeader(QStringView line) {
    static constexpr char16_t kName[] = u"xap-header";
    constexpr qsizetype kLength = 10;
    const char16_t* p = line.utf16();
    for (qsizetype at = 0; at + kLength <= line.size(); ++at) {
        qsizetype k = 0;
        while (k < kLength) {
            char16_t c = p[at + k];
            if (c >= u'A' && c <= u'Z') {
                c = char16_t(c + (u'a' - u'A'));
            }
            if (c != kName[k]) {
                break;
            }
            ++k;
        }
        if (k == kLength) {
            return true;
        }
    }
    return false;
}

// The position of the next line feed at or after `from`, or `size`. Eight characters at a time
// where the processor allows: this scan is most of the cost of reading a message.
qsizetype findLineEnd(const char16_t* text, qsizetype from, qsizetype size) {
    qsizetype at = from;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi16(u'\n');
    for (; at + 8 <= size; at += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(chunk, lf));
        if (mask != 0) {
            return at + __builtin_ctz(unsigned(mask)) / 2;
        }
    }
#endif
    while (at < size && text[at] != u'\n') {
        ++at;
    }
    return at;
}

// Whether a line is empty or blanks and tabs only.
bool isBlank(QStringView line) {
    for (const QChar c : line) {
        if (!isLayoutBlank(c)) {
            return false;
        }
    }
    return true;
}

// Whether a line without "=" closes a block: "}", with blanks or tabs around it from some
// senders.
bool closesBlock(QStringView line) {
    if (line.size() == 1) {
        return line[0] == u'}';
    }
    const QStringView bare = trimLayout(line);
    return bare.size() == 1 && bare[0] == u'}';
}

// The names seen so far in one block (or of the blocks themselves). A block has a handful of
// items, compared in place; one with very many (a hostile datagram can hold thousands) gets a
// hash of lower-cased names, so reading stays linear.
class ItemNames {
public:
    // False when the block already has an item of that name.
    bool add(qsizetype block, QStringView name) {
        if (block != m_block) {
            m_block = block;
            m_names.clear();
            m_hashed.clear();
        }
        if (m_names.size() < kInPlace) {
            for (const QStringView known : m_names) {
                if (equalsIgnoringCase(known, name)) {
                    return false;
                }
            }
            m_names.append(name);
            return true;
        }
        if (m_hashed.isEmpty()) {
            for (const QStringView known : m_names) {
                m_hashed.insert(lowered(known));
            }
        }
        const QString key = lowered(name);
        if (m_hashed.contains(key)) {
            return false;
        }
        m_hashed.insert(key);
        return true;
    }

private:
    static constexpr qsizetype kInPlace = 16;
    qsizetype m_block = -1;
    QVarLengthArray<QStringView, kInPlace> m_names;
    QSet<QString> m_hashed;
};

// A line as [start, end) without the CR of a CR LF line end, with the position of its first "="
// (or -1).
struct Line {
    qsizetype start;
    qsizetype end;
    qsizetype eq;
    QStringView view(const char16_t* t) const { return QStringView(t + start, end - start); }
};
using Lines = QVarLengthArray<Line, 64>;

// The lines of a text of `size` characters, the last one possibly empty.
void splitLines(const char16_t* text, qsizetype size, Lines& lines) {
    for (qsizetype start = 0;;) {
        const qsizetype end = findLineEnd(text, start, size);
        const qsizetype stop = end > start && text[end - 1] == u'\r' ? end - 1 : end;
        qsizetype eq = start;
        while (eq < stop && text[eq] != u'=') {
            ++eq;
        }
        lines.append(Line{start, stop, eq < stop ? eq - start : -1});
        if (end == size) {
            break;
        }
        start = end + 1;
    }
}

// The first line at or after `from` that is not blank, or the number of lines.
qsizetype nextNonBlank(const char16_t* text, const Lines& lines, qsizetype from) {
    while (from < lines.size() && isBlank(lines[from].view(text))) {
        ++from;
    }
    return from;
}

// The name of an item line, without the blanks around it; the "=" at `eq` stops the first scan.
QStringView itemName(const char16_t* line, qsizetype eq) {
    qsizetype from = 0;
    while (isLayoutBlank(line[from])) {
        ++from;
    }
    qsizetype to = eq;
    while (to > from && isLayoutBlank(line[to - 1])) {
        --to;
    }
    return QStringView(line + from, to - from);
}

}  // namespace

// Steps, as the reports number them: 5 a block's "}" and the name after it, 6 an item or header
// line, 7 moving to the next line.
void XapMessage::parse() {
    const char16_t* text = reinterpret_cast<const char16_t*>(m_text.constData());
    const qsizetype size = m_text.size();
    if (size == 0) {
        return;
    }
    Lines lines;
    splitLines(text, size, lines);
    // Blank lines before the header and after a "}", and blanks around braces and names, are
    // what some senders write around the text proper.
    const qsizetype last = lines.size() - 1;
    const qsizetype header = std::min(nextNonBlank(text, lines, 0), last);
    if (!namesHeader(lines[header].view(text))) {
        return;
    }
    auto fail = [this](int step, QString description) {
        m_fault = ReadFault{step, std::move(description)};
    };
    qsizetype block = -1;
    ItemNames blockNames;
    ItemNames blockNamesSeen;
    for (qsizetype i = header + 2; i <= last; ++i) {
        const Line& l = lines[i];
        const QStringView line = l.view(text);
        if (l.eq < 0) {
            if (!closesBlock(line)) {
                continue;
            }
            ++block;
            if (i >= kLastLineNumber) {
                return fail(5, QStringLiteral("Overflow"));
            }
            i = nextNonBlank(text, lines, i + 1);
            if (i > last) {
                // The final "}": what follows it is the unnamed block that ends the text.
                m_blocks.append(Block{QStringView()});
                return;
            }
            const QStringView name = trimLayout(lines[i].view(text));
            if (!blockNamesSeen.add(0, name)) {
                return fail(5, QStringLiteral("Duplicate section name: ") + lowered(name));
            }
            m_blocks.append(Block{name});
        } else if (const QStringView name = itemName(text + l.start, l.eq); block >= 0) {
            if (!blockNames.add(block, name)) {
                return fail(6, QStringLiteral("Duplicate item name: ") + lowered(name));
            }
            // The item's line starts at its name: an indent is layout.
            const qsizetype from = name.utf16() - (text + l.start);
            m_items.append(Item{block, name, QStringView(name.utf16(), l.end - l.start - from),
                                l.eq + 1 - from});
        } else {
            setHeaderField(name, trimLayout(line.sliced(l.eq + 1)));
        }
        if (i >= kLastLineNumber) {
            return fail(7, QStringLiteral("Overflow"));
        }
    }
    m_cutOff = true;
}

void XapMessage::setHeaderField(QStringView name, QStringView value) {
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
