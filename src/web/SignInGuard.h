#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <optional>

// Who may try a password now, decided before any password is checked: one attempt under way
// per address, a few in all, a wait before each check that doubles with the address's failures,
// and after kLockoutFailures failures the address is refused every attempt, the right password
// too, for kLockoutMinutes. Attempts refused unchecked count as failures. Failures of an address
// are told as one burst, with their number, once it has been quiet for kBurstQuietMillis. Time is
// given in milliseconds of a steady clock, so that the rules are tested without waiting.
class SignInGuard {
public:
    static constexpr int kMaxChecks = 2;
    static constexpr int kLockoutFailures = 10;
    static constexpr int kLockoutMinutes = 5;
    static constexpr int kMaxDelayMillis = 30'000;
    // A wrong password is answered no sooner than this after it arrived.
    static constexpr int kFailedAnswerMillis = 1000;
    static constexpr int kBurstQuietMillis = 2000;
    // Addresses remembered at most; beyond them the ones not locked out longest quiet go first.
    static constexpr int kMaxAddresses = 4096;

    enum class Verdict { Check, Busy, Full, LockedOut };
    struct Admission {
        Verdict verdict;
        int delayMillis = 0;  // Check: wait this long, then check the password
    };
    Admission admit(const QHostAddress& address, qint64 nowMs);
    // The attempt admitted for `address` was checked.
    void checked(const QHostAddress& address, bool passed, qint64 nowMs);

    struct Burst {
        QHostAddress address;
        int failures;
        bool lockedOut;
    };
    // A burst of failures that has gone quiet and was not yet told; at most one per call.
    std::optional<Burst> quietBurst(qint64 nowMs);

private:
    struct Address {
        int failures = 0;  // since the last success or the end of a lockout
        int untold = 0;    // failures not yet told
        bool inFlight = false;
        qint64 lockedUntil = 0;
        qint64 lastFailure = 0;
    };
    void fail(Address& a, qint64 nowMs);
    void forgetSome(qint64 nowMs);

    QHash<QString, Address> m_addresses;
    int m_inFlight = 0;
};
