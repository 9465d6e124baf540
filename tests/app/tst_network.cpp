// The logger's place on the network, with the real programs: which address it sends from, and
// that it is reachable again after the hub restarts.
//
// The test program moves itself into a network namespace of its own before anything else runs,
// so the interfaces it makes (192.0.2.x) and every datagram sent stay inside it. Where no
// namespace can be made the address tests are skipped; the hub restart uses loopback only and
// runs either way.
#include <sched.h>
#include <QProcess>
#include <QtTest>
#include <cerrno>
#include <cstring>

#include "TestProcesses.h"

namespace {

QString g_noNamespace;  // why there is no namespace of our own; empty when there is one

bool ip(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Two interfaces up with an address each: a veth pair, whose ends both stay in this namespace
// (dummy interfaces need a kernel module that containers often lack).
bool addInterfaces(const QString& first, const QString& second) {
    return ip({QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("qj0"),
               QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
               QStringLiteral("name"), QStringLiteral("qj1")}) &&
           ip({QStringLiteral("addr"), QStringLiteral("add"), first, QStringLiteral("dev"),
               QStringLiteral("qj0")}) &&
           ip({QStringLiteral("addr"), QStringLiteral("add"), second, QStringLiteral("dev"),
               QStringLiteral("qj1")}) &&
           ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("qj0"),
               QStringLiteral("up")}) &&
           ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("qj1"),
               QStringLiteral("up")});
}

void writeShared(const AppFolder& app, const QByteArray& interfacePattern,
                 const QByteArray& broadcast) {
    QFile shared(app.path(QStringLiteral("Config/zelXap.ini")));
    if (shared.open(QIODevice::WriteOnly)) {
        shared.write("[Interface]\r\nInterfaceAddress=" + interfacePattern +
                     "\r\nBroadcastAddress=" + broadcast + "\r\n");
    }
}

// The next datagram on `socket` and who sent it.
QByteArray next(QUdpSocket& socket, QHostAddress* from) {
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(5000)) {
        return {};
    }
    QByteArray d(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(d.data(), d.size(), from);
    return d;
}

}  // namespace

// A macro, as QSKIP must return from the test function itself: nothing of an address test may
// run outside the namespace.
#define NEED_NAMESPACE()                                                              \
    if (!g_noNamespace.isEmpty()) {                                                   \
        QSKIP(qPrintable(QStringLiteral("no network namespace of the test's own: ") + \
                         g_noNamespace));                                             \
    }

class NetworkTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        if (g_noNamespace.isEmpty()) {
            ip({QStringLiteral("link"), QStringLiteral("del"),
                QStringLiteral("qj0")});  // and its peer with it
        }
    }

    // With interfaces up the logger sends from the one its pattern picks, to the destination its
    // settings name, and says nothing of loopback.
    void sendsFromAnInterfaceToTheConfiguredDestination() {
        NEED_NAMESPACE();
        QVERIFY(addInterfaces(QStringLiteral("192.0.2.5/24"), QStringLiteral("192.0.2.66/24")));
        const struct {
            QByteArray pattern;
            QString from;
        } cases[] = {{"255.255.255.66", QStringLiteral("192.0.2.66")},
                     {"255.255.255.5", QStringLiteral("192.0.2.5")}};
        for (const auto& c : cases) {
            // Bound to all addresses: it hears the subnet broadcast as a hub on this host would.
            QUdpSocket network;
            QVERIFY(network.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
            AppFolder app;
            writeShared(app, c.pattern, "192.0.2.255");
            LoggerProcess logger;
            QVERIFY(logger.start(app, network.localPort()));
            const QByteArray said = QByteArray("sending to 192.0.2.255:") +
                                    QByteArray::number(network.localPort()) + " from " +
                                    c.from.toLatin1();
            QVERIFY2(logger.stderrText().contains(said), logger.stderrText().constData());
            QHostAddress from;
            QVERIFY(next(network, &from).startsWith("xap-hbeat"));
            QCOMPARE(from.toString(), c.from);
            QVERIFY(!logger.stderrText().contains("127.0.0.1 instead"));
            QVERIFY(!logger.stderrText().contains("No network interface"));
        }
    }

    // With no interface up the logger sends from and to loopback, and says so once on standard
    // error and once in its start-up reports. An interface that is up without a link (here a veth
    // end whose peer is down) counts as none.
    void withoutInterfacesSaysItUsesLoopback() {
        NEED_NAMESPACE();
        QVERIFY(ip({QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("qj0"),
                    QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                    QStringLiteral("name"), QStringLiteral("qj1")}));
        QVERIFY(ip({QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("192.0.2.5/24"),
                    QStringLiteral("dev"), QStringLiteral("qj0")}));
        QVERIFY(ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("qj0"),
                    QStringLiteral("up")}));
        LoggerBehindHub run;
        writeShared(run.app, "Default", "Default");
        QVERIFY(run.start());
        QTRY_VERIFY_WITH_TIMEOUT(run.hub.said("add zel.Quilljot."), 10000);
        const QByteArray notice =
            "No network interface is up: sending from 127.0.0.1 to 127.0.0.1 instead of "
            "255.255.255.255";
        QTRY_COMPARE_WITH_TIMEOUT(run.hub.reports(notice), 1, 10000);
        QCOMPARE(run.logger.stderrText().count(notice), 1);
        QVERIFY(run.logger.stderrText().contains("sending to 127.0.0.1:"));
    }

    // A hub that is restarted forwards to the logger again after the logger's next heartbeat
    // (here every 5 s instead of 60, by the variable the logger reads for tests).
    void reachableAgainAfterAHubRestart() {
        AppFolder app;
        auto hub = std::make_unique<HubProcess>();
        const quint16 port = hub->port;
        QVERIFY(hub->start());
        LoggerProcess logger;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLJOT_HEARTBEAT_SECONDS"), QStringLiteral("5"));
        logger.process.setProcessEnvironment(env);
        QVERIFY(logger.start(app, port));
        QTRY_VERIFY_WITH_TIMEOUT(hub->said("add zel.Quilljot."), 10000);
        auto echo = [port] {
            QProcess p;
            p.start(tool("xap-send"),
                    {QStringLiteral("--port"), QString::number(port), QStringLiteral("--class"),
                     QStringLiteral("VOZ.Echo"), QStringLiteral("--section"),
                     QStringLiteral("Echo.Query"), QStringLiteral("Query=again"),
                     QStringLiteral("--wait"), QStringLiteral("1")});
            p.waitForFinished(10000);
            return p.readAllStandardOutput().contains("Response=again");
        };
        QVERIFY(echo());

        hub->process.kill();  // as a crash: no goodbye from the hub
        QVERIFY(hub->process.waitForFinished(5000));
        hub = std::make_unique<HubProcess>();
        hub->port = port;
        QVERIFY(hub->start());
        QElapsedTimer gap;
        gap.start();
        QTRY_VERIFY_WITH_TIMEOUT(hub->said("add zel.Quilljot."), 10000);
        QVERIFY2(gap.elapsed() < 8000, qPrintable(QString::number(gap.elapsed())));
        QVERIFY(echo());
    }
};

int main(int argc, char** argv) {
    // Before any thread or socket exists; children (hub, logger) inherit the namespace.
    if (unshare(CLONE_NEWNET) != 0) {
        g_noNamespace = QString::fromLocal8Bit(std::strerror(errno));
    }
    QCoreApplication app(argc, argv);
    if (g_noNamespace.isEmpty() && !ip({QStringLiteral("link"), QStringLiteral("set"),
                                        QStringLiteral("lo"), QStringLiteral("up")})) {
        g_noNamespace = QStringLiteral("`ip link set lo up` failed (is iproute2 installed?)");
    }
    NetworkTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_network.moc"
