#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include "CaptureFile.h"
#include "TestProcesses.h"

// xap-snoop and xap-send --replay as processes, behind a real hub on a free loopback port.

namespace {

QByteArray eventText(const QByteArray& data, const QByteArray& target = {}) {
    return "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=test.hs.host\n" +
           (target.isEmpty() ? QByteArray() : "target=" + target + "\n") +
           "}\nEvent.Log\n{\nTime=2026-12-04 23:13:09\nType=Log\nData=" + data + "\n}\n";
}

QList<QByteArray> withoutHeartbeats(const QList<CaptureRecord>& records) {
    QList<QByteArray> out;
    for (const CaptureRecord& r : records) {
        if (!r.bytes.startsWith("xap-hbeat")) {
            out.append(r.bytes);
        }
    }
    return out;
}

QList<QByteArray> texts(const QList<CaptureRecord>& records) {
    QList<QByteArray> out;
    for (const CaptureRecord& r : records) {
        out.append(r.bytes);
    }
    return out;
}

}  // namespace

class SnoopTest : public QObject {
    Q_OBJECT

    HubProcess m_hub;
    QTemporaryDir m_dir;

    void sendRaw(const QList<QByteArray>& datagrams) {
        QUdpSocket s;
        for (const QByteArray& d : datagrams) {
            s.writeDatagram(d, QHostAddress(QHostAddress::LocalHost), m_hub.port);
        }
    }

    static int run(const char* program, const QStringList& args, QByteArray* err = nullptr) {
        const Run r = runProgram(program, args);
        if (err != nullptr) {
            *err = r.err;
        }
        return r.status;
    }

private slots:
    void initTestCase() { QVERIFY(m_hub.start()); }

    void registersShowsFiltersAndCapturesSurvivingGarbage() {
        const QString capture = m_dir.filePath(QStringLiteral("all.jsonl"));
        SnoopProcess all;
        QVERIFY(all.start(m_hub.port, {QStringLiteral("--capture"), capture}));
        SnoopProcess events;
        QVERIFY(events.start(m_hub.port, {QStringLiteral("--class"), QStringLiteral("homeseer.*"),
                                          QStringLiteral("--target"), QStringLiteral("zel.>"),
                                          QStringLiteral("--json"), QStringLiteral("--count"),
                                          QStringLiteral("2")}));
        QTRY_VERIFY(m_hub.said("add zel.xapsnoop."));

        const QList<QByteArray> sent = {
            QByteArray("\x1b[2J\x1b]0;title\x07\xff\xfe", 13),
            QByteArray(),
            QByteArray(9000, '\x9b'),
            "xap-header\n{",
            "xap-header\n{\nclass=VOZ.Echo\nsource=a.b.c\ntarget=zel.x.y\n}\nEcho.Query\n{\n"
            "Query=PING\n}\n",
            eventText("untargeted"),
            eventText("first", "zel.Quilljot.*"),
            eventText("second", "zel.Quilljot.host"),
        };
        sendRaw(sent);

        QVERIFY(events.process.waitForFinished(5000));  // --count 2
        QCOMPARE(events.process.exitCode(), 0);
        const QList<QByteArray> json = events.process.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(json.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(json[0])[QStringLiteral("data")].toString(),
                 QStringLiteral("first"));
        QCOMPARE(QJsonDocument::fromJson(json[1])[QStringLiteral("target")].toString(),
                 QStringLiteral("zel.Quilljot.host"));
        QTRY_VERIFY(m_hub.said("(stopped)"));

        QTRY_VERIFY(all.process.peek(1 << 20).contains("Data=second"));
        QCOMPARE(all.stop(), 0);
        const QByteArray shown = all.process.readAllStandardOutput();
        QCOMPARE(shown.count('\n'), sent.size());
        QVERIFY2(!shown.contains('\x1b'), shown.constData());  // piped: no colour, no escapes
        QVERIFY(
            shown.contains("test.hs.host  Homeseer.Event  -> zel.Quilljot.*  Type=Log  "
                           "Data=first\n"));
        QVERIFY(shown.contains("(not xAP, 9000 bytes)"));
        const QByteArray counts = all.process.readAllStandardError();
        QVERIFY2(counts.contains("10 received, 8 shown\n"), counts.constData());
        QVERIFY(counts.contains("\n       3  Homeseer.Event\n"));

        auto captured = readCaptureFile(capture);
        QVERIFY(captured.ok());
        QCOMPARE(withoutHeartbeats(captured.value()), sent);  // the other snoop's heartbeats
    }

