#include "spool/RecordFormat.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "message/TextCodec.h"

namespace RecordFormat {

namespace {

// zlib's CRC-32 is the one the records carry (IEEE, reflected), computed several bytes a step.
quint32 crc32(const char* data, qsizetype size) {
    return quint32(::crc32_z(::crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(data),
                             std::size_t(size)));
}

void putU32(char* out, quint32 v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = char((v >> (8 * i)) & 0xFF);
    }
}

quint32 getU32(const char* p) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | quint8(p[i]);
    }
    return v;
}

bool textsOf(QByteArrayView payload, QStringList& texts) {
    texts.reserve(8);  // more than any record has
    for (qsizetype at = 0; at < payload.size();) {
        if (at + 4 > payload.size()) {
            return false;
        }
        const quint32 n = getU32(payload.constData() + at);
        at += 4;
        if (n > quint32(payload.size() - at)) {
            return false;
        }
        texts.append(QString::fromUtf8(payload.constData() + at, qsizetype(n)));
        at += n;
    }
    return true;
}

}  // namespace

void append(QByteArray& out, const QStringList& texts) {
    const qsizetype start = out.size();
    qsizetype room = kHeaderSize;
    for (const QString& text : texts) {
        room += 4 + 3 * text.size();
    }
    out.resize(start + room);
    char* const payload = out.data() + start + kHeaderSize;
    char* at = payload;
    for (const QString& text : texts) {
        char* const end = writeTextBytes(at + 4, text);
        putU32(at, quint32(end - at - 4));
        at = end;
    }
    const auto size = quint32(at - payload);
    char* const head = out.data() + start;
    std::memcpy(head, kMagic, 4);
    putU32(head + 4, size);
    putU32(head + 8, crc32(payload, size));
    out.truncate(start + kHeaderSize + size);
}

Decoded decode(QByteArrayView bytes, Check check) {
    using enum Decoded::Kind;
    const qsizetype magic = std::min<qsizetype>(bytes.size(), 4);
    if (std::memcmp(bytes.constData(), kMagic, std::size_t(magic)) != 0) {
        return {Damaged, {}, 0};
    }
    if (bytes.size() < kHeaderSize) {
        return {Short, {}, kHeaderSize};
    }
    const quint32 size = getU32(bytes.constData() + 4);
    if (size > kMaxPayload) {
        return {Damaged, {}, 0};
    }
    const qint64 whole = kHeaderSize + size;
    if (bytes.size() < whole) {
        return {Short, {}, whole};
    }
    const char* payload = bytes.constData() + kHeaderSize;
    if (check == Check::Sums && crc32(payload, size) != getU32(bytes.constData() + 8)) {
        return {Damaged, {}, 0};
    }
    Decoded d{Whole, {}, whole};
    if (!textsOf(QByteArrayView(payload, size), d.texts)) {
        return {Damaged, {}, 0};
    }
    return d;
}

}  // namespace RecordFormat
