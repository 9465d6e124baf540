#include "web/SignInGuard.h"

#include <algorithm>

namespace {

constexpr qint64 kLockoutMillis = qint64(SignInGuard::kLockoutMinutes) * 60'000;

}  // namespace

void SignInGuard::fail(Address& a, qint64 nowMs) {
    ++a.failures;
    ++a.untold;
    a.lastFailure = nowMs;
    if (a.failures >= kLockoutFailures && a.lockedUntil <= nowMs) {
        a.lockedUntil = nowMs + kLockoutMillis;
    }
}

SignInGuard::Admission SignInGuard::admit(const QHostAddress& address, qint64 nowMs) {
    if (m_addresses.size() >= kMaxAddresses) {
        forgetSome(nowMs);
    }
    Address& a = m_addresses[address.toString()];
    if (a.lockedUntil != 0 && a.lockedUntil <= nowMs) {
        a.lockedUntil = 0;
        a.failures = 0;
    }
    if (a.lockedUntil > nowMs) {
        ++a.untold;
        a.lastFailure = nowMs;
        return {Verdict::LockedOut};
    }
    if (a.inFlight) {
        fail(a, nowMs);
        return {a.lockedUntil > nowMs ? Verdict::LockedOut : Verdict::Busy};
    }
    if (m_inFlight >= kMaxChecks) {
        return {Verdict::Full};
    }
    a.inFlight = true;
    ++m_inFlight;
    const int delay = a.failures == 0 ? 0 : 1000 << std::min(a.failures - 1, 5);
    return {Verdict::Check, std::min(delay, kMaxDelayMillis)};
}

void SignInGuard::checked(const QHostAddress& address, bool passed, qint64 nowMs) {
    auto it = m_addresses.find(address.toString());
    if (it == m_addresses.end() || !it->inFlight) {
        return;
    }
    it->inFlight = false;
    --m_inFlight;
    if (passed) {
        it->failures = 0;
    } else {
        fail(*it, nowMs);
    }
}

std::optional<SignInGuard::Burst> SignInGuard::quietBurst(qint64 nowMs) {
    for (auto it = m_addresses.begin(); it != m_addresses.end(); ++it) {
        if (it->untold > 0 && !it->inFlight && nowMs - it->lastFailure >= kBurstQuietMillis) {
            Burst burst{QHostAddress(it.key()), it->untold, it->lockedUntil > nowMs};
            it->untold = 0;
            return burst;
        }
    }
    return std::nullopt;
}

void SignInGuard::forgetSome(qint64 nowMs) {
    m_addresses.removeIf([nowMs](const auto& item) {
        const Address& a = item.value();
        return !a.inFlight && a.lockedUntil <= nowMs && a.untold == 0;
    });
}
