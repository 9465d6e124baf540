#include <QtTest>

#include "message/OrderedMap.h"
#include "message/TextCodec.h"
#include "message/XapMessage.h"
#include "support/Reporting.h"

namespace {
const QString kEvent = QStringLiteral(
    "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\nsource=zel.hs.host\n}\n"
    "Event.Log\n{\nTime= 2026-12-04 23:13:09\nType=Log\nData=a=b\n}\n");
}

class MessageTest : public QObject {
    Q_OBJECT

private slots:
    void orderedMapKeepsOrderAndRefusesDuplicates() {
        OrderedMap<int> m(CaseRule::Insensitive);
        QVERIFY(m.add(u"B"_qs, 1));
        QVERIFY(m.add(u"a"_qs, 2));
        QVERIFY(!m.add(u"b"_qs, 3));
        QCOMPARE(*m.find(u"A"_qs), 2);
        QCOMPARE(m.keys(), QList<QString>({u"B"_qs, u"a"_qs}));
        for (int i = 0; i < 100; ++i) {
            m.add(QString::number(i), i);
        }
        for (int i = 0; i < 90; ++i) {
            QVERIFY(m.remove(QString::number(i)));
        }
        QCOMPARE(m.size(), 12);
        QCOMPARE(*m.find(u"95"_qs), 95);
        QCOMPARE(m.keys().first(), u"B"_qs);
    }

    void textCodecNeverLosesBytes() {
        const QByteArray utf8 = QByteArray("caf\xc3\xa9");
        QCOMPARE(textFromBytes(utf8), QString::fromUtf8(utf8));
        const QByteArray latin = QByteArray("caf\xe9\xff", 5);
        const QString t = textFromBytes(latin);
        QCOMPARE(t.size(), 5);
        QCOMPARE(t.toLatin1(), latin);
        QVERIFY(!t.contains(QChar::ReplacementCharacter));
        QCOMPARE(bytesFromText(QString::fromUtf8(utf8)), utf8);
    }

    void parsesHeaderAndItems() {
        MemoryReporting r;
        XapMessage m(r);
        m.FromXap(kEvent);
        QCOMPARE(m.msgClass(), u"Homeseer.Event"_qs);
        QCOMPARE(m.msgSource(), u"zel.hs.host"_qs);
        QCOMPARE(m.msgUID(), u"FF123400"_qs);
        QCOMPARE(m.msgTarget(), u"Unknown"_qs);
        QCOMPARE(m.GetItem(u"EVENT.LOG"_qs, u"time"_qs), u" 2026-12-04 23:13:09"_qs);
        QCOMPARE(m.GetItem(u"event.log"_qs, u"DATA"_qs), u"a=b"_qs);
        QCOMPARE(m.GetItem(u"event.log"_qs, u"Missing"_qs), u"Unknown"_qs);
        QCOMPARE(m.GetItem(u"Other"_qs, u"Time"_qs), u"Unknown"_qs);
        QCOMPARE(m.msgSection(), QList<QString>({u"event.log"_qs}));
        QVERIFY(m.msgCollection(0) != nullptr);
        QVERIFY(m.msgCollection(5) == nullptr);
        QVERIFY(r.entries.isEmpty());
    }

    void parsesOddHeadersAndLineEnds() {
        MemoryReporting r;
        {
            XapMessage m(r);
            m.FromXap(QString());
            QCOMPARE(m.msgClass(), u"Unknown"_qs);
            QCOMPARE(m.GetItem(u"a"_qs, u"b"_qs), u"Unknown"_qs);
        }
        {
            XapMessage m(r);
            m.FromXap(u">XAP-HEADER<\n{\n  Class  =  My.Class  \nuid\n}\n"_qs);
            QCOMPARE(m.msgClass(), u"My.Class"_qs);
            QCOMPARE(m.msgUID(), u"Unknown"_qs);
        }
        {
            XapMessage m(r);
            m.FromXap(u"xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n"_qs);
            QCOMPARE(m.msgClass(), u"Unknown"_qs);
        }
        {
            // CR LF line ends: no line is exactly "}", header values keep their CR.
            XapMessage m(r);
            m.FromXap(u"xap-header\r\n{\r\nclass=A\r\n}\r\nS\r\n{\r\nx=1\r\n}\r\n"_qs);
            QCOMPARE(m.msgClass(), u"A\r"_qs);
            QCOMPARE(m.GetItem(u"S"_qs, u"x"_qs), u"Unknown"_qs);
        }
        {
            // A section name with a trailing space is kept with it.
            XapMessage m(r);
            m.FromXap(u"xap-header\n{\n}\nSec \n{\nx=1\n}\n"_qs);
            QCOMPARE(m.GetItem(u"Sec"_qs, u"x"_qs), u"Unknown"_qs);
            QCOMPARE(m.GetItem(u"SEC "_qs, u"x"_qs), u"1"_qs);
        }
        QVERIFY(r.entries.isEmpty());
    }

