#pragma once

#include <QString>

// The four texts of one outgoing xAP message held back until the node can send: target, class,
// section name and the encoded item list. The record does not interpret them.
class xapQueuedMessage {
public:
    const QString& msgTarget() const { return m_target; }
    void setMsgTarget(const QString& s) { m_target = s; }
    const QString& msgClass() const { return m_class; }
    void setMsgClass(const QString& s) { m_class = s; }
    const QString& msgSection() const { return m_section; }
    void setMsgSection(const QString& s) { m_section = s; }
    const QString& MsgData() const { return m_data; }
    void setMsgData(const QString& s) { m_data = s; }

private:
    QString m_target;
    QString m_class;
    QString m_section;
    QString m_data;
};
