#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>
#include <memory>
#include <vector>

#include "LoopbackLogger.h"
#include "SqliteRows.h"
#include "TestFiles.h"
#include "TestProcesses.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "store/EventExport.h"
#include "store/ServerSource.h"
#include "web/EventRequest.h"
#include "web/HostCheck.h"
#include "web/HttpLimits.h"
#include "web/HttpListener.h"
#include "web/SignInGuard.h"
#include "web/WebAccess.h"
#include "web/WebCertificate.h"
#include "web/WebPassword.h"
#include "web/WebServer.h"

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    QByteArray location;
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
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return statm.readAll().split(' ').value(1).toLongLong() * 4096;
}

// A controller's event, with the data given.
QByteArray controllerEvent(const QString& data = QStringLiteral("still here")) {
    return eventDatagram({QStringLiteral("2026-12-04 23:13:09"), QStringLiteral("a.b.c"),
                          QStringLiteral("t"), data});
}

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

// Wrong passwords from one address, each sent as soon as the last is answered, over a few
// connections.
class Guesser {
public:
    Guesser(const QHostAddress& from, quint16 port, const QByteArray& request)
        : m_from(from), m_port(port), m_request(request) {}
    ~Guesser() { stop(); }
    void start(int connections) {
        for (int i = 0; i < connections; ++i) {
            open();
        }
    }
    void stop() {
        m_stopped = true;
        for (QTcpSocket* s : m_sockets.findChildren<QTcpSocket*>()) {
            s->disconnect();
            delete s;
        }
    }
    int checked = 0;  // answers after a check, not refusals

private:
    void open() {
        auto* s = new QTcpSocket(&m_sockets);
        QObject::connect(s, &QTcpSocket::connected, s, [this, s] { s->write(m_request); });
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
            checked += s->readAll().contains("Location: /signin?failed=1") ? 1 : 0;
            again(s);
        });
        QObject::connect(s, &QTcpSocket::errorOccurred, s, [this, s] { again(s); });
        s->bind(m_from);
        s->connectToHost(QHostAddress::LocalHost, m_port);
    }
    void again(QTcpSocket* s) {
        s->disconnect();
        s->abort();
        s->deleteLater();
        if (!m_stopped) {
            open();
        }
    }

    QHostAddress m_from;
    quint16 m_port;
    QByteArray m_request;
    QObject m_sockets;
    bool m_stopped = false;
};

}  // namespace

// The web API against a running logger and its SQLite file, through real HTTP on 127.0.0.1. Paging,
// counts and exports through the API are the browser test's (tests/web/browser).
class WebTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackLogger> m_place;
    Frontend m_noWindows;
    std::unique_ptr<Logger> m_logger;
    std::unique_ptr<WebServer> m_web;
    QNetworkAccessManager m_http;

    QString webAddress() const {
        return QStringLiteral("127.0.0.1:") + QString::number(m_web->port());
    }
    void sendEvents(int count, const QString& data = QStringLiteral("still here")) {
        QUdpSocket sender;
        for (int i = 0; i < count; ++i) {
            sender.writeDatagram(controllerEvent(data), QHostAddress::LocalHost,
                                 quint16(m_logger->node()->port()));
        }
    }
    // The CSRF token of this client's session, and the headers a change sends with it.
    QList<std::pair<QByteArray, QByteArray>> changeHeaders() {
        return {{"Content-Type", "application/json"},
                {"X-CSRF-Token", get(QStringLiteral("/api/session"))
                                     .json()[QStringLiteral("csrf")]
                                     .toString()
                                     .toLatin1()}};
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

    // The status codes of the answers on one connection, until the server closes it.
    QList<int> statuses(const QByteArray& request) {
        RawClient client;
        if (!client.open(m_web->port())) {
            return {};
        }
        client.socket->write(request);
        const QByteArray got = client.untilClosed(3000);
        QList<int> found;
        for (qsizetype at = got.indexOf("HTTP/1.1 "); at >= 0;
             at = got.indexOf("HTTP/1.1 ", at + 1)) {
            found.append(got.mid(at + 9, 3).toInt());
        }
        return found;
    }

    void startLogger(const WebSettings& web = {}) {
        m_logger = std::make_unique<Logger>(m_noWindows, m_place->options());
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
                 reply->readAll(), reply->rawHeader("Location")};
        reply->deleteLater();
        return a;
    }
    Answer get(const QString& path) { return ask("GET", path); }
    // Where the sign-in form sends this client: "/" when it got in.
    QByteArray signIn(const QByteArray& password) {
        return ask("POST", QStringLiteral("/signin"), "password=" + password,
                   {{"Content-Type", "application/x-www-form-urlencoded"}})
            .location;
    }
    QByteArray signInRequest(const QByteArray& password) {
        return "POST /signin HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
               "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               QByteArray::number(9 + password.size()) + "\r\n\r\npassword=" + password;
    }
    QStringList signInReports() {
        return m_logger->status().lastReports.filter(QStringLiteral("failed sign-ins"));
    }

