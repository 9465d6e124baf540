#include "web/HttpReply.h"

#include <QJsonDocument>

#include "web/HttpConnection.h"

namespace {

const HttpReply::Headers kAlways = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
     "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "same-origin"},
    {"Cache-Control", "no-store"},
};

HttpReply::Headers headers(const QByteArray& contentType, const HttpReply::Headers& extra) {
    HttpReply::Headers all = kAlways;
    if (!contentType.isEmpty()) {
        all.append({"Content-Type", contentType});
    }
    all.append(extra);
    return all;
}

}  // namespace

namespace HttpReply {

void send(HttpConnection& connection, Status status, const QByteArray& contentType,
          const QByteArray& body, const Headers& extra) {
    connection.respond(status, headers(contentType, extra), body);
}

void json(HttpConnection& connection, const QJsonObject& body, Status status,
          const Headers& extra) {
    send(connection, status, "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact),
         extra);
}

void error(HttpConnection& connection, Status status, const QString& message,
           const Headers& extra) {
    json(connection, {{QStringLiteral("error"), message}}, status, extra);
}

void redirect(HttpConnection& connection, const QByteArray& location, const Headers& extra) {
    Headers all = extra;
    all.append({"Location", location});
    send(connection, Status::SeeOther, "text/plain", QByteArray(), all);
}

void beginStream(HttpConnection& connection, const QByteArray& contentType, const Headers& extra) {
    connection.beginStream(Status::Ok, headers(contentType, extra));
}

}  // namespace HttpReply
