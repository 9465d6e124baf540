#pragma once

#include <QByteArray>
#include <QString>

// The web page's password as the settings keep it: never the password itself, only a salted
// PBKDF2-HMAC-SHA256 digest, "pbkdf2-sha256$<iterations>$<salt>$<digest>" (base64 parts).
namespace WebPassword {

constexpr int kIterations = 200000;

QString hash(const QString& password, int iterations = kIterations);
// True when `password` is the one `stored` was made from; a malformed `stored` matches nothing.
bool matches(const QString& password, const QString& stored);

// Random bytes from the system's source, as URL-safe base64: session and CSRF tokens.
QByteArray randomToken(int bytes = 32);

// A device token, left with a browser that signed in: random, and signed with a key made from
// `stored`, so that only this logger makes tokens it takes and a new password voids them all.
QByteArray deviceToken(const QString& stored);
bool isDeviceToken(const QByteArray& token, const QString& stored);

}  // namespace WebPassword
