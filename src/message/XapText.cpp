#include "message/XapText.h"

namespace XapText {

QString message(const XapHeader& header, const QString& block, const QList<XapItem>& items) {
    QString out;
    qsizetype size = 96 + header.uid.size() + header.className.size() + header.source.size() +
                     header.target.size() + block.size();
    for (const XapItem& it : items) {
        size += it.name.size() + it.value.size() + 2;
    }
    out.reserve(size);
    if (!header.uid.isEmpty()) {
        out += QStringLiteral("xap-header\n{\nv=13\nhop=1\nuid=") + header.uid + u'\n';
    }
    out += QStringLiteral("class=") + header.className + QStringLiteral("\nsource=") +
           header.source + u'\n';
    if (!header.target.isEmpty()) {
        out += QStringLiteral("target=") + header.target + u'\n';
    }
    out += QStringLiteral("}\n") + block + QStringLiteral("\n{\n");
    for (const XapItem& it : items) {
        out += it.name + u'=' + it.value + u'\n';
    }
    out += QStringLiteral("}\n");
    return out;
}

QString itemsLine(const QList<XapItem>& items) {
    QString out;
    for (const XapItem& it : items) {
        if (!out.isEmpty()) {
            out += u'|';
        }
        out += it.name + u'=' + it.value;
    }
    return out;
}

}  // namespace XapText
