// The address matchers: two addresses from one input (split at the first newline). Matching is
// symmetric, an address matches itself, a wildcard in place of a part still matches, and an
// address with four parts admits itself as an interface pattern.
#include "FuzzInput.h"
#include "message/XapAddress.h"
#include "node/XapNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [a, b] = FuzzInput::split(FuzzInput::text(data, size));
    if (XapAddress::matches(a, b) != XapAddress::matches(b, a)) {
        FuzzInput::fail("address matching is symmetric", a + u'\n' + b);
    }
    if (!a.isEmpty()) {
        if (!XapAddress::matches(a, a)) {
            FuzzInput::fail("an address matches itself", a);
        }
        const qsizetype dot = a.indexOf(u'.');
        const QString starred = u'*' + (dot < 0 ? QString() : a.mid(dot));
        if (!XapAddress::matches(starred, a)) {
            FuzzInput::fail("a wildcard matches any one part", a + u'\n' + starred);
        }
        if (dot >= 0 && !XapAddress::matches(QString(a.left(dot) + u".>"), a)) {
            FuzzInput::fail("\">\" matches the rest of the address", a);
        }
    }
    XapNode::addressMatchesPattern(a, b);
    if (XapNode::addressMatchesPattern(a, a) != (a.count(u'.') == 3)) {
        FuzzInput::fail("an address of four parts, and only such, admits itself", a);
    }
    return 0;
}
