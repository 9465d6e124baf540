#include "web/WebService.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QPointer>

#include "logger/LoggerControl.h"
#include "report/Reporter.h"
#include "support/ProgramNames.h"
#include "support/ThreadPriority.h"
#include "web/ActivityRequest.h"
#include "web/DatabaseChoice.h"
#include "web/EventRequest.h"
#include "web/ExportStream.h"
#include "web/HttpConnection.h"
#include "web/HttpLimits.h"
#include "web/HttpListener.h"
#include "web/HttpReply.h"
#include "web/LiveFeed.h"
#include "web/MetricsText.h"
#include "web/SettingsJson.h"
#include "web/StatusJson.h"
#include "web/WebPassword.h"

namespace {

using Code = HttpReply::Status;
using Who = WebService::Who;

// Who may call what: the whole access policy of the page.
const WebService::Route kRoutes[] = {
    {"GET", "/", Who::SignedIn, false, &WebService::indexPage},
    {"GET", "/index.html", Who::SignedIn, false, &WebService::indexPage},
    {"GET", "/app.js", Who::SignedIn, false, &WebService::scriptFile},
    {"GET", "/chart.js", Who::SignedIn, false, &WebService::scriptFile},
    {"GET", "/style.css", Who::SignedIn, false, &WebService::styleFile},
    {"GET", "/signin", Who::Anyone, false, &WebService::signInPage},
    {"GET", "/signin.css", Who::Anyone, false, &WebService::styleFile},
    {"GET", "/favicon.svg", Who::Anyone, false, &WebService::favicon},
    {"POST", "/signin", Who::Anyone, true, &WebService::signIn},
    {"POST", "/signout", Who::SignedIn, true, &WebService::signOut},
    {"GET", "/api/session", Who::Anyone, false, &WebService::session},
    {"GET", "/api/status", Who::SignedIn, false, &WebService::status},
    {"GET", "/api/history", Who::SignedIn, false, &WebService::history},
    {"GET", "/api/count", Who::SignedIn, false, &WebService::count},
    {"GET", "/api/activity", Who::SignedIn, false, &WebService::activity},
    {"GET", "/api/export", Who::SignedIn, false, &WebService::exportEvents},
    {"GET", "/api/live", Who::SignedIn, false, &WebService::live},
    {"GET", "/api/settings", Who::SignedIn, false, &WebService::getSettings},
    {"PUT", "/api/settings", Who::SignedIn, true, &WebService::putSettings},
    {"GET", "/metrics", Who::Monitor, false, &WebService::metrics},
};

constexpr qsizetype kMaxMonitorCredentials = 16;

// Shown on the page served off loopback without TLS.
constexpr char kPlainWarning[] =
    "<p class=\"warning\">This page is served without HTTPS on the network: anyone on it can read "
    "the password as it is sent. Set up HTTPS (quilljot --make-web-certificate) before signing in "
    "from another device.</p>";

// The password of an "Authorization: Basic ..." header (the user name is not looked at).
std::optional<QString> basicPassword(const QByteArray& authorization) {
    if (authorization.size() < 6 || authorization.first(6).toLower() != "basic ") {
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(authorization.mid(6).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (!decoded || colon < 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(decoded.decoded.mid(colon + 1));
}

// What a scraper without a password (or with a wrong one) is told.
const HttpReply::Headers kChallenge = {
    {"WWW-Authenticate", "Basic realm=\"Quilljot\", charset=\"UTF-8\""}};

QJsonObject rowJson(const StoredEvent& row) {
    return {{QStringLiteral("id"), row.id},
            {QStringLiteral("time"), row.event.time},
            {QStringLiteral("source"), row.event.source},
            {QStringLiteral("type"), row.event.type},
            {QStringLiteral("data"), row.event.data}};
}

// "application/json", optionally with a UTF-8 charset; nothing else.
bool isJson(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    if (parts.first().trimmed().toLower() != "application/json") {
        return false;
    }
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts[i].trimmed().toLower();
        if (parameter != "charset=utf-8" && parameter != "charset=\"utf-8\"") {
            return false;
        }
    }
    return true;
}

}  // namespace

WebService::WebService(LoggerControl& logger, WebSettings settings, QHostAddress address)
    : m_logger(logger),
      m_settings(std::move(settings)),
      m_address(std::move(address)),
      m_access(m_settings.passwordHash),
      m_live(std::make_unique<LiveFeed>(logger)),
      m_listener(new HttpListener([this](HttpConnection& c) { dispatch(c); }, this)) {
    Q_INIT_RESOURCE(web);
    m_clock.start();
    // One password check at a time: it costs a quarter of a second of a core.
    m_passwordChecks.setMaxThreadCount(1);
    m_burstTimer.setInterval(1000);
    connect(&m_burstTimer, &QTimer::timeout, this, &WebService::reportBursts);
    m_burstTimer.start();
    // A new database choice and a new password count from the next request on.
    connect(&logger, &LoggerControl::settingsReloaded, this, [this] {
        m_reader.close();
        takePassword();
    });
}

WebService::~WebService() {
    m_passwordChecks.waitForDone();
    delete m_listener;
}

Result<quint16> WebService::listen(quint16 port) {
    std::optional<HttpListener::Tls> tls;
    if (!m_settings.certFile.isEmpty()) {
        tls.emplace();
        for (const auto& [path, into] : {std::pair{m_settings.certFile, &tls->certificate},
                                         std::pair{m_settings.keyFile, &tls->key}}) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                return Problem{ErrorKind::Settings, QStringLiteral("The web page cannot read ") +
                                                        path + QStringLiteral(": ") +
                                                        file.errorString()};
            }
            *into = file.readAll();
        }
    }
    QList<QHostAddress> proxies;
    for (const QString& proxy : m_settings.trustedProxies) {
        proxies.append(QHostAddress(proxy));
    }
    m_listener->setTrustedProxies(proxies);
    const Result<quint16> listening = m_listener->listen(m_address, port, tls);
    if (!listening) {
        return listening;
    }
    m_port = listening.value();
    m_hosts = HostCheck::thisComputer(m_address, m_port, m_settings.hostNames);
    return m_port;
}

