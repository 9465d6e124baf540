#pragma once

#include <QString>

// Which stored events a history query returns: those after `since` ("yyyy-MM-dd HH:mm:ss")
// whose source, type and data each contain the filter's text (an empty filter takes all; "%" and
// "_" in a filter are wildcards of the database's LIKE). Oldest first.
struct HistoryFilter {
    QString since;
    QString source;
    QString type;
    QString data;
};
