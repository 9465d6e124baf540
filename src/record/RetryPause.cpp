#include "record/RetryPause.h"

#include <algorithm>

int RetryPause::failed(qint64 attemptMs) {
    const int longest = attemptMs < kCheapAttemptMs ? kLongestCheapMs : kLongestMs;
    m_ms = std::min(m_ms * 2, longest);
    return m_ms;
}
