#include "message/XapMessage.h"

#include <QStringView>
#include <QVarLengthArray>

#include "message/AsciiCase.h"
#include "message/SpaceTrim.h"

#include "support/Failure.h"
#include "support/Reporting.h"

namespace {

// Line and section numbers of the wire format are 16-bit signed counters.
constexpr qsizetype kLastLineNumber = 32767;

const QString kUnknownText = QStringLiteral("Unknown");
const QString kLF = QStringLiteral("\n");

}  // namespace

XapMessage::XapMessage(Reporting& reporting)
    : m_reporting(reporting),
      m_class(kUnknownText),
      m_target(kUnknownText),
      m_source(kUnknownText),
      m_uid(kUnknownText) {}

// Steps, as numbered in the pending error: 1 empty text, 2 split, 3 header name test,
// 4 start, 5 section line ("}" and the name after it), 6 item or header line, 7 advance.
int XapMessage::FromXap(const QString& sRawMessage) {
    int step = 1;
    try {
        if (sRawMessage.isEmpty()) {
            return 0;
        }
        step = 2;
        QVarLengthArray<QStringView, 64> lines;
        for (qsizetype from = 0;;) {
            const qsizetype lf = sRawMessage.indexOf(u'\n', from);
            if (lf < 0) {
                lines.append(QStringView(sRawMessage).sliced(from));
                break;
            }
            lines.append(QStringView(sRawMessage).sliced(from, lf - from));
            from = lf + 1;
        }
        step = 3;
        if (!lines[0].contains(u"xap-header", Qt::CaseInsensitive)) {
            return 0;
        }
        step = 4;
        int section = -1;
        qsizetype i = 2;
        const qsizetype last = lines.size() - 1;
        while (i <= last) {
            const QStringView line = lines[i];
            if (line == u"}") {
                step = 5;
                ++section;
                if (i >= kLastLineNumber) {
                    throw Failure(ErrorNumber::Message, QStringLiteral("Overflow"));
                }
                ++i;
                if (i > last) {
                    throw Failure(ErrorNumber::Message, QStringLiteral("Subscript out of range"));
                }
                const QString name = lowered(lines[i]);
                if (!m_sectionIndex.add(name, section)) {
                    throw Failure(ErrorNumber::Message,
                                  QStringLiteral("Duplicate section name: ") + name);
                }
                m_sectionItems.append(ItemLines(CaseRule::Insensitive));
                m_hasSections = true;
            } else {
                step = 6;
                const qsizetype eq = line.indexOf(u'=');
                if (eq >= 0) {
                    const QStringView keyView = trimSpaces(line.first(eq));
                    if (section >= 0) {
                        const QString key = lowered(keyView);
                        if (!m_sectionItems[section].add(key, line.toString())) {
                            throw Failure(ErrorNumber::Message,
                                          QStringLiteral("Duplicate item name: ") + key);
                        }
                    } else {
                        auto is = [keyView](QStringView name) {
                            return equalsIgnoringCase(keyView, name);
                        };
                        QString* field = is(u"uid")      ? &m_uid
                                         : is(u"class")  ? &m_class
                                         : is(u"source") ? &m_source
                                         : is(u"target") ? &m_target
                                                         : nullptr;
                        if (field != nullptr) {
                            *field = trimSpaces(line.sliced(eq + 1)).toString();
                        }
                    }
                }
            }
            step = 7;
            if (i >= kLastLineNumber) {
                throw Failure(ErrorNumber::Message, QStringLiteral("Overflow"));
            }
            ++i;
        }
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, step);
        m_reporting.WriteErrorLog(QStringLiteral("From XAP"), QString());
    }
    return 0;
}

QString XapMessage::GetItem(const QString& sSection, const QString& sItem) {
    try {
        const int* number = m_sectionIndex.find(sSection);
        if (number == nullptr) {
            return kUnknownText;
        }
        const QString* line = m_sectionItems[*number].find(sItem);
        if (line == nullptr) {
            return kUnknownText;
        }
        return line->mid(line->indexOf(u'=') + 1);
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, 1);
        m_reporting.WriteErrorLog(QStringLiteral("GetItem"), QString());
        return QString();
    }
}

QList<QString> XapMessage::msgSection() const {
    if (m_sectionIndex.isEmpty()) {
        return {QString()};
    }
    QList<QString> names = m_sectionIndex.keys();
    names.removeLast();
    return names;
}

const XapMessage::ItemLines* XapMessage::msgCollection(int index) const {
    if (index < 0 || index >= m_sectionItems.size()) {
        return nullptr;
    }
    return &m_sectionItems[index];
}

FastString& XapMessage::builder() {
    if (!m_builder) {
        m_builder = std::make_unique<FastString>();
    }
    return *m_builder;
}

int XapMessage::AddHeader() {
    builder().Add(m_headerPrefix);
    builder().Add(QStringLiteral("class="));
    builder().Add(m_class);
    builder().Add(kLF);
    builder().Add(QStringLiteral("source="));
    builder().Add(m_source);
    builder().Add(kLF);
    if (!m_target.isEmpty()) {
        builder().Add(QStringLiteral("target="));
        builder().Add(m_target);
        builder().Add(kLF);
    }
    builder().Add(QStringLiteral("}\n"));
    m_sectionOpen = false;
    return 0;
}

int XapMessage::AddSection(const QString& sSection) {
    if (m_sectionOpen) {
        builder().Add(QStringLiteral("}\n"));
    }
    builder().Add(sSection);
    builder().Add(QStringLiteral("\n{\n"));
    m_sectionOpen = true;
    return 0;
}

int XapMessage::AddItem(const QString& /*sSection*/, const QString& sItem, const QString& sValue) {
    builder().Add(sItem);
    builder().Add(QStringLiteral("="));
    builder().Add(sValue);
    builder().Add(kLF);
    return 0;
}

QString XapMessage::ToXap() const {
    return (m_builder ? m_builder->Value() : QString()) + QStringLiteral("}\n");
}

int XapMessage::Init(const QString& /*sMessage*/) {
    builder().Reset();
    return 0;
}

bool XapMessage::CompareAddress(const QString& sItem1, const QString& sItem2) {
    try {
        if (sItem1.isEmpty() || sItem2.isEmpty()) {
            return false;
        }
        const QString a1 = sItem1.toLower();
        const QString a2 = sItem2.toLower();
        const QList<QStringView> p1 = QStringView(a1).split(u'.');
        const QList<QStringView> p2 = QStringView(a2).split(u'.');
        const qsizetype l1 = p1.size() - 1;
        const qsizetype l2 = p2.size() - 1;
        const qsizetype limit = l2 < l1 ? l2 : l1;
        const bool lengthVerdict = l2 == l1;
        for (qsizetype i = 0; i <= limit; ++i) {
            if (p1[i] == u">" || p2[i] == u">") {
                return true;
            }
            if (p1[i] != u"*" && p2[i] != u"*" && p1[i] != p2[i]) {
                return false;
            }
        }
        return lengthVerdict;
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, 1);
        m_reporting.WriteErrorLog(QStringLiteral("Message CompareAddress"), QString());
        return false;
    }
}

bool XapMessage::CompareClass(const QString& sClass) const {
    return equalsIgnoringCase(sClass, m_class);
}

bool XapMessage::CompareSource(const QString& sSource) {
    return CompareAddress(sSource, m_source);
}

bool XapMessage::CompareTarget(const QString& sTarget) {
    return CompareAddress(sTarget, m_target);
}