    void stopsAndLogsOnBrokenText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");  // item a of section s still readable
        QTest::newRow("no LF after last brace") << u"xap-header\n{\n}\ns\n{\na=1\n}"_qs << u"1"_qs;
        QTest::newRow("duplicate item")
            << u"xap-header\n{\n}\ns\n{\na=1\nA =2\nb=3\n}\n"_qs << u"1"_qs;
        QTest::newRow("duplicate section")
            << u"xap-header\n{\n}\ns\n{\na=1\n}\nS\n{\na=2\n}\n"_qs << u"1"_qs;
    }
    void stopsAndLogsOnBrokenText() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        MemoryReporting r;
        XapMessage m(r);
        m.FromXap(text);
        QCOMPARE(m.GetItem(u"s"_qs, u"a"_qs), kept);
        QCOMPARE(m.GetItem(u"s"_qs, u"b"_qs), u"Unknown"_qs);
        QCOMPARE(r.entries.size(), 1);
        QCOMPARE(r.entries[0].first, u"From XAP"_qs);
        QVERIFY(r.entries[0].textLog);
        QVERIFY(r.entries[0].error.isSet());
    }

    void stopsAtTheSixteenBitLineLimit() {
        auto build = [](int lines) -> QString {
            QString t = u"xap-header\n{\n}\ns\n{\n"_qs;
            int n = 5;
            for (; n < lines - 1; ++n) {
                t += u"i"_qs + QString::number(n) + u"=v\n"_qs;
            }
            return t + u"}"_qs;  // the last line, no LF after it: `lines` lines in all
        };
        {
            MemoryReporting r;
            XapMessage m(r);
            m.FromXap(build(32767));
            QCOMPARE(m.GetItem(u"s"_qs, u"i32765"_qs), u"v"_qs);
            // the final "}" has no line after it: logged once
            QCOMPARE(r.entries.size(), 1);
        }
        {
            MemoryReporting r;
            XapMessage m(r);
            m.FromXap(build(40000));
            QCOMPARE(m.GetItem(u"s"_qs, u"i32767"_qs), u"v"_qs);
            QCOMPARE(m.GetItem(u"s"_qs, u"i32768"_qs), u"Unknown"_qs);
            QCOMPARE(r.entries.size(), 1);
            QCOMPARE(r.entries[0].first, u"From XAP"_qs);
        }
    }

    void buildsOneSectionByteForByte() {
        MemoryReporting r;
        XapMessage m(r);
        m.setHeaderPrefix(u"xap-header\n{\nv=13\nhop=1\nuid=FF.000A:00\n"_qs);
        m.setMsgClass(u"Homeseer.Event"_qs);
        m.setMsgSource(u"zel.Quilljot.HOST1"_qs);
        m.setMsgTarget(u"a.b.c"_qs);
        m.AddHeader();
        m.AddSection(u"Event.Log"_qs);
        m.AddItem(u"x"_qs, u"Time"_qs, u"t=1"_qs);
        const QString expected =
            u"xap-header\n{\nv=13\nhop=1\nuid=FF.000A:00\nclass=Homeseer.Event\n"
            "source=zel.Quilljot.HOST1\ntarget=a.b.c\n}\nEvent.Log\n{\nTime=t=1\n}\n"_qs;
        QCOMPARE(m.ToXap(), expected);
        QCOMPARE(m.ToXap(), expected);
        m.Init(QString());
        QCOMPARE(m.ToXap(), u"}\n"_qs);
    }

    void compareAddress_data() {
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
        };
        for (const auto& row : rows) {
            const QString a = QString::fromUtf16(row.a);
            const QString b = QString::fromUtf16(row.b);
            QTest::newRow(qPrintable(a + u" ~ " + b)) << a << b << row.r;
        }
    }
    void compareAddress() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, result);
        MemoryReporting r;
        XapMessage m(r);
        QCOMPARE(m.CompareAddress(a, b), result);
    }

    void comparesClassSourceTarget() {
        MemoryReporting r;
        XapMessage m(r);
        m.FromXap(kEvent);
        QVERIFY(m.CompareClass(u"HOMESEER.EVENT"_qs));
        QVERIFY(!m.CompareClass(u"Homeseer.*"_qs));
        QVERIFY(m.CompareTarget(u"unknown"_qs));
        QVERIFY(m.CompareTarget(u"UNKNOWN"_qs));
        QVERIFY(!m.CompareTarget(u"zel.Quilljot.host"_qs));
        QVERIFY(m.CompareSource(u"zel.*.HOST"_qs));
        QVERIFY(!m.CompareSource(u"zel.hs"_qs));
    }
};

QTEST_GUILESS_MAIN(MessageTest)
#include "tst_message.moc"
