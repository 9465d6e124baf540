#pragma once

#include <QString>

#include "store/LogEvent.h"

namespace EventTip {

// The whole event as a tooltip shows it, line breaks and all, however narrow its row: received
// text is shown as it came, never read as markup.
inline QString of(const LogEvent& event) {
    const QString text =
        event.time + u"  " + event.source + u"\nType: " + event.type + u"\n\n" + event.data;
    return QStringLiteral("<div style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
           QStringLiteral("</div>");
}

}  // namespace EventTip
