#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrlQuery>
#include <utility>

// One HTTP request as the web server took it in, whole and within its limits.
struct HttpRequest {
    QByteArray method;
    QString path;  // decoded, without the query
    QUrlQuery query;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QHostAddress peer;
    // Came over TLS (or through a trusted proxy that says so): cookies are set Secure.
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
