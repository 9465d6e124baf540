#include "node/UdpSocket.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

// A datagram never exceeds 64 KiB: buffers of that size take each whole.
constexpr std::size_t kMaxDatagram = 65536;
constexpr unsigned kBatch = 32;

bool toAddress(const QString& text, quint16 port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof(out));
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, text.toLatin1().constData(), &out.sin_addr) == 1;
}

}  // namespace

UdpSocket::~UdpSocket() {
    close();
}

void UdpSocket::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_dropCount = 0;
    m_dropped = 0;
}

int UdpSocket::bind(const QString& address, quint16 port) {
    close();
    sockaddr_in where{};
    if (!toAddress(address, port, where)) {
        return EADDRNOTAVAIL;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    m_fd = fd;
    return 0;
}

int UdpSocket::prepare(int receiveBufferBytes) {
    // Sending to 255.255.255.255 needs the broadcast permission on the socket.
    const int on = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    int wanted = receiveBufferBytes;
    // SO_RCVBUFFORCE passes the system's cap where the process may; otherwise ask within it.
    if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0) {
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    return granted;
}

QString UdpSocket::sendTo(const QByteArray& bytes, const QString& address, quint16 port) {
    if (m_fd < 0) {
        return QStringLiteral("The xAP node has no bound socket");
    }
    sockaddr_in to{};
    if (!toAddress(address, port, to)) {
        return QStringLiteral("Not an IPv4 address: ") + address;
    }
    const ssize_t sent = ::sendto(m_fd, bytes.constData(), std::size_t(bytes.size()), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent == bytes.size()) {
        return QString();
    }
    const int error = errno;
    const QString where = QStringLiteral(" (") + address + u':' + QString::number(port) + u')';
    if (error == EMSGSIZE) {
        return QStringLiteral("Message too large to send: ") + QString::number(bytes.size()) +
               QStringLiteral(" bytes") + where;
    }
    return QString::fromLocal8Bit(std::strerror(error)) + where;
}

std::size_t UdpSocket::receiveWaiting(std::size_t limit,
                                      const std::function<void(const char*, std::size_t)>& take) {
    if (m_fd < 0) {
        return 0;
    }
    if (m_buffers.empty()) {
        m_buffers.resize(kBatch * kMaxDatagram);
    }
    std::size_t taken = 0;
    mmsghdr headers[kBatch];
    iovec parts[kBatch];
    while (taken < limit) {
        const unsigned want = unsigned(std::min<std::size_t>(kBatch, limit - taken));
        for (unsigned i = 0; i < want; ++i) {
            parts[i].iov_base = m_buffers.data() + i * kMaxDatagram;
            parts[i].iov_len = kMaxDatagram;
            std::memset(&headers[i], 0, sizeof(headers[i]));
            headers[i].msg_hdr.msg_iov = &parts[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(m_fd, headers, want, MSG_DONTWAIT, nullptr);
        if (got <= 0) {
            break;
        }
        for (int i = 0; i < got; ++i) {
            take(m_buffers.data() + std::size_t(i) * kMaxDatagram, headers[i].msg_len);
        }
        taken += std::size_t(got);
        if (unsigned(got) < want) {
            break;
        }
    }
    noteDrops();
    return taken;
}

void UdpSocket::noteDrops() {
    // Read after each pass rather than from the datagrams (SO_RXQ_OVFL): drops at the end of a
    // burst come after the last datagram that could tell of them.
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof(info);
    if (::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, info, &size) != 0 ||
        size <= SK_MEMINFO_DROPS * sizeof(std::uint32_t)) {
        return;
    }
    const std::uint32_t count = info[SK_MEMINFO_DROPS];
    // The system's counter is 32 bits and only grows: the difference survives its wrap.
    m_dropped += std::uint32_t(count - m_dropCount);
    m_dropCount = count;
}
