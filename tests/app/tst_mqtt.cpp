#include <signal.h>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include "MosquittoBroker.h"
#include "TestProcesses.h"

// The MQTT bridge with the real programs and a real broker (mosquitto on a loopback port): what
// is logged arrives on its topics as exact JSON, nothing is lost while the broker is away, the
// status and last will say whether the logger is there, TLS checks the broker, the password stays
// out of every log, and commands from MQTT reach the xAP network only for allowed classes.

namespace {

// The logger's settings: [Mqtt] and, when given, [Rules].
bool writeSettings(const AppFolder& app, const QByteArray& mqtt, const QByteArray& rules = {}) {
    QFile ini(app.path(QStringLiteral("Config/zelXapQuilljot.ini")));
    return ini.open(QIODevice::WriteOnly) &&
           ini.write("[Quilljot]\r\n[Mqtt]\r\n" + mqtt + "[Rules]\r\n" + rules) > 0;
}

QByteArray brokerLines(const MosquittoBroker& broker, const QByteArray& more = {}) {
    return "Host=127.0.0.1\r\nPort=" + QByteArray::number(broker.port) + "\r\n" + more;
}

// The payloads of the messages on `topic`.
QList<QByteArray> on(Subscriber& sub, const QByteArray& topic) {
    QList<QByteArray> out;
    for (const QByteArray& line : sub.messages()) {
        if (line.startsWith(QByteArray(topic + ' '))) {
            out.append(line.mid(topic.size() + 1));
        }
    }
    return out;
}

bool send(quint16 hubPort, const QStringList& args) {
    return runProgram("xap-send",
                      QStringList{QStringLiteral("--port"), QString::number(hubPort)} + args)
               .status == 0;
}

// The numbers of loadgen's events ("seq 0000000042") in the payloads, in order.
QList<int> sequence(const QList<QByteArray>& payloads) {
    static const QRegularExpression seq(QStringLiteral("\"data\":\"seq (\\d+)"));
    QList<int> out;
    for (const QByteArray& p : payloads) {
        const auto m = seq.match(QString::fromUtf8(p));
        if (m.hasMatch()) {
            out.append(m.captured(1).toInt());
        }
    }
    return out;
}

// The number after `label` in the logger's exit line about MQTT ("3 sent again").
quint64 exitCount(const QByteArray& err, const char* label) {
    const QRegularExpression re(QStringLiteral("MQTT: .*?(\\d+) ") + QLatin1String(label));
    return re.match(QString::fromUtf8(err)).captured(1).toULongLong();
}

// A CA named `ca` and, when `server` is set, a certificate for 127.0.0.1 it signed, in the
// broker's folder (readable by the broker's user).
bool makeCertificates(const MosquittoBroker& broker, const QString& ca,
                      const QString& server = {}) {
    const auto openssl = [&](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(broker.dir.path());
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    bool ok = openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                       QStringLiteral("-keyout"), ca + QStringLiteral(".key"),
                       QStringLiteral("-out"), ca + QStringLiteral(".pem"), QStringLiteral("-days"),
                       QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + ca});
    if (ok && !server.isEmpty()) {
        ok = broker.write(QStringLiteral("san.ext"), "subjectAltName=IP:127.0.0.1\n") &&
             openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                      QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                      server + QStringLiteral(".key"), QStringLiteral("-out"),
                      server + QStringLiteral(".csr"), QStringLiteral("-subj"),
                      QStringLiteral("/CN=127.0.0.1")}) &&
             openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                      server + QStringLiteral(".csr"), QStringLiteral("-CA"),
                      ca + QStringLiteral(".pem"), QStringLiteral("-CAkey"),
                      ca + QStringLiteral(".key"), QStringLiteral("-CAcreateserial"),
                      QStringLiteral("-out"), server + QStringLiteral(".pem"),
                      QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                      QStringLiteral("san.ext")});
    }
    for (const QString& f : QDir(broker.dir.path()).entryList(QDir::Files)) {
        QFile::setPermissions(broker.path(f), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ReadGroup | QFile::ReadOther);
    }
    return ok;
}