int WebService::maxConnections() const {
    return m_listener->maxConnections();
}

bool WebService::hostAllowed(const HttpRequest& request) const {
    return m_hosts.allows(request.header("Host"));
}

bool WebService::plainOnNetwork(const HttpRequest& request) const {
    return !m_address.isLoopback() && !request.secure;
}

bool WebService::fromThisSite(const HttpRequest& request) const {
    // Browsers say where a request comes from; scripts (curl) say nothing and are let through.
    const QByteArray site = request.header("Sec-Fetch-Site");
    if (!site.isEmpty() && site != "same-origin" && site != "none") {
        return false;
    }
    const QByteArray origin = request.header("Origin");
    return origin.isEmpty() ||
           origin == (request.secure ? "https://" : "http://") + request.header("Host");
}

void WebService::dispatch(HttpConnection& c) {
    const HttpRequest& request = c.request();
    if (!hostAllowed(request)) {
        HttpReply::error(c, Code::MisdirectedRequest, QStringLiteral("Unknown host name"));
        return;
    }
    const Route* route = nullptr;
    bool pathKnown = false;
    for (const Route& r : kRoutes) {
        if (request.path == QLatin1StringView(r.path)) {
            pathKnown = true;
            const bool head = request.method == "HEAD" && QByteArrayView(r.method) == "GET";
            if (request.method == r.method || head) {
                route = &r;
            }
        }
    }
    if (route == nullptr) {
        HttpReply::error(
            c, pathKnown ? Code::MethodNotAllowed : Code::NotFound,
            pathKnown ? QStringLiteral("Method not allowed here") : QStringLiteral("Nothing here"));
        return;
    }
    const bool api = request.path.startsWith(QStringLiteral("/api/"));
    if ((api || route->changes || route->who == Who::Monitor) && !fromThisSite(request)) {
        HttpReply::error(c, Code::Forbidden, QStringLiteral("Request from another site refused"));
        return;
    }
    if (route->who == Who::Monitor && m_access.signInNeeded() &&
        m_access.csrfOf(request) == nullptr) {
        monitorWithPassword(c, route->handler);
        return;
    }
    if (route->who == Who::SignedIn) {
        if (m_access.signInNeeded() && m_access.csrfOf(request) == nullptr) {
            if (api || route->changes) {
                HttpReply::error(c, Code::Unauthorized, QStringLiteral("Sign in first"));
            } else {
                HttpReply::redirect(c, "/signin");
            }
            return;
        }
        if (route->changes && !m_access.csrfMatches(request)) {
            HttpReply::error(
                c, Code::Forbidden,
                QStringLiteral("Missing or wrong CSRF token (header X-CSRF-Token, from "
                               "/api/session)"));
            return;
        }
    }
    (this->*route->handler)(c);
}

