#include "spool/Spool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Appends since the last sync at most before the next one is forced.
constexpr qint64 kSyncEvery = 256;

}  // namespace

Spool::Spool(QString folder, const QString& name, qint64 limitBytes)
    : m_folder(std::move(folder)),
      m_path(m_folder + u'/' + name + QStringLiteral(".spool")),
      m_limitBytes(limitBytes),
      m_position(m_folder + u'/' + name + QStringLiteral(".position")) {}

Spool::~Spool() {
    (void)sync();
}

Result<Spool::Recovered> Spool::open() {
    Recovered found;
    if (!QFileInfo::exists(m_path)) {
        m_position.remove();
        return found;
    }
    m_reader = std::make_unique<RecordReader>(m_path, RecordFormat::Check::Sums);
    if (const Status opened = m_reader->open(); !opened) {
        return opened.problem();
    }
    const Result<qint64> size = m_reader->size();
    if (!size) {
        return size.problem();
    }
    const qint64 start = std::clamp<qint64>(m_position.load(), 0, size.value());
    m_reader->seek(start);
    for (;;) {
        const Result<std::optional<QStringList>> record = m_reader->next(size.value());
        if (!record) {
            return record.problem();
        }
        if (!record.value()) {
            break;
        }
        ++found.records;
    }
    found.cutBytes = m_reader->cutBytes();
    if (found.records == 0) {
        removeFiles();
        return found;
    }
    // A torn tail goes, so that appends start at a record; damage before the last whole record
    // stays in the file and is skipped again as it is read.
    if (const qint64 end = m_reader->recordsEnd();
        end < size.value() && !QFile::resize(m_path, end)) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot cut the torn end of the spool ") + m_path};
    }
    m_reader.reset();  // what it holds may be the torn end
    m_readOffset = start;
    m_waiting = found.records;
    if (const Status opened = openForAppend(); !opened) {
        return opened.problem();
    }
    return found;
}

Status Spool::openForAppend() {
    if (m_appender.isOpen()) {
        return {};
    }
    QDir().mkpath(m_folder);
    return m_appender.open(m_path, RecordAppender::Start::AtEnd);
}

Result<Spool::Appended> Spool::append(const QStringList& record) {
    QByteArray bytes;
    RecordFormat::append(bytes, record);
    if (m_appender.isOpen() && m_appender.end() - m_readOffset + bytes.size() > m_limitBytes) {
        return Appended::Full;
    }
    if (const Status opened = openForAppend(); !opened) {
        return opened.problem();
    }
    if (const Status written = m_appender.append(bytes); !written) {
        return written.problem();
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
    if (m_unsynced == 0 || !m_appender.isOpen()) {
        return {};
    }
    m_unsynced = 0;
    return m_appender.sync();
}

Result<QList<QStringList>> Spool::peek(int count) {
    m_peekedEnds.clear();
    QList<QStringList> records;
    if (m_waiting == 0 || !m_appender.isOpen()) {
        return records;
    }
    if (!m_reader) {
        m_reader = std::make_unique<RecordReader>(m_path, RecordFormat::Check::Sums);
    }
    if (const Status opened = m_reader->open(); !opened) {
        return opened.problem();
    }
    m_reader->seek(m_readOffset);
    const qint64 end = m_appender.end();
    while (records.size() < count && records.size() < m_waiting) {
        Result<std::optional<QStringList>> record = m_reader->next(end);
        if (!record) {
            return record.problem();
        }
        if (!record.value()) {
            return Problem{ErrorKind::FileSystem,
                           QStringLiteral("The spool ") + m_path +
                               QStringLiteral(" was changed while in use at byte ") +
                               QString::number(m_reader->offset())};
        }
        records.append(*std::move(record.value()));
        m_peekedEnds.append(m_reader->offset());
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
    return m_position.save(m_readOffset);
}

void Spool::removeFiles() {
    m_appender.close();
    m_reader.reset();
    QFile::remove(m_path);
    m_position.remove();
    m_readOffset = 0;
    m_waiting = 0;
    m_unsynced = 0;
}
