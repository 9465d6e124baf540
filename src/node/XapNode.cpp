#include "node/XapNode.h"

#include <algorithm>
#include <cerrno>

#include "message/Heartbeat.h"
#include "message/TextCodec.h"
#include "report/ReportSteps.h"
#include "report/Reporter.h"
#include "support/ProgramNames.h"

namespace {

// Error numbers of a failed bind, in the numbering xAP applications have always reported.
int bindErrorNumber(int error) {
    switch (error) {
        case EACCES:
            return 10013;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        default:
            return 10000 + error;
    }
}

// The number at the start of an address part, 0 when there is none.
qint32 leadingNumber(const QString& part) {
    qint64 value = 0;
    qsizetype i = 0;
    while (i < part.size() && part[i] == u' ') {
        ++i;
    }
    bool any = false;
    for (; i < part.size() && part[i].isDigit() && value < (qint64(1) << 31); ++i) {
        value = value * 10 + part[i].digitValue();
        any = true;
    }
    return any ? static_cast<qint32>(value) : 0;
}

// A message text starts with its header, after blank lines some senders put first; anything
// else (heartbeats) is left out while filtered.
bool startsWithHeader(const char* bytes, std::size_t size) {
    static constexpr char kHeader[] = "xap-head";
    std::size_t at = 0;
    while (at < size && (bytes[at] == '\n' || bytes[at] == '\r' || bytes[at] == ' ')) {
        ++at;
    }
    if (size - at < 8) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        char c = bytes[at + i];
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
        if (c != kHeader[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

XapNode::XapNode(Reporter& reporter, std::unique_ptr<HostNetwork> network, quint16 remotePort,
                 QObject* parent)
    : QObject(parent),
      m_reporter(reporter),
      m_network(std::move(network)),
      m_remotePort(remotePort),
      m_heartbeats(20000) {
    m_clock.start();
    m_heartbeatTimer.setSingleShot(true);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &XapNode::onHeartbeatTick);
    m_gatherTimer.setSingleShot(true);
    m_gatherTimer.setTimerType(Qt::PreciseTimer);
    m_gatherTimer.setInterval(0);
    connect(&m_gatherTimer, &QTimer::timeout, this, &XapNode::resumeListening);
    armHeartbeat();
}

XapNode::~XapNode() = default;

void XapNode::setIdentity(const QString& source, const QString& uid) {
    m_source = source;
    m_uid = uid;
}

QString XapNode::chooseAddress(const QStringList& addresses, const QString& pattern) {
    for (const QString& address : addresses) {
        if (addressMatchesPattern(pattern, address)) {
            return address;
        }
    }
    return addresses.isEmpty() ? QString::fromLatin1(kLoopback) : addresses.first();
}

bool XapNode::addressMatchesPattern(const QString& pattern, const QString& address) {
    const QStringList p = pattern.split(u'.');
    const QStringList a = address.split(u'.');
    if (p.size() != 4 || a.size() != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        const qint32 av = leadingNumber(a[i]);
        if ((av & leadingNumber(p[i])) != av) {
            return false;
        }
    }
    return true;
}

void XapNode::listen(UdpSocket& socket, std::unique_ptr<QSocketNotifier>& notifier) {
    notifier = std::make_unique<QSocketNotifier>(socket.descriptor(), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this,
            [this, &socket] { readWaiting(socket); });
}

XapNode::Addresses XapNode::chooseAddresses(const QStringList& addresses,
                                            const NetworkSettings& settings) {
    Addresses out;
    out.from = chooseAddress(addresses, settings.interfaceAddress);
    const QString configured = settings.broadcastAddress.toLower() == u"default"
                                   ? QStringLiteral("255.255.255.255")
                                   : settings.broadcastAddress;
    out.to = configured;
    // From loopback nothing reaches another host, but the hub of this one is still reached at
    // 127.0.0.1; the notice says so, since the settings name another destination.
    if (out.from == QLatin1String(kLoopback) && !configured.startsWith(u"127.")) {
        out.to = QString::fromLatin1(kLoopback);
    }
    if (addresses.isEmpty() || out.to != configured) {
        out.notice = addresses.isEmpty()
                         ? QStringLiteral("No network interface is up: sending from 127.0.0.1")
                         : QStringLiteral("Sending from 127.0.0.1");
        if (out.to != configured) {
            out.notice += QStringLiteral(" to 127.0.0.1 instead of ") + configured;
        }
        out.notice += QStringLiteral("; only xAP applications on this host hear the logger");
    }
    return out;
}

int XapNode::bind() {
    const QStringList addresses = m_network->interfaceAddresses();
    const Addresses chosen = chooseAddresses(addresses, m_settings);
    m_localIp = chosen.from;
    m_destination = chosen.to;
    m_addressNotice = chosen.notice;
    const bool loopbackOnly = m_localIp == QLatin1String(kLoopback);

    bool found = false;
    m_port = kFirstPort;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        if (m_loopbackSocket.bind(QStringLiteral("127.0.0.1"), quint16(m_port)) == 0) {
            found = true;
            break;
        }
        ++m_port;
    }
    if (!found) {
        return -1;
    }
    if (loopbackOnly) {
        m_sendSocket = &m_loopbackSocket;
    } else {
        if (const int error = m_hostSocket.bind(m_localIp, quint16(m_port)); error != 0) {
            return -bindErrorNumber(error);
        }
        m_hostSocket.prepare(kReceiveBufferBytes);
        listen(m_hostSocket, m_hostNotifier);
        m_sendSocket = &m_hostSocket;
    }
    m_receiveBuffer = m_loopbackSocket.prepare(kReceiveBufferBytes);
    // Linux reports twice the size asked for; anything below what was asked is worth a line.
    if (m_receiveBuffer < kReceiveBufferBytes) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("Receive buffer ") +
                                                         QString::number(m_receiveBuffer) +
                                                         QStringLiteral(" bytes, asked for ") +
                                                         QString::number(kReceiveBufferBytes));
    }
    listen(m_loopbackSocket, m_loopbackNotifier);
    return m_port;
}