void WebService::page(HttpConnection& c, const QString& resource, const QByteArray& type) {
    QFile file(QStringLiteral(":/web/") + resource);
    if (!file.open(QIODevice::ReadOnly)) {
        HttpReply::error(c, Code::NotFound, QStringLiteral("Nothing here"));
        return;
    }
    QByteArray body = file.readAll();
    if (resource == u"signin.html") {
        const QUrlQuery& query = c.request().query;
        body.replace("{{message}}",
                     query.hasQueryItem(QStringLiteral("locked"))
                         ? "Too many wrong passwords from here: try again in a few minutes."
                     : query.hasQueryItem(QStringLiteral("failed")) ? "Wrong password."
                                                                    : "");
        body.replace("{{warning}}", plainOnNetwork(c.request()) ? kPlainWarning : "");
    }
    HttpReply::send(c, Code::Ok, type, body);
}

void WebService::indexPage(HttpConnection& c) {
    page(c, QStringLiteral("index.html"), "text/html; charset=utf-8");
}

void WebService::scriptFile(HttpConnection& c) {
    page(c, c.request().path.mid(1), "text/javascript; charset=utf-8");
}

void WebService::styleFile(HttpConnection& c) {
    page(c, QStringLiteral("style.css"), "text/css; charset=utf-8");
}

void WebService::favicon(HttpConnection& c) {
    page(c, QStringLiteral("favicon.svg"), "image/svg+xml");
}

void WebService::signInPage(HttpConnection& c) {
    page(c, QStringLiteral("signin.html"), "text/html; charset=utf-8");
}

void WebService::signIn(HttpConnection& c) {
    if (!m_access.signInNeeded()) {
        HttpReply::redirect(c, "/");
        return;
    }
    const SignInGuard::Admission admitted =
        m_guard.admit(c.peer(), m_access.deviceOf(c.request()), m_clock.elapsed());
    if (admitted.verdict == SignInGuard::Verdict::LockedOut) {
        HttpReply::redirect(c, "/signin?locked=1");
        return;
    }
    if (admitted.verdict != SignInGuard::Verdict::Check) {
        refuseForNow(c, admitted);
        return;
    }
    const QUrlQuery form(QString::fromUtf8(c.request().body).replace(u'+', u' '));
    const QString password = form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
    checkPassword(&c, m_guard, admitted, password,
                  [this](HttpConnection* c, bool ok) { answerSignIn(c, ok); });
}

// Refused before any check: answered at once, so that no place is held while the client waits.
void WebService::refuseForNow(HttpConnection& c, const SignInGuard::Admission& refused) {
    HttpReply::error(c, Code::TooManyRequests,
                     QStringLiteral("Too many password attempts: try again in ") +
                         QString::number(refused.retryAfterSeconds) + QStringLiteral(" s"),
                     {{"Retry-After", QByteArray::number(refused.retryAfterSeconds)}});
}

void WebService::monitorWithPassword(HttpConnection& c, Handler handler) {
    const QByteArray authorization = c.request().header("Authorization");
    const std::optional<QString> password = basicPassword(authorization);
    if (!password) {
        HttpReply::error(c, Code::Unauthorized,
                         QStringLiteral("Give the web password in HTTP Basic (any user name)"),
                         kChallenge);
        return;
    }
    const QByteArray digest = QCryptographicHash::hash(authorization, QCryptographicHash::Sha256);
    if (m_monitorCredentials.contains(digest)) {
        (this->*handler)(c);
        return;
    }
    // A guard of its own: wrong passwords here never lock anyone out of the sign-in form.
    const SignInGuard::Admission admitted = m_monitorGuard.admit(c.peer(), {}, m_clock.elapsed());
    if (admitted.verdict != SignInGuard::Verdict::Check) {
        refuseForNow(c, admitted);
        return;
    }
    const Answer answer = [this, handler, digest](HttpConnection* held, bool passed) {
        if (passed) {
            if (m_monitorCredentials.size() >= kMaxMonitorCredentials) {
                m_monitorCredentials.clear();
            }
            m_monitorCredentials.insert(digest);
        }
        if (held == nullptr) {
            return;
        }
        if (passed) {
            (this->*handler)(*held);
        } else {
            HttpReply::error(*held, Code::Unauthorized, QStringLiteral("Wrong password"),
                             kChallenge);
        }
    };
    checkPassword(&c, m_monitorGuard, admitted, *password, answer);
}

