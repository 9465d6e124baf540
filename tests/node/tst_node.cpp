#include <QUdpSocket>
#include <QtTest>
#include <list>

#include "node/MessageReceiver.h"
#include "node/XapNode.h"
#include "support/Reporting.h"

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
    bool quiet() { return !socket.waitForReadyRead(100); }
};

struct CountingReceiver : MessageReceiver {
    XapNode* node = nullptr;
    int calls = 0;
    QStringList got;
    void onMessage() override {
        ++calls;
        for (QString s = node->GetMessage(); !s.isEmpty(); s = node->GetMessage()) {
            got.append(s);
        }
    }
};

std::unique_ptr<XapNode> loopbackNode(Reporting& r, quint16 remotePort) {
    auto node = std::make_unique<XapNode>(
        r, std::make_unique<FixedHostNetwork>(u"HOST1"_qs, QStringList{u"127.0.0.1"_qs}),
        remotePort);
    node->setXapSource(u"zel.Quilljot.HOST1"_qs);
    node->setXapUID(u"FF.000A:00"_qs);
    return node;
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
        MemoryReporting r;
        Listener hub;
        auto node = loopbackNode(r, hub.port());
        const int port = node->Init();
        QVERIFY(port > blocked);
        QVERIFY(port < XapNode::kFirstPort + XapNode::kPortAttempts);
        QCOMPARE(node->sRemoteHost(), u"127.0.0.1"_qs);
        QCOMPARE(node->sHeartbeatTail(), u"0\nport="_qs + QString::number(port) + u"\n}\n"_qs);
    }

    void allPortsTakenGivesMinusOne() {
        std::list<QUdpSocket> held;
        for (int p = XapNode::kFirstPort; p < XapNode::kFirstPort + XapNode::kPortAttempts; ++p) {
            held.emplace_back().bind(QHostAddress(QHostAddress::LocalHost), quint16(p),
                                     QAbstractSocket::DontShareAddress);
        }
        MemoryReporting r;
        auto node = loopbackNode(r, 9);
        QCOMPARE(node->Init(), -1);
        QCOMPARE(node->sHeartbeatTail(), u"0\nport=32968\n}\n"_qs);

        XapNode networked(
            r, std::make_unique<FixedHostNetwork>(u"h"_qs, QStringList{u"127.0.0.2"_qs}));
        QCOMPARE(networked.Init(), -1);
    }

    void heartbeatTextAndInterval_data() {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("periodMs");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("interval");
        QTest::newRow("60") << 60 << 60000 << true << u"600"_qs;
        QTest::newRow("3") << 3 << 5000 << true << u"50"_qs;
        QTest::newRow("0") << 0 << 0 << false << u"00"_qs;
        QTest::newRow("-5") << -5 << 0 << false << u"00"_qs;
        QTest::newRow("61") << 61 << 60000 << true << u"600"_qs;
    }
    void heartbeatTextAndInterval() {
        QFETCH(int, asked);
        QFETCH(int, periodMs);
        QFETCH(bool, running);
        QFETCH(QString, interval);
        MemoryReporting r;
        Listener hub;
        auto node = loopbackNode(r, hub.port());
        const int port = node->Init();
        QVERIFY(port > 0);
        node->SendHeartbeat(asked);
        QCOMPARE(node->heartbeatActive(), running);
        if (running) {
            QCOMPARE(node->heartbeatPeriodMs(), periodMs);
        }
        QCOMPARE(QString::fromUtf8(hub.next()),
                 u"xap-hbeat\n{\nv=13\nhop=1\nuid=FF.000A:00\nclass=xap-hbeat.alive\n"
                 "source=zel.Quilljot.HOST1\ninterval="_qs +
                     interval + u"\nport="_qs + QString::number(port) + u"\n}\n"_qs);
    }

    void everyTenthExpirySendsOneHeartbeat() {
        MemoryReporting r;
        Listener hub;
        auto node = loopbackNode(r, hub.port());
        QVERIFY(node->Init() > 0);
        for (int i = 0; i < 9; ++i) {
            node->HBeatTimer_Timer();
        }
        QVERIFY(hub.quiet());
        node->HBeatTimer_Timer();
        QVERIFY(hub.next().contains("interval=200\n"));  // the load-time 20 s period
        QVERIFY(hub.quiet());
    }

    void heartbeatWithoutSocketIsLogged() {
        MemoryReporting r;
        auto node = loopbackNode(r, 9);
        node->SendHeartbeat(60);
        QCOMPARE(r.entries.size(), 1);
        QCOMPARE(r.entries[0].second, u"SendHeartbeat"_qs);
        QVERIFY(r.entries[0].error.isSet());
    }

    void separatorsInIdentityBecomeLineBreaks() {
        MemoryReporting r;
        Listener hub;
        auto node = loopbackNode(r, hub.port());
        node->setXapUID(u"FF|x"_qs);
        node->setXapSource(u"a|b"_qs);
        QVERIFY(node->Init() > 0);
        node->SendHeartbeat(60);
        QVERIFY(hub.next().contains("uid=FF\nx\nclass=xap-hbeat.alive\nsource=a\nb\n"));
        node->SendXap(QString(), u"c"_qs, u"s"_qs, QString());
        QVERIFY(
            hub.next().startsWith("xap-header\n{\nv=13\nhop=1\nuid=FF\nx\nclass=c\nsource=a|b\n"));
    }

    void sendXapByteForByte() {
        MemoryReporting r;
        Listener hub;
        auto node = std::make_unique<XapNode>(
            r, std::make_unique<FixedHostNetwork>(u"HOST1"_qs, QStringList{u"127.0.0.1"_qs}),
            hub.port());
        node->setXapSource(u"zel.Quilljot.HOST1"_qs);
        QVERIFY(node->Init() > 0);

        QCOMPARE(node->SendXap(QString(), u"c"_qs, u"s"_qs, QString()), QString());
        QCOMPARE(hub.next(), QByteArray("class=c\nsource=zel.Quilljot.HOST1\n}\ns\n{\n}\n"));

        node->setXapUID(u"FF.000A:00"_qs);
        const QString data = u"Time\u0001t=1\u0000Skipped\u0000Type\u0001x\u0001y"_qs;
        QCOMPARE(node->SendXap(u"a.b.c"_qs, u"Homeseer.Event"_qs, u"Event.Log"_qs, data),
                 QString());
        QCOMPARE(hub.next(), QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.000A:00\n"
                                        "class=Homeseer.Event\nsource=zel.Quilljot.HOST1\n"
                                        "target=a.b.c\n}\nEvent.Log\n{\nTime=t=1\n"
                                        "Type=x\x01y\n}\n"));
        QVERIFY(r.entries.isEmpty());
    }

    void receiveFilterQueueAndOneNotification() {
        MemoryReporting r;
        auto node = loopbackNode(r, 9);
        const int port = node->Init();
        QVERIFY(port > 0);
        CountingReceiver receiver;
        receiver.node = node.get();
        node->RegisterNewMessageCallback(&receiver);

        QUdpSocket sender;
        auto send = [&](const QByteArray& d) {
            sender.writeDatagram(d, QHostAddress(QHostAddress::LocalHost), quint16(port));
        };
        send("xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n");
        send(" xap-header\n{\n}\n");
        send("\nxap-header\n{\n}\n");
        send("XAP-HEADER\n{\nclass=one\n}\n");
        send("xap-header\n{\nclass=two\n}\nxap-header\n{\nclass=two-b\n}\n");
        send(QByteArray("xap-header\n{\nclass=caf\xe9\n}\n"));
        QTRY_COMPARE(receiver.calls, 1);
        QCOMPARE(receiver.got.size(), 3);
        QVERIFY(receiver.got[0].startsWith(u"XAP-HEADER"_qs));
        QVERIFY(receiver.got[1].contains(u"two-b"_qs));
        QCOMPARE(receiver.got[2], u"xap-header\n{\nclass=caf\u00e9\n}\n"_qs);
        QTest::qWait(120);
        QCOMPARE(receiver.calls, 1);

        node->setFilterHeartbeats(false);
        send("xap-hbeat\n{\n}\n");
        QTRY_COMPARE(receiver.calls, 2);
        QCOMPARE(receiver.got.size(), 4);
    }

    void queueWaitsWithoutReceiver() {
        MemoryReporting r;
        auto node = loopbackNode(r, 9);
        const int port = node->Init();
        QUdpSocket sender;
        sender.writeDatagram("xap-header\n1", QHostAddress(QHostAddress::LocalHost), quint16(port));
        sender.writeDatagram("xap-header\n2", QHostAddress(QHostAddress::LocalHost), quint16(port));
        QTRY_COMPARE(node->queuedCount(), std::size_t(2));
        QTest::qWait(80);
        QCOMPARE(node->GetMessage(), u"xap-header\n1"_qs);
        QCOMPARE(node->GetMessage(), u"xap-header\n2"_qs);
        QCOMPARE(node->GetMessage(), QString());
    }

    void secondSocketSendsFromTheHostAddress() {
        MemoryReporting r;
        Listener hub;
        XapNode node(r, std::make_unique<FixedHostNetwork>(u"h"_qs, QStringList{u"127.0.0.2"_qs}),
                     hub.port());
        node.setBroadcastAddress(u"127.0.0.1"_qs);
        const int port = node.Init();
        QVERIFY(port > 0);
        QCOMPARE(node.sLocalIP(), u"127.0.0.2"_qs);
        node.SendHeartbeat(60);
        QHostAddress from;
        QVERIFY(!hub.next(&from).isEmpty());
        QCOMPARE(from, QHostAddress(u"127.0.0.2"_qs));
    }

    void secondSocketBindFailureIsNegated() {
        MemoryReporting r;
        XapNode node(r, std::make_unique<FixedHostNetwork>(u"h"_qs, QStringList{u"192.0.2.77"_qs}));
        node.setBroadcastAddress(u"DEFAULT"_qs);
        QCOMPARE(node.Init(), -10049);
        QCOMPARE(node.sRemoteHost(), u"255.255.255.255"_qs);
        QCOMPARE(node.sHeartbeatTail(), QString());
    }

    void addressChoice_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("Default") << u"Default"_qs << u"192.168.1.5"_qs;
        QTest::newRow("10 net") << u"10.0.0.255"_qs << u"10.0.0.7"_qs;
        QTest::newRow("no match") << u"172.16.0.255"_qs << u"192.168.1.5"_qs;
        QTest::newRow("three parts") << u"10.0.255"_qs << u"192.168.1.5"_qs;
        QTest::newRow("all") << u"255.255.255.255"_qs << u"192.168.1.5"_qs;
    }
    void addressChoice() {
        QFETCH(QString, pattern);
        QFETCH(QString, chosen);
        MemoryReporting r;
        XapNode node(r, std::make_unique<FixedHostNetwork>(
                            u"h"_qs, QStringList{u"192.168.1.5"_qs, u"10.0.0.7"_qs}));
        node.setInterfaceAddress(pattern);
        QCOMPARE(node.GetIP(), chosen);
    }

    void interfaceMatching() {
        QVERIFY(XapNode::IPMatchesInterface(u"192.168.1.255"_qs, u"192.168.1.77"_qs));
        QVERIFY(!XapNode::IPMatchesInterface(u"192.168.1.255"_qs, u"192.168.2.77"_qs));
        QVERIFY(XapNode::IPMatchesInterface(u"10.0.0.7"_qs, u"10.0.0.7"_qs));
        QVERIFY(XapNode::IPMatchesInterface(u"10.0.0.7"_qs, u"10.0.0.5"_qs));  // bit subset
        QVERIFY(!XapNode::IPMatchesInterface(u"Default"_qs, u"10.0.0.7"_qs));
        QVERIFY(!XapNode::IPMatchesInterface(u"10.0.0.255"_qs, u"10.0.0"_qs));
        QVERIFY(XapNode::IPMatchesInterface(u"10.0.0.255x"_qs, u"10.0.0.1"_qs));
    }

};

QTEST_GUILESS_MAIN(NodeTest)
#include "tst_node.moc"
