#include <QTemporaryDir>
#include <QtTest>

#include "CaptureFile.h"
#include "CaptureFormat.h"
#include "Replay.h"
#include "SnoopFilter.h"
#include "TrafficFormat.h"

// The capture file, the replay's schedule and the snoop's filter, without processes.

namespace {

SeenMessage seen(const QByteArray& bytes) {
    return SeenMessage::read(0, bytes);
}

const QByteArray kEvent =
    "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=zel.hs.host\n"
    "target=zel.Quilljot.host\n}\nEvent.Log\n{\nType=Log\nData=door\n}\n";

}  // namespace

class CaptureTest : public QObject {
    Q_OBJECT

private slots:
    void everyDatagramComesBackExactly() {
        const QList<QByteArray> datagrams = {
            kEvent,
            QByteArray(),
            QByteArray("quote \" backslash \\ tab \t cr \r nul \0 esc \x1b del \x7f", 46),
            QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xa1"),  // UTF-8, kept as text
            QByteArray("\xff\xfe latin \xe9", 10),                    // not UTF-8: base64
        };
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.jsonl"));
        {
            CaptureWriter writer;
            QVERIFY(writer.open(path, QStringLiteral("zel.xapsnoop.host"), 1764929472000000).ok());
            qint64 us = 1764929472000001;
            for (const QByteArray& d : datagrams) {
                QVERIFY(writer.write(CaptureRecord{us, d}).ok());
                us += 999999;
            }
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), datagrams.size() + 2);  // header, records, "" after the last LF
        QVERIFY(lines[2].startsWith("{\"t\":1764929473.000000,\"text\":"));
        QVERIFY(lines[5].contains("\"base64\":"));

        auto read = readCaptureFile(path);
        QVERIFY2(read.ok(), qPrintable(read.ok() ? QString() : read.problem().description));
        QCOMPARE(read.value().size(), datagrams.size());
        for (qsizetype i = 0; i < datagrams.size(); ++i) {
            QCOMPARE(read.value()[i].bytes, datagrams[i]);
            QCOMPARE(read.value()[i].microseconds, 1764929472000001 + i * 999999);
        }
    }

    void malformedLinesAreRefusedWithTheirNumber() {
        const QList<QPair<QByteArray, QString>> cases = {
            {"not json", QStringLiteral("illegal")},
            {"{\"text\":\"x\"}", QStringLiteral("\"t\"")},
            {"{\"t\":\"soon\",\"text\":\"x\"}", QStringLiteral("\"t\"")},
            {"{\"t\":1}", QStringLiteral("neither")},
            {"{\"t\":1,\"base64\":\"***\"}", QStringLiteral("base64")},
            {"{\"format\":\"pcap\"}", QStringLiteral("not an xAP capture")},
        };
        QTemporaryDir dir;
        for (const auto& [line, problem] : cases) {
            QFile file(dir.filePath(QStringLiteral("bad.jsonl")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("{\"format\":\"xap-capture\",\"version\":1}\n\n{\"t\":1,\"text\":\"ok\"}\n" +
                       line + "\n");
            file.close();
            auto read = readCaptureFile(file.fileName());
            QVERIFY2(!read.ok(), line.constData());
            QVERIFY2(read.problem().description.contains(QStringLiteral(":4: ")),
                     qPrintable(read.problem().description));
            QVERIFY2(read.problem().description.contains(problem, Qt::CaseInsensitive),
                     qPrintable(read.problem().description));
        }
        QVERIFY(!readCaptureFile(dir.filePath(QStringLiteral("missing"))).ok());
    }

    void scheduleScalesTheCapturedSpacingOrKeepsARate() {
        // 0 s, 1 s, 0.5 s (the clock went back), 3 s
        const QList<CaptureRecord> r = {
            {10'000'000, {}}, {11'000'000, {}}, {10'500'000, {}}, {13'000'000, {}}};
        QCOMPARE(replaySchedule(r, ReplayPace{1, -1}),
                 (QList<qint64>{0, 1'000'000, 1'000'000, 3'000'000}));
        QCOMPARE(replaySchedule(r, ReplayPace{4, -1}),
                 (QList<qint64>{0, 250'000, 250'000, 750'000}));
        QCOMPARE(replaySchedule(r, ReplayPace{1, 2}),
                 (QList<qint64>{0, 500'000, 1'000'000, 1'500'000}));
        QCOMPARE(replaySchedule(r, ReplayPace{1, 0}), (QList<qint64>{0, 0, 0, 0}));
    }

    // Class and target filters, and garbage, are seen at work in the snoop's process test.
    void filterKeepsHeartbeatsApartAndMatchesSources() {
        const SeenMessage event = seen(kEvent);
        const SeenMessage hb = seen(
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF1\nclass=xap-hbeat.alive\nsource=zel.hs.host\n"
            "interval=60\nport=3700\n}\n");
        QVERIFY(!SnoopFilter{}.passes(hb));
        QVERIFY((SnoopFilter{{}, {}, {}, true}.passes(hb)));
        QVERIFY((SnoopFilter{QStringLiteral("xap-hbeat.*"), {}, {}, false}.passes(hb)));
        QVERIFY((SnoopFilter{{}, QStringLiteral("zel.>"), {}, false}.passes(event)));
        QVERIFY((!SnoopFilter{{}, QStringLiteral("zel.other.*"), {}, false}.passes(event)));
    }

    void terminalOutputCarriesNoControlCharactersFromTheNetwork() {
        const SeenMessage evil = seen(
            "xap-header\n{\nclass=Homeseer.Event\nsource=a.b\x1b]0;pwned\x07.c\n}\nEvent.Log\n"
            "{\nType=\x1b[2J\nData=line\r\nnext\n}\n");
        for (const QByteArray& out :
             {TrafficFormat::summary(evil, false), TrafficFormat::full(evil, false),
              TrafficFormat::summary(seen("\x1b[31m\x9b\n"), false)}) {
            for (const char c : out) {
                const auto u = static_cast<unsigned char>(c);
                QVERIFY2(u >= 0x20 || c == '\n', out.toHex().constData());
            }
        }
        QVERIFY(TrafficFormat::summary(evil, true).contains("\x1b[33mType=?[2J\x1b[0m"));
        QVERIFY(QJsonDocument::fromJson(TrafficFormat::json(evil)).isObject());
    }
};

QTEST_GUILESS_MAIN(CaptureTest)
#include "tst_capture.moc"
