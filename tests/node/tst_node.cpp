#include <netinet/in.h>
#include <sys/socket.h>
#include <QUdpSocket>
#include <QtTest>

#include "TestProcesses.h"
#include "node/XapNode.h"
#include "report/Reporter.h"

namespace {

// A listener on 127.0.0.1 that stands where the hub would be.
struct Listener {
    QUdpSocket socket;
    Listener() { socket.bind(QHostAddress(QHostAddress::LocalHost), 0); }
    quint16 port() const { return socket.localPort(); }
    QByteArray next(QHostAddress* from = nullptr) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(2000)) {
            return {};
        }
        QByteArray d(socket.pendingDatagramSize(), Qt::Uninitialized);
        socket.readDatagram(d.data(), d.size(), from);
        return d;
    }
};

std::unique_ptr<XapNode> nodeOn(Reporter& r, const QString& address, quint16 remotePort = 9) {
    auto node = std::make_unique<XapNode>(
        r, std::make_unique<FixedHostNetwork>(QStringList{address}), remotePort);
    node->setIdentity(QStringLiteral("zel.Quilljot.HOST1"), QStringLiteral("FF.000A:00"));
    // Sends go to loopback whatever the host address: nothing leaves this machine.
    node->setNetworkSettings(
        NetworkSettings{QStringLiteral("Default"), QStringLiteral("127.0.0.1")});
    return node;
}

QString heartbeat(const QString& interval, int port) {
    return QStringLiteral(
               "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.000A:00\nclass=xap-hbeat.alive\n"
               "source=zel.Quilljot.HOST1\ninterval=") +
           interval + QStringLiteral("\nport=") + QString::number(port) + QStringLiteral("\n}\n");
}

// Gives the socket of this process bound to 127.0.0.1:port a receive buffer of a few datagrams.
bool shrinkReceiveBuffer(quint16 port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in a{};
        socklen_t len = sizeof(a);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            a.sin_family != AF_INET || ntohs(a.sin_port) != port ||
            ntohl(a.sin_addr.s_addr) != INADDR_LOOPBACK) {
            continue;
        }
        int bytes = 4096;
        return setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) == 0 ||
               setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
    }
    return false;
}

// The drops the system counted on the UDP socket at 127.0.0.1:port (/proc/net/udp's last column).
qint64 systemDrops(quint16 port) {
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() > 2 && columns[1] == local) {
            return columns.last().toLongLong();
        }
    }
    return -1;
}

}  // namespace

class NodeTest : public QObject {
    Q_OBJECT

private slots:
    void portSearchSkipsATakenPort() {
        // Take the first free port of the range, whatever else on this machine holds.
        QUdpSocket blocker;
        int blocked = XapNode::kFirstPort;
        while (!blocker.bind(QHostAddress(QHostAddress::LocalHost), quint16(blocked),
                             QAbstractSocket::DontShareAddress)) {
            ++blocked;
        }
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"));
        const int port = node->bind();
        QVERIFY(port > blocked);
        QVERIFY(port < XapNode::kFirstPort + XapNode::kPortAttempts);
    }

    void heartbeatTextAndInterval_data() {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("periodMs");
        QTest::addColumn<QString>("interval");
        QTest::newRow("60") << 60 << 60000 << QStringLiteral("60");
        QTest::newRow("3") << 3 << 5000 << QStringLiteral("5");
        QTest::newRow("0") << 0 << 0 << QStringLiteral("0");
        QTest::newRow("-5") << -5 << 0 << QStringLiteral("0");
        QTest::newRow("61") << 61 << 60000 << QStringLiteral("60");
    }
    void heartbeatTextAndInterval() {
        QFETCH(int, asked);
        QFETCH(int, periodMs);
        QFETCH(QString, interval);
        MemoryReporter r;
        Listener hub;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"), hub.port());
        const int port = node->bind();
        QVERIFY(port > 0);
        node->sendHeartbeat(asked);
        QCOMPARE(node->heartbeatActive(), periodMs > 0);
        if (periodMs > 0) {
            QCOMPARE(node->heartbeatPeriodMs(), periodMs);
        }
        // The interval announced is the time until the next heartbeat.
        QCOMPARE(QString::fromUtf8(hub.next()), heartbeat(interval, port));
        QVERIFY(r.entries.isEmpty());
    }

