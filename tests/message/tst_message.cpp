#include <QtTest>

#include "message/Heartbeat.h"
#include "message/TextCodec.h"
#include "message/XapAddress.h"
#include "message/XapMessage.h"

namespace {
const QString kEvent = QStringLiteral(
    "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=zel.hs.host\n}\n"
    "Event.Log\n{\nTime= 2026-12-04 23:13:09\nType=Log\nData=a=b\n}\n");

const QString kHeartbeat = QStringLiteral(
    "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.000A:00\nclass=xap-hbeat.alive\n"
    "source=zel.Quilljot.HOST1\ninterval=600\nport=32768\n}\n");
}  // namespace

class MessageTest : public QObject {
    Q_OBJECT

private slots:
    void textCodecNeverLosesBytes() {
        const QByteArray utf8 = QByteArray("caf\xc3\xa9");
        QCOMPARE(textFromBytes(utf8), QString::fromUtf8(utf8));
        const QByteArray latin = QByteArray("caf\xe9\xff", 5);
        const QString t = textFromBytes(latin);
        QCOMPARE(t.size(), 5);
        QCOMPARE(t.toLatin1(), latin);
        QVERIFY(!t.contains(QChar::ReplacementCharacter));
        // Valid UTF-8 after more than eight plain bytes still takes the UTF-8 reading.
        const QByteArray late = QByteArray("0123456789abcdef\xc3\xa9");
        QCOMPARE(textFromBytes(late), QString::fromUtf8(late));
        QCOMPARE(bytesFromText(QString::fromUtf8(utf8)), utf8);
    }

    void readsHeaderAndItems() {
        const XapMessage m = XapMessage::read(kEvent);
        QVERIFY(!m.fault());
        QCOMPARE(m.className(), u"Homeseer.Event");
        QCOMPARE(m.source(), u"zel.hs.host");
        QCOMPARE(m.uid(), u"FF123400");
        QCOMPARE(m.target(), u"Unknown");
        QCOMPARE(m.item(u"EVENT.LOG", u"time"), u" 2026-12-04 23:13:09");
        QCOMPARE(m.item(u"event.log", u"DATA"), u"a=b");
        QCOMPARE(m.item(u"event.log", u"Missing"), u"Unknown");
        QCOMPARE(m.item(u"Other", u"Time"), u"Unknown");
    }

    void readsOddHeaders() {
        {
            const XapMessage m = XapMessage::read(QString());
            QCOMPARE(m.className(), u"Unknown");
            QCOMPARE(m.item(u"a", u"b"), u"Unknown");
            QVERIFY(!m.fault());
        }
        {
            const XapMessage m = XapMessage::read(
                QStringLiteral(">XAP-HEADER<\n{\n  Class  =  My.Class  \nuid\n}\n"));
            QCOMPARE(m.className(), u"My.Class");
            QCOMPARE(m.uid(), u"Unknown");
        }
        // A heartbeat is no message.
        QCOMPARE(XapMessage::read(kHeartbeat).className(), u"Unknown");
    }

    // What senders other than the usual ones write reads as the plain text does.
    void readsLooseLayout_data() {
        QTest::addColumn<QString>("text");
        QString crlf = kEvent;
        QTest::newRow("CR LF") << crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        QTest::newRow("trailing blanks") << QStringLiteral(
            "xap-header \n{ \nv=12\nhop=1\nuid=FF123400 \nclass=Homeseer.Event  \n"
            "source=zel.hs.host\n} \nEvent.Log  \n{\nTime= 2026-12-04 23:13:09\nType=Log\n"
            "Data=a=b\n}  \r\n");
        QTest::newRow("blank lines") << QStringLiteral(
            "\n\r\n  \nxap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\n"
            "source=zel.hs.host\n}\n\n \r\nEvent.Log\n{\nTime= 2026-12-04 23:13:09\n"
            "Type=Log\nData=a=b\n}\n\n\n");
        QTest::newRow("no LF at the end") << kEvent.chopped(1);
        QTest::newRow("tabs") << QStringLiteral(
            "xap-header\t\n{\nv=12\nhop=1\n\tuid=FF123400\t\nclass=Homeseer.Event\t\n"
            "source=zel.hs.host\n}\t\n\t\nEvent.Log\t\n{\t\n\tTime= 2026-12-04 23:13:09\n"
            " \tType=Log\n\tData=a=b\n\t}\t\n");
    }
    void readsLooseLayout() {
        QFETCH(QString, text);
        const XapMessage m = XapMessage::read(text);
        QVERIFY(!m.fault());
        QVERIFY(!m.cutOff());
        QCOMPARE(m.className(), u"Homeseer.Event");
        QCOMPARE(m.uid(), u"FF123400");
        QCOMPARE(m.blockNames(), QList<QString>({QStringLiteral("event.log")}));
        QCOMPARE(m.itemLines(0),
                 QList<QStringView>({u"Time= 2026-12-04 23:13:09", u"Type=Log", u"Data=a=b"}));
        QCOMPARE(m.item(u"Event.Log", u"Type"), u"Log");
    }

    // A text that ends inside a block (a hub cutting datagrams at 1500 bytes) says so.
    void cutOffTextSaysSo() {
        for (const QString& end : {QStringLiteral("Data=a="), QStringLiteral("Data=a=b\n"),
                                   QStringLiteral("Time= 2026")}) {
            const QString text = kEvent.first(kEvent.indexOf(end) + end.size());
            const XapMessage m = XapMessage::read(text);
            QVERIFY2(m.cutOff(), qPrintable(text));
            QVERIFY(!m.fault());
        }
        const QString header = kEvent.first(kEvent.indexOf(u"source"));
        QVERIFY(XapMessage::read(header).cutOff());
        QVERIFY(XapMessage::read(QStringLiteral("xap-header")).cutOff());
        QVERIFY(XapMessage::read(kEvent.first(kEvent.indexOf(u"{\nTime"))).cutOff());
        QVERIFY(!XapMessage::read(kEvent).cutOff());
        QVERIFY(!XapMessage::read(kHeartbeat.first(30)).cutOff());
        QVERIFY(!XapMessage::read(QStringLiteral("xap-header\n{\nclass=a\n}\n")).cutOff());
    }

