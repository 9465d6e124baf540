#include "web/HttpReply.h"

#include <QHttpServerRequest>
#include <QJsonDocument>

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

void head(QHttpServerResponder& responder, HttpReply::Status status, const QByteArray& contentType,
          const HttpReply::Headers& extra) {
    responder.writeStatusLine(status);
    for (const auto& [name, value] : kAlways) {
        responder.writeHeader(name, value);
    }
    if (!contentType.isEmpty()) {
        responder.writeHeader("Content-Type", contentType);
    }
    for (const auto& [name, value] : extra) {
        responder.writeHeader(name, value);
    }
}

}  // namespace

namespace HttpReply {

void send(QHttpServerResponder& responder, Status status, const QByteArray& contentType,
          const QByteArray& body, const Headers& extra) {
    head(responder, status, contentType, extra);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeBody(body);
}

void json(QHttpServerResponder& responder, const QJsonObject& body, Status status,
          const Headers& extra) {
    send(responder, status, "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact),
         extra);
}

void error(QHttpServerResponder& responder, Status status, const QString& message) {
    json(responder, {{u"error"_qs, message}}, status);
}

void redirect(QHttpServerResponder& responder, const QByteArray& location, const Headers& extra) {
    Headers headers = extra;
    headers.append(std::pair<QByteArray, QByteArray>("Location", location));
    send(responder, Status::SeeOther, "text/plain", QByteArray(), headers);
}

void beginStream(QHttpServerResponder& responder, const QByteArray& contentType,
                 const Headers& extra) {
    Headers headers = extra;
    headers.append(std::pair<QByteArray, QByteArray>("Connection", "close"));
    head(responder, Status::Ok, contentType, headers);
    responder.writeBody(QByteArray());
}

QByteArray header(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

}  // namespace HttpReply