    void captureReplayedGivesTheSameTextsInOrder() {
        QUdpSocket otherApp;  // the port a captured heartbeat names, so that no one else gets it
        QVERIFY(otherApp.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const QByteArray heartbeat =
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF.1:00\nclass=xap-hbeat.alive\nsource=test.app.host\n"
            "interval=60\nport=" +
            QByteArray::number(otherApp.localPort()) + "\n}\n";
        const QList<QByteArray> original = {eventText("one"), heartbeat, QByteArray("\xe9t\xe9", 3),
                                            eventText("two, \"quoted\""), QByteArray()};
        const QString first = m_dir.filePath(QStringLiteral("first.jsonl"));
        {
            CaptureWriter w;
            QVERIFY(w.open(first, QStringLiteral("test"), 0).ok());
            for (qsizetype i = 0; i < original.size(); ++i) {
                QVERIFY(w.write(CaptureRecord{1764929472000000 + i * 300000, original[i]}).ok());
            }
        }

        const QString second = m_dir.filePath(QStringLiteral("second.jsonl"));
        SnoopProcess snoop;
        QVERIFY(snoop.start(m_hub.port, {QStringLiteral("--capture"), second}));
        const QStringList to{QStringLiteral("--port"), QString::number(m_hub.port),
                             QStringLiteral("--replay"), first};
        QCOMPARE(run("xap-send", to + QStringList{QStringLiteral("--rate"), QStringLiteral("500"),
                                                  QStringLiteral("--heartbeats")}),
                 0);
        // the capture's own spacing, ten times as fast; heartbeats left out by default
        QCOMPARE(run("xap-send", to + QStringList{QStringLiteral("--speed"), QStringLiteral("10")}),
                 0);
        QTRY_VERIFY(QFile(second).size() > 0 &&
                    readCaptureFile(second).value().size() == 2 * original.size() - 1);
        QCOMPARE(snoop.stop(), 0);

        QList<QByteArray> expected = original;
        expected.append(original);
        expected.removeAt(original.size() + 1);
        QCOMPARE(texts(readCaptureFile(second).value()), expected);
    }

    void refusesBadArgumentsAndSaysWhenNothingCame() {
        QByteArray err;
        QCOMPARE(run("xap-snoop", {QStringLiteral("--count"), QStringLiteral("0")}, &err), 2);
        QVERIFY(err.contains("--count"));
        QCOMPARE(run("xap-snoop", {QStringLiteral("--json"), QStringLiteral("-v")}), 2);
        QCOMPARE(run("xap-snoop", {QStringLiteral("--no-such-option")}), 2);
        QCOMPARE(run("xap-send",
                     {QStringLiteral("--replay"), m_dir.filePath(QStringLiteral("missing"))}, &err),
                 2);
        QVERIFY(err.contains("cannot read"));
        QCOMPARE(run("xap-send",
                     {QStringLiteral("--replay"), QStringLiteral("-"), QStringLiteral("--speed"),
                      QStringLiteral("2"), QStringLiteral("--rate"), QStringLiteral("5")}),
                 2);
        QCOMPARE(run("xap-send",
                     {QStringLiteral("--class"), QStringLiteral("a.b"), QStringLiteral("--section"),
                      QStringLiteral("s"), QStringLiteral("--rate"), QStringLiteral("5")}),
                 2);

        const QString port = QString::number(m_hub.port);
        QCOMPARE(
            run("xap-snoop",
                {QStringLiteral("--hub-port"), port, QStringLiteral("--capture"), m_dir.path()},
                &err),
            1);
        QCOMPARE(
            run("xap-snoop",
                {QStringLiteral("--hub-port"), port, QStringLiteral("--class"),
                 QStringLiteral("no.such"), QStringLiteral("--timeout"), QStringLiteral("0.5")},
                &err),
            3);
        QVERIFY2(err.contains(" 0 shown"), err.constData());
    }
};

QTEST_GUILESS_MAIN(SnoopTest)
#include "tst_snoop.moc"