// Waits until the logger's standard error says `text`.
bool says(LoggerProcess& logger, const QByteArray& text, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!logger.stderrText().contains(text) && t.elapsed() < ms) {
        logger.process.waitForReadyRead(100);
    }
    return logger.stderrText().contains(text);
}

bool sendEvent(quint16 hubPort, const QString& source, const QString& data) {
    return send(hubPort, {QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                          QStringLiteral("--source"), source, QStringLiteral("--section"),
                          QStringLiteral("Event.Log"), QStringLiteral("Time=2026-12-04 23:13:09"),
                          QStringLiteral("Type=Log"), QStringLiteral("Data=") + data});
}

// mosquitto_pub at QoS 1; `retain` with an empty payload clears what the broker keeps.
bool publishTo(const MosquittoBroker& broker, const QString& topic, const QByteArray& payload,
               bool retain = false) {
    QStringList args{QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("-p"), QString::number(broker.port),
                     QStringLiteral("-q"), QStringLiteral("1"),
                     QStringLiteral("-t"), topic};
    if (retain) {
        args << QStringLiteral("-r");
    }
    if (payload.isEmpty()) {
        args << QStringLiteral("-n");
    } else {
        args << QStringLiteral("-m") << QString::fromUtf8(payload);
    }
    return QProcess::execute(QStringLiteral("mosquitto_pub"), args) == 0;
}

// The JSON objects published on topics that end in `ending`, each topic's in order; a cleared
// one (empty payload) is an empty object.
QMap<QByteArray, QList<QJsonObject>> objectsOn(Subscriber& sub, const QByteArray& ending) {
    QMap<QByteArray, QList<QJsonObject>> out;
    for (const QByteArray& line : sub.messages()) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0 && line.first(space).endsWith(ending)) {
            out[line.first(space)].append(QJsonDocument::fromJson(line.mid(space + 1)).object());
        }
    }
    return out;
}

// Whether a state topic holds an event whose data is `data`.
bool stateSays(Subscriber& sub, const QString& data) {
    const auto states = objectsOn(sub, "/state");
    return std::any_of(states.begin(), states.end(), [&](const QList<QJsonObject>& events) {
        return events.last().value(QStringLiteral("data")).toString() == data;
    });
}

QList<uint> codePoints(const QString& text) {
    return text.toUcs4();
}

// The keys Home Assistant's MQTT discovery documents for a sensor, its device and its origin:
// anything else is ignored by it at best, or warned about and then refused (as "object_id").
const QSet<QString> kSensorKeys{QStringLiteral("name"),
                                QStringLiteral("unique_id"),
                                QStringLiteral("state_topic"),
                                QStringLiteral("value_template"),
                                QStringLiteral("json_attributes_topic"),
                                QStringLiteral("json_attributes_template"),
                                QStringLiteral("availability_topic"),
                                QStringLiteral("availability"),
                                QStringLiteral("payload_available"),
                                QStringLiteral("payload_not_available"),
                                QStringLiteral("device"),
                                QStringLiteral("origin"),
                                QStringLiteral("default_entity_id"),
                                QStringLiteral("expire_after"),
                                QStringLiteral("icon")};
const QSet<QString> kDeviceKeys{QStringLiteral("identifiers"),  QStringLiteral("name"),
                                QStringLiteral("manufacturer"), QStringLiteral("model"),
                                QStringLiteral("sw_version"),   QStringLiteral("via_device")};
const QSet<QString> kOriginKeys{QStringLiteral("name"), QStringLiteral("sw_version"),
                                QStringLiteral("support_url")};

QSet<QString> keysOf(const QJsonObject& o) {
    const QStringList keys = o.keys();
    return QSet<QString>(keys.begin(), keys.end());
}

#define START_BROKER(broker, ...)                \
    if (!(broker).start(__VA_ARGS__)) {          \
        if (MosquittoBroker::required()) {       \
            QFAIL(qPrintable((broker).missing)); \
        }                                        \
        QSKIP(qPrintable((broker).missing));     \
    }

}  // namespace

