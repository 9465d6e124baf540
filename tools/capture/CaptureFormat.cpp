#include "CaptureFormat.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <cmath>

#include "support/JsonText.h"

namespace CaptureFormat {

namespace {

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

Problem malformed(const QString& what) {
    return Problem{ErrorKind::Message, what, 0};
}

}  // namespace

QByteArray headerLine(const QString& source, qint64 startedMicroseconds) {
    QByteArray out = "{\"format\":\"xap-capture\",\"version\":1,\"source\":";
    JsonText::appendString(out, source.toUtf8());
    out += ",\"started\":\"";
    out += QDateTime::fromMSecsSinceEpoch(startedMicroseconds / 1000, Qt::UTC)
               .toString(Qt::ISODate)
               .toLatin1();
    out += "\"}\n";
    return out;
}

QByteArray recordLine(const CaptureRecord& record) {
    QByteArray out;
    out.reserve(record.bytes.size() + record.bytes.size() / 8 + 48);
    out += "{\"t\":";
    const qint64 us = record.microseconds;
    out += QByteArray::number(us / 1000000);
    out += '.';
    out += QByteArray::number(us % 1000000).rightJustified(6, '0');
    if (isUtf8(record.bytes)) {
        out += ",\"text\":";
        JsonText::appendString(out, record.bytes);
    } else {
        out += ",\"base64\":\"";
        out += record.bytes.toBase64();
        out += '"';
    }
    out += "}\n";
    return out;
}

Result<std::optional<CaptureRecord>> readLine(QByteArrayView line) {
    if (line.trimmed().isEmpty()) {
        return std::optional<CaptureRecord>();
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (!doc.isObject()) {
        return malformed(doc.isNull() ? error.errorString() : QStringLiteral("not an object"));
    }
    const QJsonObject o = doc.object();
    if (o.contains(u"format")) {
        if (o.value(u"format").toString() != u"xap-capture") {
            return malformed(QStringLiteral("not an xAP capture"));
        }
        return std::optional<CaptureRecord>();
    }
    const QJsonValue t = o.value(u"t");
    if (!t.isDouble() || t.toDouble() < 0) {
        return malformed(QStringLiteral("\"t\" must be a time in seconds"));
    }
    CaptureRecord record{std::llround(t.toDouble() * 1e6), {}};
    if (o.value(u"text").isString()) {
        record.bytes = o.value(u"text").toString().toUtf8();
    } else if (o.value(u"base64").isString()) {
        const auto decoded = QByteArray::fromBase64Encoding(
            o.value(u"base64").toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            return malformed(QStringLiteral("\"base64\" is not base64"));
        }
        record.bytes = *decoded;
    } else {
        return malformed(QStringLiteral("neither \"text\" nor \"base64\""));
    }
    return std::optional<CaptureRecord>(std::move(record));
}

}  // namespace CaptureFormat