    void heartbeatWithoutSocketIsLogged() {
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"));
        node->sendHeartbeat(60);
        QCOMPARE(r.entries.size(), 1);
        QVERIFY(r.entries[0].textLog);
        QCOMPARE(r.entries[0].problem.kind, ErrorKind::Socket);
        QVERIFY(
            !node->send(OutgoingMessage{QString(), QStringLiteral("c"), QStringLiteral("s"), {}}));
    }

    void sendsMessagesByteForByte() {
        MemoryReporter r;
        Listener hub;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"), hub.port());
        node->setIdentity(QStringLiteral("zel.Quilljot.HOST1"), QString());
        QVERIFY(node->bind() > 0);

        QVERIFY(
            node->send(OutgoingMessage{QString(), QStringLiteral("c"), QStringLiteral("s"), {}}));
        QCOMPARE(hub.next(), QByteArray("class=c\nsource=zel.Quilljot.HOST1\n}\ns\n{\n}\n"));

        node->setIdentity(QStringLiteral("zel.Quilljot.HOST1"), QStringLiteral("FF.000A:00"));
        QVERIFY(
            node->send(OutgoingMessage{QStringLiteral("a.b.c"),
                                       QStringLiteral("Homeseer.Event"),
                                       QStringLiteral("Event.Log"),
                                       {{QStringLiteral("Time"), QStringLiteral("t=1")},
                                        {QStringLiteral("Type"), QStringLiteral("x\u0001y")}}}));
        QCOMPARE(hub.next(), QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.000A:00\n"
                                        "class=Homeseer.Event\nsource=zel.Quilljot.HOST1\n"
                                        "target=a.b.c\n}\nEvent.Log\n{\nTime=t=1\n"
                                        "Type=x\x01y\n}\n"));

