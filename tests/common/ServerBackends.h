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
    const auto sockets = [](const char* kind) {
        QProcess ss;
        ss.start(QStringLiteral("ss"), {QString::fromLatin1(kind)});
        ss.waitForFinished();
        return QString::fromLatin1(ss.readAllStandardOutput()).split(u'\n');
    };
    const auto pidsOf = [](const QString& line) {
        QList<qint64> pids;
        for (const QString& part : line.split(QStringLiteral("pid=")).mid(1)) {
            pids.append(part.section(u',', 0, 0).toLongLong());
        }
        return pids;
    };
    auto portOf = [](const QString& address) { return address.section(u':', -1); };
    // The server's main process may still hold a socket it has just handed to a new backend;
    // stopped or ended, it would take every session with it.
    QList<qint64> listening;
    for (const QString& line : sockets("-Htlnp")) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() >= 6 && portOf(f[3]) == port) {
            listening += pidsOf(line);
        }
    }
    const QStringList lines = sockets("-Htnp");
    QStringList ours;
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() >= 6 && pidsOf(line).contains(client) && portOf(f[4]) == port) {
            ours.append(portOf(f[3]));
        }
    }
    QList<qint64> pids;
    for (const QString& line : lines) {
        const QStringList f = line.simplified().split(u' ');
        if (f.size() >= 6 && portOf(f[3]) == port && ours.contains(portOf(f[4]))) {
            for (const qint64 pid : pidsOf(line)) {
                if (!listening.contains(pid) && !pids.contains(pid)) {
                    pids.append(pid);
                }
            }
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
