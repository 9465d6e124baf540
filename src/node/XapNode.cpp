#include "node/XapNode.h"

#include <sys/socket.h>
#include <QHostAddress>
#include <QUdpSocket>

#include "message/TextCodec.h"
#include "message/XapMessage.h"
#include "node/MessageReceiver.h"
#include "support/Failure.h"
#include "support/Reporting.h"

namespace {

const QString kProgramName = QStringLiteral("xapzelQuilljot");

// Error numbers of a failed bind, in the numbering xAP applications have always reported.
int bindErrorNumber(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::SocketAccessError:
            return 10013;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return 10049;
        default:
            return 10000 + static_cast<int>(error) + 1;
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

}  // namespace

XapNode::XapNode(Reporting& reporting, std::unique_ptr<HostNetwork> network, quint16 remotePort,
                 QObject* parent)
    : QObject(parent),
      m_reporting(reporting),
      m_network(std::move(network)),
      m_remotePort(remotePort),
      m_winsock1(new QUdpSocket(this)),
      m_winsock2(new QUdpSocket(this)) {
    m_broadcastAddress = QStringLiteral("Default");
    m_interfaceAddress = QStringLiteral("Default");
    SocketsInitialize();
    m_receiver = nullptr;
    m_filterHeartbeats = true;

    m_heartbeatTimer.setInterval(20000);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &XapNode::HBeatTimer_Timer);
    m_heartbeatTimer.start();
    m_receiveTimer.setSingleShot(true);
    m_receiveTimer.setInterval(50);
    connect(&m_receiveTimer, &QTimer::timeout, this, &XapNode::ReceiveTimer_Timer);
    connect(m_winsock1, &QUdpSocket::readyRead, this, [this] { readPending(m_winsock1); });
    connect(m_winsock2, &QUdpSocket::readyRead, this, [this] { readPending(m_winsock2); });
}

XapNode::~XapNode() {
    m_received.clear();
    SocketsCleanup();
    m_winsock1->close();
    m_winsock2->close();
    m_sendSocket = nullptr;
    m_reporting.clearPendingError();
}

void XapNode::SocketsInitialize() {
    const HostNetwork::Startup s = m_network->startup();
    if (s.result != 0) {
        m_reporting.WriteErrorLog(kProgramName, QStringLiteral("SocketsInitialize "));
        return;
    }
    const int major = s.version & 0xFF;
    const int minor = (s.version >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1)) {
        m_reporting.WriteErrorLog(kProgramName,
                                  QStringLiteral("SocketsInitialize Windows Sockets version ") +
                                      QString::number(major) + u'.' + QString::number(minor) +
                                      QStringLiteral(" is not supported by winsock.dll "));
    }
}

void XapNode::SocketsCleanup() {
    const int r = m_network->cleanup();
    if (r == 0) {
        m_reporting.clearPendingError();
        return;
    }
    m_reporting.WriteErrorLog(kProgramName, QStringLiteral("SocketsCleanup ") + QString::number(r));
}

// Steps: 2 host name, 3 address lookup, 4 walking the addresses.
QString XapNode::GetIP() {
    QString result;
    int step = 2;
    try {
        const auto name = m_network->hostName();
        if (!name) {
            return result;
        }
        step = 3;
        const auto addresses = m_network->addresses(name->trimmed());
        if (!addresses) {
            return result;
        }
        step = 4;
        for (const QString& address : *addresses) {
            if (result.isEmpty()) {
                result = address;  // the fallback
            }
            if (IPMatchesInterface(m_interfaceAddress, address)) {
                return address;
            }
        }
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, step);
        m_reporting.WriteErrorLog(kProgramName, QStringLiteral("GetIP"));
    }
    return result;
}

