#pragma once

#include <QList>
#include <QString>
#include <memory>

#include "message/FastString.h"
#include "message/OrderedMap.h"

class Reporting;

// One xAP message, used either as a parser (FromXap once, then reads and address matching) or
// as a builder (set the header fields, AddHeader, AddSection, AddItem, ToXap). The parsed form
// and the built text are kept apart: ToXap returns only what was built.
class XapMessage {
public:
    using ItemLines = OrderedMap<QString>;

    explicit XapMessage(Reporting& reporting);

    // --- parsing ---
    int FromXap(const QString& sRawMessage);
    QString GetItem(const QString& sSection, const QString& sItem);
    QList<QString> msgSection() const;
    // Raw item lines of section number `index` (0 = first), or nullptr when out of range.
    const ItemLines* msgCollection(int index) const;

    // --- header fields ---
    const QString& msgClass() const { return m_class; }
    void setMsgClass(const QString& s) { m_class = s; }
    const QString& msgSource() const { return m_source; }
    void setMsgSource(const QString& s) { m_source = s; }
    const QString& msgTarget() const { return m_target; }
    void setMsgTarget(const QString& s) { m_target = s; }
    const QString& msgUID() const { return m_uid; }
    void setMsgUID(const QString& s) { m_uid = s; }

    // --- building ---
    // The node's header prefix (name, "{", version, hop and uid lines); empty until the node
    // has a UID, in which case AddHeader starts directly with the class line.
    void setHeaderPrefix(const QString& prefix) { m_headerPrefix = prefix; }
    int AddHeader();
    int AddSection(const QString& sSection);
    int AddItem(const QString& sSection, const QString& sItem, const QString& sValue);
    QString ToXap() const;
    int Init(const QString& sMessage);
    void Reset() {}

    // --- matching ---
    bool CompareAddress(const QString& sItem1, const QString& sItem2);
    bool CompareClass(const QString& sClass) const;
    bool CompareSource(const QString& sSource);
    bool CompareTarget(const QString& sTarget);

private:
    Reporting& m_reporting;
    QString m_class;
    QString m_target;
    QString m_source;
    QString m_uid;
    QString m_headerPrefix;
    FastString& builder();

    std::unique_ptr<FastString> m_builder;  // made on first use: parsing needs none
    QList<ItemLines> m_sectionItems;
    // Names are stored lower-cased; a lookup matches them without regard to case.
    OrderedMap<int> m_sectionIndex{CaseRule::Insensitive};
    bool m_sectionOpen = false;
    bool m_hasSections = false;
};
