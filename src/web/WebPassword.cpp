#include "web/WebPassword.h"

#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

constexpr int kDigestBytes = 32;
const QString kScheme = QStringLiteral("pbkdf2-sha256");

QByteArray randomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

QByteArray digest(const QString& password, const QByteArray& salt, int iterations) {
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, kDigestBytes);
}

// Takes as long whatever bytes differ, so that timing tells nothing about the digest.
bool sameBytes(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

constexpr QByteArrayView kDeviceContext = "quilljot-device:";
constexpr auto kUrlBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray deviceSignature(const QByteArray& nonce, const QString& stored) {
    return QMessageAuthenticationCode::hash(kDeviceContext.toByteArray() + nonce, stored.toUtf8(),
                                            QCryptographicHash::Sha256)
        .toBase64(kUrlBase64);
}

}  // namespace

namespace WebPassword {

QString hash(const QString& password, int iterations) {
    const QByteArray salt = randomBytes(16);
    return kScheme + u'$' + QString::number(iterations) + u'$' +
           QString::fromLatin1(salt.toBase64()) + u'$' +
           QString::fromLatin1(digest(password, salt, iterations).toBase64());
}

bool matches(const QString& password, const QString& stored) {
    const QStringList parts = stored.split(u'$');
    if (parts.size() != 4 || parts[0] != kScheme) {
        return false;
    }
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromBase64(parts[3].toLatin1());
    if (!ok || iterations < 1 || salt.isEmpty() || expected.size() != kDigestBytes) {
        return false;
    }
    return sameBytes(digest(password, salt, iterations), expected);
}

QByteArray randomToken(int bytes) {
    return randomBytes(bytes).toBase64(kUrlBase64);
}

QByteArray deviceToken(const QString& stored) {
    const QByteArray nonce = randomToken(16);
    return nonce + '.' + deviceSignature(nonce, stored);
}

bool isDeviceToken(const QByteArray& token, const QString& stored) {
    const qsizetype dot = token.indexOf('.');
    return !stored.isEmpty() && dot > 0 &&
           sameBytes(token.mid(dot + 1), deviceSignature(token.left(dot), stored));
}

}  // namespace WebPassword