// A client gone meanwhile still frees its place in the guard.
void WebService::checkPassword(QPointer<HttpConnection> held, SignInGuard& guard,
                               const SignInGuard::Admission& admitted, const QString& password,
                               Answer answer) {
    const qint64 arrived = m_clock.elapsed();
    // A browser with a device token goes before strangers, and sign-ins before scrapers.
    const int priority = admitted.trusted ? 2 : &guard == &m_guard ? 1 : 0;
    m_passwordChecks.start(
        [this, held, guard = &guard, admitted, password, arrived, answer = std::move(answer),
         hash = m_settings.passwordHash] {
            ThreadPriority::giveWay();
            const bool passed = WebPassword::matches(password, hash);
            QMetaObject::invokeMethod(this, [this, held, guard, admitted, passed, arrived, answer] {
                // The place in the guard is given back at once; a wrong password is answered
                // late, and the guard refuses that address's next try until then.
                guard->checked(admitted, passed, m_clock.elapsed());
                const qint64 wait =
                    passed ? 0 : arrived + SignInGuard::kFailedAnswerMillis - m_clock.elapsed();
                QTimer::singleShot(std::max<qint64>(wait, 0), this,
                                   [held, passed, answer] { answer(held.data(), passed); });
            });
        },
        priority);
}

void WebService::answerSignIn(HttpConnection* c, bool passed) {
    if (c == nullptr) {
        return;
    }
    if (!passed) {
        HttpReply::redirect(*c, "/signin?failed=1");
        return;
    }
    const HttpRequest& request = c->request();
    QByteArray device = m_access.deviceOf(request);
    if (device.isEmpty()) {
        device = m_access.newDeviceToken();
    }
    HttpReply::redirect(
        *c, "/",
        {{"Set-Cookie", WebAccess::cookie(m_access.openSession().token, request.secure)},
         {"Set-Cookie", WebAccess::deviceCookie(device, request.secure)}});
}

void WebService::takePassword() {
    const Result<WebSettings> read = WebSettingsFile::load(m_logger.folders());
    if (!read || read.value().passwordHash == m_settings.passwordHash) {
        return;  // a file that cannot be read is reported by the logger's own reading
    }
    const QString& hash = read.value().passwordHash;
    if (hash.isEmpty() && !m_address.isLoopback()) {
        m_logger.reporter().toNetwork(
            ProgramNames::kProgram, QStringLiteral("WebPage"),
            Problem{ErrorKind::Settings,
                    QStringLiteral("WebPasswordHash is empty, but the web page binds ") +
                        m_address.toString() +
                        QStringLiteral(", which is not loopback: the page keeps its password "
                                       "until the logger restarts")});
        return;
    }
    m_settings.passwordHash = hash;
    m_access = WebAccess(hash);
    m_monitorCredentials.clear();
}

void WebService::reportBursts() {
    const std::pair<SignInGuard*, QString> guards[] = {
        {&m_guard, QStringLiteral(" failed sign-ins to the web page from ")},
        {&m_monitorGuard, QStringLiteral(" failed sign-ins to /metrics from ")}};
    for (const auto& [guard, what] : guards) {
        for (const SignInGuard::Burst& burst : guard->dueBursts(m_clock.elapsed())) {
            QString text = QString::number(burst.failures) + what;
            if (!burst.address.isNull()) {
                text += burst.address.toString();
            } else if (burst.addresses > 0) {
                text += QString::number(burst.addresses) + QStringLiteral(" other addresses");
            } else {
                text += QStringLiteral("many other addresses");
            }
            if (burst.ongoing) {
                text += QStringLiteral(" so far");
            }
            if (burst.refused > 0) {
                text += QStringLiteral(" (") + QString::number(burst.refused) +
                        QStringLiteral(" refused unchecked)");
            }
            if (burst.lockedOut) {
                text += QStringLiteral("; sign-ins from there are refused for ") +
                        QString::number(SignInGuard::kLockoutMinutes) + QStringLiteral(" minutes");
            }
            m_logger.reporter().toNetwork(ProgramNames::kProgram, QStringLiteral("WebPage SignIn"),
                                          Problem{ErrorKind::Generic, text});
        }
    }
}