bool XapNode::IPMatchesInterface(const QString& pattern, const QString& address) {
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

int XapNode::Init() {
    m_localIP = GetIP();
    m_remoteHost = m_broadcastAddress.toLower() == u"default" ? QStringLiteral("255.255.255.255")
                                                              : m_broadcastAddress;
    const bool loopbackOnly = m_localIP == u"127.0.0.1";
    if (loopbackOnly) {
        m_remoteHost = QStringLiteral("127.0.0.1");
    }

    bool found = false;
    m_port = kFirstPort;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        if (m_winsock1->bind(QHostAddress(QHostAddress::LocalHost), quint16(m_port),
                             QAbstractSocket::DontShareAddress)) {
            found = true;
            break;
        }
        ++m_port;
    }

    int result = -1;
    // A host whose name resolves to no address has nothing to bind the second socket to; it
    // sends through the loopback socket, to the configured destination.
    if (loopbackOnly || m_localIP.isEmpty()) {
        m_sendSocket = m_winsock1;
        result = found ? m_port : -1;
    } else {
        m_sendSocket = m_winsock2;
        if (found) {
            if (!m_winsock2->bind(QHostAddress(m_localIP), quint16(m_port),
                                  QAbstractSocket::DontShareAddress)) {
                return -bindErrorNumber(m_winsock2->error());
            }
            prepareSocket(m_winsock2);
            result = m_port;
        }
    }
    if (found) {
        prepareSocket(m_winsock1);
    }
    m_heartbeatTail =
        QStringLiteral("0\nport=") + QString::number(m_port) + QStringLiteral("\n}\n");
    return result;
}

void XapNode::prepareSocket(QUdpSocket* socket) {
    const int fd = static_cast<int>(socket->socketDescriptor());
    // Sending to 255.255.255.255 needs the broadcast permission on the socket.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    int wanted = kReceiveBufferBytes;
    // SO_RCVBUFFORCE passes the system's cap where the process may; otherwise ask within it.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    m_receiveBuffer = granted;
    // Linux reports twice the size asked for; anything below what was asked is worth a line.
    if (granted < wanted && socket == m_winsock1) {
        m_reporting.WriteErrorLog(
            kProgramName, QStringLiteral("Receive buffer ") + QString::number(granted) +
                              QStringLiteral(" bytes, asked for ") + QString::number(wanted));
    }
}

void XapNode::setXapSource(const QString& s) {
    m_source = s;
    rebuildHeartbeatHead();
}

void XapNode::setXapUID(const QString& s) {
    m_uid = s;
    m_headerPrefix =
        QString(QStringLiteral("xap-header|{|v=13|hop=1|uid=") + m_uid + u'|').replace(u'|', u'\n');
    rebuildHeartbeatHead();
}

void XapNode::setXapTarget(const QString& s) {
    m_target = s;
    rebuildHeartbeatHead();
}

void XapNode::rebuildHeartbeatHead() {
    m_heartbeatHead = QString(QStringLiteral("xap-hbeat|{|v=13|hop=1|uid=") + m_uid +
                              QStringLiteral("|class=xap-hbeat.alive|source=") + m_source +
                              QStringLiteral("|interval="))
                          .replace(u'|', u'\n');
}

void XapNode::sendDatagram(const QString& text) {
    if (m_sendSocket == nullptr) {
        throw Failure(ErrorNumber::Socket, QStringLiteral("The xAP node has no bound socket"));
    }
    const QHostAddress destination(m_remoteHost);
    if (destination.isNull()) {
        throw Failure(ErrorNumber::Socket, QStringLiteral("Not an IPv4 address: ") + m_remoteHost);
    }
    const QByteArray bytes = bytesFromText(text);
    if (m_sendSocket->writeDatagram(bytes, destination, m_remotePort) != bytes.size()) {
        throw Failure(ErrorNumber::Socket, m_sendSocket->errorString() + QStringLiteral(" (") +
                                               m_remoteHost + u':' + QString::number(m_remotePort) +
                                               u')');
    }
}