class MqttTest : public QObject {
    Q_OBJECT

private slots:
    // Hostile and non-Latin texts pass byte for byte, escaped only where JSON must; a source's
    // wildcards cannot widen a subscription; the status is retained "online".
    void eventsAndMessagesArriveAsExactJson() {
        MosquittoBroker broker;
        START_BROKER(broker);
        LoggerBehindHub run;
        QVERIFY(writeSettings(run.app, brokerLines(broker, "TopicPrefix=home/xap/\r\n"),
                              "Include1=xAPBSC.>\r\n"));
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("home/xap/#")}));
        QVERIFY2(run.start(), run.logger.stderrText().constData());
        QTRY_COMPARE_WITH_TIMEOUT(on(sub, "home/xap/status"), QList<QByteArray>{"online"}, 10000);

        const QString hostile =
            QStringLiteral("say \"hi\" \\ back\tslash; Привет, 日本 ✓ </script>");
        const QString source = QStringLiteral("acme.ctl+er.house#1:x");
        QVERIFY(sendEvent(run.hub.port, source, hostile));
        QVERIFY(sendEvent(run.hub.port, source, QStringLiteral("second")));
        const QByteArray eventTopic = "home/xap/event/acme/ctl_er/house_1/x";
        QTRY_COMPARE_WITH_TIMEOUT(on(sub, eventTopic).size(), 2, 10000);
        const QList<QByteArray> events = on(sub, eventTopic);
        static const QRegularExpression idAtEnd(QStringLiteral(",\"id\":(\\d+)\\}$"));
        const auto first = idAtEnd.match(QString::fromUtf8(events[0]));
        const auto second = idAtEnd.match(QString::fromUtf8(events[1]));
        QVERIFY(first.hasMatch() && second.hasMatch());
        QCOMPARE(second.captured(1).toULongLong(), first.captured(1).toULongLong() + 1);
        QCOMPARE(
            QString::fromUtf8(events[0]).first(first.capturedStart()),
            QStringLiteral("{\"time\":\"2026-12-04 23:13:09\",\"source\":\"acme.ctl+er.house#1:x\","
                           "\"type\":\"Log\",\"data\":\"say \\\"hi\\\" \\\\ back\\tslash; "
                           "Привет, 日本 ✓ </script>\""));

        QVERIFY(send(
            run.hub.port,
            {QStringLiteral("--class"), QStringLiteral("xAPBSC.event"), QStringLiteral("--source"),
             QStringLiteral("acme.lamp.hall:1"), QStringLiteral("--target"),
             QStringLiteral("acme.ctl.*"), QStringLiteral("--uid"), QStringLiteral("FF.1234:01"),
             QStringLiteral("--section"), QStringLiteral("output.state"),
             QStringLiteral("State=on"), QStringLiteral("Text=\"Küche\" 50%")}));
        QTRY_COMPARE_WITH_TIMEOUT(on(sub, "home/xap/xap/xAPBSC.event/acme/lamp/hall/1").size(), 1,
                                  10000);
        const QByteArray message = on(sub, "home/xap/xap/xAPBSC.event/acme/lamp/hall/1")[0];
        const QRegularExpression time(
            QStringLiteral("^\\{\"time\":\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\","));
        QVERIFY2(time.match(QString::fromUtf8(message)).hasMatch(), message.constData());
        QCOMPARE(
            message.mid(30),
            QStringLiteral("\"header\":{\"uid\":\"FF.1234:01\",\"class\":\"xAPBSC.event\","
                           "\"source\":\"acme.lamp.hall:1\",\"target\":\"acme.ctl.*\"},"
                           "\"blocks\":[{\"name\":\"output.state\",\"items\":{\"State\":\"on\","
                           "\"Text\":\"\\\"Küche\\\" 50%\"}}]}")
                .toUtf8());
    }

    // The broker stopped for 10 s while 1,000 events come at 200/s: every event is published,
    // in order; an event is seen twice only where the bridge says it sent one again.
    void brokerAwayTenSecondsLosesNothing() {
        MosquittoBroker broker;
        START_BROKER(broker, QStringLiteral("allow_anonymous true\nqueue_qos0_messages true\n"));
        LoggerBehindHub run;
        QVERIFY(writeSettings(run.app, brokerLines(broker)));
        Subscriber sub;
        // A session the broker keeps across its restart, so that the subscriber misses nothing;
        // at QoS 0, so that the broker's own deliveries to it are never repeated.
        QVERIFY(sub.start(broker.port, {QStringLiteral("xap/event/bench/#")},
                          {QStringLiteral("-c"), QStringLiteral("-i"), QStringLiteral("counter"),
                           QStringLiteral("-q"), QStringLiteral("0")}));
        QVERIFY2(run.start(), run.logger.stderrText().constData());
        QProcess load;
        load.start(tool("loadgen"),
                   {QStringLiteral("--port"), QString::number(run.hub.port),
                    QStringLiteral("--count"), QStringLiteral("1000"), QStringLiteral("--start"),
                    QStringLiteral("1"), QStringLiteral("--rate"), QStringLiteral("200")});
        QTRY_VERIFY_WITH_TIMEOUT(on(sub, "xap/event/bench/loadgen/host").size() >= 100, 10000);
        broker.stop();
        QTest::qWait(10000);
        QVERIFY(broker.startAgain());
        QVERIFY(load.state() == QProcess::NotRunning || load.waitForFinished(30000));
        // Until the last event arrived (after any sent again).
        QElapsedTimer waited;
        waited.start();
        while (!sequence(on(sub, "xap/event/bench/loadgen/host")).contains(1000) &&
               waited.elapsed() < 30000) {
            QTest::qWait(200);
        }
        const QList<int> seen = sequence(on(sub, "xap/event/bench/loadgen/host"));
        if (seen.size() < 1000) {
            qWarning("%lld seen, last %d; %s", seen.size(), seen.value(seen.size() - 1),
                     run.logger.stderrText().constData());
        }
        QList<int> unique;
        int duplicates = 0;
        for (int n : seen) {
            if (!unique.isEmpty() && n <= unique.last()) {
                ++duplicates;
                // A duplicate is one sent again from the spool, before its successors.
                QVERIFY(unique.contains(n));
            } else {
                unique.append(n);
            }
        }
        QList<int> expected(1000);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(unique, expected);
        run.logger.signal(SIGTERM);
        QVERIFY(run.logger.process.waitForFinished(15000));
        const QByteArray& err = run.logger.stderrText();
        QVERIFY2(err.contains("MQTT: "), err.constData());
        QVERIFY2(quint64(duplicates) <= exitCount(err, "sent again"),
                 qPrintable(QString::number(duplicates) + u' ' + QString::fromUtf8(err)));
        QCOMPARE(exitCount(err, "dropped"), quint64(0));
        QVERIFY(exitCount(err, "messages published") >= 1000);
        // The outage was said once, not once per event.
        QCOMPARE(err.count("Messages for MQTT are kept in the spool"), 1);
    }

    // The broker says "offline" for a logger that vanished without a word.
    void lastWillWhenKilled() {
        MosquittoBroker broker;
        START_BROKER(broker);
        LoggerBehindHub run;
        QVERIFY(writeSettings(run.app, brokerLines(broker)));
        QVERIFY2(run.start(), run.logger.stderrText().constData());
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("xap/status")}));
        QTRY_COMPARE_WITH_TIMEOUT(on(sub, "xap/status"), QList<QByteArray>{"online"}, 10000);
        run.logger.signal(SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(on(sub, "xap/status"), (QList<QByteArray>{"online", "offline"}),
                                  10000);
    }
    // TLS with a CA the test made: the broker is checked by it; a broker whose certificate
    // another CA signed is refused, and the reason says so.
    void tlsChecksTheBroker() {
        MosquittoBroker broker;
        const quint16 tlsPort = freeTcpPort();
        const QString tls =
            QStringLiteral("allow_anonymous true\nlistener ") + QString::number(tlsPort) +
            QStringLiteral(" 127.0.0.1\ncafile ") + broker.path(QStringLiteral("ca.pem")) +
            QStringLiteral("\ncertfile ") + broker.path(QStringLiteral("server.pem")) +
            QStringLiteral("\nkeyfile ") + broker.path(QStringLiteral("server.key")) +
            QStringLiteral("\nallow_anonymous true\n");
        QVERIFY(makeCertificates(broker, QStringLiteral("ca"), QStringLiteral("server")));
        QVERIFY(makeCertificates(broker, QStringLiteral("other")));
        START_BROKER(broker, tls);
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("xap/event/#")}));
        {
            LoggerBehindHub run;
            QVERIFY(writeSettings(
                run.app, "Host=127.0.0.1\r\nPort=" + QByteArray::number(tlsPort) + "\r\nCaFile=" +
                             broker.path(QStringLiteral("ca.pem")).toUtf8() + "\r\n"));
            QVERIFY2(run.start(), run.logger.stderrText().constData());
            QVERIFY(sendEvent(run.hub.port, QStringLiteral("acme.tls.test"),
                              QStringLiteral("over TLS")));
            QTRY_COMPARE_WITH_TIMEOUT(on(sub, "xap/event/acme/tls/test").size(), 1, 10000);
        }
        LoggerBehindHub wrong;
        QVERIFY(writeSettings(
            wrong.app, "Host=127.0.0.1\r\nPort=" + QByteArray::number(tlsPort) + "\r\nCaFile=" +
                           broker.path(QStringLiteral("other.pem")).toUtf8() + "\r\n"));
        QVERIFY2(wrong.start(), wrong.logger.stderrText().constData());
        QVERIFY2(says(wrong.logger, "failed: certificate verify failed (is CaFile " +
                                        broker.path(QStringLiteral("other.pem")).toUtf8() +
                                        " the CA that signed the broker's certificate?)"),
                 wrong.logger.stderrText().constData());
    }

    // A broker that asks for a password: a wrong one is refused with a sentence that says what to
    // check, the right one works, and neither is written anywhere.
    void passwordNeverLogged() {
        MosquittoBroker broker;
        const QByteArray secret = "pässwörd-s3cr3t";
        QVERIFY(broker.write(QStringLiteral("passwords"), {}));
        QCOMPARE(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                   {QStringLiteral("-b"), broker.path(QStringLiteral("passwords")),
                                    QStringLiteral("logger"), QString::fromUtf8(secret)}),
                 0);
        QFile::setPermissions(broker.path(QStringLiteral("passwords")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        START_BROKER(broker, QStringLiteral("allow_anonymous false\npassword_file ") +
                                 broker.path(QStringLiteral("passwords")) + u'\n');
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("xap/event/#")},
                          {QStringLiteral("-u"), QStringLiteral("logger"), QStringLiteral("-P"),
                           QString::fromUtf8(secret)}));
        for (const QByteArray& password : {QByteArray("not-" + secret), secret}) {
            LoggerBehindHub run;
            QVERIFY(writeSettings(
                run.app, brokerLines(broker, "Username=logger\r\nPassword=" + password + "\r\n")));
            // --check-config signs in, and says how that went without the password.
            const Run check =
                runProgram("quilljot", {QStringLiteral("--check-config"),
                                        QStringLiteral("--app-dir"), run.app.dir.path()});
            QVERIFY(!check.out.contains(password) && !check.err.contains(password));
            QVERIFY2(check.out.contains(password == secret ? "answers, sign-in accepted"
                                                           : "not authorised. Check Username"),
                     check.out.constData());
            QVERIFY2(run.start(), run.logger.stderrText().constData());
            if (password != secret) {
                QVERIFY2(says(run.logger,
                              "refused the connection: Connection Refused: not authorised. "
                              "Check Username and Password in [Mqtt]"),
                         run.logger.stderrText().constData());
            } else {
                QVERIFY(sendEvent(run.hub.port, QStringLiteral("acme.pw.test"),
                                  QStringLiteral("signed in")));
                QTRY_COMPARE_WITH_TIMEOUT(on(sub, "xap/event/acme/pw/test").size(), 1, 10000);
            }
            run.logger.signal(SIGTERM);
            QVERIFY(run.logger.process.waitForFinished(10000));
            QVERIFY(!run.logger.stderrText().contains(password));
            QDirIterator files(run.app.dir.path(), QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString name = files.next();
                if (name.endsWith(QStringLiteral("zelXapQuilljot.ini"))) {
                    continue;  // where it is set
                }
                QFile f(name);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QVERIFY2(!f.readAll().contains(password), qPrintable(name));
            }
        }
    }

    // A command on <prefix>/send reaches the xAP network through the hub when its class is
    // allowed; another class does not, and is reported once with the reason.
    void commandsOnlyForAllowedClasses() {
        MosquittoBroker broker;
        START_BROKER(broker);
        LoggerBehindHub run;
        QVERIFY(writeSettings(
            run.app,
            brokerLines(broker, "Commands=True\r\nCommandClasses=xAPBSC.cmd, acme.other\r\n")));
        Subscriber status;
        QVERIFY(status.start(broker.port, {QStringLiteral("xap/status")}));
        QVERIFY(run.start());
        QTRY_COMPARE_WITH_TIMEOUT(on(status, "xap/status"), QList<QByteArray>{"online"}, 10000);
        const auto publish = [&](const QByteArray& json) {
            return publishTo(broker, QStringLiteral("xap/send"), json);
        };
        const auto heard = [&](const QByteArray& text) {
            run.hub.reports("");
            return std::count_if(run.hub.heard.begin(), run.hub.heard.end(),
                                 [&](const QByteArray& d) { return d.contains(text); });
        };
        QVERIFY(
            publish("{\"class\":\"acme.secret.cmd\",\"block\":\"output.state.1\","
                    "\"items\":{\"ID\":\"*\",\"State\":\"off\"}}"));
        QVERIFY(
            publish("{\"class\":\"acme.secret.cmd\",\"block\":\"output.state.1\","
                    "\"items\":{\"ID\":\"*\",\"State\":\"off\"}}"));
        QVERIFY(
            publish("{\"class\":\"xAPBSC.cmd\",\"target\":\"acme.lamp.hall\","
                    "\"block\":\"output.state.1\",\"items\":{\"ID\":\"*\",\"State\":\"on\"}}"));
        QTRY_COMPARE_WITH_TIMEOUT(heard("class=xAPBSC.cmd"), 1, 10000);
        QCOMPARE(heard("target=acme.lamp.hall\n}\noutput.state.1\n{\nID=*\nState=on\n}"), 1);
        QCOMPARE(heard("acme.secret.cmd\n"), 0);
        const auto refusals = [&] {
            run.logger.process.waitForReadyRead(50);
            return run.logger.stderrText().count(
                "class acme.secret.cmd is not in CommandClasses (xAPBSC.cmd acme.other)");
        };
        QTRY_COMPARE_WITH_TIMEOUT(refusals(), 1, 5000);
        QTest::qWait(200);
        QCOMPARE(refusals(), 1);
    }

    // Sources that fold alike (letter case, letters beyond ASCII) are sensors of their own, and
    // so is one source of two loggers on one broker; a sensor keeps its ids in the next run. Every
    // config uses only keys Home Assistant documents, each logger's sensors are one device, and
    // they are available while the logger says "online".
    void discoveryGivesEachSourceItsOwnSensor() {
        MosquittoBroker broker;
        START_BROKER(broker);
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("homeassistant/#")}));
        const QStringList spellings{QStringLiteral("acme.ctl.house"),
                                    QStringLiteral("ACME.Ctl.House"),
                                    QStringLiteral("acme.ctl.tür"), QStringLiteral("acme.ctl.tör")};
        const QString other = QStringLiteral("ClientId=quilljot-other\r\n");
        const QList<std::pair<QString, QStringList>> runs{
            {QString(), spellings},
            {other, {spellings[0]}},
            {QString(), {spellings[0]}},
        };
        for (qsizetype r = 0; r < runs.size(); ++r) {
            LoggerBehindHub run;
            QVERIFY(writeSettings(
                run.app, brokerLines(broker, "Discovery=True\r\n" + runs[r].first.toUtf8())));
            QVERIFY2(run.start(), run.logger.stderrText().constData());
            for (const QString& source : runs[r].second) {
                const QString data = source + QStringLiteral(" in run ") + QString::number(r);
                QVERIFY(sendEvent(run.hub.port, source, data));
                QTRY_VERIFY_WITH_TIMEOUT(stateSays(sub, data), 10000);
            }
        }

        // The loggers' own reports are events of sources of their own.
        auto configs = objectsOn(sub, "/config");
        configs.removeIf([&](const auto& c) {
            return !spellings.contains(c.value().last().value(QStringLiteral("name")).toString());
        });
        QCOMPARE(configs.size(), 5);
        QSet<QString> uniqueIds;
        QSet<QString> stateTopics;
        QMap<QString, QSet<QString>> devicesByLogger;  // identifiers by device name
        for (auto it = configs.begin(); it != configs.end(); ++it) {
            const QJsonObject config = it.value().last();
            QVERIFY2(kSensorKeys.contains(keysOf(config)), it.key().constData());
            const QJsonObject device = config.value(QStringLiteral("device")).toObject();
            QVERIFY(kDeviceKeys.contains(keysOf(device)));
            QVERIFY(
                kOriginKeys.contains(keysOf(config.value(QStringLiteral("origin")).toObject())));
            QCOMPARE(config.value(QStringLiteral("availability_topic")).toString(),
                     QStringLiteral("xap/status"));
            uniqueIds.insert(config.value(QStringLiteral("unique_id")).toString());
            stateTopics.insert(config.value(QStringLiteral("state_topic")).toString());
            const QString identifiers = QString::fromUtf8(
                QJsonDocument(device.value(QStringLiteral("identifiers")).toArray()).toJson());
            devicesByLogger[device.value(QStringLiteral("name")).toString()].insert(identifiers);
        }
        QCOMPARE(uniqueIds.size(), 5);
        QCOMPARE(stateTopics.size(), 5);
        QCOMPARE(devicesByLogger.size(), 2);
        for (const QSet<QString>& identifiers : devicesByLogger) {
            QCOMPARE(identifiers.size(), 1);
        }
        QSet<QString> names;
        for (const QList<QJsonObject>& c : configs) {
            names.insert(c.last().value(QStringLiteral("name")).toString());
        }
        QCOMPARE(names, QSet<QString>(spellings.begin(), spellings.end()));
        // The third run announced its source where the first did.
        const auto announcedTwice =
            std::count_if(configs.begin(), configs.end(),
                          [](const QList<QJsonObject>& c) { return c.size() == 2; });
        QCOMPARE(announcedTwice, 1);
    }

    // A 400-character event: the state Home Assistant computes from the config's template keeps
    // at most 255 characters of it (as Jinja slices: by character), the attributes all of it.
    // The source's last event stays on its state topic for a Home Assistant that starts later;
    // the events themselves are not kept.
    void discoveryStateFitsAndStays() {
        MosquittoBroker broker;
        START_BROKER(broker);
        LoggerBehindHub run;
        QVERIFY(writeSettings(run.app, brokerLines(broker, "Discovery=True\r\n")));
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("homeassistant/#")}));
        QVERIFY2(run.start(), run.logger.stderrText().constData());
        QString data;
        for (int i = 0; codePoints(data).size() < 400; ++i) {
            data += i % 3 == 0 ? QStringLiteral("😀") : QStringLiteral("ü");
        }
        QCOMPARE(codePoints(data).size(), 400);
        const QString source = QStringLiteral("acme.ctl.long");
        QVERIFY(sendEvent(run.hub.port, source, QStringLiteral("short, and replaced")));
        QVERIFY(sendEvent(run.hub.port, source, data));
        QTRY_VERIFY_WITH_TIMEOUT(stateSays(sub, data), 10000);

        const QJsonObject config = objectsOn(sub, "/config").first().last();
        const QJsonObject event = objectsOn(sub, "/state").first().last();
        // Templates this test can evaluate: a slice of the data, an object of the event's fields.
        static const QRegularExpression cut(
            QStringLiteral("^\\{\\{ value_json\\.data\\[:(\\d+)\\] \\}\\}$"));
        const auto sliced = cut.match(config.value(QStringLiteral("value_template")).toString());
        QVERIFY2(sliced.hasMatch(),
                 qPrintable(config.value(QStringLiteral("value_template")).toString()));
        const QList<uint> state = codePoints(event.value(QStringLiteral("data")).toString())
                                      .first(sliced.captured(1).toInt());
        QVERIFY(state.size() <= 255 && state.size() > 0);
        QCOMPARE(state, codePoints(data).first(state.size()));

        static const QRegularExpression object(QStringLiteral(
            "^\\{\\{ \\{((?:'\\w+': value_json\\.\\w+(?:, )?)+)\\} \\| tojson \\}\\}$"));
        static const QRegularExpression pair(QStringLiteral("'(\\w+)': value_json\\.(\\w+)"));
        const auto fields =
            object.match(config.value(QStringLiteral("json_attributes_template")).toString());
        QVERIFY(fields.hasMatch());
        QJsonObject attributes;
        for (auto p = pair.globalMatch(fields.captured(1)); p.hasNext();) {
            const auto m = p.next();
            attributes.insert(m.captured(1), event.value(m.captured(2)));
        }
        QCOMPARE(attributes.value(QStringLiteral("data")).toString(), data);
        QCOMPARE(attributes.value(QStringLiteral("source")).toString(), source);
        QCOMPARE(config.value(QStringLiteral("json_attributes_topic")),
                 config.value(QStringLiteral("state_topic")));

        Subscriber later;
        QVERIFY(later.start(broker.port, {QStringLiteral("xap/event/#"),
                                          config.value(QStringLiteral("state_topic")).toString()}));
        QTRY_COMPARE_WITH_TIMEOUT(later.messages().size(), 1, 5000);
        QVERIFY(stateSays(later, data));
    }

    // Configs cleared from the broker come back when Home Assistant says it started ("online" on
    // homeassistant/status), and after the broker restarted without its retained messages, then
    // with the source's last state.
    void discoveryAnnouncedAgain() {
        MosquittoBroker broker;
        START_BROKER(broker);
        LoggerBehindHub run;
        QVERIFY(writeSettings(run.app, brokerLines(broker, "Discovery=True\r\n")));
        Subscriber sub;
        QVERIFY(sub.start(broker.port, {QStringLiteral("homeassistant/#")}));
        QVERIFY2(run.start(), run.logger.stderrText().constData());
        QVERIFY(sendEvent(run.hub.port, QStringLiteral("acme.ctl.porch"), QStringLiteral("ajar")));
        QTRY_VERIFY_WITH_TIMEOUT(stateSays(sub, QStringLiteral("ajar")), 10000);
        const QByteArray configTopic = objectsOn(sub, "/config").firstKey();
        const QByteArray stateTopic = objectsOn(sub, "/state").firstKey();
        const auto announced = [&] {
            const QList<QJsonObject> configs = objectsOn(sub, "/config").value(configTopic);
            return std::count_if(configs.begin(), configs.end(),
                                 [](const QJsonObject& c) { return !c.isEmpty(); });
        };
        QCOMPARE(announced(), 1);

        QVERIFY(publishTo(broker, QString::fromUtf8(configTopic), {}, true));
        QTRY_COMPARE_WITH_TIMEOUT(objectsOn(sub, "/config").value(configTopic).size(), 2, 5000);
        QVERIFY(publishTo(broker, QStringLiteral("homeassistant/status"), "online"));
        QTRY_COMPARE_WITH_TIMEOUT(announced(), 2, 5000);
        Subscriber afterBirth;
        QVERIFY(afterBirth.start(broker.port, {QString::fromUtf8(configTopic)}));
        QTRY_COMPARE_WITH_TIMEOUT(objectsOn(afterBirth, "/config").value(configTopic).size(), 1,
                                  5000);

        broker.stop();
        QVERIFY(QFile::remove(broker.path(QStringLiteral("data/mosquitto.db"))));
        QVERIFY(broker.startAgain());
        Subscriber afterRestart;
        QVERIFY(afterRestart.start(
            broker.port, {QString::fromUtf8(configTopic), QString::fromUtf8(stateTopic)}));
        QTRY_COMPARE_WITH_TIMEOUT(afterRestart.messages().size(), 2, 15000);
        QVERIFY(!objectsOn(afterRestart, "/config").value(configTopic).value(0).isEmpty());
        QVERIFY(stateSays(afterRestart, QStringLiteral("ajar")));
    }
};

QTEST_GUILESS_MAIN(MqttTest)
#include "tst_mqtt.moc"
