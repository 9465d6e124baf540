#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include "report/Result.h"

// A self-signed certificate for the web page on a home network, made with the openssl program:
// an ECDSA P-256 key and a certificate valid for ten years under the names and addresses given.
// A browser cannot check it against an authority; its SHA-256 fingerprint, compared once with
// what the browser shows, stands in for that.
namespace WebCertificate {

// Writes the certificate and the key (readable by the owner only); the certificate's
// fingerprint, or why it could not be made.
Result<QString> make(const QString& certFile, const QString& keyFile, const QStringList& names,
                     const QList<QHostAddress>& addresses);
// The SHA-256 fingerprint of the first certificate in PEM text, as browsers show it
// ("AB:12:..."); empty when there is none.
QString fingerprint(const QByteArray& pem);

}  // namespace WebCertificate
