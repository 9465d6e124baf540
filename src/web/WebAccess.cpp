#include "web/WebAccess.h"

#include <algorithm>

#include "web/HttpRequest.h"
#include "web/WebPassword.h"

namespace {

const QByteArray kCookieName = "QuilljotSession";

}  // namespace

QByteArray WebAccess::tokenOf(const HttpRequest& request) const {
    const QByteArray cookies = request.header("Cookie");
    for (const QByteArray& part : cookies.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(QByteArray(kCookieName + '='))) {
            return item.mid(kCookieName.size() + 1);
        }
    }
    return {};
}

const QByteArray* WebAccess::csrfOf(const HttpRequest& request) {
    const QByteArray token = tokenOf(request);
    auto it = m_sessions.find(token);
    if (token.isEmpty() || it == m_sessions.end()) {
        return nullptr;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (it->lastUsed.secsTo(now) > kSessionIdleSeconds) {
        m_sessions.erase(it);
        return nullptr;
    }
    it->lastUsed = now;
    return &it->csrf;
}

WebAccess::NewSession WebAccess::openSession() {
    if (!signInNeeded()) {
        if (m_shared.token.isEmpty()) {
            m_shared = {WebPassword::randomToken(), WebPassword::randomToken()};
        }
        m_sessions.insert(m_shared.token, Session{m_shared.csrf, QDateTime::currentDateTimeUtc()});
        return m_shared;
    }
    dropIdleSessions();
    NewSession made{WebPassword::randomToken(), WebPassword::randomToken()};
    m_sessions.insert(made.token, Session{made.csrf, QDateTime::currentDateTimeUtc()});
    return made;
}

void WebAccess::closeSession(const HttpRequest& request) {
    m_sessions.remove(tokenOf(request));
}

void WebAccess::dropIdleSessions() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_sessions.removeIf(
        [&](const auto& item) { return item.value().lastUsed.secsTo(now) > kSessionIdleSeconds; });
    // Many sign-ins leave many sessions: the least recently used go first.
    while (m_sessions.size() >= kMaxSessions) {
        auto oldest = std::min_element(
            m_sessions.begin(), m_sessions.end(),
            [](const Session& a, const Session& b) { return a.lastUsed < b.lastUsed; });
        m_sessions.erase(oldest);
    }
}

bool WebAccess::csrfMatches(const HttpRequest& request) {
    const QByteArray* csrf = csrfOf(request);
    const QByteArray sent = request.header("X-CSRF-Token");
    return csrf != nullptr && !sent.isEmpty() && sent == *csrf;
}

QByteArray WebAccess::cookie(const QByteArray& token) {
    return kCookieName + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
}

QByteArray WebAccess::expiredCookie() {
    return kCookieName + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0";
}
