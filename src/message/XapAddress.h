#pragma once

#include <QStringView>

// xAP address matching: addresses are dot-separated parts compared without regard to case; "*"
// in either address matches any one part, ">" matches the rest of the address. Without ">", both
// must have the same number of parts. An empty address matches nothing.
namespace XapAddress {

bool matches(QStringView a, QStringView b);

}  // namespace XapAddress