void WebService::signOut(HttpConnection& c) {
    m_access.closeSession(c.request());
    HttpReply::json(c, {{QStringLiteral("signedIn"), false}}, Code::Ok,
                    {{"Set-Cookie", WebAccess::expiredCookie(c.request().secure)}});
}

void WebService::session(HttpConnection& c) {
    const QByteArray* csrf = m_access.csrfOf(c.request());
    if (csrf != nullptr || m_access.signInNeeded()) {
        QJsonObject body{{QStringLiteral("signInNeeded"), m_access.signInNeeded()},
                         {QStringLiteral("signedIn"), csrf != nullptr},
                         {QStringLiteral("plainOnNetwork"), plainOnNetwork(c.request())}};
        if (csrf != nullptr) {
            body.insert(QStringLiteral("csrf"), QString::fromLatin1(*csrf));
        }
        HttpReply::json(c, body);
        return;
    }
    // Without a password every visitor of the loopback address has the session for the asking.
    const WebAccess::NewSession made = m_access.openSession();
    HttpReply::json(c,
                    {{QStringLiteral("signInNeeded"), false},
                     {QStringLiteral("signedIn"), true},
                     {QStringLiteral("csrf"), QString::fromLatin1(made.csrf)}},
                    Code::Ok, {{"Set-Cookie", WebAccess::cookie(made.token, c.request().secure)}});
}

Status WebService::reader() {
    return m_reader.readFrom(m_logger.settings().database);
}

std::optional<EventQuery> WebService::readableQuery(HttpConnection& c,
                                                    const QSet<QString>& allowed) {
    const Result<EventQuery> query = EventRequest::parse(c.request().query, allowed);
    if (!query) {
        HttpReply::error(c, Code::BadRequest, query.problem().description);
        return std::nullopt;
    }
    if (const Status open = reader(); !open) {
        HttpReply::error(c, Code::ServiceUnavailable, open.problem().description);
        return std::nullopt;
    }
    return query.value();
}

void WebService::history(HttpConnection& c) {
    std::optional<EventQuery> query =
        readableQuery(c, {QStringLiteral("limit"), QStringLiteral("before"), QStringLiteral("sort"),
                          QStringLiteral("order")});
    if (!query) {
        return;
    }
    // One row more than asked for tells whether there is a next page.
    const int limit = query.value().limit;
    query.value().limit = limit + 1;
    QJsonArray rows;
    qint64 lastId = 0;
    bool more = false;
    const Status read = m_reader.readEvents(query.value(), [&](const StoredEvent& row) {
        if (rows.size() == limit) {
            more = true;
            return;
        }
        rows.append(rowJson(row));
        lastId = row.id;
    });
    if (!read) {
        HttpReply::error(c, Code::ServiceUnavailable, read.problem().description);
        return;
    }
    HttpReply::json(c, {{QStringLiteral("rows"), rows},
                        {QStringLiteral("next"), more ? QJsonValue(lastId) : QJsonValue()}});
}

void WebService::count(HttpConnection& c) {
    const std::optional<EventQuery> query = readableQuery(c, {});
    if (!query) {
        return;
    }
    const Result<qint64> rows = m_reader.countEvents(query.value());
    if (!rows) {
        HttpReply::error(c, Code::ServiceUnavailable, rows.problem().description);
        return;
    }
    HttpReply::json(c, {{QStringLiteral("count"), rows.value()}});
}

