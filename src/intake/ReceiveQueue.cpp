#include "intake/ReceiveQueue.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#include "spool/ReadPosition.h"
#include "spool/RecordFormat.h"
#include "spool/RecordReader.h"

struct ReceiveQueue::FileReader {
    FileReader(int generation, const QString& path, const QString& positionPath, bool earlierRun)
        : generation(generation),
          earlierRun(earlierRun),
          reader(path, earlierRun ? RecordFormat::Check::Sums : RecordFormat::Check::None),
          position(positionPath) {}

    int generation;
    bool earlierRun;
    RecordReader reader;
    ReadPosition position;
    qint64 noted = 0;  // what the position file says
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

ReceiveQueue::~ReceiveQueue() = default;

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
            overflowDone = m_appender.isOpen();
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
        m_appender.close();
        m_appendGeneration = 0;
    }
    if (generation != 0) {
        Status wrote;
        if (m_appendGeneration != generation) {
            wrote = m_appender.open(filePath(generation), RecordAppender::Start::Fresh);
            m_appendGeneration = wrote ? generation : 0;
        }
        if (wrote) {
            QByteArray bytes;
            bytes.reserve(qsizetype(batch.size()) * 256);
            for (const ReceivedItem& item : batch) {
                RecordFormat::append(bytes, item.record());
            }
            wrote = m_appender.append(bytes);
        }
        if (wrote) {
            m_overflowed += quint64(n);
            m_losing = false;
        }
        {
            const std::lock_guard hold(m_lock);
            if (wrote) {
                m_published = m_appender.end();
            }
            m_appending = false;
            wake = std::exchange(m_writerIdle, false);
        }
        if (!wrote) {
            noteLoss(wrote.problem().description, n);
        }
    }
    if (wake && m_wake) {
        m_wake();
    }
}

void ReceiveQueue::noteLoss(const QString& why, qint64 items) {
    m_lost += quint64(items);
    if (!std::exchange(m_losing, true) && m_lossReport) {
        m_lossReport(why, items);
    }
}

void ReceiveQueue::stored() {
    if (!m_reader || m_reader->reader.offset() <= m_reader->noted) {
        return;
    }
    const qint64 offset = m_reader->reader.offset();
    if (m_reader->position.save(offset)) {
        m_reader->noted = offset;
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
                if (m_reader && m_reader->generation == generation &&
                    m_reader->reader.offset() >= end) {
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
            m_reader = std::make_unique<FileReader>(generation, filePath(generation),
                                                    positionPath(generation),
                                                    generation < m_firstOwnGeneration);
            m_reader->noted = m_reader->position.load();
            m_reader->reader.seek(m_reader->noted);
            (void)m_reader->reader.open();  // a file that cannot be read has nothing to give
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

std::vector<ReceivedItem> ReceiveQueue::readFile(FileReader& file, qint64 end, qsizetype most) {
    std::vector<ReceivedItem> out;
    while (qsizetype(out.size()) < most) {
        const Result<std::optional<QStringList>> record = file.reader.next(end);
        if (!record || !file.reader.isOpen()) {
            // Unreadable: what is left of it is lost.
            if (end >= 0) {
                file.reader.seek(end);
            }
            break;
        }
        if (!record.value()) {
            break;
        }
        if (auto item = ReceivedItem::fromRecord(*record.value())) {
            out.push_back(*std::move(item));
        }
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
        RecordFormat::append(bytes, item.record());
    }
    RecordAppender file;
    const bool kept = file.open(filePath(generation), RecordAppender::Start::Fresh) &&
                      file.append(bytes) && file.sync();
    file.close();
    if (!kept) {
        m_lost += quint64(items.size());
        QFile::remove(filePath(generation));
    }
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
