#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>
#include <memory>
#include <vector>

#include "TestFiles.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "node/HostNetwork.h"
#include "web/EventRequest.h"
#include "web/HttpLimits.h"
#include "web/WebAccess.h"
#include "web/WebPassword.h"
#include "web/WebServer.h"

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// AddressSanitizer keeps freed memory in quarantine: what this process holds then says nothing
// about what the server keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentGrowthTells = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentGrowthTells = false;
#else
constexpr bool kResidentGrowthTells = true;
#endif
#else
constexpr bool kResidentGrowthTells = true;
#endif

// What this process holds in memory now, in bytes.
qint64 residentBytes() {
    QFile statm(u"/proc/self/statm"_qs);
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return statm.readAll().split(' ').value(1).toLongLong() * 4096;
}

const QByteArray kEventDatagram =
    "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=a.b.c\n}\n"
    "Event.Log\n{\nTime=2026-12-04 23:13:09\nType=t\nData=still here\n}\n";

// A raw connection to the web server, for requests no well-behaved client sends.
struct RawClient {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray got;

    bool open(quint16 port) {
        socket->connectToHost(QHostAddress::LocalHost, port);
        return socket->waitForConnected(5000);
    }
    // Everything the server sends until it closes the connection (or `millis` pass).
    QByteArray untilClosed(int millis = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (socket->state() == QAbstractSocket::ConnectedState && clock.elapsed() < millis) {
            socket->waitForReadyRead(50);
            got += socket->readAll();
        }
        got += socket->readAll();
        return got;
    }
    // Everything until the answer's head and `bodyBytes` of body have come.
    QByteArray answer(int millis = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (!got.contains("\r\n\r\n") && clock.elapsed() < millis) {
            socket->waitForReadyRead(50);
            got += socket->readAll();
        }
        return got;
    }
};

}  // namespace

