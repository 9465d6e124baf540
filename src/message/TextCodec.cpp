#include "message/TextCodec.h"

#include <QStringDecoder>

QString textFromBytes(const QByteArray& bytes) {
    // Pure ASCII is by far the common case on an xAP network and needs no validation.
    bool ascii = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        return QString::fromLatin1(bytes);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return QString::fromLatin1(bytes);
    }
    return text;
}

QByteArray bytesFromText(const QString& text) {
    return text.toUtf8();
}
