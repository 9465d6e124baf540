#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// A UDP socket of the node: bound to one IPv4 address and port, sending datagrams, and taking
// whatever has arrived in batches of many datagrams per system call. Closed with the object.
class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // 0 when bound, else the system's error number. Without `exclusive` another socket may
    // share the port.
    int bind(const QString& address, quint16 port);
    bool isBound() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    void close();

    // Permission to send to broadcast addresses, and the receive buffer asked for; returns what
    // the system granted.
    int prepare(int receiveBufferBytes);

    // Empty on success, else why the datagram was not sent.
    QString sendTo(const QByteArray& bytes, const QString& address, quint16 port);

    // Calls `take` for each datagram already waiting, at most `limit` of them, without waiting
    // for more. Returns how many were taken.
    std::size_t receiveWaiting(std::size_t limit,
                               const std::function<void(const char*, std::size_t)>& take);

    // Datagrams the system dropped on this socket before they could be received, as counted by
    // the system at the end of the last receiveWaiting().
    quint64 droppedBeforeReceive() const { return m_dropped; }

private:
    void noteDrops();

    int m_fd = -1;
    std::uint32_t m_dropCount = 0;
    quint64 m_dropped = 0;
    std::vector<char> m_buffers;
};
