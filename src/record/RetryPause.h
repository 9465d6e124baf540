#pragma once

#include <QtGlobal>

// How long a drainer waits before it tries the database again. The first pause is short, and
// each failed attempt doubles it: up to half a second while attempts fail at once (a locked
// file, a server whose provider waits out its own pause; they cost nothing, and the spool is
// written soon after the database takes writes again), up to 30 s while they take time (a
// connection that timed out held the writer all that while).
class RetryPause {
public:
    static constexpr int kFirstMs = 250;
    static constexpr int kLongestCheapMs = 500;
    static constexpr int kLongestMs = 30000;
    // An attempt that failed within this time cost nothing.
    static constexpr int kCheapAttemptMs = 100;

    int ms() const { return m_ms; }
    // An attempt that took `attemptMs` failed: the pause before the next one.
    int failed(qint64 attemptMs);
    void reset() { m_ms = kFirstMs; }

private:
    int m_ms = kFirstMs;
};
