#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QString>

class QHttpServerRequest;

// Who may use the web page. Without a password (loopback only) every visitor gets a session on
// asking; with one, a session is had by signing in. Sessions live in memory, named by a random
// token in an HttpOnly, SameSite=Strict cookie, and each carries the CSRF token that changing
// requests must send back. Failed sign-ins from an address are answered ever more slowly.
class WebAccess {
public:
    static constexpr int kMaxSessions = 1000;
    static constexpr qint64 kSessionIdleSeconds = 12 * 3600;

    explicit WebAccess(QString passwordHash) : m_passwordHash(std::move(passwordHash)) {}

    bool signInNeeded() const { return !m_passwordHash.isEmpty(); }

    // The session the request's cookie names, or nullptr; using it keeps it alive.
    const QByteArray* csrfOf(const QHttpServerRequest& request);
    struct NewSession {
        QByteArray token;  // goes into the cookie
        QByteArray csrf;
    };
    NewSession openSession();
    void closeSession(const QHttpServerRequest& request);
    bool passwordMatches(const QString& password) const;

    // How long to wait before answering a failed sign-in from `address`, counting this one.
    int failedSignIn(const QHostAddress& address);
    void signedIn(const QHostAddress& address) { m_failures.remove(address.toString()); }

    // True when the request carries its session's CSRF token in the X-CSRF-Token header.
    bool csrfMatches(const QHttpServerRequest& request);

    static QByteArray cookie(const QByteArray& token);
    static QByteArray expiredCookie();

private:
    struct Session {
        QByteArray csrf;
        QDateTime lastUsed;
    };
    QByteArray tokenOf(const QHttpServerRequest& request) const;
    void dropIdleSessions();

    QString m_passwordHash;
    QHash<QByteArray, Session> m_sessions;
    QHash<QString, int> m_failures;
};
