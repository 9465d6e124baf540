#include "intake/ReceiveQueue.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "spool/Spool.h"

namespace {

// Bytes read from an overflow file at a time (a record may be larger: then that much is read).
constexpr qint64 kReadChunk = 1024 * 1024;
constexpr qint64 kLargestRecord = 4 * 1024 * 1024 + 12;

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

struct ReceiveQueue::FileReader {
    int generation = 0;
    int fd = -1;
    int positionFd = -1;
    qint64 offset = 0;  // the next record to read
    qint64 noted = 0;   // what the position file says
    bool earlierRun = false;
    // Bytes read ahead, from the file's offset `chunkStart`: a pass takes fewer than a chunk.
    QByteArray chunk;
    qint64 chunkStart = 0;

    ~FileReader() {
        for (const int open : {fd, positionFd}) {
            if (open >= 0) {
                ::close(open);
            }
        }
    }
};

ReceiveQueue::ReceiveQueue(QString folder, Limits limits)
    : m_folder(std::move(folder)), m_limits(limits) {
    QDir().mkpath(m_folder);
    const QStringList files =
        QDir(m_folder).entryList({QStringLiteral("received-*.spool")}, QDir::Files);
    for (const QString& name : files) {
        bool ok = false;
        const int generation = name.mid(9, name.size() - 9 - 6).toInt(&ok);
        if (ok && generation > 0) {
            m_earlier.push_back(generation);
            m_generation = std::max(m_generation, generation);
        }
    }
    std::sort(m_earlier.begin(), m_earlier.end());
    m_firstOwnGeneration = m_generation + 1;
}

ReceiveQueue::~ReceiveQueue() {
    if (m_appendFd >= 0) {
        ::close(m_appendFd);
    }
}

QString ReceiveQueue::filePath(int generation) const {
    return m_folder + QStringLiteral("/received-") + QString::number(generation) +
           QStringLiteral(".spool");
}

QString ReceiveQueue::positionPath(int generation) const {
    return m_folder + QStringLiteral("/received-") + QString::number(generation) +
           QStringLiteral(".position");
}

void ReceiveQueue::push(std::vector<ReceivedItem>&& batch) {
    if (batch.empty()) {
        return;
    }
    const auto n = qsizetype(batch.size());
    m_pushed += quint64(n);
    qsizetype weight = 0;
    for (const ReceivedItem& item : batch) {
        weight += item.weight();
    }
    bool wake = false;
    int generation = 0;
    bool overflowDone = false;
    {
        const std::lock_guard hold(m_lock);
        if (!m_overflowing && qsizetype(m_memory.size()) + n <= m_limits.items &&
            m_memoryBytes + weight <= m_limits.bytes) {
            for (ReceivedItem& item : batch) {
                m_memory.push_back(std::move(item));
            }
            m_memoryBytes += weight;
            wake = std::exchange(m_writerIdle, false);
            overflowDone = m_appendFd >= 0;
        } else {
            if (!m_overflowing) {
                m_overflowing = true;
                m_generation += 2;  // the number between stays free for keepForLater()
                m_published = 0;
            }
            generation = m_generation;
            m_appending = true;
        }
    }
    if (overflowDone) {
        // The writer has read and removed the last overflow file; its space goes with this.
        ::close(std::exchange(m_appendFd, -1));
        m_appendGeneration = 0;
    }
    if (generation != 0) {
        const qint64 wrote = append(generation, batch);
        if (wrote >= 0) {
            m_overflowed += quint64(n);
            m_losing = false;
        }
        {
            const std::lock_guard hold(m_lock);
            if (wrote >= 0) {
                m_published = m_appendEnd;
            }
            m_appending = false;
            wake = std::exchange(m_writerIdle, false);
        }
        if (wrote < 0) {
            noteLoss(systemError(), n);
        }
    }
    if (wake && m_wake) {
        m_wake();
    }
}

qint64 ReceiveQueue::append(int generation, const std::vector<ReceivedItem>& items) {
    if (m_appendGeneration != generation) {
        if (m_appendFd >= 0) {
            ::close(m_appendFd);
        }
        const QByteArray path = QFile::encodeName(filePath(generation));
        m_appendFd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_appendGeneration = m_appendFd >= 0 ? generation : 0;
        m_appendEnd = 0;
        if (m_appendFd < 0) {
            return -1;
        }
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(items.size()) * 256);
    for (const ReceivedItem& item : items) {
        Spool::appendRecord(bytes, item.record());
    }
    if (!writeAll(m_appendFd, bytes)) {
        // What went in part is cut off, so that the next append starts at a record.
        (void)::ftruncate(m_appendFd, m_appendEnd);
        (void)::lseek(m_appendFd, 0, SEEK_END);
        return -1;
    }
    m_appendEnd += bytes.size();
    return bytes.size();
}

void ReceiveQueue::noteLoss(const QString& why, qint64 items) {
    m_lost += quint64(items);
    if (!std::exchange(m_losing, true) && m_lossReport) {
        m_lossReport(
            QStringLiteral("Cannot write ") + filePath(m_generation) + QStringLiteral(": ") + why,
            items);
    }
}

void ReceiveQueue::stored() {
    if (!m_reader || m_reader->offset <= m_reader->noted) {
        return;
    }
    FileReader& reader = *m_reader;
    if (reader.positionFd < 0) {
        reader.positionFd = ::open(QFile::encodeName(positionPath(reader.generation)).constData(),
                                   O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    }
    // Written over in place, never cut first: the offset only grows, so the new number covers the
    // old one, and a file cut and written again would be pushed to the disk at each close.
    const QByteArray number = QByteArray::number(reader.offset);
    if (reader.positionFd >= 0 &&
        ::pwrite(reader.positionFd, number.constData(), std::size_t(number.size()), 0) ==
            ssize_t(number.size())) {
        reader.noted = reader.offset;
    }
}

std::vector<ReceivedItem> ReceiveQueue::take(qsizetype most) {
    stored();
    for (;;) {
        std::vector<ReceivedItem> out;
        int generation = 0;
        qint64 end = -1;
        bool earlier = false;
        {
            const std::lock_guard hold(m_lock);
            if (!m_earlier.empty()) {
                generation = m_earlier.front();
                earlier = true;
                if (generation == m_earlierWriting) {
                    m_writerIdle = true;
                    return out;
                }
            } else if (!m_memory.empty()) {
                const qsizetype n = std::min(most, qsizetype(m_memory.size()));
                out.reserve(std::size_t(n));
                for (qsizetype i = 0; i < n; ++i) {
                    m_memoryBytes -= m_memory.front().weight();
                    out.push_back(std::move(m_memory.front()));
                    m_memory.pop_front();
                }
                m_taken += quint64(n);
                return out;
            } else if (!m_overflowing) {
                m_writerIdle = true;
                return out;
            } else {
                generation = m_generation;
                end = m_published;
                if (m_reader && m_reader->generation == generation && m_reader->offset >= end) {
                    // Read to its end: done with the file unless more is on its way.
                    m_writerIdle = true;
                    if (m_appending) {
                        return out;
                    }
                    m_overflowing = false;
                    m_published = 0;
                    finishFile(*m_reader);
                    m_reader.reset();
                    return out;
                }
            }
        }
        if (!m_reader || m_reader->generation != generation) {
            m_reader = std::make_unique<FileReader>();
            m_reader->generation = generation;
            m_reader->earlierRun = generation < m_firstOwnGeneration;
            m_reader->fd =
                ::open(QFile::encodeName(filePath(generation)).constData(), O_RDONLY | O_CLOEXEC);
            QFile position(positionPath(generation));
            if (position.open(QIODevice::ReadOnly)) {
                m_reader->offset = m_reader->noted = position.readAll().trimmed().toLongLong();
            }
        }
        if (earlier) {
            end = m_reader->fd >= 0 ? qint64(::lseek(m_reader->fd, 0, SEEK_END)) : 0;
        }
        out = readFile(*m_reader, end, most);
        if (!out.empty()) {
            (m_reader->earlierRun ? m_earlierTaken : m_taken) += quint64(out.size());
            return out;
        }
        if (earlier) {
            const std::lock_guard hold(m_lock);
            m_earlier.erase(m_earlier.begin());
            finishFile(*m_reader);
            m_reader.reset();
        }
    }
}

std::vector<ReceivedItem> ReceiveQueue::readFile(FileReader& reader, qint64 end, qsizetype most) {
    std::vector<ReceivedItem> out;
    if (reader.fd < 0) {
        reader.offset = end;
        return out;
    }
    const Spool::Written written =
        reader.earlierRun ? Spool::Written::ByAnyone : Spool::Written::ByThisProcess;
    qint64 want = kReadChunk;
    bool justRead = false;  // the chunk was read at the offset by this call
    while (qsizetype(out.size()) < most && reader.offset < end) {
        const qint64 from = reader.offset - reader.chunkStart;
        qint64 at = from;
        while (qsizetype(out.size()) < most) {
            const auto record = Spool::decodeRecordAt(reader.chunk, at, written);
            if (!record) {
                break;
            }
            if (auto item = ReceivedItem::fromRecord(record->first)) {
                out.push_back(*std::move(item));
            }
            at += record->second;
        }
        reader.offset = reader.chunkStart + at;
        if (at > from) {
            justRead = false;
            continue;
        }
        if (justRead) {
            // A chunk read at the offset held nothing whole: a record larger than the chunk, or a
            // torn or damaged one, which a crash can leave at the end of a file and which is left
            // out.
            if (want >= end - reader.offset || want >= kLargestRecord) {
                reader.offset = end;
                break;
            }
            want *= 4;
        }
        want = std::min(want, end - reader.offset);
        reader.chunk.resize(want);
        reader.chunkStart = reader.offset;
        const ssize_t n = ::pread(reader.fd, reader.chunk.data(), std::size_t(want), reader.offset);
        if (n <= 0) {
            reader.chunk.clear();
            reader.offset = end;  // unreadable: what is left of it is lost
            break;
        }
        reader.chunk.truncate(n);
        justRead = true;
    }
    return out;
}

void ReceiveQueue::finishFile(FileReader& reader) {
    QFile::remove(filePath(reader.generation));
    QFile::remove(positionPath(reader.generation));
}

void ReceiveQueue::keepForLater() {
    std::vector<ReceivedItem> items;
    int generation = 0;
    {
        const std::lock_guard hold(m_lock);
        if (m_memory.empty()) {
            return;
        }
        items.assign(std::make_move_iterator(m_memory.begin()),
                     std::make_move_iterator(m_memory.end()));
        m_memory.clear();
        m_memoryBytes = 0;
        generation = m_overflowing ? m_generation - 1 : (m_generation += 2);
        m_earlier.insert(std::upper_bound(m_earlier.begin(), m_earlier.end(), generation),
                         generation);
        m_earlierWriting = generation;
    }
    QByteArray bytes;
    for (const ReceivedItem& item : items) {
        Spool::appendRecord(bytes, item.record());
    }
    QFile file(filePath(generation));
    const bool kept = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                      file.write(bytes) == bytes.size() && file.flush() &&
                      ::fsync(file.handle()) == 0;
    if (!kept) {
        m_lost += quint64(items.size());
        file.remove();
    }
    file.close();
    bool wake = false;
    {
        const std::lock_guard hold(m_lock);
        m_earlierWriting = 0;
        if (!kept) {
            m_earlier.erase(std::find(m_earlier.begin(), m_earlier.end(), generation));
        }
        wake = std::exchange(m_writerIdle, false);
    }
    if (wake && m_wake) {
        m_wake();
    }
}

ReceiveQueue::Counts ReceiveQueue::counts() const {
    return Counts{m_pushed.load(), m_taken.load(), m_overflowed.load(), m_lost.load(),
                  m_earlierTaken.load()};
}

qint64 ReceiveQueue::waiting() const {
    return qint64(m_pushed.load() - m_taken.load() - m_lost.load());
}
