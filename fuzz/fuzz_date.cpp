// The date reader: the fast path and the full reader agree on every text, in both day orders,
// and what they write reads back as itself.
#include "FuzzInput.h"
#include "support/DateText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    for (const auto order : {DateText::Order::MonthFirst, DateText::Order::DayFirst}) {
        const auto fast = DateText::normalize(text, order);
        const auto full = DateText::read(text, order);
        if (fast.has_value() != full.has_value()) {
            FuzzInput::fail("normalize and read accept the same texts", text);
        }
        if (!fast) {
            continue;
        }
        if (*fast != DateText::isoText(*full)) {
            FuzzInput::fail("normalize writes what read found", text + u" -> " + *fast);
        }
        if (fast->size() != 19 ||
            !QDate::fromString(fast->left(10), QStringLiteral("yyyy-MM-dd")).isValid() ||
            !QTime::fromString(fast->mid(11), QStringLiteral("HH:mm:ss")).isValid()) {
            FuzzInput::fail("only real dates and times are written", text + u" -> " + *fast);
        }
        if (DateText::normalize(*fast, order) != fast) {
            FuzzInput::fail("a written date reads back as itself", *fast);
        }
    }
    return 0;
}
