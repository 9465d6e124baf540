#include "spool/Spool.h"

#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>

#include <zlib.h>

#include "message/TextCodec.h"

namespace {

// A record: magic, payload length, CRC-32 of the payload, payload. The payload holds the texts of
// the record, each as its UTF-8 length and bytes. The magic lets reading find the next
// record after a damaged one.
constexpr char kMagic[4] = {'q', 'j', 's', '1'};
constexpr qint64 kHeaderSize = 12;
constexpr quint32 kMaxPayload = 4u * 1024 * 1024;
// Appends since the last sync at most before the next one is forced.
constexpr qint64 kSyncEvery = 256;

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

// Appends the record of `texts` to `out`, written in place: a record costs no allocation of its
// own, which matters where the receiver writes a batch of them.
void appendEncoded(QByteArray& out, const QStringList& texts) {
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

std::optional<QStringList> decoded(QByteArrayView payload) {
    QStringList texts;
    texts.reserve(8);  // more than any record has
    for (qsizetype at = 0; at < payload.size();) {
        if (at + 4 > payload.size()) {
            return std::nullopt;
        }
        const quint32 n = getU32(payload.constData() + at);
        at += 4;
        if (n > quint32(payload.size() - at)) {
            return std::nullopt;
        }
        texts.append(QString::fromUtf8(payload.constData() + at, qsizetype(n)));
        at += n;
    }
    return texts;
}

// The record at `offset` of `bytes`: its payload and size, or nothing when it is torn or
// damaged.
std::optional<std::pair<QByteArrayView, qint64>> recordAt(const QByteArray& bytes, qint64 offset,
                                                          bool checkSum = true) {
    if (offset + kHeaderSize > bytes.size() ||
        std::memcmp(bytes.constData() + offset, kMagic, 4) != 0) {
        return std::nullopt;
    }
    const quint32 size = getU32(bytes.constData() + offset + 4);
    if (size > kMaxPayload || offset + kHeaderSize + size > bytes.size()) {
        return std::nullopt;
    }
    const char* payload = bytes.constData() + offset + kHeaderSize;
    if (checkSum && crc32(payload, size) != getU32(bytes.constData() + offset + 8)) {
        return std::nullopt;
    }
    return std::pair{QByteArrayView(payload, size), kHeaderSize + size};
}

}  // namespace

Spool::Spool(QString folder, const QString& name, qint64 limitBytes)
    : m_folder(std::move(folder)),
      m_path(m_folder + u'/' + name + QStringLiteral(".spool")),
      m_positionPath(m_folder + u'/' + name + QStringLiteral(".position")),
      m_limitBytes(limitBytes) {}

Spool::~Spool() {
    (void)sync();
}

Result<Spool::Recovered> Spool::open() {
    Recovered found;
    if (!QFileInfo::exists(m_path)) {
        QFile::remove(m_positionPath);
        return found;
    }
    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly)) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot read the spool ") + m_path +
                                                  u": " + in.errorString()};
    }
    const QByteArray bytes = in.readAll();
    in.close();
    qint64 start = 0;
    QFile position(m_positionPath);
    if (position.open(QIODevice::ReadOnly)) {
        start = std::clamp<qint64>(position.readAll().trimmed().toLongLong(), 0, bytes.size());
    }
    // The records still waiting, good ones only: a damaged record is skipped up to the next
    // magic, a torn tail is left out.
    QByteArray kept;
    for (qint64 at = start; at < bytes.size();) {
        if (const auto r = recordAt(bytes, at)) {
            kept.append(bytes.constData() + at, r->second);
            at += r->second;
            ++found.records;
            continue;
        }
        const qsizetype next = bytes.indexOf(QByteArray(kMagic, 4), at + 1);
        const qint64 end = next < 0 ? bytes.size() : next;
        found.cutBytes += end - at;
        at = end;
    }
    if (found.records == 0) {
        removeFiles();
        return found;
    }
    if (start != 0 || found.cutBytes != 0) {
        QSaveFile rewritten(m_path);
        if (!rewritten.open(QIODevice::WriteOnly) || rewritten.write(kept) != kept.size() ||
            !rewritten.commit()) {
            return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot rewrite the spool ") +
                                                      m_path + u": " + rewritten.errorString()};
        }
        QFile::remove(m_positionPath);
    }
    m_readOffset = 0;
    m_waiting = found.records;
    if (const Status opened = openForAppend(); !opened) {
        return opened.problem();
    }
    return found;
}

