#include "web/WebServer.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include "logger/Logger.h"
#include "web/EventRequest.h"
#include "web/ExportStream.h"
#include "web/HttpReply.h"
#include "web/LiveFeed.h"
#include "web/SettingsJson.h"
#include "web/StatusJson.h"

namespace {

using Code = HttpReply::Status;
using Method = QHttpServerRequest::Method;

QJsonObject rowJson(const StoredEvent& row) {
    return {{u"id"_qs, row.id},
            {u"time"_qs, row.event.time},
            {u"source"_qs, row.event.source},
            {u"type"_qs, row.event.type},
            {u"data"_qs, row.event.data}};
}

}  // namespace

WebServer::WebServer(Logger& logger, WebSettings settings, QObject* parent)
    : QAbstractHttpServer(parent),
      m_logger(logger),
      m_settings(std::move(settings)),
      m_access(m_settings.passwordHash),
      m_live(std::make_unique<LiveFeed>(logger)) {
    Q_INIT_RESOURCE(web);
    // A new database choice is read from the next request on.
    QObject::connect(&logger, &Logger::settingsReloaded, this, [this] { m_reader.close(); });
}

WebServer::~WebServer() = default;

Result<quint16> WebServer::start(quint16 port) {
    m_address = QHostAddress(m_settings.bind);
    if (m_address.isNull()) {
        return Problem{ErrorNumber::Settings,
                       u"WebBind must be an IP address, not '"_qs + m_settings.bind + u'\''};
    }
    if (!m_address.isLoopback() && !m_access.signInNeeded()) {
        return Problem{ErrorNumber::Settings,
                       u"The web page binds "_qs + m_settings.bind +
                           u", which is not loopback: set a password first with "
                           u"quilljot --set-web-password"_qs};
    }
    m_port = listen(m_address, port);
    if (m_port == 0) {
        return Problem{ErrorNumber::Socket, u"The web page cannot listen on "_qs + m_settings.bind +
                                                u" port "_qs + QString::number(port)};
    }
    return m_port;
}

QString WebServer::url() const {
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + m_address.toString() + u']'
                             : m_address.toString();
    return u"http://"_qs + host + u':' + QString::number(m_port) + u'/';
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    HttpReply::error(responder, Code::NotFound, u"Nothing here"_qs);
}

bool WebServer::hostAllowed(const QHttpServerRequest& request) const {
    if (!m_address.isLoopback()) {
        return true;
    }
    // A page of another site that a DNS name turned to 127.0.0.1 names that site as the host.
    const QByteArray host = HttpReply::header(request, "Host");
    const QByteArray port = ':' + QByteArray::number(m_port);
    return host == "127.0.0.1" + port || host == "localhost" + port || host == "[::1]" + port;
}

bool WebServer::sameOrigin(const QHttpServerRequest& request) const {
    const QByteArray origin = HttpReply::header(request, "Origin");
    return origin.isEmpty() || origin == "http://" + HttpReply::header(request, "Host");
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!hostAllowed(request)) {
        HttpReply::error(responder, Code::MisdirectedRequest, u"Unknown host name"_qs);
        return true;
    }
    if (request.body().size() > kMaxBody) {
        HttpReply::error(
            responder, Code::PayloadTooLarge,
            u"The request body is larger than "_qs + QString::number(kMaxBody) + u" bytes"_qs);
        return true;
    }
    const QString path = request.url().path();
    const Method method = request.method();
    if (path == u"/signin" && method == Method::Post) {
        signIn(request, std::move(responder));
        return true;
    }
    if (path == u"/signin" || path == u"/signin.css") {
        page(request, responder, path == u"/signin" ? u"signin.html"_qs : u"style.css"_qs,
             path == u"/signin" ? "text/html; charset=utf-8" : "text/css; charset=utf-8");
        return true;
    }
    if (path == u"/favicon.svg") {
        page(request, responder, u"favicon.svg"_qs, "image/svg+xml");
        return true;
    }
    if (path == u"/api/session") {
        session(request, responder);
        return true;
    }
    const bool signedIn = m_access.csrfOf(request) != nullptr;
    if (m_access.signInNeeded() && !signedIn) {
        if (path.startsWith(u"/api/")) {
            HttpReply::error(responder, Code::Unauthorized, u"Sign in first"_qs);
        } else {
            HttpReply::redirect(responder, "/signin");
        }
        return true;
    }
    if (path == u"/api/live" && method == Method::Get) {
        m_live->addClient(std::move(responder));
        return true;
    }
    if (path == u"/api/export" && method == Method::Get) {
        exportEvents(request, std::move(responder));
        return true;
    }
    route(request, responder);
    return true;
}

