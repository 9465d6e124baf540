#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QUdpSocket>
#include <QtTest>

#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "node/HostNetwork.h"
#include "web/EventRequest.h"
#include "web/WebPassword.h"
#include "web/WebServer.h"

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
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

    void startLogger(const WebSettings& web = {}) {
        Logger::Options o;
        o.place.appDir = m_dir->path();
        o.place.hostName = [] { return u"HOST1"_qs; };
        o.network = std::make_unique<FixedHostNetwork>(QStringList{u"127.0.0.1"_qs});
        o.xapPort = m_network->localPort();
        m_logger = std::make_unique<Logger>(m_noWindows, std::move(o));
        QVERIFY(m_logger->start());
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
        QCOMPARE(ask("DELETE", u"/api/history"_qs).status, 403);  // no CSRF token
        QCOMPARE(ask("PUT", u"/api/settings"_qs, QByteArray(WebServer::kMaxBody + 1, 'x')).status,
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
        QVERIFY(saved.json()[u"databaseOpen"_qs].toBool());

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