Status Spool::openForAppend() {
    if (m_file.isOpen()) {
        return {};
    }
    QDir().mkpath(m_folder);
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot write the spool ") + m_path +
                                                  u": " + m_file.errorString()};
    }
    return {};
}

Result<Spool::Appended> Spool::append(const QStringList& record) {
    QByteArray bytes;
    appendEncoded(bytes, record);
    if (m_file.isOpen() && m_file.size() - m_readOffset + bytes.size() > m_limitBytes) {
        return Appended::Full;
    }
    if (const Status opened = openForAppend(); !opened) {
        return opened.problem();
    }
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot write the spool ") + m_path +
                                                  u": " + m_file.errorString()};
    }
    ++m_waiting;
    if (++m_unsynced >= kSyncEvery) {
        if (const Status synced = sync(); !synced) {
            return synced.problem();
        }
    }
    return Appended::Kept;
}

Status Spool::sync() {
    if (m_unsynced == 0 || !m_file.isOpen()) {
        return {};
    }
    m_unsynced = 0;
    if (::fdatasync(m_file.handle()) != 0) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot write the spool to disk: ") + m_path};
    }
    return {};
}

Result<QList<QStringList>> Spool::peek(int count) {
    m_peekedEnds.clear();
    QList<QStringList> records;
    if (m_waiting == 0 || !m_file.isOpen()) {
        return records;
    }
    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(m_readOffset)) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot read the spool ") + m_path +
                                                  u": " + in.errorString()};
    }
    qint64 at = m_readOffset;
    while (records.size() < count && records.size() < m_waiting) {
        const QByteArray header = in.read(kHeaderSize);
        const quint32 size = header.size() == kHeaderSize ? getU32(header.constData() + 4) : 0;
        const QByteArray rest = size <= kMaxPayload ? in.read(size) : QByteArray();
        const QByteArray record = header + rest;
        const auto r = recordAt(record, 0);
        auto texts = r ? decoded(r->first) : std::nullopt;
        if (!texts) {
            return Problem{ErrorKind::FileSystem,
                           QStringLiteral("The spool ") + m_path +
                               QStringLiteral(" was changed while in use at byte ") +
                               QString::number(at)};
        }
        at += r->second;
        records.append(*std::move(texts));
        m_peekedEnds.append(at);
    }
    return records;
}

Status Spool::consume(int count) {
    if (count <= 0 || count > m_peekedEnds.size()) {
        return {};
    }
    m_readOffset = m_peekedEnds[count - 1];
    m_waiting -= count;
    m_peekedEnds.clear();
    if (m_waiting == 0) {
        removeFiles();
        return {};
    }
    return writePosition();
}

Status Spool::writePosition() {
    QSaveFile out(m_positionPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(QByteArray::number(m_readOffset)) < 0 ||
        !out.commit()) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot write ") + m_positionPath +
                                                  u": " + out.errorString()};
    }
    return {};
}

void Spool::removeFiles() {
    m_file.close();
    QFile::remove(m_path);
    QFile::remove(m_positionPath);
    m_readOffset = 0;
    m_waiting = 0;
    m_unsynced = 0;
}

void Spool::appendRecord(QByteArray& out, const QStringList& record) {
    appendEncoded(out, record);
}

std::optional<std::pair<QStringList, qint64>> Spool::decodeRecordAt(const QByteArray& bytes,
                                                                    qint64 offset,
                                                                    Written written) {
    const auto r = recordAt(bytes, offset, written == Written::ByAnyone);
    if (!r) {
        return std::nullopt;
    }
    auto texts = decoded(r->first);
    if (!texts) {
        return std::nullopt;
    }
    return std::pair{*std::move(texts), r->second};
}