void WebServer::route(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const QString path = request.url().path();
    const Method method = request.method();
    const bool changes = method != Method::Get && method != Method::Head;
    if (changes && !sameOrigin(request)) {
        HttpReply::error(responder, Code::Forbidden, u"Request from another site refused"_qs);
        return;
    }
    if (changes && !m_access.csrfMatches(request)) {
        HttpReply::error(responder, Code::Forbidden,
                         u"Missing or wrong CSRF token (header X-CSRF-Token, from "
                         u"/api/session)"_qs);
        return;
    }
    if (path == u"/signout" && method == Method::Post) {
        m_access.closeSession(request);
        HttpReply::json(responder, {{u"signedIn"_qs, false}}, Code::Ok,
                        {{"Set-Cookie", WebAccess::expiredCookie()}});
    } else if (path == u"/api/settings" && method == Method::Put) {
        putSettings(request, responder);
    } else if (method != Method::Get) {
        HttpReply::error(responder, Code::MethodNotAllowed, u"Method not allowed here"_qs);
    } else if (path == u"/" || path == u"/index.html") {
        page(request, responder, u"index.html"_qs, "text/html; charset=utf-8");
    } else if (path == u"/app.js") {
        page(request, responder, u"app.js"_qs, "text/javascript; charset=utf-8");
    } else if (path == u"/style.css") {
        page(request, responder, u"style.css"_qs, "text/css; charset=utf-8");
    } else if (path == u"/api/status") {
        status(responder);
    } else if (path == u"/api/history") {
        history(request, responder);
    } else if (path == u"/api/count") {
        count(request, responder);
    } else if (path == u"/api/settings") {
        getSettings(responder);
    } else {
        HttpReply::error(responder, Code::NotFound, u"Nothing here"_qs);
    }
}

void WebServer::page(const QHttpServerRequest& request, QHttpServerResponder& responder,
                     const QString& resource, const QByteArray& type) {
    QFile file(u":/web/"_qs + resource);
    if (!file.open(QIODevice::ReadOnly)) {
        HttpReply::error(responder, Code::NotFound, u"Nothing here"_qs);
        return;
    }
    QByteArray body = file.readAll();
    if (resource == u"signin.html") {
        const bool failed = request.query().hasQueryItem(u"failed"_qs);
        body.replace("{{message}}", failed ? "Wrong password." : "");
    }
    HttpReply::send(responder, Code::Ok, type, body);
}

void WebServer::signIn(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    if (!sameOrigin(request)) {
        HttpReply::error(responder, Code::Forbidden, u"Request from another site refused"_qs);
        return;
    }
    const QUrlQuery form(QString::fromUtf8(request.body()).replace(u'+', u' '));
    const QString password = form.queryItemValue(u"password"_qs, QUrl::FullyDecoded);
    if (m_access.passwordMatches(password)) {
        m_access.signedIn(request.remoteAddress());
        HttpReply::redirect(responder, "/",
                            {{"Set-Cookie", WebAccess::cookie(m_access.openSession().token)}});
        return;
    }
    // The answer to a wrong password waits, without holding up the logger meanwhile.
    const int delay = m_access.failedSignIn(request.remoteAddress());
    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = held->socket();
    QTimer::singleShot(delay, this, [held, socket] {
        if (socket) {
            HttpReply::redirect(*held, "/signin?failed=1");
        }
    });
}

