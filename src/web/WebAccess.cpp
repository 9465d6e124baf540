#include "web/WebAccess.h"

#include <algorithm>

#include "web/HttpRequest.h"
#include "web/WebPassword.h"

namespace {

const QByteArray kCookieName = "QuilljotSession";
const QByteArray kDeviceCookieName = "QuilljotDevice";

QByteArray cookieValue(const HttpRequest& request, const QByteArray& name) {
    const QByteArray cookies = request.header("Cookie");
    for (const QByteArray& part : cookies.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(QByteArray(name + '='))) {
            return item.mid(name.size() + 1);
        }
    }
    return {};
}

QByteArray tokenOf(const HttpRequest& request) {
    return cookieValue(request, kCookieName);
}

QByteArray attributes(bool secure) {
    return secure ? "; Path=/; HttpOnly; SameSite=Strict; Secure"
                  : "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace

bool WebAccess::Session::over(const QDateTime& now) const {
    return lastUsed.secsTo(now) > kSessionIdleSeconds ||
           opened.secsTo(now) > kSessionLifetimeSeconds;
}

const QByteArray* WebAccess::csrfOf(const HttpRequest& request) {
    const QByteArray token = tokenOf(request);
    auto it = m_sessions.find(token);
    if (token.isEmpty() || it == m_sessions.end()) {
        return nullptr;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (it->over(now)) {
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
        const QDateTime now = QDateTime::currentDateTimeUtc();
        m_sessions.insert(m_shared.token, Session{m_shared.csrf, now, now});
        return m_shared;
    }
    dropIdleSessions();
    NewSession made{WebPassword::randomToken(), WebPassword::randomToken()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_sessions.insert(made.token, Session{made.csrf, now, now});
    return made;
}

void WebAccess::closeSession(const HttpRequest& request) {
    m_sessions.remove(tokenOf(request));
}

void WebAccess::dropIdleSessions() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_sessions.removeIf([&](const auto& item) { return item.value().over(now); });
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

QByteArray WebAccess::deviceOf(const HttpRequest& request) const {
    const QByteArray token = cookieValue(request, kDeviceCookieName);
    return WebPassword::isDeviceToken(token, m_passwordHash) ? token : QByteArray();
}

QByteArray WebAccess::newDeviceToken() const {
    return WebPassword::deviceToken(m_passwordHash);
}

QByteArray WebAccess::cookie(const QByteArray& token, bool secure) {
    return kCookieName + '=' + token + attributes(secure);
}

QByteArray WebAccess::expiredCookie(bool secure) {
    return kCookieName + '=' + attributes(secure) + "; Max-Age=0";
}

QByteArray WebAccess::deviceCookie(const QByteArray& token, bool secure) {
    return kDeviceCookieName + '=' + token + attributes(secure).replace("Path=/", "Path=/signin") +
           "; Max-Age=" + QByteArray::number(kDeviceTokenSeconds);
}