// The web API against a running logger and its SQLite file, through real HTTP on 127.0.0.1. Paging,
// counts and exports through the API are the browser test's (tests/web/browser).
class WebTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QUdpSocket> m_network;  // where the logger's datagrams go
    Frontend m_noWindows;
    std::unique_ptr<Logger> m_logger;
    std::unique_ptr<WebServer> m_web;
    QNetworkAccessManager m_http;

    QString webAddress() const { return u"127.0.0.1:"_qs + QString::number(m_web->port()); }
    void sendEvents(int count) {
        QUdpSocket sender;
        for (int i = 0; i < count; ++i) {
            sender.writeDatagram(kEventDatagram, QHostAddress::LocalHost,
                                 quint16(m_logger->node()->port()));
        }
    }
    QByteArray exchange(const QByteArray& request) {
        RawClient client;
        if (!client.open(m_web->port())) {
            return {};
        }
        client.socket->write(request);
        return client.answer();
    }
    QByteArray headOf(const QByteArray& path) {
        return "GET " + path + " HTTP/1.1\r\nHost: " + webAddress().toLatin1() + "\r\n";
    }

    void startLogger(const WebSettings& web = {}) {
        Logger::Options o;
        o.place.appDir = m_dir->path();
        o.place.hostName = [] { return u"HOST1"_qs; };
        o.network = std::make_unique<FixedHostNetwork>(QStringList{u"127.0.0.1"_qs});
        o.xapPort = m_network->localPort();
        m_logger = std::make_unique<Logger>(m_noWindows, std::move(o));
        QVERIFY(m_logger->start());
        QTRY_VERIFY(m_logger->databaseOpen());  // opened by the recorder, in the background
        m_web = std::make_unique<WebServer>(*m_logger, web);
        QVERIFY(m_web->start(0).ok());
    }
    Answer ask(const QByteArray& method, const QString& path, const QByteArray& body = {},
               const QList<std::pair<QByteArray, QByteArray>>& headers = {}) {
        QNetworkRequest request(QUrl(m_web->url() + path.mid(1)));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        for (const auto& [name, value] : headers) {
            request.setRawHeader(name, value);
        }
        QNetworkReply* reply = m_http.sendCustomRequest(request, method, body);
        QSignalSpy done(reply, &QNetworkReply::finished);
        done.wait(10000);
        Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                 reply->readAll()};
        reply->deleteLater();
        return a;
    }
    Answer get(const QString& path) { return ask("GET", path); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_dir->path() + u"/Config"_qs);
        QFile shared(m_dir->path() + u"/Config/zelXap.ini"_qs);
        QVERIFY(shared.open(QIODevice::WriteOnly));
        shared.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\n");
        shared.close();
        m_network = std::make_unique<QUdpSocket>();
        QVERIFY(m_network->bind(QHostAddress(QHostAddress::LocalHost), 0));
        m_http.setCookieJar(new QNetworkCookieJar);
    }
    void cleanup() {
        m_web.reset();
        m_logger.reset();
        m_network.reset();
        m_dir.reset();
    }

    void requestsAreChecked_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("said");  // part of the error; empty: accepted
        QTest::newRow("dates and times") << u"from=2026-12-01&to=2026-12-02T10:30"_qs << QString();
        QTest::newRow("bad date") << u"from=2026-13-01"_qs << u"'from' must be a date"_qs;
        QTest::newRow("year 0") << u"from=0000-01-01"_qs << u"'from' must be a date"_qs;
        QTest::newRow("reversed") << u"from=2026-12-03&to=2026-12-01"_qs << u"after 'to'"_qs;
        QTest::newRow("unknown") << u"page=2"_qs << u"Unknown parameter 'page'"_qs;
        QTest::newRow("twice") << u"data=a&data=b"_qs << u"given twice"_qs;
        QTest::newRow("limit 0") << u"limit=0"_qs << u"'limit' must be"_qs;
        QTest::newRow("limit huge") << u"limit=100000"_qs << u"'limit' must be"_qs;
        QTest::newRow("cursor") << u"before=-4"_qs << u"'before' must be"_qs;
        QTest::newRow("sort") << u"sort=id"_qs << u"'sort' must be one of time, source"_qs;
        QTest::newRow("order") << u"order=up"_qs << u"'order' must be desc or asc"_qs;
        QTest::newRow("long filter") << u"source="_qs + QString(300, u'x') << u"longer than"_qs;
    }
    void requestsAreChecked() {
        QFETCH(QString, query);
        QFETCH(QString, said);
        const Result<EventQuery> parsed = EventRequest::parse(
            QUrlQuery(query), {u"limit"_qs, u"before"_qs, u"sort"_qs, u"order"_qs});
        QCOMPARE(parsed.ok(), said.isEmpty());
        if (parsed) {
            QCOMPARE(parsed.value().from, u"2026-12-01 00:00:00"_qs);
            QCOMPARE(parsed.value().to, u"2026-12-02 10:30:00"_qs);
            QCOMPARE(parsed.value().limit, EventRequest::kDefaultLimit);
        } else {
            QVERIFY2(parsed.problem().description.contains(said),
                     qPrintable(parsed.problem().description));
        }
        // A day alone as the end of a range takes that whole day.
        QCOMPARE(EventRequest::storedTime(u"2026-12-31"_qs, true), u"2027-01-01 00:00:00"_qs);
    }

    void passwordsAreSaltedHashes() {
        const QString stored = WebPassword::hash(u"secret pass"_qs, 1000);
        QVERIFY(!stored.contains(u"secret"_qs));
        QVERIFY(stored != WebPassword::hash(u"secret pass"_qs, 1000));
        QVERIFY(WebPassword::matches(u"secret pass"_qs, stored));
        QVERIFY(!WebPassword::matches(u"secret pasS"_qs, stored));
        QVERIFY(!WebPassword::matches(u"secret pass"_qs, u"pbkdf2-sha256$1000$$"_qs));
        QVERIFY(!WebPassword::matches(QString(), QString()));
    }

    void badRequestsGet4xxAndLoggingGoesOn() {
        startLogger();
        QCOMPARE(get(u"/api/history?from=yesterday"_qs).status, 400);
        QVERIFY(get(u"/api/history?from=yesterday"_qs)
                    .json()[u"error"_qs]
                    .toString()
                    .contains(u"must be a date"_qs));
        QCOMPARE(get(u"/api/nothing"_qs).status, 404);
        QCOMPARE(get(u"/api/export?format=xml"_qs).status, 400);
        QCOMPARE(ask("DELETE", u"/api/history"_qs).status, 405);
        QCOMPARE(ask("POST", u"/signout"_qs).status, 403);  // no CSRF token
        QCOMPARE(ask("PUT", u"/api/settings"_qs, QByteArray(HttpLimits::kMaxBody + 1, 'x')).status,
                 413);
        // A page of another site reaching 127.0.0.1 through its own host name.
        QCOMPARE(ask("GET", u"/api/status"_qs, {}, {{"Host", "attacker.example"}}).status, 421);

        QUdpSocket sender;
        sender.writeDatagram(
            "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=a.b.c\n}\n"
            "Event.Log\n{\nTime=2026-12-04 23:13:09\nType=t\nData=still here\n}\n",
            QHostAddress::LocalHost, quint16(m_logger->node()->port()));
        QTRY_COMPARE_WITH_TIMEOUT(m_logger->status().counts.written, 1u, 5000);
        const QJsonObject status = get(u"/api/status"_qs).json();
        QCOMPARE(status[u"counts"_qs][u"written"_qs].toInt(), 1);
        QCOMPARE(status[u"databaseOpen"_qs].toBool(), true);
        QVERIFY(status[u"hubSeen"_qs].toBool());
        QCOMPARE(status[u"version"_qs].toString(), QStringLiteral(QUILLJOT_VERSION));
    }

    // Logged events reach a listening page in batches.
    void liveStreamBatches() {
        startLogger();
        QNetworkReply* live = m_http.get(QNetworkRequest(QUrl(m_web->url() + u"api/live"_qs)));
        QByteArray got;
        connect(live, &QNetworkReply::readyRead, this, [&] { got += live->readAll(); });
        QTRY_VERIFY_WITH_TIMEOUT(got.contains(": live"), 5000);
        QUdpSocket sender;
        for (int i = 0; i < 3; ++i) {
            sender.writeDatagram(
                "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=a.b.c\n}"
                "\nEvent.Log\n{\nTime=2026-12-04 23:13:09\nType=t\nData=<b>" +
                    QByteArray::number(i) + "</b>\n}\n",
                QHostAddress::LocalHost, quint16(m_logger->node()->port()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(got.contains("<b>2</b>"), 5000);
        QVERIFY(live->header(QNetworkRequest::ContentTypeHeader).toString() ==
                u"text/event-stream"_qs);
        const QByteArray first = got.mid(got.indexOf("data: ") + 6).split('\n').first();
        QCOMPARE(QJsonDocument::fromJson(first)[u"events"_qs][0][u"data"_qs].toString(),
                 u"<b>0</b>"_qs);
        // Quotes, backslashes and control characters travel escaped, as sent.
        sender.writeDatagram(
            "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=a.b.c\n}"
            "\nEvent.Log\n{\nTime=2026-12-04 23:13:09\nType=t\nData=say \"hi\" \\ \t \xc3\xa9\n}\n",
            QHostAddress::LocalHost, quint16(m_logger->node()->port()));
        QTRY_VERIFY_WITH_TIMEOUT(got.contains("say"), 5000);
        const QByteArray last = got.mid(got.lastIndexOf("data: ") + 6).split('\n').first();
        QCOMPARE(QJsonDocument::fromJson(last)[u"events"_qs][0][u"data"_qs].toString(),
                 u"say \"hi\" \\ \t \u00e9"_qs);
        live->abort();
        live->deleteLater();
    }

    // Changes need the session's CSRF token; a masked password stays what it was.
    void settingsChangeWithToken() {
        startLogger();
        const Answer session = get(u"/api/session"_qs);
        const QByteArray csrf = session.json()[u"csrf"_qs].toString().toLatin1();
        QVERIFY(!csrf.isEmpty());
        const QByteArray json = "application/json";
        const QByteArray change = R"({"table":"tblWeb"})";
        QCOMPARE(ask("PUT", u"/api/settings"_qs, change, {{"Content-Type", json}}).status, 403);
        QCOMPARE(ask("PUT", u"/api/settings"_qs, change,
                     {{"Content-Type", json}, {"X-CSRF-Token", csrf + "x"}})
                     .status,
                 403);
        const QList<std::pair<QByteArray, QByteArray>> good = {{"Content-Type", json},
                                                               {"X-CSRF-Token", csrf}};
        QCOMPARE(ask("PUT", u"/api/settings"_qs, R"({"table":"x y"})", good).status, 400);
        QCOMPARE(ask("PUT", u"/api/settings"_qs, R"({"colour":"red"})", good).status, 400);
        QCOMPARE(ask("PUT", u"/api/settings"_qs, R"({"table":5})", good).status, 400);
        const Answer saved = ask("PUT", u"/api/settings"_qs, change, good);
        QCOMPARE(saved.status, 200);
        QCOMPARE(m_logger->settings().database.table, u"tblWeb"_qs);
        QTRY_VERIFY(get(u"/api/status"_qs).json()[u"databaseOpen"_qs].toBool());

        // A closed loopback port: refused at once, and no name for the resolver to look up.
        DatabaseSettings server{DatabaseKind::SqlServer, u"127.0.0.1,1; Password=s3cret"_qs,
                                u"HomeLog"_qs, u"tblQuilljot"_qs};
        QVERIFY(m_logger->applyDatabaseSettings(server));
        const QJsonObject shown = get(u"/api/settings"_qs).json();
        QVERIFY(!shown[u"sqlSource"_qs].toString().contains(u"s3cret"_qs));
        QJsonObject back = shown;
        back[u"database"_qs] = u"Other"_qs;
        QCOMPARE(ask("PUT", u"/api/settings"_qs, QJsonDocument(back).toJson(), good).status, 200);
        QCOMPARE(m_logger->settings().database.sqlSource, server.sqlSource);
        QCOMPARE(m_logger->settings().database.database, u"Other"_qs);
    }

    // A declared body over the limit is answered before any of it is read, and the server's
    // memory does not grow with what the clients go on sending.
    void hugeDeclaredBodiesAreRefusedAtOnce() {
        startLogger();
        const qint64 before = residentBytes();
        std::vector<RawClient> clients(4);
        for (RawClient& c : clients) {
            QVERIFY(c.open(m_web->port()));
            c.socket->write("POST /signin HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
                            "\r\nContent-Length: 1073741824\r\n\r\n" + QByteArray(256 * 1024, 'p'));
        }
        for (RawClient& c : clients) {
            QVERIFY2(c.untilClosed().startsWith("HTTP/1.1 413"), c.got.constData());
        }
        QVERIFY(!kResidentGrowthTells || residentBytes() - before < 5 * 1024 * 1024);

        // A chunked body is counted as it arrives; both framings at once are refused.
        QVERIFY(exchange("PUT /api/settings HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
                         "\r\nTransfer-Encoding: chunked\r\n\r\n10001\r\n" +
                         QByteArray(0x10001, 'x') + "\r\n0\r\n\r\n")
                    .startsWith("HTTP/1.1 413"));
        QVERIFY(exchange("POST /signin HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
                         "\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                    .startsWith("HTTP/1.1 400"));
        QVERIFY(exchange(headOf("/api/status") + QByteArray(HttpLimits::kMaxHeaderBytes, 'h'))
                    .startsWith("HTTP/1.1 431"));
    }

    // Idle and slow connections beyond the limits make room for a new client; the logger keeps
    // descriptors for its own files.
    void idleConnectionsCannotStopThePage() {
        startLogger();
        std::vector<RawClient> idle(2000);
        for (size_t i = 0; i < idle.size(); ++i) {
            idle[i].socket->connectToHost(QHostAddress::LocalHost, m_web->port());
            if (i % 10 == 0) {
                idle[i].socket->waitForConnected(5000);
                idle[i].socket->write("GET /api/status HTTP/1.1\r\nHost: ");  // never finished
            }
        }
        QTest::qWait(200);
        const Answer status = get(u"/api/status"_qs);
        QCOMPARE(status.status, 200);
        int open = 0;
        for (RawClient& c : idle) {
            c.socket->waitForReadyRead(0);
            open += c.socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        }
        QVERIFY2(open <= m_web->maxConnections(), qPrintable(QString::number(open)));
        m_logger->reloadSettings();
        sendEvents(1);
        QTRY_COMPARE_WITH_TIMEOUT(m_logger->status().counts.written, 1u, 5000);
        QVERIFY(m_logger->status().databaseOpen);
    }

    // Parallel guesses are refused before any is checked, the address is locked out (the right
    // password too), logging goes on meanwhile, and the burst is reported once with its count.
    void parallelWrongSignInsLockTheAddressOut() {
        WebSettings guarded;
        guarded.passwordHash = WebPassword::hash(u"letmein!"_qs, 1000);
        startLogger(guarded);
        const QByteArray signIn = "POST /signin HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
                                  "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                  "Content-Length: ";
        std::vector<RawClient> guesses(50);
        for (RawClient& c : guesses) {
            QVERIFY(c.open(m_web->port()));
            c.socket->write(signIn + "15\r\n\r\npassword=wrong!");
            c.socket->waitForBytesWritten(1000);
        }
        sendEvents(20);
        for (RawClient& c : guesses) {
            QVERIFY2(!c.answer().isEmpty(), qPrintable(QString::number(&c - guesses.data())));
            QVERIFY2(!c.got.contains("Set-Cookie"), c.got.constData());
        }
        auto reports = [this] {
            return m_logger->status().lastReports.filter(u"failed sign-ins"_qs);
        };
        QTRY_COMPARE_WITH_TIMEOUT(reports().size(), 1, 10000);
        QVERIFY2(
            reports().first().contains(u"50 failed sign-ins to the web page from 127.0.0.1"_qs),
            qPrintable(reports().first()));
        const QByteArray right = exchange(signIn + "17\r\n\r\npassword=letmein!");
        QVERIFY2(right.contains("Location: /signin?locked=1"), right.constData());
        QCOMPARE(m_logger->status().counts.written, 20u);
    }

    // Exports produce only as fast as they are read, a few at once; a query that fails is an
    // error status, never an empty file.
    void exportsHoldOnlyWhatIsRead() {
        startLogger();
        const DatabaseSettings database = m_logger->settings().database;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"fill"_qs);
            db.setDatabaseName(database.database);
            QVERIFY(db.open());
            db.transaction();
            QSqlQuery insert(db);
            insert.prepare(u"INSERT INTO "_qs + database.table +
                           u" (SampleDate, Source, Category, Data) VALUES (?, 'a.b.c', 't', ?)"_qs);
            const QString big(60 * 1024, u'd');
            for (int i = 0; i < 400; ++i) {
                insert.addBindValue(u"2026-12-04 23:13:09"_qs);
                insert.addBindValue(big);
                QVERIFY(insert.exec());
            }
            QVERIFY(db.commit());
        }
        QSqlDatabase::removeDatabase(u"fill"_qs);
        const qint64 before = residentBytes();
        std::vector<RawClient> unread(HttpLimits::kMaxExports + 2);
        for (RawClient& c : unread) {
            // This process is the client too: its sockets read no more than the kernel holds.
            c.socket->setReadBufferSize(8192);
            QVERIFY(c.open(m_web->port()));
            c.socket->write(headOf("/api/export?format=csv") + "\r\n");
            c.socket->waitForBytesWritten(1000);
        }
        QTest::qWait(1500);
        // 24 MiB each if they were read whole.
        QVERIFY2(!kResidentGrowthTells || residentBytes() - before < 16 * 1024 * 1024,
                 qPrintable(QString::number(residentBytes() - before)));
        QCOMPARE(exchange(headOf("/api/export?format=csv") + "\r\n").left(12), "HTTP/1.1 503");
        unread.clear();

        // A read that fails: the table went away under the reader.
        QCOMPARE(get(u"/api/count"_qs).json()[u"count"_qs].toInt(), 400);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"break"_qs);
            db.setDatabaseName(database.database);
            QVERIFY(db.open());
            QVERIFY(
                QSqlQuery(db).exec(u"ALTER TABLE "_qs + database.table + u" RENAME TO gone"_qs));
        }
        QSqlDatabase::removeDatabase(u"break"_qs);
        QCOMPARE(get(u"/api/export?format=jsonl"_qs).status, 503);
    }

    // What the page may choose as the database stays in the Data folder and the logger's tables.
    void settingsFromThePageStayInside_data() {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<QString>("said");
        QTest::newRow("SQLite's own table")
            << QByteArray(R"({"table":"sqlite_master"})") << u"SQLite's own"_qs;
        QTest::newRow("URI") << QByteArray(R"({"database":"file:Data/x.db?mode=rwc"})")
                             << u"not a URI"_qs;
        QTest::newRow("outside Data")
            << QByteArray(R"({"database":"New/folder/x.db"})") << u"must be in the Data folder"_qs;
        QTest::newRow("up and out")
            << QByteArray(R"({"database":"Data/../x.db"})") << u"must be in the Data folder"_qs;
        QTest::newRow("another program's file")
            << QByteArray(R"({"database":"Data/other.db"})") << u"another program's tables"_qs;
        QTest::newRow("a table of other columns")
            << QByteArray(R"({"table":"tblForeign"})") << u"columns that are not the logger's"_qs;
    }
    void settingsFromThePageStayInside() {
        QFETCH(QByteArray, change);
        QFETCH(QString, said);
        startLogger();
        for (const auto& [file, table] :
             {std::pair(u"Data/other.db"_qs, u"accounts"_qs),
              std::pair(m_logger->settings().database.database, u"tblForeign"_qs)}) {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"other"_qs);
            db.setDatabaseName(QDir(m_dir->path()).absoluteFilePath(file));
            QVERIFY(db.open());
            QVERIFY(
                QSqlQuery(db).exec(u"CREATE TABLE "_qs + table + u" (name TEXT, secret TEXT)"_qs));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(u"other"_qs);
        }
        const QByteArray before = readFile(m_dir->path() + u"/Config/zelXapQuilljot.ini"_qs);
        const QByteArray csrf = get(u"/api/session"_qs).json()[u"csrf"_qs].toString().toLatin1();
        const Answer refused = ask("PUT", u"/api/settings"_qs, change,
                                   {{"Content-Type", "application/json"}, {"X-CSRF-Token", csrf}});
        QCOMPARE(refused.status, 400);
        QVERIFY2(refused.json()[u"error"_qs].toString().contains(said), refused.body.constData());
        QCOMPARE(readFile(m_dir->path() + u"/Config/zelXapQuilljot.ini"_qs), before);
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/New"_qs));
    }

    // Exact media type; asking for sessions pushes no one's session out.
    void requestsAreReadExactly() {
        startLogger();
        const QByteArray csrf = get(u"/api/session"_qs).json()[u"csrf"_qs].toString().toLatin1();
        auto put = [&](const QByteArray& type) {
            return ask("PUT", u"/api/settings"_qs, R"({"table":"tblWeb"})",
                       {{"Content-Type", type}, {"X-CSRF-Token", csrf}})
                .status;
        };
        QCOMPARE(put("application/jsonfoo"), 415);
        QCOMPARE(put("application/json; charset=latin1"), 415);
        RawClient anonymous;
        QVERIFY(anonymous.open(m_web->port()));
        for (int i = 0; i < WebAccess::kMaxSessions + 100; ++i) {
            anonymous.socket->write(headOf("/api/session") + "\r\n");
        }
        anonymous.socket->waitForBytesWritten(5000);
        QElapsedTimer clock;
        clock.start();
        while (anonymous.got.count("HTTP/1.1 200") < WebAccess::kMaxSessions + 100 &&
               clock.elapsed() < 10000) {
            anonymous.socket->waitForReadyRead(50);
            anonymous.got += anonymous.socket->readAll();
        }
        QCOMPARE(anonymous.got.count("HTTP/1.1 200"), WebAccess::kMaxSessions + 100);
        QCOMPARE(put("application/json; charset=UTF-8"), 200);
        // A browser's request from another site.
        QCOMPARE(
            ask("GET", u"/api/export?format=csv"_qs, {}, {{"Sec-Fetch-Site", "cross-site"}}).status,
            403);
    }

    // Signing in by the form is the browser test's.
    void passwordGuardsEverything() {
        WebSettings open;
        open.bind = u"0.0.0.0"_qs;
        startLogger();
        WebServer refused(*m_logger, open);
        const Result<quint16> started = refused.start(0);
        QVERIFY(!started.ok());
        QVERIFY(started.problem().description.contains(u"--set-web-password"_qs));

        WebSettings guarded;
        guarded.passwordHash = WebPassword::hash(u"letmein!"_qs, 1000);
        m_web = std::make_unique<WebServer>(*m_logger, guarded);
        QVERIFY(m_web->start(0).ok());
        QCOMPARE(get(u"/api/history"_qs).status, 401);
        QCOMPARE(get(u"/api/session"_qs).json()[u"signedIn"_qs].toBool(), false);
    }
};

QTEST_MAIN(WebTest)
#include "tst_web.moc"
