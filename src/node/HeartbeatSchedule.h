#pragma once

#include <QtGlobal>

// When the node's heartbeats go out. One every interval, the interval they announce, so the hubs
// keep forwarding; and one whenever nothing has come through the hub for a quiet spell. A hub
// forwards to the node only once it has heard a heartbeat, and forwards every datagram to it,
// the node's own heartbeats included: silence on the hub's side may be a restarted hub that does
// not know the node yet, and the early heartbeat makes it known within the quiet spell instead
// of the interval. Until the first thing comes through at all, the early heartbeats come every
// second for the first half minute: at boot, or when an upgrade restarts both, the hub may start
// listening just after the node's first heartbeat, and a device's events in between would be
// lost. Times are milliseconds on one monotonic clock.
class HeartbeatSchedule {
public:
    static constexpr qint64 kQuietMs = 10000;
    static constexpr qint64 kSearchMs = 1000;
    static constexpr qint64 kSearchPeriodMs = 30000;

    explicit HeartbeatSchedule(qint64 intervalMs, qint64 quietMs = kQuietMs)
        : m_intervalMs(intervalMs), m_quietMs(quietMs) {}

    // 0 stops the heartbeats.
    void setInterval(qint64 ms) { m_intervalMs = ms; }
    qint64 intervalMs() const { return m_intervalMs; }

    void sent(qint64 now);
    // Something came through the hub.
    void heard(qint64 now);

    // When the next heartbeat is due; -1 when they are stopped.
    qint64 due() const;

private:
    qint64 m_intervalMs;
    qint64 m_quietMs;
    qint64 m_lastSent = 0;
    qint64 m_lastHeard = 0;
    qint64 m_firstSent = -1;
    bool m_heardAny = false;
};
