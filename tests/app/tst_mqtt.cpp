#include <signal.h>
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
        QVERIFY(
            send(run.hub.port, {QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                                QStringLiteral("--source"), QStringLiteral("acme.ctl+er.house#1:x"),
                                QStringLiteral("--section"), QStringLiteral("Event.Log"),
                                QStringLiteral("Time=2026-12-04 23:13:09"),
                                QStringLiteral("Type=Log"), QStringLiteral("Data=") + hostile}));
        QVERIFY(
            send(run.hub.port, {QStringLiteral("--class"), QStringLiteral("Homeseer.Event"),
                                QStringLiteral("--source"), QStringLiteral("acme.ctl+er.house#1:x"),
                                QStringLiteral("--section"), QStringLiteral("Event.Log"),
                                QStringLiteral("Time=2026-12-04 23:13:10"),
                                QStringLiteral("Type=Log"), QStringLiteral("Data=second")}));
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
};

QTEST_GUILESS_MAIN(MqttTest)
#include "tst_mqtt.moc"
