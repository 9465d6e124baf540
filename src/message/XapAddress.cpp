#include "message/XapAddress.h"

#include "message/AsciiCase.h"

namespace XapAddress {

namespace {

// The part of `text` from `at` to the next "." (or the end); `at` moves past the ".".
QStringView nextPart(QStringView text, qsizetype& at) {
    const qsizetype dot = text.indexOf(u'.', at);
    const qsizetype end = dot < 0 ? text.size() : dot;
    const QStringView part = text.sliced(at, end - at);
    at = dot < 0 ? text.size() + 1 : dot + 1;
    return part;
}

}  // namespace

bool matches(QStringView a, QStringView b) {
    if (a.isEmpty() || b.isEmpty()) {
        return false;
    }
    qsizetype i = 0;
    qsizetype j = 0;
    while (i <= a.size() && j <= b.size()) {
        const QStringView p = nextPart(a, i);
        const QStringView q = nextPart(b, j);
        if (p == u">" || q == u">") {
            return true;
        }
        if (p != u"*" && q != u"*" && !equalsIgnoringCase(p, q)) {
            return false;
        }
    }
    // Equal only when both ran out of parts together.
    return i > a.size() && j > b.size();
}

}  // namespace XapAddress
