#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <array>
#include <mutex>
#include <optional>

// Which sources of events went quiet: for each source, when it was last heard and its usual
// spacing (the median of its last gaps). A source is quiet once it has been silent for
// kQuietFactor times its usual spacing and at least the minimum given, and it stays listed until
// it is heard again or has been silent for kForgetDays. Fed by the recorder as it takes events and
// read by the status from any thread; the receiver never touches it. Times are milliseconds since
// the epoch, given by the caller.
class QuietSources {
public:
    static constexpr int kQuietFactor = 5;
    static constexpr qint64 kDefaultMinQuietMs = 10 * 60 * 1000;
    // Events of a source closer together than this are one burst: they make no gap.
    static constexpr qint64 kBurstMs = 1000;
    // A source's spacing is known once it has this many gaps; the median of the last kGapsKept.
    static constexpr int kGapsNeeded = 3;
    static constexpr int kGapsKept = 7;
    static constexpr int kForgetDays = 7;
    // Sources are whatever the network's texts say: a flood of new names pushes out first those
    // whose spacing is not known yet, and only then the ones silent longest.
    static constexpr qsizetype kMaxSources = 1000;

    explicit QuietSources(qint64 minQuietMs = kDefaultMinQuietMs) : m_minQuietMs(minQuietMs) {}

    // The sources of one pass of events, heard at `nowMs` (a source may be named many times).
    void heard(const QList<QString>& sources, qint64 nowMs);

    struct Quiet {
        QString source;
        qint64 lastHeardMs = 0;
        qint64 usualGapMs = 0;
    };
    // The quiet sources at `nowMs`, the one heard most recently first.
    QList<Quiet> quiet(qint64 nowMs) const;
    // When any source was last heard; nothing while none has been.
    std::optional<qint64> lastHeardMs() const;

private:
    struct Source {
        QString name;  // as last heard; the key is in lower case, as xAP addresses are
        qint64 lastHeardMs = 0;
        std::array<qint64, kGapsKept> gaps{};
        int gapCount = 0;  // gaps kept, up to kGapsKept
        int nextGap = 0;   // where the next gap goes
    };
    static qint64 usualGap(const Source& s);
    void makeRoom(qint64 nowMs);

    const qint64 m_minQuietMs;
    mutable std::mutex m_lock;
    QHash<QString, Source> m_sources;
    std::optional<qint64> m_lastHeardMs;
};
