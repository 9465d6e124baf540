#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include "TestProcesses.h"

namespace {

QByteArray heartbeat(const char* hbClass, quint16 port, int interval) {
    return QByteArray("xap-hbeat\n{\nv=12\nhop=1\nuid=FF.1234:00\nclass=") + hbClass +
           "\nsource=test.listener.host\ninterval=" + QByteArray::number(interval) +
           "\nport=" + QByteArray::number(port) + "\n}\n";
}

}  // namespace

class HubTest : public QObject {
    Q_OBJECT

    std::unique_ptr<HubProcess> m_hub;
    quint16 m_port = 0;

    bool hubSaid(const QByteArray& text) { return m_hub->said(text); }

private slots:
    void init() {
        m_hub = std::make_unique<HubProcess>();
        m_port = m_hub->port;
        QVERIFY(m_hub->start());
        QVERIFY(hubSaid("listening on 127.0.0.1"));
    }
    void cleanup() {
        m_hub->process.terminate();
        QVERIFY(m_hub->process.waitForFinished(5000));
        QCOMPARE(m_hub->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_hub->process.exitCode(), 0);
        m_hub.reset();
    }

    void forwardsToHeartbeatingClientsAndDropsSilentOnes() {
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const QHostAddress hub(QHostAddress::LocalHost);
        client.writeDatagram(heartbeat("xap-hbeat.alive", client.localPort(), 1), hub, m_port);
        QTRY_VERIFY(
            hubSaid("add test.listener.host port " + QByteArray::number(client.localPort())));
        while (client.hasPendingDatagrams() || client.waitForReadyRead(200)) {
            client.receiveDatagram();  // its own heartbeat, echoed back
        }

        QProcess send;
        send.start(tool("xap-send"),
                   {QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--class"),
                    QStringLiteral("Homeseer.Event"), QStringLiteral("--section"),
                    QStringLiteral("Event.Log"), QStringLiteral("Data=hello")});
        QVERIFY(send.waitForFinished(5000));
        QCOMPARE(send.exitCode(), 0);
        QVERIFY(client.waitForReadyRead(2000));
        const QByteArray got = client.receiveDatagram().data();
        QVERIFY(
            got.startsWith("xap-header\n{\nv=13\nhop=1\nuid=FF.00AB:00\nclass=Homeseer.Event\n"));
        QVERIFY(got.endsWith("Event.Log\n{\nData=hello\n}\n"));

        // interval=1 s: dropped once two seconds pass without a heartbeat
        QTRY_VERIFY_WITH_TIMEOUT(hubSaid("drop test.listener.host"), 6000);
    }

    void badArgumentsAndATakenPort() {
        QProcess bad;
        bad.start(tool("xap-hub"), {QStringLiteral("--port"), QStringLiteral("0")});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 2);
        bad.start(tool("xap-hub"), {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                                    QStringLiteral("--port"), QString::number(m_port)});
        QVERIFY(bad.waitForFinished(5000));
        QCOMPARE(bad.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(HubTest)
#include "tst_hub.moc"
