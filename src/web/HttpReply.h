#pragma once

#include <QHttpServerResponder>
#include <QJsonObject>
#include <QList>
#include <utility>

class QHttpServerRequest;

// Answers of the web server, each with the headers every answer carries: a content security
// policy that allows only the server's own scripts and styles, no framing, no sniffing, no
// caching, no referrer to other sites (with none at all, a browser's form posts would come
// from origin "null" and be refused as from another site).
namespace HttpReply {

using Status = QHttpServerResponder::StatusCode;
using Headers = QList<std::pair<QByteArray, QByteArray>>;

void send(QHttpServerResponder& responder, Status status, const QByteArray& contentType,
          const QByteArray& body, const Headers& extra = {});
void json(QHttpServerResponder& responder, const QJsonObject& body, Status status = Status::Ok,
          const Headers& extra = {});
// {"error": message}: what a person or a script needs to correct the request.
void error(QHttpServerResponder& responder, Status status, const QString& message);
void redirect(QHttpServerResponder& responder, const QByteArray& location,
              const Headers& extra = {});
// The status line and headers of a body of unknown length that ends when the connection does
// (the live stream and exports).
void beginStream(QHttpServerResponder& responder, const QByteArray& contentType,
                 const Headers& extra = {});

// A request header by name, in any letter case; empty when missing.
QByteArray header(const QHttpServerRequest& request, const QByteArray& name);

}  // namespace HttpReply
