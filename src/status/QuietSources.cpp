#include "status/QuietSources.h"

#include <algorithm>

namespace {

constexpr qint64 kForgetMs = qint64(QuietSources::kForgetDays) * 24 * 3600 * 1000;

}  // namespace

qint64 QuietSources::usualGap(const Source& s) {
    const int kept = std::min(s.gapCount, kGapsKept);
    std::array<qint64, kGapsKept> sorted = s.gaps;
    std::nth_element(sorted.begin(), sorted.begin() + kept / 2, sorted.begin() + kept);
    return sorted[size_t(kept / 2)];
}

void QuietSources::makeRoom(qint64 nowMs) {
    m_sources.removeIf([nowMs](const auto& item) {
        const Source& s = item.value();
        return s.gapCount < kGapsNeeded || nowMs - s.lastHeardMs > kForgetMs;
    });
    if (m_sources.size() >= kMaxSources) {
        const auto oldest = std::min_element(
            m_sources.begin(), m_sources.end(),
            [](const auto& a, const auto& b) { return a.lastHeardMs < b.lastHeardMs; });
        m_sources.erase(oldest);
    }
}

void QuietSources::heard(const QList<QString>& sources, qint64 nowMs) {
    const std::lock_guard hold(m_lock);
    m_lastHeardMs = nowMs;
    const QString* previous = nullptr;
    for (const QString& name : sources) {
        // A pass often holds many events of one source in a row: one look-up for them.
        if (previous != nullptr && *previous == name) {
            continue;
        }
        previous = &name;
        const QString key = name.toLower();
        auto it = m_sources.find(key);
        if (it == m_sources.end()) {
            if (m_sources.size() >= kMaxSources) {
                makeRoom(nowMs);
            }
            m_sources.insert(key, Source{name, nowMs});
            continue;
        }
        Source& s = *it;
        const qint64 gap = nowMs - s.lastHeardMs;
        if (gap >= kBurstMs) {
            s.gaps[size_t(s.nextGap)] = gap;
            s.nextGap = (s.nextGap + 1) % kGapsKept;
            s.gapCount = std::min(s.gapCount + 1, kGapsKept);
        }
        s.name = name;
        s.lastHeardMs = nowMs;
    }
}

QList<QuietSources::Quiet> QuietSources::quiet(qint64 nowMs) const {
    QList<Quiet> found;
    {
        const std::lock_guard hold(m_lock);
        for (const Source& s : m_sources) {
            if (s.gapCount < kGapsNeeded) {
                continue;
            }
            const qint64 silent = nowMs - s.lastHeardMs;
            const qint64 usual = usualGap(s);
            if (silent > std::max(kQuietFactor * usual, m_minQuietMs) && silent <= kForgetMs) {
                found.append(Quiet{s.name, s.lastHeardMs, usual});
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const Quiet& a, const Quiet& b) {
        return a.lastHeardMs != b.lastHeardMs ? a.lastHeardMs > b.lastHeardMs : a.source < b.source;
    });
    return found;
}

std::optional<qint64> QuietSources::lastHeardMs() const {
    const std::lock_guard hold(m_lock);
    return m_lastHeardMs;
}
