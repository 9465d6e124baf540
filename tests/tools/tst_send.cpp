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
        // Arguments split at "|", followed by those of an event where `event` is set; "@" is
        // the folder of the test's files.
        const struct {
            const char* name;
            const char* args;
            bool event;
            const char* why;
        } rows[] = {
            {"class of one part", "--class|Homeseer", true, "two parts"},
            {"class with a blank", "--class|Home seer.Event", true, "blank"},
            {"source with a wildcard", "--class|Homeseer.Event|--source|zel.*.x", true,
             "wildcards"},
            {"source of two parts", "--class|Homeseer.Event|--source|zel.send", true,
             "three parts"},
            {"source with an empty part", "--class|a.b|--source|zel..x", true, "empty"},
            {"uid not hex", "--class|a.b|--uid|FF.00XY:00", true, "hex digits"},
            {"uid without sub-address", "--class|a.b|--uid|FF.00AB", true, "NN.DDDD:SS"},
            {"--all without --wait", "--class|a.b|--all", true, "--wait"},
            {"raw file of blanks", "--raw|@/blank", false, "empty"},
            {"IPv6 host", "--host|::1|--class|a.b", true, "IPv4"},
            {"unknown option", "--colour", false, "colour"},
            {"item without =", "--class|a.b|--section|s|noequals", false, "NAME=VALUE"},
        };
        for (const auto& row : rows) {
            QString args = QString::fromUtf8(row.args).replace(u'@', m_dir.path());
            if (row.event) {
                args += QStringLiteral("|--section|Event.Log|Type=Log");
            }
            QTest::newRow(row.name) << args.split(u'|') << QByteArray(row.why);
        }
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
