#include "spool/RecordReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// Bytes read at a time: a drain step's records, and few system calls.
constexpr qint64 kChunk = 1024 * 1024;

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

RecordReader::RecordReader(QString path, RecordFormat::Check check)
    : m_path(std::move(path)), m_check(check) {}

RecordReader::~RecordReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status RecordReader::open() {
    if (m_fd >= 0) {
        return {};
    }
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot read ") + m_path + u": " + systemError()};
    }
    return {};
}

Result<qint64> RecordReader::size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot read ") + m_path + u": " + systemError()};
    }
    return qint64(st.st_size);
}

void RecordReader::seek(qint64 offset) {
    m_offset = m_recordsEnd = offset;
    if (offset < m_chunkStart || offset > m_chunkStart + m_chunk.size()) {
        m_chunk.clear();
        m_chunkStart = offset;
    }
}

Result<qint64> RecordReader::buffered(qint64 want) {
    const qint64 held = m_chunkStart + m_chunk.size() - m_offset;
    if (held >= want || m_chunkStart + m_chunk.size() >= m_limit) {
        return std::min(held, m_limit - m_offset);
    }
    m_chunk.remove(0, m_offset - m_chunkStart);
    m_chunkStart = m_offset;
    const qint64 goal = std::min(std::max(want, kChunk), m_limit - m_offset);
    qsizetype got = m_chunk.size();
    m_chunk.resize(goal);
    while (got < goal) {
        const ssize_t n =
            ::pread(m_fd, m_chunk.data() + got, std::size_t(goal - got), m_chunkStart + got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_chunk.truncate(got);
            return Problem{ErrorKind::FileSystem,
                           QStringLiteral("Cannot read ") + m_path + u": " + systemError()};
        }
        if (n == 0) {
            m_limit = m_chunkStart + got;  // the file is shorter than the read's end
            break;
        }
        got += n;
    }
    m_chunk.truncate(got);
    return std::min<qint64>(got, m_limit - m_offset);
}

Result<std::optional<QStringList>> RecordReader::next(qint64 end) {
    if (m_fd < 0) {
        return std::optional<QStringList>();
    }
    if (end < 0) {
        const Result<qint64> fileSize = size();
        if (!fileSize) {
            return fileSize.problem();
        }
        end = fileSize.value();
    }
    m_limit = end;
    qint64 want = RecordFormat::kHeaderSize;
    while (m_offset < m_limit) {
        const Result<qint64> held = buffered(want);
        if (!held) {
            return held.problem();
        }
        const QByteArrayView bytes(m_chunk.constData() + (m_offset - m_chunkStart), held.value());
        RecordFormat::Decoded d = RecordFormat::decode(bytes, m_check);
        if (d.kind == RecordFormat::Decoded::Kind::Whole) {
            m_offset += d.size;
            m_recordsEnd = m_offset;
            return std::optional<QStringList>(std::move(d.texts));
        }
        if (d.kind == RecordFormat::Decoded::Kind::Short && d.size > held.value() &&
            m_offset + held.value() < m_limit) {
            want = d.size;
            continue;
        }
        // Damaged, or torn at the end of what is there to read.
        if (const Status skipped = skipDamaged(); !skipped) {
            return skipped.problem();
        }
        want = RecordFormat::kHeaderSize;
    }
    return std::optional<QStringList>();
}

Status RecordReader::skipDamaged() {
    const qint64 from = m_offset;
    constexpr std::string_view magic(RecordFormat::kMagic, 4);
    ++m_offset;
    while (m_offset < m_limit) {
        const Result<qint64> held = buffered(magic.size());
        if (!held) {
            m_cut += m_offset - from;
            return held.problem();
        }
        const std::string_view bytes(m_chunk.constData() + (m_offset - m_chunkStart),
                                     std::size_t(held.value()));
        if (const std::size_t at = bytes.find(magic); at != std::string_view::npos) {
            m_offset += qint64(at);
            break;
        }
        // A magic may begin in the last bytes held.
        m_offset += std::max<qint64>(held.value() - qint64(magic.size()) + 1, 1);
    }
    m_offset = std::min(m_offset, std::max(m_limit, from + 1));
    m_cut += m_offset - from;
    return {};
}