private slots:
    void init() {
        m_place = std::make_unique<LoopbackLogger>();
        QVERIFY(m_place->prepare());
        m_http.setCookieJar(new QNetworkCookieJar);
    }
    void cleanup() {
        m_web.reset();
        m_logger.reset();
        m_place.reset();
    }

    void requestsAreChecked_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("said");  // part of the error; empty: accepted
        QTest::newRow("dates and times")
            << QStringLiteral("from=2026-12-01&to=2026-12-02T10:30") << QString();
        QTest::newRow("bad date") << QStringLiteral("from=2026-13-01")
                                  << QStringLiteral("'from' must be a date");
        QTest::newRow("year 0") << QStringLiteral("from=0000-01-01")
                                << QStringLiteral("'from' must be a date");
        QTest::newRow("reversed") << QStringLiteral("from=2026-12-03&to=2026-12-01")
                                  << QStringLiteral("after 'to'");
        QTest::newRow("unknown") << QStringLiteral("page=2")
                                 << QStringLiteral("Unknown parameter 'page'");
        QTest::newRow("twice") << QStringLiteral("data=a&data=b") << QStringLiteral("given twice");
        QTest::newRow("limit 0") << QStringLiteral("limit=0") << QStringLiteral("'limit' must be");
        QTest::newRow("limit huge")
            << QStringLiteral("limit=100000") << QStringLiteral("'limit' must be");
        QTest::newRow("cursor") << QStringLiteral("before=-4")
                                << QStringLiteral("'before' must be");
        QTest::newRow("sort") << QStringLiteral("sort=id")
                              << QStringLiteral("'sort' must be one of time, source");
        QTest::newRow("order") << QStringLiteral("order=up")
                               << QStringLiteral("'order' must be desc or asc");
        QTest::newRow("long filter")
            << QStringLiteral("source=") + QString(300, u'x') << QStringLiteral("longer than");
    }
    void requestsAreChecked() {
        QFETCH(QString, query);
        QFETCH(QString, said);
        const Result<EventQuery> parsed = EventRequest::parse(
            QUrlQuery(query), {QStringLiteral("limit"), QStringLiteral("before"),
                               QStringLiteral("sort"), QStringLiteral("order")});
        QCOMPARE(parsed.ok(), said.isEmpty());
        if (parsed) {
            QCOMPARE(parsed.value().from, QStringLiteral("2026-12-01 00:00:00"));
            QCOMPARE(parsed.value().to, QStringLiteral("2026-12-02 10:30:00"));
            QCOMPARE(parsed.value().limit, EventRequest::kDefaultLimit);
        } else {
            QVERIFY2(parsed.problem().description.contains(said),
                     qPrintable(parsed.problem().description));
        }
        // A day alone as the end of a range takes that whole day.
        QCOMPARE(EventRequest::storedTime(QStringLiteral("2026-12-31"), true),
                 QStringLiteral("2027-01-01 00:00:00"));
    }

    void passwordsAreSaltedHashes() {
        const QString stored = WebPassword::hash(QStringLiteral("secret pass"), 1000);
        QVERIFY(!stored.contains(QStringLiteral("secret")));
        QVERIFY(stored != WebPassword::hash(QStringLiteral("secret pass"), 1000));
        QVERIFY(WebPassword::matches(QStringLiteral("secret pass"), stored));
        QVERIFY(!WebPassword::matches(QStringLiteral("secret pasS"), stored));
        QVERIFY(!WebPassword::matches(QStringLiteral("secret pass"),
                                      QStringLiteral("pbkdf2-sha256$1000$$")));
        QVERIFY(!WebPassword::matches(QString(), QString()));
    }

    void badRequestsGet4xxAndLoggingGoesOn() {
        startLogger();
        QCOMPARE(get(QStringLiteral("/api/history?from=yesterday")).status, 400);
        QVERIFY(get(QStringLiteral("/api/history?from=yesterday"))
                    .json()[QStringLiteral("error")]
                    .toString()
                    .contains(QStringLiteral("must be a date")));
        QCOMPARE(get(QStringLiteral("/api/nothing")).status, 404);
        QCOMPARE(get(QStringLiteral("/api/export?format=xml")).status, 400);
        for (const char* bad :
             {"bucket=year", "split=data", "top=0", "from=2026-12-05&to=2026-12-04",
              "from=2000-01-01&to=2026-01-01&bucket=hour", "hours=0", "hours=24&from=2026-12-01"}) {
            QCOMPARE(get(QStringLiteral("/api/activity?") + QLatin1String(bad)).status, 400);
        }
        QCOMPARE(ask("DELETE", QStringLiteral("/api/history")).status, 405);
        QCOMPARE(ask("POST", QStringLiteral("/signout")).status, 403);  // no CSRF token
        // A page of another site reaching 127.0.0.1 through its own host name.
        QCOMPARE(
            ask("GET", QStringLiteral("/api/status"), {}, {{"Host", "attacker.example"}}).status,
            421);

        sendEvents(1);
        QTRY_COMPARE_WITH_TIMEOUT(m_logger->status().counts.written, 1u, 5000);
        const QJsonObject status = get(QStringLiteral("/api/status")).json();
        QCOMPARE(status[QStringLiteral("counts")][QStringLiteral("written")].toInt(), 1);
        QCOMPARE(status[QStringLiteral("databaseOpen")].toBool(), true);
        QVERIFY(status[QStringLiteral("hubSeen")].toBool());
        // A "+" in a query is a blank, as pages send it.
        QCOMPARE(get(QStringLiteral("/api/count?data=still+here")).json()[QStringLiteral("count")],
                 1);
        const QJsonObject chart =
            get(QStringLiteral("/api/activity?from=2026-12-04&to=2026-12-04T23:59&split=source"))
                .json();
        // The split's parts (the buckets themselves are the browser test's chart).
        QCOMPARE(chart[QStringLiteral("parts")].toArray(), QJsonArray{QStringLiteral("a.b.c")});
        QCOMPARE(chart[QStringLiteral("buckets")][23][QStringLiteral("parts")].toArray(),
                 QJsonArray{1});
    }

    // Quotes, backslashes and control characters reach a listening page escaped, as sent. (The
    // events' order on the page is the browser test's.)
    void liveEventsTravelEscaped() {
        startLogger();
        QNetworkReply* live =
            m_http.get(QNetworkRequest(QUrl(m_web->url() + QStringLiteral("api/live"))));
        QByteArray got;
        connect(live, &QNetworkReply::readyRead, this, [&] { got += live->readAll(); });
        QTRY_VERIFY_WITH_TIMEOUT(got.contains(": live"), 5000);
        sendEvents(1, QStringLiteral("say \"hi\" \\ \t \u00e9"));
        QTRY_VERIFY_WITH_TIMEOUT(got.contains("say"), 5000);
        const QByteArray last = got.mid(got.lastIndexOf("data: ") + 6).split('\n').first();
        QCOMPARE(QJsonDocument::fromJson(last)[QStringLiteral("events")][0][QStringLiteral("data")]
                     .toString(),
                 QStringLiteral("say \"hi\" \\ \t \u00e9"));
        live->abort();
        live->deleteLater();
    }

    // Changes need the session's CSRF token; a masked password stays what it was.
    void settingsChangeWithToken() {
        startLogger();
        const QList<std::pair<QByteArray, QByteArray>> good = changeHeaders();
        QVERIFY(!good[1].second.isEmpty());
        const QByteArray change = R"({"table":"tblWeb"})";
        // A table that is no plain name is the browser test's.
        QCOMPARE(ask("PUT", QStringLiteral("/api/settings"), change, good.first(1)).status, 403);
        QCOMPARE(ask("PUT", QStringLiteral("/api/settings"), change,
                     {good[0], {"X-CSRF-Token", good[1].second + "x"}})
                     .status,
                 403);
        QCOMPARE(ask("PUT", QStringLiteral("/api/settings"), R"({"colour":"red"})", good).status,
                 400);
        QCOMPARE(ask("PUT", QStringLiteral("/api/settings"), R"({"table":5})", good).status, 400);
        const Answer saved = ask("PUT", QStringLiteral("/api/settings"), change, good);
        QCOMPARE(saved.status, 200);
        QCOMPARE(m_logger->settings().database.table, QStringLiteral("tblWeb"));
        QTRY_VERIFY(
            get(QStringLiteral("/api/status")).json()[QStringLiteral("databaseOpen")].toBool());

        // A closed loopback port: refused at once, and no name for the resolver to look up.
        DatabaseSettings server{DatabaseKind::SqlServer,
                                QStringLiteral("127.0.0.1,1; Password=s3cret"),
                                QStringLiteral("HomeLog"), QStringLiteral("tblQuilljot")};
        QVERIFY(m_logger->applyDatabaseSettings(server));
        const QJsonObject shown = get(QStringLiteral("/api/settings")).json();
        QVERIFY(!shown[QStringLiteral("sqlSource")].toString().contains(QStringLiteral("s3cret")));
        QJsonObject back = shown;
        back[QStringLiteral("database")] = QStringLiteral("Other");
        QCOMPARE(
            ask("PUT", QStringLiteral("/api/settings"), QJsonDocument(back).toJson(), good).status,
            200);
        QCOMPARE(m_logger->settings().database.sqlSource, server.sqlSource);
        QCOMPARE(m_logger->settings().database.database, QStringLiteral("Other"));

        // The mask stands for the stored password on the same host only.
        const auto sendSource = [&](const QString& source) {
            back[QStringLiteral("sqlSource")] = source;
            return ask("PUT", QStringLiteral("/api/settings"), QJsonDocument(back).toJson(), good)
                .status;
        };
        const auto storedPassword = [this] {
            return ServerSource::parse(m_logger->settings().database.sqlSource).password;
        };
        QCOMPARE(sendSource(QStringLiteral("127.0.0.1,2; Password=********")), 200);
        QCOMPARE(storedPassword(), QStringLiteral("s3cret"));
        QCOMPARE(sendSource(QStringLiteral("127.0.0.2,2; Password=********")), 200);
        QCOMPARE(storedPassword(), QString());
    }

    // The MQTT part: refused with its key's sentence, saved key by key (a key left alone keeps
    // its author's form), the password never sent and kept by its mask, and the bridge restarted
    // with what was saved, its counts in /metrics.
    void mqttSettingsFromThePage() {
        const QString settingsFile =
            m_place->dir.path() + QStringLiteral("/Config/zelXapQuilljot.ini");
        QVERIFY(writeFile(settingsFile, "[Mqtt]\r\nTopicPrefix=home/xap/\r\n"));
        startLogger();
        const quint16 port = freeTcpPort();  // a loopback port nothing listens on
        const QList<std::pair<QByteArray, QByteArray>> good = changeHeaders();
        const auto put = [&](const QJsonObject& mqtt) {
            return ask("PUT", QStringLiteral("/api/settings"),
                       QJsonDocument(QJsonObject{{QStringLiteral("mqtt"), mqtt}}).toJson(), good);
        };
        for (const auto& [field, value, said] :
             {std::tuple{"qos", QJsonValue(2), "Qos must be 0 or 1, not '2'"},
              std::tuple{"topicPrefix", QJsonValue(QStringLiteral("a/#")),
                         "TopicPrefix must be a topic without wildcards (+, #), not 'a/#'"},
              std::tuple{"discovery", QJsonValue(QStringLiteral("maybe")),
                         "Discovery must be True or False (or a number), not 'maybe'"}}) {
            const Answer refused = put({{QLatin1StringView(field), value}});
            QCOMPARE(refused.status, 400);
            QCOMPARE(refused.json()[QStringLiteral("error")].toString(), QLatin1StringView(said));
        }
        MqttSettings untouched;
        untouched.topicPrefix = QStringLiteral("home/xap");
        QCOMPARE(m_logger->settings().mqtt, untouched);

        const Answer saved = put({{QStringLiteral("host"), QStringLiteral("127.0.0.1")},
                                  {QStringLiteral("port"), port},
                                  {QStringLiteral("password"), QStringLiteral("s3cret")},
                                  {QStringLiteral("qos"), QStringLiteral("0")},
                                  {QStringLiteral("commands"), true}});
        QCOMPARE(saved.status, 200);
        QVERIFY2(!saved.body.contains("s3cret"), saved.body.constData());
        QTRY_COMPARE(get(QStringLiteral("/api/status"))
                         .json()[QStringLiteral("mqtt")][QStringLiteral("broker")]
                         .toString(),
                     QStringLiteral("127.0.0.1:") + QString::number(port));
        const QByteArray metrics = get(QStringLiteral("/metrics")).body;
        QVERIFY2(metrics.contains("\nquilljot_mqtt_connected 0\n") &&
                     metrics.contains("\n# TYPE quilljot_mqtt_published_total counter\n"),
                 metrics.constData());
        const QByteArray written = readFile(settingsFile);
        QVERIFY2(written.contains("TopicPrefix=home/xap/") && written.contains("Qos=0") &&
                     written.contains("Commands=True") && !written.contains("Discovery"),
                 written.constData());

        QJsonObject shown =
            get(QStringLiteral("/api/settings")).json()[QStringLiteral("mqtt")].toObject();
        QCOMPARE(shown[QStringLiteral("password")].toString(), QStringLiteral("********"));
        QCOMPARE(shown[QStringLiteral("commands")].toBool(), true);
        shown[QStringLiteral("username")] = QStringLiteral("quilljot");
        QCOMPARE(put(shown).status, 200);
        QCOMPARE(m_logger->settings().mqtt.password, QStringLiteral("s3cret"));
        QCOMPARE(m_logger->settings().mqtt.username, QStringLiteral("quilljot"));
        // Another broker without a password typed gets none.
        shown[QStringLiteral("host")] = QStringLiteral("127.0.0.2");
        QCOMPARE(put(shown).status, 200);
        QCOMPARE(m_logger->settings().mqtt.host, QStringLiteral("127.0.0.2"));
        QCOMPARE(m_logger->settings().mqtt.password, QString());
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
        const QByteArray chunked =
            exchange("PUT /api/settings HTTP/1.1\r\nHost: " + webAddress().toLatin1() +
                     "\r\nTransfer-Encoding: chunked\r\n\r\n10001\r\n" + QByteArray(0x10001, 'x') +
                     "\r\n0\r\n\r\n");
        QVERIFY2(chunked.startsWith("HTTP/1.1 413"), chunked.left(300).constData());
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
        const Answer status = get(QStringLiteral("/api/status"));
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
        guarded.passwordHash = WebPassword::hash(QStringLiteral("letmein!"), 1000);
        startLogger(guarded);
        std::vector<RawClient> guesses(50);
        for (RawClient& c : guesses) {
            QVERIFY(c.open(m_web->port()));
            c.socket->write(signInRequest("wrong!"));
            c.socket->waitForBytesWritten(1000);
        }
        sendEvents(20);
        for (RawClient& c : guesses) {
            QVERIFY2(!c.answer().isEmpty(), qPrintable(QString::number(&c - guesses.data())));
            QVERIFY2(!c.got.contains("Set-Cookie"), c.got.constData());
        }
        QTRY_COMPARE_WITH_TIMEOUT(signInReports().size(), 1, 10000);
        QVERIFY2(signInReports().first().contains(
                     QStringLiteral("50 failed sign-ins to the web page from 127.0.0.1 (49 "
                                    "refused unchecked)")),
                 qPrintable(signInReports().first()));
        const QByteArray right = exchange(signInRequest("letmein!"));
        QVERIFY2(right.contains("Location: /signin?locked=1"), right.constData());
        QCOMPARE(m_logger->status().counts.written, 20u);
    }

    // Eight addresses guess one at a time as fast as the page answers: each is refused after a
    // few checks, the burst is reported while it lasts, and the owner's browser, with the device
    // cookie of an earlier sign-in, gets in meanwhile.
    void ownerGetsInWhileManyAddressesGuess() {
        WebSettings guarded;
        guarded.passwordHash = WebPassword::hash(QStringLiteral("letmein!"), 1000);
        startLogger(guarded);
        QCOMPARE(signIn("letmein!"), "/");
        std::vector<std::unique_ptr<Guesser>> guessers;
        for (int i = 2; i <= 9; ++i) {
            guessers.push_back(
                std::make_unique<Guesser>(QHostAddress(QStringLiteral("127.0.0.%1").arg(i)),
                                          m_web->port(), signInRequest("wrong!")));
            guessers.back()->start(1);
        }
        QTest::qWait(500);
        QTRY_COMPARE_WITH_TIMEOUT(signIn("letmein!"), "/", 5000);
        const auto ongoing = [this] {
            return signInReports().filter(QStringLiteral(" so far (")).join(u'\n');
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            ongoing().contains(QStringLiteral("failed sign-ins to the web page from 127.0.0.")),
            3 * SignInGuard::kReportMillis);
        int checked = 0;
        for (const auto& g : guessers) {
            g->stop();
            checked += g->checked;
        }
        QVERIFY2(checked <= 8 * SignInGuard::kLockoutFailures,
                 qPrintable(QString::number(checked)));
    }

    // A scraper gives the web password in HTTP Basic (any user name): checked like a sign-in,
    // under the page's other rules, and never written into a report. (The answers to no password,
    // a wrong and the right one are the browser test's.)
    void metricsTakeTheWebPasswordInBasic() {
        WebSettings guarded;
        guarded.passwordHash = WebPassword::hash(QStringLiteral("letmein!"), 1000);
        startLogger(guarded);
        const QByteArray basic =
            "Authorization: Basic " + QByteArray("prometheus:letmein?").toBase64() + "\r\n";
        QVERIFY(exchange(headOf("/metrics") + basic + "\r\n").startsWith("HTTP/1.1 401"));
        const QByteArray right =
            "Authorization: Basic " + QByteArray("prometheus:letmein!").toBase64() + "\r\n";
        QVERIFY(exchange(headOf("/metrics") + right + "\r\n").startsWith("HTTP/1.1 200"));
        QVERIFY(exchange(headOf("/metrics") + right + "Sec-Fetch-Site: cross-site\r\n\r\n")
                    .startsWith("HTTP/1.1 403"));
        const QByteArray otherHost =
            exchange("GET /metrics HTTP/1.1\r\nHost: evil.example\r\n" + right + "\r\n");
        QVERIFY2(otherHost.startsWith("HTTP/1.1 421"), otherHost.constData());

        // Guessing through /metrics locks out /metrics, not the sign-in form.
        const QByteArray wrong = headOf("/metrics") + basic + "\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(exchange(wrong).startsWith("HTTP/1.1 429"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(exchange(wrong).contains("Retry-After: 300\r\n"), 10000);
        QCOMPARE(signIn("letmein!"), "/");
        QTRY_VERIFY_WITH_TIMEOUT(!signInReports().isEmpty(), 10000);
        QVERIFY(!m_logger->status().lastReports.join(u'\n').contains(QStringLiteral("letmein")));
    }

    // Exports produce only as fast as they are read, a few at once; a query that fails is an
    // error status, never an empty file.
    void exportsHoldOnlyWhatIsRead() {
        startLogger();
        const DatabaseSettings database = m_logger->settings().database;
        // 400 rows of 60 KiB each.
        sqliteRows(database.database,
                   QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                  "WHERE i < 400) INSERT INTO %1 (SampleDate, Source, Category, "
                                  "Data) SELECT '2026-12-04 23:13:09', 'a.b.c', 't', "
                                  "replace(hex(zeroblob(30720)), '0', 'd') FROM n")
                       .arg(database.table));
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
        QCOMPARE(get(QStringLiteral("/api/count")).json()[QStringLiteral("count")].toInt(), 400);
        sqliteRows(database.database,
                   QStringLiteral("ALTER TABLE %1 RENAME TO gone").arg(database.table));
        QCOMPARE(get(QStringLiteral("/api/export?format=jsonl")).status, 503);
    }

    // What the page may choose as the database stays in the Data folder and the logger's tables.
    void settingsFromThePageStayInside_data() {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<QString>("said");
        QTest::newRow("SQLite's own table")
            << QByteArray(R"({"table":"sqlite_master"})") << QStringLiteral("SQLite's own");
        QTest::newRow("URI") << QByteArray(R"({"database":"file:Data/x.db?mode=rwc"})")
                             << QStringLiteral("not a URI");
        QTest::newRow("outside Data") << QByteArray(R"({"database":"New/folder/x.db"})")
                                      << QStringLiteral("must be in the Data folder");
        QTest::newRow("up and out") << QByteArray(R"({"database":"Data/../x.db"})")
                                    << QStringLiteral("must be in the Data folder");
        QTest::newRow("another program's file") << QByteArray(R"({"database":"Data/other.db"})")
                                                << QStringLiteral("another program's tables");
        QTest::newRow("a table of other columns")
            << QByteArray(R"({"table":"tblForeign"})")
            << QStringLiteral("columns that are not the logger's");
        for (const char* side : {"-journal", "-WAL", "-shm"}) {
            QTest::newRow(side) << QByteArray("{\"database\":\"Data/xapzelQuilljot.mdb") + side +
                                       "\"}"
                                << QStringLiteral("side file");
        }
        QTest::newRow("a PostgreSQL socket's folder")
            << QByteArray(
                   R"({"engine":"postgresql","sqlSource":"/var/run/postgresql","database":"Log"})")
            << QStringLiteral("host name or an address");
        QTest::newRow("a path as the broker") << QByteArray(R"({"mqtt":{"host":"../Data/broker"}})")
                                              << QStringLiteral("host name or an address");
    }
    void settingsFromThePageStayInside() {
        QFETCH(QByteArray, change);
        QFETCH(QString, said);
        startLogger();
        for (const auto& [file, table] :
             {std::pair(QStringLiteral("Data/other.db"), QStringLiteral("accounts")),
              std::pair(m_logger->settings().database.database, QStringLiteral("tblForeign"))}) {
            sqliteRows(QDir(m_place->dir.path()).absoluteFilePath(file),
                       QStringLiteral("CREATE TABLE %1 (name TEXT, secret TEXT)").arg(table));
        }
        const QByteArray before =
            readFile(m_place->dir.path() + QStringLiteral("/Config/zelXapQuilljot.ini"));
        const Answer refused = ask("PUT", QStringLiteral("/api/settings"), change, changeHeaders());
        QCOMPARE(refused.status, 400);
        QVERIFY2(refused.json()[QStringLiteral("error")].toString().contains(said),
                 refused.body.constData());
        QCOMPARE(readFile(m_place->dir.path() + QStringLiteral("/Config/zelXapQuilljot.ini")),
                 before);
        QVERIFY(!QFileInfo::exists(m_place->dir.path() + QStringLiteral("/New")));
    }

    // Text that a spreadsheet would compute is made inert; plain numbers stay numbers.
    void csvCellsAreInert_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("cell");
        for (const char* formula :
             {"-1+1+cmd|' /C calc'!A0", "-2+3", "+A1", "=1+1", "@SUM(A1)", "-"}) {
            QTest::newRow(formula) << QString::fromLatin1(formula) << "'" + QByteArray(formula);
        }
        for (const char* number : {"-5", "+3.25", "-0.5", "-.5"}) {
            QTest::newRow(number) << QString::fromLatin1(number) << QByteArray(number);
        }
    }
    void csvCellsAreInert() {
        QFETCH(QString, text);
        QFETCH(QByteArray, cell);
        QByteArray line;
        EventExport::appendCsvField(line, text);
        QCOMPARE(line, cell);
    }

    // Exact media type; asking for sessions pushes no one's session out.
    void requestsAreReadExactly() {
        startLogger();
        const QByteArray csrf = changeHeaders()[1].second;
        auto put = [&](const QByteArray& type) {
            return ask("PUT", QStringLiteral("/api/settings"), R"({"table":"tblWeb"})",
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
        QCOMPARE(ask("GET", QStringLiteral("/api/export?format=csv"), {},
                     {{"Sec-Fetch-Site", "cross-site"}})
                     .status,
                 403);
    }

    // A client that sends requests without reading the answers is not read from: the answers
    // waiting for it stay within what the kernel's buffers hold, whatever the route.
    void unreadAnswersAreNotPiledUp() {
        startLogger();
        const qint64 before = residentBytes();
        RawClient greedy;
        greedy.socket->setReadBufferSize(4096);
        QVERIFY(greedy.open(m_web->port()));
        QByteArray burst;
        for (int i = 0; i < 1000; ++i) {
            burst += headOf("/signin") + "\r\n";
        }
        qint64 sent = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            if (greedy.socket->bytesToWrite() < 256 * 1024) {
                greedy.socket->write(burst);
                sent += burst.size();
            }
            greedy.socket->waitForBytesWritten(20);
        }
        const qint64 grown = residentBytes() - before;
        QVERIFY2(!kResidentGrowthTells || grown < 32 * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 MiB more after %2 MiB of requests")
                                .arg(grown >> 20)
                                .arg(sent >> 20)));
        // Meanwhile another client is served at once.
        QCOMPARE(get(QStringLiteral("/api/status")).status, 200);
    }

    // The names the page is served under. 192.168.1.20 stands for a bind on the home network.
    void hostsAreChecked_data() {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("allowed");
        const QString lan = QStringLiteral("192.168.1.20");
        QTest::newRow("LAN address") << lan << QByteArray("192.168.1.20:8080") << true;
        QTest::newRow("LAN address, no port") << lan << QByteArray("192.168.1.20") << true;
        QTest::newRow("machine") << lan << QByteArray("homeserver:8080") << true;
        QTest::newRow("mDNS, any case") << lan << QByteArray("HomeServer.local:8080") << true;
        QTest::newRow("setting, final dot") << lan << QByteArray("logger.example.:8080") << true;
        QTest::newRow("foreign") << lan << QByteArray("evil.example:8080") << false;
        QTest::newRow("two names") << lan << QByteArray("192.168.1.20:8080, evil.example") << false;
        QTest::newRow("other port") << lan << QByteArray("192.168.1.20:8081") << false;
        QTest::newRow("port not a number") << lan << QByteArray("192.168.1.20:80x0") << false;
        QTest::newRow("empty") << lan << QByteArray() << false;
        QTest::newRow("localhost off loopback") << lan << QByteArray("localhost:8080") << false;
        QTest::newRow("IPv6") << QStringLiteral("2001:db8::5") << QByteArray("[2001:db8::5]:8080")
                              << true;
        QTest::newRow("IPv6 unbracketed")
            << QStringLiteral("2001:db8::5") << QByteArray("2001:db8::5") << false;
        QTest::newRow("localhost")
            << QStringLiteral("127.0.0.2") << QByteArray("localhost:8080") << true;
        QTest::newRow("machine on loopback")
            << QStringLiteral("127.0.0.2") << QByteArray("homeserver:8080") << false;
        QTest::newRow("every address")
            << QStringLiteral("0.0.0.0") << QByteArray("10.0.0.7:8080") << true;
        QTest::newRow("every address, foreign")
            << QStringLiteral("0.0.0.0") << QByteArray("10.0.0.8:8080") << false;
    }
    void hostsAreChecked() {
        QFETCH(QString, bind);
        QFETCH(QByteArray, host);
        QFETCH(bool, allowed);
        const HostCheck check(QHostAddress(bind), 8080, {QStringLiteral("Logger.Example")},
                              QStringLiteral("homeserver"),
                              {QHostAddress(QStringLiteral("10.0.0.7"))});
        QCOMPARE(check.allows(host), allowed);
    }

    // Bound to another loopback address, the page answers its own address and no other name.
    void hostOfTheBoundAddress() {
        WebSettings other;
        other.bind = QStringLiteral("127.0.0.2");
        startLogger(other);
        auto answer = [&](const QByteArray& host) {
            RawClient client;
            client.socket->connectToHost(QHostAddress(other.bind), m_web->port());
            client.socket->waitForConnected(5000);
            client.socket->write("GET /api/count HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
            return client.answer().left(12);
        };
        const QByteArray port = QByteArray::number(m_web->port());
        QCOMPARE(answer("127.0.0.2:" + port), "HTTP/1.1 200");
        QCOMPARE(answer("evil.example:" + port), "HTTP/1.1 421");
    }

    // Framing that a proxy in front could read otherwise is refused, or read the one way RFC
    // 9112 allows; a request behind a body is never taken into it.
    void framingIsExact_data() {
        QTest::addColumn<QByteArray>("request");  // {host} stands for the right Host
        QTest::addColumn<QList<int>>("answered");
        const QByteArray signIn = "POST /signin HTTP/1.1\r\nHost: {host}\r\n";
        const QByteArray next = "GET /api/count HTTP/1.1\r\nHost: {host}\r\n\r\n";
        QTest::newRow("chunked and VT")
            << QByteArray(signIn + "Transfer-Encoding: chunked\x0b\r\n\r\n5\r\nhello\r\n0\r\n\r\n" +
                          next)
            << QList<int>{400};
        for (const char* size : {"0x5", "+5", " 5 "}) {
            QTest::newRow(size) << QByteArray(signIn + "Transfer-Encoding: chunked\r\n\r\n" + size +
                                              "\r\nhello\r\n0\r\n\r\n" + next)
                                << QList<int>{400};
        }
        QTest::newRow("last chunk with LF")
            << QByteArray(signIn + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\n\r\n" + next)
            << QList<int>{303, 200};
        QTest::newRow("host-like path")
            << QByteArray("GET //evil/api/count HTTP/1.1\r\nHost: {host}\r\n\r\n")
            << QList<int>{400};
        QTest::newRow("two hosts")
            << QByteArray("GET /api/count HTTP/1.1\r\nHost: {host}\r\nHost: evil.example\r\n\r\n")
            << QList<int>{400};
    }
    void framingIsExact() {
        QFETCH(QByteArray, request);
        QFETCH(QList<int>, answered);
        startLogger();
        QCOMPARE(statuses(request.replace("{host}", webAddress().toLatin1())), answered);
    }

    // HTTPS with a pair made for the page: served with its fingerprint, the cookie only for
    // HTTPS, plain HTTP on its port answered by nothing. Behind a trusted proxy, its word on the
    // scheme counts, and nobody else's.
    void httpsWithACertificateOfItsOwn() {
        WebSettings tls;
        tls.certFile = m_place->dir.path() + QStringLiteral("/Config/web-certificate.pem");
        tls.keyFile = m_place->dir.path() + QStringLiteral("/Config/web-key.pem");
        const Result<QString> fingerprint =
            WebCertificate::make(tls.certFile, tls.keyFile, {QStringLiteral("localhost")},
                                 {QHostAddress(QHostAddress::LocalHost)});
        QVERIFY2(fingerprint.ok(),
                 qPrintable(fingerprint.ok() ? QString() : fingerprint.problem().description));
        startLogger(tls);
        QVERIFY(m_web->url().startsWith(QStringLiteral("https://127.0.0.1:")));
        QNetworkRequest request(QUrl(m_web->url() + QStringLiteral("api/session")));
        QNetworkReply* reply = m_http.get(request);
        connect(reply, &QNetworkReply::sslErrors, reply,
                [reply](const QList<QSslError>&) { reply->ignoreSslErrors(); });
        QVERIFY(QSignalSpy(reply, &QNetworkReply::finished).wait(10000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY2(reply->rawHeader("Set-Cookie").endsWith("; Secure"),
                 reply->rawHeader("Set-Cookie").constData());
        QCOMPARE(QString::fromLatin1(reply->sslConfiguration()
                                         .peerCertificate()
                                         .digest(QCryptographicHash::Sha256)
                                         .toHex(':'))
                     .toUpper(),
                 fingerprint.value());
        reply->deleteLater();
        const QByteArray plain = exchange(headOf("/api/session") + "\r\n");
        QVERIFY2(!plain.contains("HTTP/1.1 200") && !plain.contains("Set-Cookie"),
                 plain.constData());

        WebSettings proxied;
        proxied.trustedProxies = {QStringLiteral("127.0.0.1")};
        for (const auto& [settings, secure] :
             {std::pair{WebSettings{}, false}, std::pair{proxied, true}}) {
            cleanup();
            init();
            startLogger(settings);
            const QByteArray answer =
                exchange(headOf("/api/session") + "X-Forwarded-Proto: https\r\n\r\n");
            QVERIFY2(answer.contains("Set-Cookie") && answer.contains("; Secure\r\n") == secure,
                     answer.constData());
        }
    }

    // The client's address and scheme come from a trusted proxy's last word, from nobody else.
    void forwardedHeadersOnlyFromTrustedProxies() {
        HttpListener listener([](HttpConnection&) {});
        listener.setTrustedProxies({QHostAddress(QStringLiteral("127.0.0.9"))});
        for (const auto& [from, peer, secure] : {std::tuple{"127.0.0.9", "10.0.0.5", true},
                                                 std::tuple{"127.0.0.1", "127.0.0.1", false}}) {
            HttpRequest request;
            request.peer = QHostAddress(QLatin1StringView(from));
            request.headers = {{"X-Forwarded-For", "1.2.3.4, 10.0.0.5"},
                               {"X-Forwarded-Proto", "https"}};
            listener.believeProxy(request);
            QCOMPARE(request.peer, QHostAddress(QLatin1StringView(peer)));
            QCOMPARE(request.secure, secure);
        }
    }

    // Off loopback, the page is served only behind a password. (What the password guards, and
    // signing in, are the browser test's.)
    void noPasswordNoPageOffLoopback() {
        WebSettings open;
        open.bind = QStringLiteral("0.0.0.0");
        startLogger();
        WebServer refused(*m_logger, open);
        const Result<quint16> started = refused.start(0);
        QVERIFY(!started.ok());
        QVERIFY(started.problem().description.contains(QStringLiteral("--set-web-password")));
    }
};

QTEST_MAIN(WebTest)
#include "tst_web.moc"
