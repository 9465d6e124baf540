#include "message/TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>

QString textFromBytes(const QByteArray& bytes) {
    // Pure ASCII is by far the common case on an xAP network and needs no validation; the test
    // looks at eight bytes at a time.
    const char* p = bytes.constData();
    const qsizetype n = bytes.size();
    quint64 high = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        high |= word;
    }
    for (; i < n; ++i) {
        high |= quint64(static_cast<unsigned char>(p[i]));
    }
    if ((high & 0x8080808080808080ULL) == 0) {
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

char* writeTextBytes(char* out, const QString& text) {
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char* end = utf8.appendToBuffer(out, text);
    // A lone surrogate half: as toUtf8() writes it, so that a text is stored as it always was.
    if (utf8.hasError()) {
        const QByteArray made = text.toUtf8();
        end = std::copy(made.cbegin(), made.cend(), out);
    }
    return end;
}