        // Too large for one datagram: said, not sent in part.
        const Status big =
            node->send(OutgoingMessage{QString(),
                                       QStringLiteral("c"),
                                       QStringLiteral("s"),
                                       {{QStringLiteral("d"), QString(70000, u'x')}}});
        QVERIFY(!big);
        QVERIFY(big.problem().description.startsWith(QStringLiteral("Message too large to send")));
        QVERIFY(r.entries.isEmpty());
    }

    void receiveFilterQueueAndOneNotification() {
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"));
        const int port = node->bind();
        QVERIFY(port > 0);
        int calls = 0;
        QStringList got;
        connect(node.get(), &XapNode::messagesWaiting, this, [&] {
            ++calls;
            for (QString s = node->takeMessage(); !s.isEmpty(); s = node->takeMessage()) {
                got.append(s);
            }
        });

        QUdpSocket sender;
        auto send = [&](const QByteArray& d) {
            sender.writeDatagram(d, QHostAddress(QHostAddress::LocalHost), quint16(port));
        };
        send("xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n");
        send("\r\n \nxap-hbeat\n{\n}\n");
        send("\r\n \nxap-header\n{\n}\n");  // blank lines some senders put first
        send("XAP-HEADER\n{\nclass=one\n}\n");
        send("xap-header\n{\nclass=two\n}\nxap-header\n{\nclass=two-b\n}\n");
        send(QByteArray("xap-header\n{\nclass=caf\xe9\n}\n"));
        QTRY_COMPARE(calls, 1);
        QCOMPARE(got.size(), 4);
        QVERIFY(got[0].endsWith(QStringLiteral("\nxap-header\n{\n}\n")));
        QVERIFY(got[1].startsWith(QStringLiteral("XAP-HEADER")));
        QVERIFY(got[2].contains(QStringLiteral("two-b")));
        QCOMPARE(got[3], QStringLiteral("xap-header\n{\nclass=caf\u00e9\n}\n"));
        QCOMPARE(node->datagramsReceived(), 6u);
        QCOMPARE(node->datagramsIgnored(), 2u);
        QTest::qWait(120);
        QCOMPARE(calls, 1);

        node->setFilterHeartbeats(false);
        send("xap-hbeat\n{\n}\n");
        QTRY_COMPARE(calls, 2);
        QCOMPARE(got.size(), 5);

        // Read without the event loop, as a long pass over the queue does.
        disconnect(node.get(), &XapNode::messagesWaiting, this, nullptr);
        send("xap-header\n3");
        QTRY_COMPARE_WITH_TIMEOUT((node->drainSockets(), node->queuedCount()), std::size_t(1),
                                  2000);
        QCOMPARE(node->takeMessage(), QStringLiteral("xap-header\n3"));
    }

    // A burst larger than what the node hands on at a time, waiting before the node reads: each
    // datagram taken once, in order, across the hand-ons.
    void aBurstArrivesWholeAndInOrder() {
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"));
        const quint16 port = quint16(node->bind());
        QVERIFY(port > 0);
        QStringList got;
        int calls = 0;
        connect(node.get(), &XapNode::messagesWaiting, this, [&] {
            ++calls;
            for (QString s = node->takeMessage(); !s.isEmpty(); s = node->takeMessage()) {
                got.append(s);
            }
        });
        QUdpSocket sender;
        const int sent = int(XapNode::kHandOnShare * 5 / 2);
        if (node->receiveBufferBytes() < sent * 2048) {
            QSKIP("The system's receive buffer cannot hold the burst (raise net.core.rmem_max).");
        }
        for (int i = 0; i < sent; ++i) {  // no event loop meanwhile: the node does not read
            sender.writeDatagram("xap-header\n{\nclass=x\n}\nn=" + QByteArray::number(i),
                                 QHostAddress(QHostAddress::LocalHost), port);
        }
        QTRY_COMPARE(got.size(), sent);
        for (int i = 0; i < sent; ++i) {
            QVERIFY2(got[i].endsWith(QStringLiteral("n=") + QString::number(i)),
                     qPrintable(got[i]));
        }
        QVERIFY(calls >= 3);
        QCOMPARE(node->droppedBeforeReceive(), 0u);
    }

    // A full receive buffer drops what arrives until the node reads again; the node knows the
    // system's count once it has read what the buffer held, with no datagram after the drops.
    void dropsBeforeReceiveAreTheSystemsCount() {
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"));
        const quint16 port = quint16(node->bind());
        QVERIFY(shrinkReceiveBuffer(port));
        QUdpSocket sender;
        const QByteArray d = "xap-header\n{\nclass=x\n}\n" + QByteArray(300, 'x');
        auto send = [&] { sender.writeDatagram(d, QHostAddress(QHostAddress::LocalHost), port); };
        const quint64 sent = 200;
        for (quint64 i = 0; i < sent; ++i) {
            send();  // no event loop meanwhile: the node does not read
        }
        const qint64 dropped = systemDrops(port);
        QVERIFY(dropped > 0);
        QTRY_COMPARE(node->datagramsReceived() + quint64(dropped), sent);
        QCOMPARE(node->droppedBeforeReceive(), quint64(dropped));
        QCOMPARE(systemDrops(port), dropped);
    }

    // The hub restarted right after the node's heartbeat, with the logger's 60 s interval: the
    // new hub knows the node within 15 s all the same, and the interval announced stays kept.
    void backSoonAfterTheHubRestarts() {
        auto hub = std::make_unique<HubProcess>();
        QVERIFY(hub->start());
        const quint16 hubPort = hub->port;
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("127.0.0.1"), hubPort);
        QVERIFY(node->bind() > 0);
        node->sendHeartbeat(60);
        QTRY_VERIFY(hub->said("add zel.Quilljot.HOST1"));
        QTRY_COMPARE(node->datagramsIgnored(), 1u);  // its heartbeat came back through the hub
        hub.reset();
        hub = std::make_unique<HubProcess>();
        hub->port = hubPort;
        QVERIFY(hub->start());
        QTRY_VERIFY_WITH_TIMEOUT(hub->said("add zel.Quilljot.HOST1"), 15000);
        QCOMPARE(node->heartbeatPeriodMs(), 60000);
        QVERIFY(r.entries.isEmpty());
    }

    void secondSocketSendsFromTheHostAddress() {
        MemoryReporter r;
        Listener hub;
        auto node = nodeOn(r, QStringLiteral("127.0.0.2"), hub.port());
        const int port = node->bind();
        QVERIFY(port > 0);
        QCOMPARE(node->localIp(), QStringLiteral("127.0.0.2"));
        node->sendHeartbeat(60);
        QHostAddress from;
        QCOMPARE(hub.next(&from), heartbeat(QStringLiteral("60"), port).toUtf8());
        QCOMPARE(from, QHostAddress(QStringLiteral("127.0.0.2")));

        // Both sockets receive: the hub forwards to loopback, others may send to the host.
        QUdpSocket sender;
        sender.writeDatagram("xap-header\nL", QHostAddress(QHostAddress::LocalHost), quint16(port));
        sender.writeDatagram("xap-header\nH", QHostAddress(QStringLiteral("127.0.0.2")),
                             quint16(port));
        QTRY_COMPARE(node->queuedCount(), std::size_t(2));
    }

    void secondSocketBindFailureIsNegated() {
        MemoryReporter r;
        auto node = nodeOn(r, QStringLiteral("192.0.2.77"));
        node->setNetworkSettings(
            NetworkSettings{QStringLiteral("Default"), QStringLiteral("DEFAULT")});
        QCOMPARE(node->bind(), -10049);
        QCOMPARE(node->destination(), QStringLiteral("255.255.255.255"));
    }

    void addressChoice_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("Default") << QStringLiteral("Default") << QStringLiteral("192.168.1.5");
        QTest::newRow("10 net") << QStringLiteral("10.0.0.255") << QStringLiteral("10.0.0.7");
        QTest::newRow("bits of the pattern")
            << QStringLiteral("10.0.0.15") << QStringLiteral("10.0.0.7");
        QTest::newRow("text after a number")
            << QStringLiteral("10.0.0.255x") << QStringLiteral("10.0.0.7");
        QTest::newRow("no match") << QStringLiteral("172.16.0.255")
                                  << QStringLiteral("192.168.1.5");
        QTest::newRow("three parts") << QStringLiteral("10.0.255") << QStringLiteral("192.168.1.5");
        QTest::newRow("all") << QStringLiteral("255.255.255.255") << QStringLiteral("192.168.1.5");
    }
    void addressChoice() {
        QFETCH(QString, pattern);
        QFETCH(QString, chosen);
        QCOMPARE(XapNode::chooseAddress({QStringLiteral("192.168.1.5"), QStringLiteral("10.0.0.7")},
                                        pattern),
                 chosen);
        QCOMPARE(XapNode::chooseAddress({}, pattern), QStringLiteral("127.0.0.1"));
    }

    // Loopback only when the host has no interface up, and then said; a destination other than
    // the configured one is said too, never taken silently. (No interface with the default
    // destination, and an interface with a subnet's, are the network namespace test's.)
    void loopbackAndDestinationAreSaid_data() {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("notice");
        const QString only = QStringLiteral("; only xAP applications on this host hear the logger");
        const QString none = QStringLiteral("No network interface is up: sending from 127.0.0.1");
        const QStringList loopback{QStringLiteral("127.0.0.1")};
        QTest::newRow("none, subnet")
            << QStringList{} << QStringLiteral("192.0.2.255")
            << none + QStringLiteral(" to 127.0.0.1 instead of 192.0.2.255") + only;
        QTest::newRow("none, loopback") << QStringList{} << loopback[0] << none + only;
        QTest::newRow("loopback host, Default")
            << loopback << QStringLiteral("Default")
            << QStringLiteral("Sending from 127.0.0.1 to 127.0.0.1 instead of 255.255.255.255") +
                   only;
        QTest::newRow("loopback host, loopback") << loopback << loopback[0] << QString();
    }
    void loopbackAndDestinationAreSaid() {
        QFETCH(QStringList, addresses);
        QFETCH(QString, configured);
        QFETCH(QString, notice);
        MemoryReporter r;
        XapNode node(r, std::make_unique<FixedHostNetwork>(addresses));
        node.setNetworkSettings(NetworkSettings{QStringLiteral("Default"), configured});
        QVERIFY(node.bind() > 0);  // binding sends nothing
        QCOMPARE(node.localIp(), QStringLiteral("127.0.0.1"));
        QCOMPARE(node.destination(), QStringLiteral("127.0.0.1"));
        QCOMPARE(node.addressNotice(), notice);
    }
};

QTEST_GUILESS_MAIN(NodeTest)
#include "tst_node.moc"
