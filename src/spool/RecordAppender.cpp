#include "spool/RecordAppender.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

RecordAppender::~RecordAppender() {
    close();
}

Status RecordAppender::open(const QString& path, Start start) {
    close();
    m_path = path;
    const int flags =
        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (start == Start::Fresh ? O_TRUNC : 0);
    m_fd = ::open(QFile::encodeName(path).constData(), flags, 0600);
    if (m_fd < 0) {
        return failed();
    }
    m_end = qint64(::lseek(m_fd, 0, SEEK_END));
    return {};
}

void RecordAppender::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_end = 0;
}

Status RecordAppender::append(QByteArrayView records) {
    if (m_fd < 0) {
        errno = EBADF;
        return failed();
    }
    qsizetype done = 0;
    while (done < records.size()) {
        const ssize_t n =
            ::write(m_fd, records.constData() + done, std::size_t(records.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const Problem problem = failed();
            (void)::ftruncate(m_fd, m_end);
            return problem;
        }
        done += n;
    }
    m_end += records.size();
    return {};
}

Status RecordAppender::sync() {
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0) {
        return failed();
    }
    return {};
}

Problem RecordAppender::failed() const {
    return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot write ") + m_path + u": " +
                                              QString::fromLocal8Bit(std::strerror(errno))};
}
