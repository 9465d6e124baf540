#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include "SeenMessage.h"

// What the snoop saw while it ran, for the summary it prints at the end: datagrams received, and
// those shown by class and by source.
class TrafficCounts {
public:
    void received() { ++m_received; }
    void shown(const SeenMessage& seen);

    qint64 shownCount() const { return m_shown; }
    // "N received, M shown", then one line per class and per source, most frequent first.
    QByteArray report() const;

private:
    qint64 m_received = 0;
    qint64 m_shown = 0;
    QMap<QString, qint64> m_byClass;
    QMap<QString, qint64> m_bySource;
};
