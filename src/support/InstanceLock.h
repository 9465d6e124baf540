#pragma once

#include <QString>
#include <QStringList>

#include "report/Result.h"

// Keeps a second logger off an application folder: a write lock (fcntl) on a file in the folder,
// held for the life of the object. The kernel drops the lock when the process ends, however it
// ends, so a logger that crashed or was killed never blocks the next start. The file also holds
// the pid of the holder, for people who look, and below it lines the holder adds about what it
// does (where it sends, its web page), for --check-config; only the lock counts.
//
// fcntl locks belong to the process: closing any descriptor of the file in this process would
// drop the lock, so nothing else in the program opens it.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock on the file at `path`, making the file (not its folder) when missing. When
    // another process holds it, `holderPid` (when given) is set to its pid as holder() tells it;
    // any other failure leaves it 0.
    static Result<InstanceLock> take(const QString& path, qint64* holderPid = nullptr);
    // The pid of the process holding the lock on `path`, 0 when none does (-1: held, by whom is
    // not known). Opens the file for reading only and changes nothing; never asked by the
    // process that holds the lock, which would lose it on closing the file.
    static qint64 holder(const QString& path);

    bool held() const { return m_fd >= 0; }
    // Writes the pid line and `lines` below it, in place of what the file held.
    void setNotes(const QStringList& lines);
    // The lines below the pid line of the file at `path` (none when it cannot be read).
    static QStringList notes(const QString& path);

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}

    int m_fd = -1;
};
