#include "Snooper.h"

#include <sys/socket.h>
#include <chrono>

#include "TrafficFormat.h"
#include "message/Heartbeat.h"
#include "message/TextCodec.h"

namespace {

constexpr int kIntervalSeconds = 60;
// Until the hub echoes a heartbeat back, one goes out this often, so that a hub started after
// the snoop picks it up within seconds rather than a minute.
constexpr int kUnregisteredIntervalMs = 2000;
constexpr QStringView kUid = u"FF.00AC:00";

qint64 nowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

Snooper::Snooper(SnoopOptions options, QString source, bool colour, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_source(std::move(source)),
      m_colour(colour) {
    connect(&m_socket, &QUdpSocket::readyRead, this, &Snooper::readPending);
    m_heartbeat.setInterval(kUnregisteredIntervalMs);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] { sendHeartbeat(Heartbeat::kAlive); });
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        stop(0);
    });
    m_hubCheck.setSingleShot(true);
    m_hubCheck.setInterval(3000);
    connect(&m_hubCheck, &QTimer::timeout, this, [this] {
        if (!m_registered && say) {
            say("no answer from a hub at 127.0.0.1:" + QByteArray::number(m_options.hubPort) +
                " yet; is xap-hub running? (still trying)\n");
        }
    });
}

Status Snooper::start() {
    if (!m_socket.bind(QHostAddress(QHostAddress::LocalHost), m_options.port,
                       QAbstractSocket::DontShareAddress)) {
        return Problem{ErrorKind::Socket,
                       QStringLiteral("cannot listen on 127.0.0.1:") +
                           QString::number(m_options.port) + u": " + m_socket.errorString(),
                       0};
    }
    // Room for bursts while the terminal is slow to take the output.
    int wanted = 4 * 1024 * 1024;
    ::setsockopt(int(m_socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    if (!m_options.capturePath.isEmpty()) {
        if (Status s = m_capture.open(m_options.capturePath, m_source, nowMicroseconds()); !s) {
            return s;
        }
    }
    sendHeartbeat(Heartbeat::kAlive);
    m_heartbeat.start();
    m_hubCheck.start();
    if (m_options.timeoutMs > 0) {
        m_timeout.start(int(std::min<qint64>(m_options.timeoutMs, INT_MAX)));
    }
    return {};
}

void Snooper::stop(int exitCode) {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_heartbeat.stop();
    m_timeout.stop();
    m_hubCheck.stop();
    sendHeartbeat(Heartbeat::kStopped);
    if (say) {
        say(m_counts.report());
    }
    if (finished) {
        finished(exitCode == 0 && m_timedOut && m_counts.shownCount() == 0 ? 3 : exitCode);
    }
}

void Snooper::sendHeartbeat(QStringView hbClass) {
    const QByteArray hb = bytesFromText(
        Heartbeat{hbClass.toString(), m_source, kUid.toString(), kIntervalSeconds, port()}.text());
    m_socket.writeDatagram(hb, QHostAddress(QHostAddress::LocalHost), m_options.hubPort);
}

bool Snooper::isOwnHeartbeat(const SeenMessage& seen) const {
    return seen.kind == SeenMessage::Kind::Heartbeat && seen.port == port() &&
           seen.source.compare(m_source, Qt::CaseInsensitive) == 0;
}

void Snooper::readPending() {
    QByteArray buffer;
    while (!m_stopped && m_socket.hasPendingDatagrams()) {
        const qint64 size = m_socket.pendingDatagramSize();
        buffer.resize(std::max<qint64>(size, 0));
        const qint64 got = m_socket.readDatagram(buffer.data(), buffer.size());
        if (got < 0) {
            continue;
        }
        buffer.resize(got);
        take(buffer);
    }
}

void Snooper::take(const QByteArray& datagram) {
    const qint64 arrival = nowMicroseconds();
    const SeenMessage seen = SeenMessage::read(arrival, datagram);
    if (isOwnHeartbeat(seen)) {
        if (!m_registered) {
            m_registered = true;
            m_heartbeat.setInterval(kIntervalSeconds * 1000);
            if (say) {
                say("receiving through the hub at 127.0.0.1:" +
                    QByteArray::number(m_options.hubPort) + " on port " +
                    QByteArray::number(port()) + '\n');
            }
        }
        return;
    }
    m_counts.received();
    if (m_capture.isOpen()) {
        if (Status s = m_capture.write(CaptureRecord{arrival, datagram}); !s) {
            if (say) {
                say(s.problem().description.toUtf8() + '\n');
            }
            return stop(1);
        }
    }
    if (!m_options.filter.passes(seen)) {
        return;
    }
    m_counts.shown(seen);
    if (m_options.capturePath != u"-" && print) {
        QByteArray text;
        switch (m_options.output) {
            case SnoopOptions::Output::Summary:
                text = TrafficFormat::summary(seen, m_colour);
                break;
            case SnoopOptions::Output::Full:
                text = TrafficFormat::full(seen, m_colour);
                break;
            case SnoopOptions::Output::Json:
                text = TrafficFormat::json(seen);
                break;
        }
        if (!print(text)) {
            return stop(0);  // the reader went away, as `xap-snoop | head` does
        }
    }
    if (m_options.count > 0 && m_counts.shownCount() >= m_options.count) {
        stop(0);
    }
}
