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
            "xap-send",
            QStringList{QStringLiteral("--port"), QString::number(m_receiver.localPort())} + args);
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
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("blank")), " \r\n\n"));
    }

    void refusesWhatIsNoValidXapAndSendsNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("why");
        const QStringList event{QStringLiteral("--section"), QStringLiteral("Event.Log"),
                                QStringLiteral("Type=Log")};
        QTest::newRow("class of one part")
            << QStringList{QStringLiteral("--class"), QStringLiteral("Homeseer")} + event
            << QByteArray("two parts");
        QTest::newRow("class with a blank")
            << QStringList{QStringLiteral("--class"), QStringLiteral("Home seer.Event")} + event
            << QByteArray("blank");
        QTest::newRow("source with a wildcard")
            << QStringList{QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                           QStringLiteral("--source"), QStringLiteral("zel.*.x")} +
                   event
            << QByteArray("wildcards");
        QTest::newRow("source of two parts")
            << QStringList{QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                           QStringLiteral("--source"), QStringLiteral("zel.send")} +
                   event
            << QByteArray("three parts");
        QTest::newRow("source with an empty part")
            << QStringList{QStringLiteral("--class"), QStringLiteral("a.b"),
                           QStringLiteral("--source"), QStringLiteral("zel..x")} +
                   event
            << QByteArray("empty");
        QTest::newRow("uid not hex")
            << QStringList{QStringLiteral("--class"), QStringLiteral("a.b"),
                           QStringLiteral("--uid"), QStringLiteral("FF.00XY:00")} +
                   event
            << QByteArray("hex digits");
        QTest::newRow("uid without sub-address")
            << QStringList{QStringLiteral("--class"), QStringLiteral("a.b"),
                           QStringLiteral("--uid"), QStringLiteral("FF.00AB")} +
                   event
            << QByteArray("NN.DDDD:SS");
        QTest::newRow("--all without --wait")
            << QStringList{QStringLiteral("--class"), QStringLiteral("a.b"),
                           QStringLiteral("--all")} +
                   event
            << QByteArray("--wait");
        QTest::newRow("raw file of blanks")
            << QStringList{QStringLiteral("--raw"), m_dir.filePath(QStringLiteral("blank"))}
            << QByteArray("empty");
        QTest::newRow("IPv6 host")
            << QStringList{QStringLiteral("--host"), QStringLiteral("::1"),
                           QStringLiteral("--class"), QStringLiteral("a.b")} +
                   event
            << QByteArray("IPv4");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--colour")} << QByteArray("colour");
        QTest::newRow("item without =")
            << QStringList{QStringLiteral("--class"), QStringLiteral("a.b"),
                           QStringLiteral("--section"), QStringLiteral("s"),
                           QStringLiteral("noequals")}
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
            run({QStringLiteral("--host"), QStringLiteral("localhost"), QStringLiteral("--class"),
                 QStringLiteral("Homeseer.Event"), QStringLiteral("--section"),
                 QStringLiteral("Event.Log"), QStringLiteral("--source"),
                 QStringLiteral("zel.x-send.host:sub.2"), QStringLiteral("--uid"),
                 QStringLiteral("FF123400"), QStringLiteral("Type=Log")});
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
