#include "node/HeartbeatSchedule.h"

#include <algorithm>

void HeartbeatSchedule::sent(qint64 now) {
    m_lastSent = now;
    if (m_firstSent < 0) {
        m_firstSent = now;
    }
}

void HeartbeatSchedule::heard(qint64 now) {
    m_lastHeard = now;
    m_heardAny = true;
}

qint64 HeartbeatSchedule::due() const {
    if (m_intervalMs <= 0) {
        return -1;
    }
    if (!m_heardAny && m_firstSent >= 0 && m_lastSent - m_firstSent < kSearchPeriodMs) {
        return std::min(m_lastSent + m_intervalMs, m_lastSent + kSearchMs);
    }
    // Quiet is counted from the last heartbeat too: its own return through the hub is the answer
    // awaited, and without one the early heartbeats repeat once per quiet spell, not at once.
    return std::min(m_lastSent + m_intervalMs, std::max(m_lastSent, m_lastHeard) + m_quietMs);
}
