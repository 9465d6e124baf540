#include "web/WebCertificate.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

namespace WebCertificate {

Result<QString> make(const QString& certFile, const QString& keyFile, const QStringList& names,
                     const QList<QHostAddress>& addresses) {
    QStringList alternatives;
    for (const QString& name : names) {
        alternatives.append(QStringLiteral("DNS:") + name);
    }
    for (const QHostAddress& address : addresses) {
        alternatives.append(QStringLiteral("IP:") + address.toString());
    }
    const QString common = names.value(0, QStringLiteral("quilljot"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=") + common, QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + alternatives.join(u','),
                   QStringLiteral("-keyout"), keyFile, QStringLiteral("-out"), certFile});
    if (!openssl.waitForStarted()) {
        return Problem{ErrorKind::Generic,
                       QStringLiteral("The openssl program could not be started (install the "
                                      "openssl package): ") +
                           openssl.errorString()};
    }
    openssl.waitForFinished(60'000);
    if (openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        return Problem{ErrorKind::Generic,
                       QStringLiteral("openssl could not make the certificate: ") +
                           QString::fromLocal8Bit(openssl.readAll()).trimmed()};
    }
    QFile::setPermissions(keyFile, QFile::ReadOwner | QFile::WriteOwner);
    QFile cert(certFile);
    if (!cert.open(QIODevice::ReadOnly)) {
        return Problem{ErrorKind::Generic, QStringLiteral("The certificate cannot be read from ") +
                                               certFile + QStringLiteral(": ") +
                                               cert.errorString()};
    }
    return fingerprint(cert.readAll());
}

QString fingerprint(const QByteArray& pem) {
    constexpr QByteArrayView kBegin = "-----BEGIN CERTIFICATE-----";
    const qsizetype begin = pem.indexOf(kBegin);
    const qsizetype end = pem.indexOf("-----END CERTIFICATE-----", begin);
    if (begin < 0 || end < 0) {
        return {};
    }
    const QByteArray der =
        QByteArray::fromBase64(pem.mid(begin + kBegin.size(), end - begin - kBegin.size()));
    const QByteArray hex = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':');
    return QString::fromLatin1(hex).toUpper();
}

}  // namespace WebCertificate
