#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrlQuery>
#include <utility>

// One HTTP request as the web server took it in, whole and within its limits.
struct HttpRequest {
    using Headers = QList<std::pair<QByteArray, QByteArray>>;

    QByteArray method;
    QString path;  // decoded, without the query
    QUrlQuery query;
    Headers headers;
    QByteArray body;
    // The client: the connection's peer, or what a trusted proxy says it forwards for.
    QHostAddress peer;
    // Came over TLS, to this server or to a trusted proxy in front of it.
    bool secure = false;

    // A header by name, in any letter case; empty when missing.
    QByteArray header(const QByteArray& name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return {};
    }
};
