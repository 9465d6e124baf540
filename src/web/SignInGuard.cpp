#include "web/SignInGuard.h"

#include <algorithm>

namespace {

constexpr qint64 kLockoutMillis = qint64(SignInGuard::kLockoutMinutes) * 60'000;
constexpr qint64 kMinuteMillis = 60'000;

QByteArray addressLane(const QHostAddress& address) {
    return "a:" + address.toString().toLatin1();
}

int secondsUntil(qint64 whenMs, qint64 nowMs) {
    return int(std::max<qint64>((whenMs - nowMs + 999) / 1000, 1));
}

}  // namespace

SignInGuard::Lane* SignInGuard::unlocked(const QByteArray& key, qint64 nowMs) {
    Lane& lane = m_lanes[key];
    if (lane.lockedUntil != 0 && lane.lockedUntil <= nowMs) {
        lane = Lane{};
    }
    return lane.lockedUntil > nowMs ? nullptr : &lane;
}

void SignInGuard::fail(Lane& lane, const QHostAddress& address, bool refused, qint64 nowMs) {
    if (lane.lockedUntil <= nowMs) {
        ++lane.failures;
        // The late answer to a wrong password is the wait after the first failure.
        lane.notBefore =
            lane.failures < 2
                ? nowMs
                : nowMs + std::min(1000 << std::min(lane.failures - 2, 5), kMaxDelayMillis);
        if (lane.failures >= kLockoutFailures) {
            lane.lockedUntil = nowMs + kLockoutMillis;
        }
    }
    const QString name = address.toString();
    Untold& told =
        m_untold.contains(name) || m_untold.size() < kMaxLanes ? m_untold[name] : m_others;
    if (told.failures == 0) {
        told.first = nowMs;
    }
    ++told.failures;
    told.refused += refused ? 1 : 0;
    told.last = nowMs;
}

SignInGuard::Admission SignInGuard::refuse(Lane& lane, const QHostAddress& address, Verdict verdict,
                                           qint64 nowMs) {
    fail(lane, address, true, nowMs);
    if (lane.lockedUntil > nowMs) {
        return {Verdict::LockedOut, secondsUntil(lane.lockedUntil, nowMs), false, {}, address};
    }
    return {
        verdict, secondsUntil(std::max(lane.notBefore, nowMs + 1000), nowMs), false, {}, address};
}

SignInGuard::Admission SignInGuard::admit(const QHostAddress& address, const QByteArray& device,
                                          qint64 nowMs) {
    if (m_lanes.size() >= kMaxLanes) {
        forgetSome(nowMs);
    }
    if (!device.isEmpty()) {
        const QByteArray key = "d:" + device;
        if (Lane* d = unlocked(key, nowMs)) {
            if (d->inFlight) {
                return refuse(*d, address, Verdict::Busy, nowMs);
            }
            if (d->notBefore > nowMs) {
                return refuse(*d, address, Verdict::TooSoon, nowMs);
            }
            d->inFlight = true;
            return {Verdict::Check, 0, true, key, address};
        }
    }
    const QByteArray key = addressLane(address);
    Lane* a = unlocked(key, nowMs);
    if (a == nullptr) {
        return refuse(m_lanes[key], address, Verdict::LockedOut, nowMs);
    }
    if (a->inFlight) {
        return refuse(*a, address, Verdict::Busy, nowMs);
    }
    if (a->notBefore > nowMs) {
        return refuse(*a, address, Verdict::TooSoon, nowMs);
    }
    m_untrustedStarts.removeIf([nowMs](qint64 start) { return nowMs - start >= kMinuteMillis; });
    if (m_untrustedInFlight >= kMaxChecks || m_untrustedStarts.size() >= kChecksPerMinute) {
        return refuse(*a, address, Verdict::Full, nowMs);
    }
    a->inFlight = true;
    ++m_untrustedInFlight;
    m_untrustedStarts.append(nowMs);
    return {Verdict::Check, 0, false, key, address};
}

void SignInGuard::checked(const Admission& admitted, bool passed, qint64 nowMs) {
    auto it = m_lanes.find(admitted.lane);
    if (it == m_lanes.end() || !it->inFlight) {
        return;
    }
    it->inFlight = false;
    if (!admitted.trusted) {
        --m_untrustedInFlight;
    }
    if (passed) {
        *it = Lane{};
    } else {
        fail(*it, admitted.address, false, nowMs);
    }
}

QList<SignInGuard::Burst> SignInGuard::dueBursts(qint64 nowMs, int maxListed) {
    const auto due = [nowMs](const Untold& u) {
        return u.failures > 0 &&
               (nowMs - u.last >= kBurstQuietMillis || nowMs - u.first >= kReportMillis);
    };
    QList<Burst> bursts;
    for (auto it = m_untold.begin(); it != m_untold.end(); ++it) {
        if (due(*it)) {
            const QHostAddress address(it.key());
            const auto lane = m_lanes.constFind(addressLane(address));
            bursts.append({address, 1, it->failures, it->refused,
                           lane != m_lanes.cend() && lane->lockedUntil > nowMs,
                           nowMs - it->last < kBurstQuietMillis});
            *it = Untold{};
        }
    }
    m_untold.removeIf([](const auto& item) { return item.value().failures == 0; });
    std::sort(bursts.begin(), bursts.end(),
              [](const Burst& a, const Burst& b) { return a.failures > b.failures; });
    if (bursts.size() > maxListed || due(m_others)) {
        Burst rest{QHostAddress(),
                   0,
                   m_others.failures,
                   m_others.refused,
                   false,
                   m_others.failures > 0 && nowMs - m_others.last < kBurstQuietMillis};
        for (qsizetype i = maxListed; i < bursts.size(); ++i) {
            ++rest.addresses;
            rest.failures += bursts[i].failures;
            rest.refused += bursts[i].refused;
            rest.ongoing = rest.ongoing || bursts[i].ongoing;
        }
        if (m_others.failures > 0) {
            rest.addresses = 0;  // addresses beyond those remembered were not counted
        }
        if (bursts.size() > maxListed) {
            bursts.resize(maxListed);
        }
        bursts.append(rest);
        m_others = Untold{};
    }
    return bursts;
}

void SignInGuard::forgetSome(qint64 nowMs) {
    m_lanes.removeIf([nowMs](const auto& item) {
        const Lane& lane = item.value();
        return !lane.inFlight && lane.lockedUntil <= nowMs && lane.notBefore <= nowMs;
    });
}
