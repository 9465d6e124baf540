#include <QtTest>

#include "logger/LoggerCore.h"
#include "logger/SqlTexts.h"
#include "logger/db/ConnectionString.h"
#include "logger/db/FileDialect.h"

class SqlTextsTest : public QObject {
    Q_OBJECT

private slots:
    void provisioningTexts() {
        QCOMPARE(SqlTexts::createTable(u"tblQuilljot"_qs),
                 u"CREATE TABLE tblQuilljot (ID int IDENTITY(1,1), SampleDate[datetime] NOT NULL, "
                 "Source varchar(255)  NULL, Category varchar(255) NULL, Data text NULL) "_qs);
        QCOMPARE(SqlTexts::addPrimaryKey(u"tblQuilljot"_qs),
                 u"ALTER TABLE tblQuilljot WITH NOCHECK ADD CONSTRAINT [PK_tblQuilljot] PRIMARY "
                 "KEY NONCLUSTERED (ID)"_qs);
        QCOMPARE(SqlTexts::createDatabase(u"HomeLog"_qs), u"CREATE DATABASE HomeLog"_qs);
    }

    void insertTexts() {
        QCOMPARE(SqlTexts::insertEvent(true, u"T"_qs, u"'"_qs, u"2026-12-04 23:13:09"_qs,
                                       u"a.b'c"_qs, u"O'Neil"_qs, u"say \"x\" 'y'"_qs),
                 u"INSERT INTO T (SampleDate,Source,Category,Data) VALUES ('2026-12-04 23:13:09',"
                 "'a.b\"c','O\"Neil','say \"x\" \"y\"')"_qs);
        QCOMPARE(SqlTexts::insertEvent(false, u"T"_qs, u"#"_qs, u"2026-12-04"_qs, u"a\"b"_qs,
                                       u"O'Neil"_qs, u"say \"x\""_qs),
                 u"INSERT INTO T (SampleDate,Source,Category,Data) SELECT #2026-12-04# AS Q1,"
                 "\"a'b\" AS Q2,\"O'Neil\" AS Q3,\"say 'x'\" AS Q4"_qs);
    }

    void hostileValuesStayInsideTheirLiterals() {
        const QString hostile = u"'); DROP TABLE T; -- \" AS Q2, \"x"_qs;
        const QString sql = SqlTexts::insertEvent(true, u"T"_qs, u"'"_qs, u"2026-12-04"_qs, hostile,
                                                  hostile, hostile);
        QCOMPARE(sql.count(u'\''), 8);  // the delimiters of the four values, nothing more
        // The file dialect's own tokenizer finds exactly the four values, unchanged but quotes.
        const QString file = SqlTexts::insertEvent(false, u"T"_qs, u"#"_qs, u"2026-12-04"_qs,
                                                   hostile, hostile, hostile);
        const auto p = FileDialect::parameterize(file);
        QCOMPARE(p.values.size(), 4);
        QCOMPARE(p.values[3].text(), QString(hostile).replace(u'"', u'\''));

        QVERIFY(SqlTexts::isPlainName(u"tblQuilljot"_qs));
        QVERIFY(SqlTexts::isPlainName(u"_log_2026"_qs));
        for (const QString& bad : {u""_qs, u"1st"_qs, u"t; DROP TABLE x"_qs, u"[t]"_qs, u"t x"_qs,
                                   u"t\"x"_qs, QString(129, u'a')}) {
            QVERIFY2(!SqlTexts::isPlainName(bad), qPrintable(bad));
        }
        SqlTexts::checkFilter(u"door %_\"x"_qs);
        QVERIFY_THROWS_EXCEPTION(std::exception, SqlTexts::checkFilter(u"x' OR '1'='1"_qs));
    }

    void passwordIsMaskedInMessages() {
        const auto cs = ConnectionString::parse(
            u"Provider = sqloledb; Data Source =h,1433; User ID=sa; Password=S3cret-Pw; "
            "Initial Catalog=L"_qs);
        QCOMPARE(cs.redact(u"login S3cret-Pw refused: PWD=S3cret-Pw;"_qs),
                 u"login ******** refused: PWD=********;"_qs);
        QCOMPARE(ConnectionString().redact(u"as is"_qs), u"as is"_qs);
    }

    void historyTexts() {
        QCOMPARE(SqlTexts::historyQuery(u"T"_qs, {}, {}, {}, u"%"_qs, u"#"_qs, u"D"_qs),
                 u"SELECT * FROM T WHERE SampleDate >#D# ORDER BY SampleDate"_qs);
        QCOMPARE(
            SqlTexts::historyQuery(u"T"_qs, {}, {}, u"abc"_qs, u"%"_qs, u"#"_qs, u"D"_qs),
            u"SELECT * FROM T WHERE Data like '%abc%' AND SampleDate >#D# ORDER BY SampleDate"_qs);
        QCOMPARE(
            SqlTexts::historyQuery(u"T"_qs, u"s"_qs, u"c"_qs, u"d"_qs, u"%"_qs, u"'"_qs, u"D"_qs),
            u"SELECT * FROM T WHERE Source Like '%s%' AND Category like '%c%' AND Data like "
            "'%d%' AND SampleDate >'D' ORDER BY SampleDate"_qs);
    }

