#include "HeaderRules.h"

#include <QStringList>
#include <algorithm>

namespace {

bool isHex(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool allHex(QStringView s) {
    return std::all_of(s.begin(), s.end(), isHex);
}

// A part may hold what hubs and receivers match on safely: no blanks or control characters
// (they end the header line or split its name), no "=", braces or wildcards.
std::optional<QString> partProblem(QStringView part) {
    if (part.isEmpty()) {
        return QStringLiteral("a part between dots is empty");
    }
    for (QChar c : part) {
        if (c == u'*' || c == u'>') {
            return QStringLiteral("wildcards (* and >) belong in targets only");
        }
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == u'=' || c == u'{' || c == u'}') {
            return QStringLiteral("it holds a blank, a control character, '=', '{' or '}'");
        }
    }
    return std::nullopt;
}

std::optional<QString> partsProblem(const QStringList& parts) {
    for (const QString& part : parts) {
        if (auto p = partProblem(part)) {
            return p;
        }
    }
    return std::nullopt;
}

}  // namespace

namespace HeaderRules {

std::optional<QString> classProblem(const QString& text) {
    const QStringList parts = text.split(u'.');
    if (parts.size() != 2) {
        return QStringLiteral("a class has two parts, SCHEMA.TYPE (such as Homeseer.Event)");
    }
    return partsProblem(parts);
}

std::optional<QString> sourceProblem(const QString& text) {
    // The instance may end in a sub-address, after a colon, which may hold dots of its own.
    const qsizetype colon = text.indexOf(u':');
    const QStringList parts = (colon < 0 ? text : text.left(colon)).split(u'.');
    if (parts.size() < 3) {
        return QStringLiteral(
            "a source has at least three parts, vendor.device.instance (such "
            "as zel.xapsend.myhost)");
    }
    if (auto p = partsProblem(parts)) {
        return p;
    }
    if (colon >= 0) {
        return partsProblem(text.mid(colon + 1).split(u'.'));
    }
    return std::nullopt;
}

std::optional<QString> uidProblem(const QString& text) {
    if (text.size() == 8 && allHex(text)) {
        return std::nullopt;
    }
    const QString rule = QStringLiteral(
        "a uid is NN.DDDD:SS in hex digits (such as FF.00AB:00): "
        "two, then four to six, then two to four");
    const qsizetype dot = text.indexOf(u'.');
    const qsizetype colon = text.indexOf(u':');
    if (dot != 2 || colon < dot) {
        return rule;
    }
    const QStringView network = QStringView(text).left(dot);
    const QStringView device = QStringView(text).sliced(dot + 1, colon - dot - 1);
    const QStringView sub = QStringView(text).sliced(colon + 1);
    if (!allHex(network) || !allHex(device) || !allHex(sub) || device.size() < 4 ||
        device.size() > 6 || sub.size() < 2 || sub.size() > 4) {
        return rule;
    }
    return std::nullopt;
}

}  // namespace HeaderRules
