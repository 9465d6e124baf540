#pragma once

#include <signal.h>
#include <QCoreApplication>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <utility>

// The server processes that serve one client process's connections to the server's port (by
// default this process's), found by their sockets: each session has a backend process of its own,
// so that one connection can be frozen or ended without disturbing anyone else's.
inline QList<qint64> ownBackends(const QString& port,
                                 qint64 client = QCoreApplication::applicationPid()) {
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-Htnp")});
    ss.waitForFinished();
    const QStringList lines = QString::fromLatin1(ss.readAllStandardOutput()).split(u'\n');
    const QString self = QStringLiteral("pid=") + QString::number(client) + u',';
    auto portOf = [](const QString& address) { return address.section(u':', -1); };
    QStringList ours;
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() >= 6 && line.contains(self) && portOf(f[4]) == port) {
            ours.append(portOf(f[3]));
        }
    }
    QList<qint64> pids;
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() >= 6 && portOf(f[3]) == port && ours.contains(portOf(f[4]))) {
            pids.append(line.section(QStringLiteral("pid="), 1).section(u',', 0, 0).toLongLong());
        }
    }
    return pids;
}

inline void signalAll(const QList<qint64>& pids, int sig) {
    for (const qint64 pid : pids) {
        ::kill(pid_t(pid), sig);
    }
}

// Backends stopped until resumed, or until the test ends, failed or not: a server left frozen
// would hold every later test and the server's own shutdown.
class FrozenBackends {
public:
    explicit FrozenBackends(QList<qint64> pids) : m_pids(std::move(pids)) {
        signalAll(m_pids, SIGSTOP);
    }
    ~FrozenBackends() { resume(); }
    FrozenBackends(const FrozenBackends&) = delete;
    FrozenBackends& operator=(const FrozenBackends&) = delete;
    void resume() { signalAll(std::exchange(m_pids, {}), SIGCONT); }

private:
    QList<qint64> m_pids;
};
