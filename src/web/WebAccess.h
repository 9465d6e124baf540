#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

struct HttpRequest;

// Who may use the web page. Without a password (loopback only) every visitor shares one session,
// had on asking, so that asking many times pushes no one out; with one, a session is had by
// signing in (which SignInGuard slows), and the browser that signed in keeps a device token
// that lets it past strangers' failures next time. Sessions live in memory, named by a random
// token in an HttpOnly, SameSite=Strict cookie (Secure over TLS), end when idle or old, and each
// carries the CSRF token that changing requests must send back.
class WebAccess {
public:
    static constexpr int kMaxSessions = 1000;
    static constexpr qint64 kSessionIdleSeconds = 12 * 3600;
    static constexpr qint64 kSessionLifetimeSeconds = 7 * 24 * 3600;
    static constexpr qint64 kDeviceTokenSeconds = 365 * 24 * 3600;

    explicit WebAccess(QString passwordHash) : m_passwordHash(std::move(passwordHash)) {}

    bool signInNeeded() const { return !m_passwordHash.isEmpty(); }

    // The session the request's cookie names, or nullptr; using it keeps it alive.
    const QByteArray* csrfOf(const HttpRequest& request);
    struct NewSession {
        QByteArray token;  // goes into the cookie
        QByteArray csrf;
    };
    // A new session after a sign-in; without a password, the shared one.
    NewSession openSession();
    void closeSession(const HttpRequest& request);
    // Sessions open now (idle ones may be counted until they are next looked at).
    int sessionCount() const { return int(m_sessions.size()); }

    // True when the request carries its session's CSRF token in the X-CSRF-Token header.
    bool csrfMatches(const HttpRequest& request);

    // The request's device token when this logger made it under the current password, or empty.
    QByteArray deviceOf(const HttpRequest& request) const;
    QByteArray newDeviceToken() const;

    static QByteArray cookie(const QByteArray& token, bool secure);
    static QByteArray expiredCookie(bool secure);
    // Sent only to the sign-in form, which is all it is for.
    static QByteArray deviceCookie(const QByteArray& token, bool secure);

private:
    struct Session {
        QByteArray csrf;
        QDateTime opened;
        QDateTime lastUsed;
        bool over(const QDateTime& now) const;
    };
    void dropIdleSessions();

    QString m_passwordHash;
    QHash<QByteArray, Session> m_sessions;
    // Without a password: the session every visitor shares.
    NewSession m_shared;
};