// Steps: 1 clamping, 2 timer, 4 sending.
void XapNode::SendHeartbeat(int LongInterval) {
    int step = 1;
    try {
        int n = LongInterval;
        if (LongInterval > 60) {
            n = 60;
        } else if (LongInterval <= 0) {
            n = 0;
        } else if (LongInterval < 5) {
            n = 5;
        }
        step = 2;
        m_heartbeatTimer.setInterval(n * 1000);
        if (n > 0) {
            m_heartbeatTimer.start();
        } else {
            m_heartbeatTimer.stop();
        }
        step = 4;
        sendDatagram(m_heartbeatHead + QString::number(n) + m_heartbeatTail);
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, step);
        m_reporting.WriteErrorLog(kProgramName, QStringLiteral("SendHeartbeat"));
    }
}

void XapNode::HBeatTimer_Timer() {
    m_heartbeatTicks = (m_heartbeatTicks + 1) % 10;
    if (m_heartbeatTicks == 0) {
        SendHeartbeat(qRound(m_heartbeatTimer.interval() / 1000.0));
    }
}

// Steps: 1 splitting the items, 2 header fields, 3 header and section, 4 items, 5 sending.
QString XapNode::SendXap(const QString& sTarget, const QString& sClass, const QString& sSection,
                         const QString& sData) {
    int step = 1;
    try {
        const QStringList items = sData.isEmpty() ? QStringList() : sData.split(QChar(0));
        step = 2;
        XapMessage m(m_reporting);
        m.setHeaderPrefix(m_headerPrefix);
        m.setMsgClass(sClass);
        m.setMsgSource(m_source);
        m.setMsgTarget(sTarget);
        m.setMsgUID(m_uid);
        step = 3;
        m.AddHeader();
        m.AddSection(sSection);
        step = 4;
        for (const QString& item : items) {
            const qsizetype sep = item.indexOf(QChar(1));
            if (sep >= 0) {
                m.AddItem(sSection, item.left(sep), item.mid(sep + 1));
            }
        }
        step = 5;
        sendDatagram(m.ToXap());
        return QString();
    } catch (const std::exception& e) {
        return QString::number(step) + u' ' + QString::fromUtf8(e.what());
    }
}

void XapNode::readPending(QUdpSocket* socket) {
    // A datagram never exceeds 64 KiB; reading into a buffer of that size takes it whole
    // without asking the system for its size first.
    constexpr qint64 kMaxDatagram = 65536;
    m_datagram.resize(kMaxDatagram);
    while (m_received.size() < kQueueLimit && socket->hasPendingDatagrams()) {
        const qint64 got = socket->readDatagram(m_datagram.data(), kMaxDatagram);
        if (got < 0) {
            continue;  // a failed read loses the datagram without a trace
        }
        ++m_datagramsReceived;
        const std::size_t queued = m_received.size();
        ProcessReceivedMessage(textFromBytes(QByteArray::fromRawData(m_datagram.constData(), got)));
        if (m_received.size() == queued) {
            ++m_datagramsIgnored;
        }
    }
}

void XapNode::drainSockets() {
    readPending(m_winsock1);
    if (m_winsock2->state() == QAbstractSocket::BoundState) {
        readPending(m_winsock2);
    }
}

void XapNode::ProcessReceivedMessage(QString text) {
    try {
        if (!m_filterHeartbeats ||
            text.first(std::min<qsizetype>(8, text.size())).toLower() == u"xap-head") {
            m_received.push_back(std::move(text));
            // An armed timer is left running: re-arming on every datagram would postpone the
            // notification for as long as a steady stream keeps coming.
            if (!m_receiveTimer.isActive()) {
                m_receiveTimer.start();
            }
        }
    } catch (const std::exception& e) {
        m_reporting.setPendingError(e, 3);
        m_reporting.WriteErrorLog(kProgramName, QStringLiteral("ProcessReceivedMessage"));
    }
}

void XapNode::ReceiveTimer_Timer() {
    m_receiveTimer.stop();
    if (m_receiver != nullptr) {
        m_receiver->onMessage();
    }
}

QString XapNode::GetMessage() {
    if (m_received.empty()) {
        return QString();
    }
    QString text = std::move(m_received.front());
    m_received.pop_front();
    return text;
}
