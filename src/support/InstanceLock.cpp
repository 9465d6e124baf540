#include "support/InstanceLock.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

struct flock wholeFile(short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// The holder as the kernel knows it; a holder in another pid namespace shows as 0, and then the
// pid it wrote into the file stands in (-1: held, by whom is not known).
qint64 holderOf(int fd) {
    struct flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) {
        return 0;
    }
    if (lock.l_pid > 0) {
        return lock.l_pid;
    }
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    const QByteArray read = n > 0 ? QByteArray(text, int(n)) : QByteArray();
    const qint64 written = read.left(read.indexOf('\n')).trimmed().toLongLong();
    return written > 0 ? written : -1;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Result<InstanceLock> InstanceLock::take(const QString& path, qint64* holderPid) {
    if (holderPid != nullptr) {
        *holderPid = 0;
    }
    const QByteArray native = QFile::encodeName(path);
    // Not inherited by programs this one starts: they must not keep the folder locked.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("cannot open the lock file ") + path +
                                                  QStringLiteral(": ") + systemError(errno)};
    }
    struct flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        const int error = errno;
        const qint64 pid = (error == EAGAIN || error == EACCES) ? holderOf(fd) : 0;
        ::close(fd);
        if (pid != 0) {
            if (holderPid != nullptr) {
                *holderPid = pid;
            }
            return Problem{ErrorKind::Generic,
                           pid > 0 ? QStringLiteral("held by process ") + QString::number(pid)
                                   : QStringLiteral("held by another process")};
        }
        return Problem{ErrorKind::FileSystem, QStringLiteral("cannot lock ") + path +
                                                  QStringLiteral(": ") + systemError(error)};
    }
    InstanceLock held(fd);
    held.setNotes({});
    return held;
}

void InstanceLock::setNotes(const QStringList& lines) {
    if (m_fd < 0) {
        return;
    }
    QByteArray text = QByteArray::number(qint64(::getpid())) + '\n';
    for (const QString& line : lines) {
        text += line.toUtf8() + '\n';
    }
    if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, text.constData(), size_t(text.size()), 0) < 0) {
        // What the file says is a courtesy; the lock holds without it.
    }
}

QStringList InstanceLock::notes(const QString& path) {
    QFile file(path);
    // Through its own descriptor: never asked by the holder (see the class comment).
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(u'\n', Qt::SkipEmptyParts);
    if (!lines.isEmpty()) {
        lines.removeFirst();
    }
    return lines;
}

qint64 InstanceLock::holder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return 0;
    }
    const qint64 pid = holderOf(fd);
    ::close(fd);
    return pid;
}
