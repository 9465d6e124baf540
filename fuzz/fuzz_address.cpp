// The address matcher: two addresses from one input (split at the first newline). Matching is
// symmetric and an address without wildcards matches itself.
#include "FuzzInput.h"
#include "message/XapMessage.h"
#include "node/XapNode.h"
#include "support/Reporting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [a, b] = FuzzInput::split(FuzzInput::text(data, size));
    MemoryReporting reporting;
    XapMessage m(reporting);
    if (m.CompareAddress(a, b) != m.CompareAddress(b, a)) {
        FuzzInput::fail("address matching is symmetric", a + u'\n' + b);
    }
    if (!a.isEmpty() && !m.CompareAddress(a, a)) {
        FuzzInput::fail("an address matches itself", a);
    }
    XapNode::IPMatchesInterface(a, b);
    return 0;
}
