#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <list>
#include "SqliteRows.h"
#include "TestProcesses.h"

// The real programs as processes: a hub on a free loopback port, the logger headless in a fresh
// application folder whose shared settings send to 127.0.0.1, and xap-send as the network.

class EndToEndTest : public QObject {
    Q_OBJECT

    AppFolder m_app;
    HubProcess m_hub;
    LoggerProcess m_logger;

    // The logger's own reports, or the events of others, in the order they were logged. Which
    // reports there are depends on the host (one more when no network interface is up).
    QList<QStringList> rows(bool reports) {
        return sqliteRows(
            m_app.database(),
            QStringLiteral("SELECT SampleDate, Source, Category, Data FROM tblQuilljot WHERE ") +
                (reports ? QStringLiteral("") : QStringLiteral("NOT ")) +
                QStringLiteral("Category = 'xapzelQuilljot' ORDER BY ID"));
    }
    int send(const QStringList& args) {
        return runProgram("xap-send",
                          QStringList{QStringLiteral("--port"), QString::number(m_hub.port)} + args)
            .status;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_hub.start());
        QVERIFY(m_logger.start(m_app, m_hub.port, {QStringLiteral("--echo")}));
        QTRY_VERIFY_WITH_TIMEOUT(m_hub.said("add zel.Quilljot."), 10000);
    }

    void logsEventsAndItsOwnStartReport() {
        QCOMPARE(send({QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                       QStringLiteral("--section"), QStringLiteral("Event.Log"),
                       QStringLiteral("Time=2026-12-04 23:13:09"), QStringLiteral("Type=O'Neil"),
                       QStringLiteral("Data=say \"hi\"")}),
                 0);
        send({QStringLiteral("--class"), QStringLiteral("homeseer.event"),
              QStringLiteral("--section"), QStringLiteral("event.log"),
              QStringLiteral("Time=12/4/2026 11:14:00 PM"), QStringLiteral("Type=Log"),
              QStringLiteral("Data=second")});
        QTRY_VERIFY_WITH_TIMEOUT(rows(false).size() >= 2, 10000);
        const auto r = rows(false);
        QCOMPARE(r[0][0], QStringLiteral("2026-12-04 23:13:09"));
        QVERIFY(r[0][1].startsWith(QStringLiteral("zel.xapsend.")));
        QCOMPARE(r[0][2], QStringLiteral("O'Neil"));
        QCOMPARE(r[0][3], QStringLiteral("say 'hi'"));
        QCOMPARE(r[1][0], QStringLiteral("2026-12-04 23:14:00"));
        QCOMPARE(r[1][3], QStringLiteral("second"));
        const auto reports = rows(true);
        QVERIFY(!reports.isEmpty());
        QVERIFY(reports[0][0].startsWith(QStringLiteral("20")));
        QVERIFY2(std::any_of(reports.begin(), reports.end(),
                             [](const QStringList& row) {
                                 return row[3].startsWith(QStringLiteral("Using xAP port  3"));
                             }),
                 qPrintable(reports[0][3]));
        QTRY_VERIFY(m_logger.process.peek(1 << 20).contains("Log  |  second"));
    }

    // A logger that stops says so: the hub stops forwarding to its port at once.
    void aStoppedLoggerIsDroppedByTheHubAtOnce() {
        AppFolder app;
        HubProcess hub;
        LoggerProcess logger;
        QVERIFY(hub.start());
        QVERIFY(logger.start(app, hub.port));
        QTRY_VERIFY_WITH_TIMEOUT(hub.said("add zel.Quilljot."), 10000);
        logger.signal(SIGTERM);
        QVERIFY(logger.process.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(hub.said("port " + QByteArray::number(logger.port) + " (stopped)"),
                                 5000);
    }

    void endsWithStatusOneWhenNoPortIsFree() {
        std::list<QUdpSocket> held;
        for (int port = 32768; port < 32968; ++port) {
            held.emplace_back().bind(QHostAddress(QHostAddress::LocalHost), quint16(port),
                                     QAbstractSocket::DontShareAddress);
        }
        QTemporaryDir dir;
        QProcess p;
        p.start(tool("quilljot"),
                {QStringLiteral("--headless"), QStringLiteral("--app-dir"), dir.path(),
                 QStringLiteral("--xap-port"), QString::number(m_hub.port)});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(p.readAllStandardError().count('\n'), 1);
        QFile log(dir.path() + QStringLiteral("/Data/xapzelQuilljot/xapzelQuilljot.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("xapzelQuilljot xAP Init Error -1 occurred 0 \r\n"));
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/Data/xapzelQuilljot.mdb")));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