void WebService::activity(HttpConnection& c) {
    const Result<ActivityQuery> query = ActivityRequest::parse(c.request().query, m_logger.now());
    if (!query) {
        HttpReply::error(c, Code::BadRequest, query.problem().description);
        return;
    }
    // The Status chart (the last day by minute) comes from the logger's counts: no rows read.
    std::optional<Result<ActivityChart>> held = m_logger.recentActivity(query.value());
    if (!held || !*held) {
        if (const Status open = reader(); !open) {
            HttpReply::error(c, Code::ServiceUnavailable, open.problem().description);
            return;
        }
        held = m_reader.activity(query.value());
    }
    const Result<ActivityChart>& chart = *held;
    if (!chart) {
        HttpReply::error(c, Code::ServiceUnavailable, chart.problem().description);
        return;
    }
    const bool split = !chart.value().parts.isEmpty();
    QJsonArray buckets;
    for (const ActivityBucket& b : chart.value().buckets) {
        QJsonObject bucket{{QStringLiteral("start"), b.start}, {QStringLiteral("count"), b.count}};
        if (split) {
            QJsonArray parts;
            for (const qint64 n : b.parts) {
                parts.append(n);
            }
            bucket.insert(QStringLiteral("parts"), parts);
        }
        buckets.append(bucket);
    }
    QJsonObject body{{QStringLiteral("bucket"), ActivityBuckets::name(query.value().bucket)},
                     {QStringLiteral("from"), chart.value().buckets.value(0).start},
                     {QStringLiteral("to"),
                      ActivityBuckets::next(
                          query.value().bucket,
                          chart.value().buckets.value(chart.value().buckets.size() - 1).start)},
                     {QStringLiteral("buckets"), buckets}};
    if (split) {
        body.insert(QStringLiteral("parts"), QJsonArray::fromStringList(chart.value().parts));
    }
    HttpReply::json(c, body);
}

void WebService::exportEvents(HttpConnection& c) {
    const QString format = c.request().query.queryItemValue(QStringLiteral("format"));
    if (format != u"csv" && format != u"jsonl") {
        HttpReply::error(c, Code::BadRequest, QStringLiteral("'format' must be csv or jsonl"));
        return;
    }
    if (m_exports.children().size() >= HttpLimits::kMaxExports) {
        HttpReply::error(
            c, Code::ServiceUnavailable,
            QStringLiteral("Too many exports under way: try again when one has finished"),
            {{"Retry-After", "10"}});
        return;
    }
    const std::optional<EventQuery> query = readableQuery(c, {QStringLiteral("format")});
    if (!query) {
        return;
    }
    const Status started = ExportStream::start(
        m_reader, query.value(), format == u"csv" ? ExportFormat::Csv : ExportFormat::JsonLines, c,
        &m_exports);
    if (!started) {
        HttpReply::error(c, Code::ServiceUnavailable, started.problem().description);
    }
}

void WebService::live(HttpConnection& c) {
    if (!m_live->addClient(c)) {
        HttpReply::error(c, Code::ServiceUnavailable, QStringLiteral("Too many live pages open"),
                         {{"Retry-After", "10"}});
    }
}

void WebService::status(HttpConnection& c) {
    HttpReply::json(c, StatusJson::toJson(m_logger.status()));
}

// Counts are read the way /api/status reads them: the status the logger gathers, never the
// receive path.
void WebService::metrics(HttpConnection& c) {
    HttpReply::send(
        c, Code::Ok, MetricsText::kContentType,
        MetricsText::format(m_logger.status(), m_logger.now(), m_access.sessionCount()));
}

void WebService::getSettings(HttpConnection& c) {
    const LoggerSettings s = m_logger.settings();
    HttpReply::json(c, SettingsJson::toJson({s.database, s.mqtt}));
}

void WebService::putSettings(HttpConnection& c) {
    if (!isJson(c.request().header("Content-Type"))) {
        HttpReply::error(c, Code::UnsupportedMediaType,
                         QStringLiteral("Send the settings as application/json"));
        return;
    }
    const LoggerSettings s = m_logger.settings();
    const SettingsJson::Chosen current{s.database, s.mqtt};
    const Result<SettingsJson::Chosen> next = SettingsJson::fromJson(c.request().body, current);
    if (!next) {
        HttpReply::error(c, Code::BadRequest, next.problem().description);
        return;
    }
    if (const Status allowed =
            DatabaseChoice::check(next.value().database, current.database, m_logger.folders());
        !allowed) {
        HttpReply::error(c, Code::BadRequest, allowed.problem().description);
        return;
    }
    // Saved at once; the logger opens the database and restarts the bridge in the background,
    // and the status says when the database is open.
    Status applied = m_logger.applyDatabaseSettings(next.value().database);
    if (applied && next.value().mqtt != current.mqtt) {
        applied = m_logger.applyMqttSettings(next.value().mqtt);
    }
    if (!applied) {
        HttpReply::error(c, Code::InternalServerError, applied.problem().description);
        return;
    }
    QJsonObject body = SettingsJson::toJson(next.value());
    body.insert(QStringLiteral("databaseOpen"), m_logger.status().databaseOpen);
    HttpReply::json(c, body);
}
