#include "node/HeartbeatSchedule.h"

#include <algorithm>

qint64 HeartbeatSchedule::due() const {
    if (m_intervalMs <= 0) {
        return -1;
    }
    // Quiet is counted from the last heartbeat too: its own return through the hub is the answer
    // awaited, and without one the early heartbeats repeat once per quiet spell, not at once.
    return std::min(m_lastSent + m_intervalMs, std::max(m_lastSent, m_lastHeard) + m_quietMs);
}