    void stopsAtABrokenTextAndSaysWhere_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("description");
        QTest::newRow("duplicate item")
            << QStringLiteral("xap-header\n{\n}\ns\n{\na=1\nA =2\nb=3\n}\n") << 6
            << QStringLiteral("Duplicate item name: a");
        QTest::newRow("duplicate block")
            << QStringLiteral("xap-header\n{\n}\ns\n{\na=1\n}\nS\n{\na=2\n}\n") << 5
            << QStringLiteral("Duplicate section name: s");
    }
    void stopsAtABrokenTextAndSaysWhere() {
        QFETCH(QString, text);
        QFETCH(int, step);
        QFETCH(QString, description);
        const XapMessage m = XapMessage::read(text);
        QCOMPARE(m.item(u"s", u"a"), u"1");  // what came before the fault is kept
        QCOMPARE(m.item(u"s", u"b"), u"Unknown");
        QVERIFY(m.fault());
        QCOMPARE(m.fault()->step, step);
        QCOMPARE(m.fault()->description, description);
    }

    void stopsAtTheSixteenBitLineLimit() {
        auto build = [](int lines) -> QString {
            QString t = QStringLiteral("xap-header\n{\n}\ns\n{\n");
            for (int n = 5; n < lines - 1; ++n) {
                t += QStringLiteral("i") + QString::number(n) + QStringLiteral("=v\n");
            }
            return t + QStringLiteral("}");  // the last line, no LF after it: `lines` lines in all
        };
        {
            const XapMessage m = XapMessage::read(build(32767));
            QCOMPARE(m.item(u"s", u"i32765"), u"v");
            QVERIFY(!m.fault());
        }
        {
            const XapMessage m = XapMessage::read(build(40000));
            QCOMPARE(m.item(u"s", u"i32767"), u"v");
            QCOMPARE(m.item(u"s", u"i32768"), u"Unknown");
            QCOMPARE(m.fault()->step, 7);
            QCOMPARE(m.fault()->description, QStringLiteral("Overflow"));
        }
    }

    void heartbeatReading() {
        const auto back =
            Heartbeat::read(QStringLiteral("  XAP-HBEAT \r\n{\r\n Class = xap-hbeat.alive \r\n"
                                           "source=a.b\r\nuid=FF\r\ninterval= 60\r\nport=3639\r\n}"
                                           "\r\nport=1\r\n"));
        QVERIFY(back);
        QCOMPARE(back->className, QStringLiteral("xap-hbeat.alive"));
        QCOMPARE(back->source, QStringLiteral("a.b"));
        QCOMPARE(back->uid, QStringLiteral("FF"));
        QCOMPARE(back->intervalSeconds, 60);
        QCOMPARE(back->port, 3639);  // nothing after the block counts
        QVERIFY(back->isAlive() && !back->isStopped());

        const auto odd = Heartbeat::read(
            QStringLiteral("xap-hbeat\n{\nclass=XAP-HBEAT.STOP\ninterval=0\nport=65536\n"));
        QVERIFY(odd && odd->isStopped() && !odd->isAlive());
        QCOMPARE(odd->intervalSeconds, -1);
        QCOMPARE(odd->port, -1);
        QVERIFY(!Heartbeat::read(kEvent));
        QVERIFY(!Heartbeat::read(QString()));
    }

    void addressMatching_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("result");
        const struct {
            const char16_t* a;
            const char16_t* b;
            bool r;
        } rows[] = {
            {u"zel.Quilljot.Host", u"ZEL.quilljot.host", true},
            {u"zel.*.host", u"zel.quilljot.host", true},
            {u"zel.*", u"zel.quilljot.host", false},
            {u"zel.>", u"zel.quilljot.host", true},
            {u"zel.quilljot", u"zel.>", true},
            {u"zel.>", u"zel", false},
            {u"zel.", u"zel.>", true},
            {u">", u"a.b.c", true},
            {u"a.>.c", u"a.b.d", true},
            {u"a.b.c", u"a.x.>", false},
            {u"zel.quilljot.host:sub", u"zel.quilljot.*", true},
            {u"zel.quilljot.host:>", u"zel.quilljot.host:sub", false},
            {u"a..b", u"a.*.b", true},
            {u"a.b.", u"a.b", false},
            {u"Unknown", u"unknown", true},
            {u"", u"a", false},
            {u"", u">", false},
            {u"", u"", false},
            {u"*", u"*", true},
            {u"*", u">", true},
            {u"a", u"a.b", false},
            {u"a b", u"a", false},
            {u"host*", u"hostX", false},
            {u"\u00c9t\u00e9.x", u"\u00e9T\u00c9.X", true},
        };
        for (const auto& row : rows) {
            const QString a = QString::fromUtf16(row.a);
            const QString b = QString::fromUtf16(row.b);
            QTest::newRow(qPrintable(a + u" ~ " + b)) << a << b << row.r;
        }
    }
    void addressMatching() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, result);
        QCOMPARE(XapAddress::matches(a, b), result);
        QCOMPARE(XapAddress::matches(b, a), result);
    }
};

QTEST_GUILESS_MAIN(MessageTest)
#include "tst_message.moc"