    void connectionPrefixes() {
        QCOMPARE(LoggerCore::fileDatabasePrefix(),
                 u"Provider = Microsoft.Jet.OLEDB.4.0; Data Source="_qs);
        QCOMPARE(LoggerCore::sqlServerPrefix(u"SRV1"_qs) + u"HomeLog"_qs,
                 u"Provider = sqloledb; Integrated Security=SSPI; Data Source =SRV1; Initial "
                 "Catalog=HomeLog"_qs);
    }

    void booleanSettings() {
        QVERIFY(LoggerCore::readBoolean(u"-1"_qs));
        QVERIFY(LoggerCore::readBoolean(u"TRUE"_qs));
        QVERIFY(LoggerCore::readBoolean(u"2"_qs));
        QVERIFY(!LoggerCore::readBoolean(u"0"_qs));
        QVERIFY(!LoggerCore::readBoolean(u"false"_qs));
        QVERIFY_THROWS_EXCEPTION(std::exception, LoggerCore::readBoolean(u"yes"_qs));
    }

    void odbcStringFromSettings_data() {
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QString>("odbc");
        QTest::newRow("integrated")
            << LoggerCore::sqlServerPrefix(u"SRV1"_qs) + u"HomeLog"_qs
            << u"DRIVER={D};SERVER=SRV1;DATABASE=HomeLog;Trusted_Connection=Yes;TDS_Version=7.4;"
               "ClientCharset=UTF-8;"_qs;
        QTest::newRow("port and login")
            << LoggerCore::sqlServerPrefix(u"db.example,1433; User ID=sa; Password=p=w"_qs) +
                   u"HomeLog"_qs
            << u"DRIVER={D};SERVER=db.example;PORT=1433;DATABASE=HomeLog;UID=sa;PWD=p=w;"
               "TDS_Version=7.4;ClientCharset=UTF-8;"_qs;
        QTest::newRow("no catalog") << LoggerCore::sqlServerPrefix(u"SRV1"_qs)
                                    << u"DRIVER={D};SERVER=SRV1;Trusted_Connection=Yes;"
                                       "TDS_Version=7.4;ClientCharset=UTF-8;"_qs;
    }
    void odbcStringFromSettings() {
        QFETCH(QString, ado);
        QFETCH(QString, odbc);
        const ConnectionString cs = ConnectionString::parse(ado);
        QCOMPARE(cs.provider, ConnectionString::Provider::SqlServer);
        QCOMPARE(cs.toOdbc(u"D"_qs), odbc);
    }

    void fileDialectTranslation_data() {
        QTest::addColumn<QString>("jet");
        QTest::addColumn<QString>("sqlite");
        QTest::newRow("insert")
            << u"INSERT INTO T (a) SELECT #2026-12-04 23:13:09# AS Q1,\"x\" AS Q2"_qs
            << u"INSERT INTO T (a) SELECT '2026-12-04 23:13:09' AS Q1,'x' AS Q2"_qs;
        QTest::newRow("midnight date")
            << u"SELECT #2026-12-04#"_qs << u"SELECT '2026-12-04 00:00:00'"_qs;
        QTest::newRow("hash in text") << u"SELECT \"a#b#c\""_qs << u"SELECT 'a#b#c'"_qs;
        QTest::newRow("apostrophe in text") << u"SELECT \"O'Neil\""_qs << u"SELECT 'O''Neil'"_qs;
        QTest::newRow("doubled quote")
            << u"SELECT \"say \"\"hi\"\"\""_qs << u"SELECT 'say \"hi\"'"_qs;
        QTest::newRow("comment in text")
            << u"SELECT \"-- not a comment\", 1"_qs << u"SELECT '-- not a comment', 1"_qs;
        QTest::newRow("keyword in text")
            << u"SELECT \"x); DROP TABLE T; --\""_qs << u"SELECT 'x); DROP TABLE T; --'"_qs;
        QTest::newRow("single quoted kept")
            << u"WHERE a like '%\"#%'"_qs << u"WHERE a like '%\"#%'"_qs;
        QTest::newRow("brackets") << u"SELECT [a \"b\"]"_qs << u"SELECT [a \"b\"]"_qs;
        QTest::newRow("not a date") << u"SELECT #soon#"_qs << u"SELECT 'soon'"_qs;
    }
    void fileDialectTranslation() {
        QFETCH(QString, jet);
        QFETCH(QString, sqlite);
        QCOMPARE(FileDialect::toSqlite(jet), sqlite);
    }

    void unterminatedLiteralsAreRefused() {
        QVERIFY_THROWS_EXCEPTION(std::exception, FileDialect::toSqlite(u"SELECT \"abc"_qs));
        QVERIFY_THROWS_EXCEPTION(std::exception, FileDialect::toSqlite(u"SELECT #2026"_qs));
        QVERIFY_THROWS_EXCEPTION(std::exception, FileDialect::toSqlite(u"SELECT 'x"_qs));
    }
};

QTEST_GUILESS_MAIN(SqlTextsTest)
#include "tst_sqltexts.moc"
