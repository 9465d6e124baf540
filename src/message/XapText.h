#pragma once

#include <QList>
#include <QString>

// Building the text of an outgoing xAP message of one block:
//   xap-header { v=13 hop=1 uid= class= source= [target=] } BLOCK { NAME=VALUE ... }
// one item per line. Without a UID the header starts directly with the class line.
struct XapItem {
    QString name;
    QString value;
    bool operator==(const XapItem&) const = default;
};

struct XapHeader {
    QString uid;
    QString className;
    QString source;
    QString target;  // empty: no target line
};

namespace XapText {

QString message(const XapHeader& header, const QString& block, const QList<XapItem>& items);

// The items as one readable line, "Name=Value|Name=Value", for reports about a message.
QString itemsLine(const QList<XapItem>& items);

}  // namespace XapText