Status XapNode::sendText(const QString& text) {
    if (m_sendSocket == nullptr) {
        return Problem{ErrorKind::Socket, QStringLiteral("The xAP node has no bound socket")};
    }
    const QString error = m_sendSocket->sendTo(bytesFromText(text), m_destination, m_remotePort);
    if (!error.isEmpty()) {
        return Problem{ErrorKind::Socket, error};
    }
    return {};
}

QString XapNode::heartbeatText(int seconds) const {
    return Heartbeat{Heartbeat::kAlive.toString(), m_source, m_uid, seconds, m_port}.text();
}

// Steps: 4 sending.
void XapNode::sendHeartbeat(int seconds) {
    const int n = seconds > 60 ? 60 : seconds <= 0 ? 0 : seconds < 5 ? 5 : seconds;
    m_heartbeats.setInterval(qint64(n) * 1000);
    m_heartbeats.sent(m_clock.elapsed());
    armHeartbeat();
    if (const Status sent = sendText(heartbeatText(n)); !sent) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("SendHeartbeat"),
                             sent.problem().atStep(ReportStep::Send::Datagram));
    }
}

void XapNode::armHeartbeat() {
    const qint64 due = m_heartbeats.due();
    if (due < 0) {
        m_heartbeatTimer.stop();
        return;
    }
    m_heartbeatTimer.start(int(std::max<qint64>(0, due - m_clock.elapsed())));
}

void XapNode::sayGoodbye() {
    m_heartbeatTimer.stop();
    const Heartbeat stopped{Heartbeat::kStopped.toString(), m_source, m_uid,
                            int(m_heartbeats.intervalMs() / 1000), m_port};
    if (const Status sent = sendText(stopped.text()); !sent) {
        m_reporter.toTextLog(ProgramNames::kProgram, QStringLiteral("SendHeartbeat"),
                             sent.problem().atStep(ReportStep::Send::Datagram));
    }
}

// The timer is set for the due time known when it was set; what came through the hub since may
// have put the next heartbeat later.
void XapNode::onHeartbeatTick() {
    if (m_clock.elapsed() >= m_heartbeats.due()) {
        sendHeartbeat(int(m_heartbeats.intervalMs() / 1000));
    } else {
        armHeartbeat();
    }
}

Status XapNode::send(const OutgoingMessage& message) {
    return sendText(XapText::message(XapHeader{m_uid, message.className, m_source, message.target},
                                     message.block, message.items));
}

void XapNode::take(const char* bytes, std::size_t size) {
    ++m_datagramsReceived;
    if (m_filterHeartbeats && !startsWithHeader(bytes, size)) {
        ++m_datagramsIgnored;
        return;
    }
    m_received.push_back(textFromBytes(QByteArray::fromRawData(bytes, qsizetype(size))));
}

void XapNode::readWaiting(UdpSocket& socket) {
    // Handed on a share at a time while more waits: the texts of one share are taken and freed
    // while their memory is still in the cache, and the writer gets work as the burst goes on
    // instead of after it.
    while (m_received.size() < kQueueLimit) {
        const std::size_t want = std::min(kHandOnShare, kQueueLimit - m_received.size());
        const std::size_t taken = socket.receiveWaiting(
            want, [this](const char* bytes, std::size_t size) { take(bytes, size); });
        // The hub forwards to the loopback port only; the host address hears other hosts.
        if (taken > 0 && &socket == &m_loopbackSocket) {
            m_heartbeats.heard(m_clock.elapsed());
        }
        if (taken < want) {
            break;
        }
        emit messagesWaiting();
    }
    // A full queue leaves the rest in the system's buffer; the notifiers would otherwise call
    // again at once for as long as it stays full.
    if (m_gatherTimer.interval() > 0 && !m_stopped) {
        setListening(false);
        m_gatherTimer.start();
    } else {
        resumeListening();
    }
    if (!m_received.empty()) {
        emit messagesWaiting();
    }
}

void XapNode::setListening(bool on) {
    for (const auto& notifier : {m_loopbackNotifier.get(), m_hostNotifier.get()}) {
        if (notifier != nullptr && notifier->isEnabled() != on) {
            notifier->setEnabled(on);
        }
    }
}

void XapNode::resumeListening() {
    setListening(!m_stopped && m_received.size() < kQueueLimit);
}

void XapNode::stopListening() {
    m_stopped = true;
    m_gatherTimer.stop();
    setListening(false);
}

void XapNode::drainSockets() {
    readWaiting(m_loopbackSocket);
    if (m_hostSocket.isBound()) {
        readWaiting(m_hostSocket);
    }
}

quint64 XapNode::droppedBeforeReceive() const {
    return m_loopbackSocket.droppedBeforeReceive() + m_hostSocket.droppedBeforeReceive();
}

QString XapNode::takeMessage() {
    if (m_received.empty()) {
        return QString();
    }
    QString text = std::move(m_received.front());
    m_received.pop_front();
    if (m_received.size() + 1 == kQueueLimit && !m_gatherTimer.isActive()) {
        resumeListening();
    }
    return text;
}
