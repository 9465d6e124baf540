#include "Replay.h"

#include <QUdpSocket>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A loopback socket refuses for a moment when its send buffer is full (Qt's sockets do not
// block); the datagram is offered again rather than lost, for up to a second.
bool sendOne(QUdpSocket& socket, const QByteArray& bytes, const QHostAddress& to, quint16 port) {
    const auto giveUp = Clock::now() + std::chrono::seconds(1);
    while (socket.writeDatagram(bytes, to, port) != bytes.size()) {
        if (socket.error() != QAbstractSocket::TemporaryError || Clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace

QList<qint64> replaySchedule(const QList<CaptureRecord>& records, ReplayPace pace) {
    QList<qint64> due;
    due.reserve(records.size());
    qint64 latest = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        qint64 at = 0;
        if (pace.rate == 0) {
            at = 0;
        } else if (pace.rate > 0) {
            at = qint64(double(i) * 1e6 / pace.rate);
        } else {
            at = qint64(double(records[i].microseconds - records[0].microseconds) / pace.speed);
        }
        latest = std::max(latest, at);
        due.append(latest);
    }
    return due;
}

Status replay(const QList<CaptureRecord>& records, ReplayPace pace, const QHostAddress& to,
              quint16 port, const std::function<void(qsizetype)>& progress) {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(to.isLoopback() ? QHostAddress::LocalHost : QHostAddress::Any),
                     0)) {
        return Problem{ErrorKind::Socket,
                       QStringLiteral("cannot open a socket: ") + socket.errorString(), 0};
    }
    const QList<qint64> due = replaySchedule(records, pace);
    const auto start = Clock::now();
    auto lastProgress = start;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const auto at = start + std::chrono::microseconds(due[i]);
        if (at > Clock::now()) {
            std::this_thread::sleep_until(at);
        }
        if (!sendOne(socket, records[i].bytes, to, port)) {
            return Problem{ErrorKind::Socket,
                           QStringLiteral("datagram ") + QString::number(i + 1) +
                               QStringLiteral(" not sent: ") + socket.errorString(),
                           0};
        }
        if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(200)) {
            lastProgress = Clock::now();
            progress(i + 1);
        }
    }
    if (progress) {
        progress(records.size());
    }
    return {};
}
