#include <QProcess>
#include <QSqlDatabase>
#include <QtTest>

#include "RecordingSender.h"
#include "logger/LoggerCore.h"
#include "logger/db/DbConnection.h"
#include "logger/db/SqlServerProvider.h"
#include "support/Hs.h"
#include "support/XapGlobal.h"

// The SQL Server path. No SQL Server runs on our machines: the smoke test proves the driver stack
// loads and reports a refused connection clearly; the integration test runs the whole path only
// when QUILLJOT_TEST_MSSQL holds a connection string such as
//   Provider = sqloledb; Data Source =localhost,1433; User ID=sa; Password=...; Initial
//   Catalog=QuilljotTest
namespace {

// A logger core whose settings name a SQL Server, after its first InitXap; reports are recorded.
struct SqlServerLogger {
    QTemporaryDir dir;
    XapGlobal g;
    RecordingSender node;
    LoggerCore logger{g};

    SqlServerLogger(const QString& source, const QString& catalog,
                    const QString& table = u"tblQuilljot"_qs) {
        g.useAppPath(dir.path());
        g.setSender(&node);
        g.bXapReady = true;
        const QStringList settings = {u"UseSQL"_qs,   u"True"_qs, u"SQLSource"_qs,     source,
                                      u"Database"_qs, catalog,    u"DatabaseTable"_qs, table};
        for (qsizetype i = 0; i < settings.size(); i += 2) {
            g.hs().SaveIniSetting(u"Quilljot"_qs, settings[i], settings[i + 1],
                                  u"zelXapQuilljot.ini"_qs);
        }
        logger.InitXap();
    }
};

}  // namespace

class SqlServerTest : public QObject {
    Q_OBJECT

private slots:
    void driverStackLoadsAndReportsRefusal() {
        QVERIFY2(QSqlDatabase::isDriverAvailable(u"QODBC"_qs),
                 "Qt's ODBC driver is missing (package libqt6sql6-odbc)");
        QProcess odbcinst;
        odbcinst.start(u"odbcinst"_qs, {u"-q"_qs, u"-d"_qs, u"-n"_qs, u"FreeTDS"_qs});
        QVERIFY2(odbcinst.waitForFinished(5000) && odbcinst.exitCode() == 0,
                 "FreeTDS is not registered with unixODBC (scripts/install-deps registers it)");

        // Port 1 on loopback: nothing listens there, so the connection is refused at once.
        DbConnection c;
        try {
            c.Open(
                u"Provider = sqloledb; Integrated Security=SSPI; Data Source =127.0.0.1,1; "
                "User ID=sa; Password=S3cret-Pw; Initial Catalog=none"_qs);
            QFAIL("opening a closed port succeeded");
        } catch (const std::exception& e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.contains(u"Unable to connect"_qs), qPrintable(message));
            QVERIFY(message.startsWith(u"Cannot connect to SQL Server 127.0.0.1,1"_qs));
            QVERIFY(!message.contains(u"S3cret"_qs));
        }
        QVERIFY(!c.isOpen());
    }

    void passwordNeverReachesAReport() {
        SqlServerLogger run(u"127.0.0.1,1; User ID=sa; Password=S3cret-Pw"_qs, u"HomeLog"_qs);
        LoggerCore& logger = run.logger;
        RecordingSender& node = run.node;
        logger.Readmessage(
            u"xap-header\n{\nclass=Homeseer.Event\nsource=a.b.c\n}\nEvent.Log\n{\n"
            "Time=2026-12-04 23:13:09\n}\n"_qs);
        QVERIFY(node.sent.size() >= 2);  // the refused connection and the unwritten event
        for (const auto& sent : node.sent) {
            QVERIFY2(!sent.join(u' ').contains(u"S3cret"_qs), qPrintable(sent.join(u' ')));
        }
    }

    void wholePathOnARealServer() {
        const QString ado = qEnvironmentVariable("QUILLJOT_TEST_MSSQL");
        if (ado.isEmpty()) {
            QSKIP("QUILLJOT_TEST_MSSQL is not set: no SQL Server to test against");
        }
        const ConnectionString cs = ConnectionString::parse(ado);
        QString source = cs.dataSource;
        if (!cs.userId.isEmpty()) {
            source += u"; User ID="_qs + cs.userId + u"; Password="_qs + cs.password;
        }
        SqlServerLogger run(source, cs.initialCatalog, u"tblQuilljotTest"_qs);
        LoggerCore& logger = run.logger;
        RecordingSender& node = run.node;
        QVERIFY(logger.dbConnection()->isOpen());
        logger.Readmessage(
            u"xap-header\n{\nclass=Homeseer.Event\nsource=a.b.c\n}\nEvent.Log\n{\n"
            "Time=2026-12-04 23:13:09\nType=O'Neil\nData=x\n}\n"_qs);
        QVERIFY(node.sent.isEmpty());
        RecordSet rs = logger.dbConnection()->execute(
            u"SELECT * FROM tblQuilljotTest WHERE Category = 'O\"Neil'"_qs);
        QVERIFY(!rs.EOF_());
    }
};

QTEST_GUILESS_MAIN(SqlServerTest)
#include "tst_sqlserver.moc"