void WebServer::session(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    if (request.method() != Method::Get) {
        HttpReply::error(responder, Code::MethodNotAllowed, u"Method not allowed here"_qs);
        return;
    }
    const QByteArray* csrf = m_access.csrfOf(request);
    if (csrf != nullptr || m_access.signInNeeded()) {
        QJsonObject body{{u"signInNeeded"_qs, m_access.signInNeeded()},
                         {u"signedIn"_qs, csrf != nullptr}};
        if (csrf != nullptr) {
            body.insert(u"csrf"_qs, QString::fromLatin1(*csrf));
        }
        HttpReply::json(responder, body);
        return;
    }
    // Without a password every visitor of the loopback address gets a session for the asking.
    const WebAccess::NewSession made = m_access.openSession();
    HttpReply::json(responder,
                    {{u"signInNeeded"_qs, false},
                     {u"signedIn"_qs, true},
                     {u"csrf"_qs, QString::fromLatin1(made.csrf)}},
                    Code::Ok, {{"Set-Cookie", WebAccess::cookie(made.token)}});
}

Status WebServer::reader() {
    if (m_reader.isOpen() && m_reader.settings() == m_logger.settings().database) {
        return {};
    }
    return m_reader.openForReading(m_logger.settings().database);
}

std::optional<EventQuery> WebServer::readableQuery(const QHttpServerRequest& request,
                                                   QHttpServerResponder& responder,
                                                   const QSet<QString>& allowed) {
    const Result<EventQuery> query = EventRequest::parse(request.query(), allowed);
    if (!query) {
        HttpReply::error(responder, Code::BadRequest, query.problem().description);
        return std::nullopt;
    }
    if (const Status open = reader(); !open) {
        HttpReply::error(responder, Code::ServiceUnavailable, open.problem().description);
        return std::nullopt;
    }
    return query.value();
}

void WebServer::history(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    std::optional<EventQuery> query =
        readableQuery(request, responder, {u"limit"_qs, u"before"_qs, u"sort"_qs, u"order"_qs});
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
        HttpReply::error(responder, Code::ServiceUnavailable, read.problem().description);
        return;
    }
    HttpReply::json(responder,
                    {{u"rows"_qs, rows}, {u"next"_qs, more ? QJsonValue(lastId) : QJsonValue()}});
}

void WebServer::count(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const std::optional<EventQuery> query = readableQuery(request, responder, {});
    if (!query) {
        return;
    }
    const Result<qint64> rows = m_reader.countEvents(query.value());
    if (!rows) {
        HttpReply::error(responder, Code::ServiceUnavailable, rows.problem().description);
        return;
    }
    HttpReply::json(responder, {{u"count"_qs, rows.value()}});
}

void WebServer::exportEvents(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    const QString format = request.query().queryItemValue(u"format"_qs);
    if (format != u"csv" && format != u"jsonl") {
        HttpReply::error(responder, Code::BadRequest, u"'format' must be csv or jsonl"_qs);
        return;
    }
    const std::optional<EventQuery> query = readableQuery(request, responder, {u"format"_qs});
    if (!query) {
        return;
    }
    ExportStream::start(m_reader, query.value(),
                        format == u"csv" ? ExportFormat::Csv : ExportFormat::JsonLines,
                        std::move(responder));
}

void WebServer::status(QHttpServerResponder& responder) {
    HttpReply::json(responder, StatusJson::toJson(m_logger.status()));
}

void WebServer::getSettings(QHttpServerResponder& responder) {
    HttpReply::json(responder, SettingsJson::toJson(m_logger.settings().database));
}

void WebServer::putSettings(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    if (!HttpReply::header(request, "Content-Type").startsWith("application/json")) {
        HttpReply::error(responder, Code::UnsupportedMediaType,
                         u"Send the settings as application/json"_qs);
        return;
    }
    const Result<DatabaseSettings> next =
        SettingsJson::fromJson(request.body(), m_logger.settings().database);
    if (!next) {
        HttpReply::error(responder, Code::BadRequest, next.problem().description);
        return;
    }
    if (const Status applied = m_logger.applyDatabaseSettings(next.value()); !applied) {
        HttpReply::error(responder, Code::InternalServerError, applied.problem().description);
        return;
    }
    QJsonObject body = SettingsJson::toJson(m_logger.settings().database);
    body.insert(u"databaseOpen"_qs, m_logger.databaseOpen());
    HttpReply::json(responder, body);
}
