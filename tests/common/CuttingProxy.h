#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// A TCP forwarder on loopback between a client and a server that can lose an answer: once told a
// marker, the first request that carries it reaches the server, and the connection is then cut
// before the server's answer reaches the client, as a broken link does after the server did the
// work. Runs on a thread of its own, so that a test may block in the client meanwhile.
class CuttingProxy {
public:
    explicit CuttingProxy(quint16 serverPort) : m_server(serverPort) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at = loopback(0);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&at), sizeof(at));
        ::listen(m_listen, 8);
        socklen_t size = sizeof(at);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&at), &size);
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~CuttingProxy() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    quint16 port() const { return m_port; }
    // `reached`, when given, is called on the proxy's thread as soon as that request is passed on.
    void cutAfter(const QByteArray& marker, std::function<void()> reached = {}) {
        const std::lock_guard hold(m_lock);
        m_marker = marker;
        m_reached = std::move(reached);
    }
    bool cut() const { return m_cut; }

private:
    struct Pair {
        int client = -1;
        int server = -1;
        bool cutting = false;
        std::chrono::steady_clock::time_point closeAt;
    };

    static sockaddr_in loopback(quint16 port) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return at;
    }

    void run() {
        std::vector<Pair> pairs;
        char buffer[65536];
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
            for (const Pair& p : pairs) {
                fds.push_back({p.client, POLLIN, 0});
                fds.push_back({p.server, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), 20);
            if (fds[0].revents & POLLIN) {
                Pair p;
                p.client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                p.server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in to = loopback(m_server);
                ::connect(p.server, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
                pairs.push_back(p);
                continue;
            }
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = pairs[i];
                const pollfd& fromClient = fds[1 + 2 * i];
                const pollfd& fromServer = fds[2 + 2 * i];
                bool closed = false;
                if (fromClient.revents & (POLLIN | POLLHUP)) {
                    const ssize_t n = ::read(p.client, buffer, sizeof(buffer));
                    closed = n <= 0;
                    if (n > 0) {
                        // A side that has gone is seen at its next read, not by a SIGPIPE.
                        ::send(p.server, buffer, std::size_t(n), MSG_NOSIGNAL);
                        const std::lock_guard hold(m_lock);
                        if (!m_marker.isEmpty() &&
                            QByteArray::fromRawData(buffer, n).contains(m_marker)) {
                            m_marker.clear();
                            if (m_reached) {
                                std::exchange(m_reached, {})();
                            }
                            p.cutting = true;
                            p.closeAt =
                                std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
                        }
                    }
                }
                if (fromServer.revents & (POLLIN | POLLHUP)) {
                    const ssize_t n = ::read(p.server, buffer, sizeof(buffer));
                    closed = closed || n <= 0;
                    if (n > 0 && !p.cutting) {
                        ::send(p.client, buffer, std::size_t(n), MSG_NOSIGNAL);
                    }
                }
                if (p.cutting && std::chrono::steady_clock::now() >= p.closeAt) {
                    // A reset, as a link that broke: the client learns at once.
                    const linger now{1, 0};
                    ::setsockopt(p.client, SOL_SOCKET, SO_LINGER, &now, sizeof(now));
                    closed = true;
                    m_cut = true;
                }
                if (closed) {
                    ::close(p.client);
                    ::close(p.server);
                    pairs.erase(pairs.begin() + std::ptrdiff_t(i));
                    break;
                }
            }
        }
        for (const Pair& p : pairs) {
            ::close(p.client);
            ::close(p.server);
        }
    }

    const quint16 m_server;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_cut{false};
    std::mutex m_lock;
    QByteArray m_marker;
    std::function<void()> m_reached;
    std::thread m_thread;
};
