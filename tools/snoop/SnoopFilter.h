#pragma once

#include <QString>

#include "SeenMessage.h"

// Which datagrams the snoop shows: class, source and target patterns with xAP wildcards ("*" one
// part, ">" the rest), each ignored when empty. Heartbeats only with `heartbeats` or a class
// pattern that names them; texts that are not xAP only when no pattern is set.
struct SnoopFilter {
    QString classPattern;
    QString sourcePattern;
    QString targetPattern;
    bool heartbeats = false;

    bool passes(const SeenMessage& seen) const;
};
