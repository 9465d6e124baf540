#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

// Who may try a password now, decided before any password is checked and without holding a
// place for anyone who must wait. A browser that signed in before shows a device token
// (WebAccess) and is judged by that token alone, so that no stranger's failures lock it out or
// take its turn; anyone else is judged by address, and such checks are bounded in all too.
// Each lane (a token or an address) has one check under way at most, a wait after each failure
// from the second on (1 s, doubling up to kMaxDelayMillis; an attempt before it is refused at
// once), and after kLockoutFailures failures it is refused every attempt, the right password
// too, for kLockoutMinutes; a locked-out token falls back to its address. Attempts refused
// unchecked count as failures, so that hammering costs the lane its turn. Failures are told per
// address while a burst lasts (every kReportMillis) and once it has been quiet for
// kBurstQuietMillis. Time is in milliseconds of a steady clock, so that the rules are tested
// without waiting.
class SignInGuard {
public:
    // Checks without a device token: under way at once, and started in any minute.
    static constexpr int kMaxChecks = 2;
    static constexpr int kChecksPerMinute = 60;
    static constexpr int kLockoutFailures = 10;
    static constexpr int kLockoutMinutes = 5;
    static constexpr int kMaxDelayMillis = 30'000;
    // A wrong password is answered no sooner than this after it arrived.
    static constexpr int kFailedAnswerMillis = 1000;
    static constexpr int kBurstQuietMillis = 2000;
    static constexpr int kReportMillis = 5000;
    // Lanes and addresses remembered at most; beyond them the quiet ones go first, and the
    // failures of further addresses are told together.
    static constexpr int kMaxLanes = 4096;

    enum class Verdict { Check, TooSoon, Busy, Full, LockedOut };
    struct Admission {
        Verdict verdict = Verdict::Full;
        int retryAfterSeconds = 0;  // refusals: when to try again
        bool trusted = false;       // Check: judged by its device token
        QByteArray lane;            // Check: give it back to checked()
        QHostAddress address;
    };
    // `device`: the request's valid device token, or empty.
    Admission admit(const QHostAddress& address, const QByteArray& device, qint64 nowMs);
    // The attempt admitted was checked.
    void checked(const Admission& admitted, bool passed, qint64 nowMs);

    struct Burst {
        QHostAddress address;  // null: several addresses, told together
        int addresses = 1;     // 0: more than were counted
        int failures = 0;      // tries that failed, the refused ones included
        int refused = 0;       // tries refused unchecked
        bool lockedOut = false;
        bool ongoing = false;  // told before it went quiet
    };
    // Failures due to be told now: the `maxListed` largest addresses one by one, the rest as one.
    QList<Burst> dueBursts(qint64 nowMs, int maxListed = 8);

private:
    struct Lane {
        int failures = 0;  // since the last success or the end of a lockout
        bool inFlight = false;
        qint64 notBefore = 0;
        qint64 lockedUntil = 0;
    };
    struct Untold {
        int failures = 0;
        int refused = 0;
        qint64 first = 0;
        qint64 last = 0;
        bool lockedOut = false;
    };
    Admission refuse(Lane& lane, const QHostAddress& address, Verdict verdict, qint64 nowMs);
    void fail(Lane& lane, const QHostAddress& address, bool refused, qint64 nowMs);
    Lane* unlocked(const QByteArray& key, qint64 nowMs);
    void forgetSome(qint64 nowMs);

    QHash<QByteArray, Lane> m_lanes;
    QHash<QString, Untold> m_untold;
    Untold m_others;  // failures of addresses beyond kMaxLanes
    int m_untrustedInFlight = 0;
    QList<qint64> m_untrustedStarts;  // of the last minute
};
