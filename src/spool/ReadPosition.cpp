#include "spool/ReadPosition.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Every number is written this wide, padded with spaces, so that it always covers the one
// before it: the file is written over in place, never cut first or renamed, which would cost
// a metadata write at each batch.
constexpr int kWidth = 20;

}  // namespace

ReadPosition::~ReadPosition() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

qint64 ReadPosition::load() const {
    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return std::max<qint64>(in.read(64).trimmed().toLongLong(), 0);
}

Status ReadPosition::save(qint64 offset) {
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    }
    const QByteArray number = QByteArray::number(offset).leftJustified(kWidth, ' ');
    if (m_fd < 0 ||
        ::pwrite(m_fd, number.constData(), std::size_t(number.size()), 0) !=
            ssize_t(number.size()) ||
        ::fdatasync(m_fd) != 0) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot write ") + m_path + u": " +
                                                  QString::fromLocal8Bit(std::strerror(errno))};
    }
    return {};
}

void ReadPosition::remove() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    QFile::remove(m_path);
}
