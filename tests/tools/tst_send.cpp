#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include "TestFiles.h"
#include "TestProcesses.h"

// xap-send as a process: what it refuses before sending anything, and what it sends.

class SendTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QUdpSocket m_receiver;  // stands in for the hub

    Run run(const QStringList& args) {
        return runProgram(
            "xap-send", QStringList{u"--port"_qs, QString::number(m_receiver.localPort())} + args);
    }
    QList<QByteArray> received() {
        QList<QByteArray> out;
        while (m_receiver.hasPendingDatagrams() || m_receiver.waitForReadyRead(200)) {
            QByteArray d(m_receiver.pendingDatagramSize(), '\0');
            m_receiver.readDatagram(d.data(), d.size());
            out.append(d);
        }
        return out;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(writeFile(m_dir.filePath(u"blank"_qs), " \r\n\n"));
    }

    void refusesWhatIsNoValidXapAndSendsNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("why");
        const QStringList event{u"--section"_qs, u"Event.Log"_qs, u"Type=Log"_qs};
        QTest::newRow("class of one part")
            << QStringList{u"--class"_qs, u"Homeseer"_qs} + event << QByteArray("two parts");
        QTest::newRow("class with a blank")
            << QStringList{u"--class"_qs, u"Home seer.Event"_qs} + event << QByteArray("blank");
        QTest::newRow("source with a wildcard")
            << QStringList{u"--class"_qs, u"Homeseer.Event"_qs, u"--source"_qs, u"zel.*.x"_qs} +
                   event
            << QByteArray("wildcards");
        QTest::newRow("source of two parts")
            << QStringList{u"--class"_qs, u"Homeseer.Event"_qs, u"--source"_qs, u"zel.send"_qs} +
                   event
            << QByteArray("three parts");
        QTest::newRow("source with an empty part")
            << QStringList{u"--class"_qs, u"a.b"_qs, u"--source"_qs, u"zel..x"_qs} + event
            << QByteArray("empty");
        QTest::newRow("uid not hex")
            << QStringList{u"--class"_qs, u"a.b"_qs, u"--uid"_qs, u"FF.00XY:00"_qs} + event
            << QByteArray("hex digits");
        QTest::newRow("uid without sub-address")
            << QStringList{u"--class"_qs, u"a.b"_qs, u"--uid"_qs, u"FF.00AB"_qs} + event
            << QByteArray("NN.DDDD:SS");
        QTest::newRow("--all without --wait")
            << QStringList{u"--class"_qs, u"a.b"_qs, u"--all"_qs} + event << QByteArray("--wait");
        QTest::newRow("raw file of blanks")
            << QStringList{u"--raw"_qs, m_dir.filePath(u"blank"_qs)} << QByteArray("empty");
        QTest::newRow("IPv6 host")
            << QStringList{u"--host"_qs, u"::1"_qs, u"--class"_qs, u"a.b"_qs} + event
            << QByteArray("IPv4");
        QTest::newRow("unknown option") << QStringList{u"--colour"_qs} << QByteArray("colour");
        QTest::newRow("item without =")
            << QStringList{u"--class"_qs, u"a.b"_qs, u"--section"_qs, u"s"_qs, u"noequals"_qs}
            << QByteArray("NAME=VALUE");
    }
    void refusesWhatIsNoValidXapAndSendsNothing() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, why);
        const Run r = run(args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.startsWith("xap-send: ") && r.err.contains(why), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(received().isEmpty());
    }

    void sendsToAHostNameWithTheFieldsGiven() {
        const Run r =
            run({u"--host"_qs, u"localhost"_qs, u"--class"_qs, u"Homeseer.Event"_qs,
                 u"--section"_qs, u"Event.Log"_qs, u"--source"_qs, u"zel.x-send.host:sub.2"_qs,
                 u"--uid"_qs, u"FF123400"_qs, u"Type=Log"_qs});
        QVERIFY2(r.status == 0, r.err.constData());
        const QList<QByteArray> got = received();
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].contains("\nclass=Homeseer.Event\n"));
        QVERIFY(got[0].contains("\nsource=zel.x-send.host:sub.2\n"));
        QVERIFY(got[0].contains("\nuid=FF123400\n"));
    }
};

QTEST_GUILESS_MAIN(SendTest)
#include "tst_send.moc"
