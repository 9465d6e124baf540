#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <utility>

class HttpConnection;

// Answers of the web server, each with the headers every answer carries: a content security
// policy that allows only the server's own scripts and styles, no framing, no sniffing, no
// caching, no referrer to other sites (with none at all, a browser's form posts would come
// from origin "null" and be refused as from another site).
namespace HttpReply {

enum Status : int {
    Ok = 200,
    SeeOther = 303,
    BadRequest = 400,
    Unauthorized = 401,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    PayloadTooLarge = 413,
    UnsupportedMediaType = 415,
    MisdirectedRequest = 421,
    TooManyRequests = 429,
    InternalServerError = 500,
    ServiceUnavailable = 503,
};
using Headers = QList<std::pair<QByteArray, QByteArray>>;

void send(HttpConnection& connection, Status status, const QByteArray& contentType,
          const QByteArray& body, const Headers& extra = {});
void json(HttpConnection& connection, const QJsonObject& body, Status status = Status::Ok,
          const Headers& extra = {});
// {"error": message}: what a person or a script needs to correct the request.
void error(HttpConnection& connection, Status status, const QString& message,
           const Headers& extra = {});
void redirect(HttpConnection& connection, const QByteArray& location, const Headers& extra = {});
// The status line and headers of a body of unknown length, sent in chunks (the live stream and
// exports).
void beginStream(HttpConnection& connection, const QByteArray& contentType,
                 const Headers& extra = {});

}  // namespace HttpReply
