#include <QtTest>

#include "RecordingSender.h"
#include "TestFiles.h"
#include "support/Hs.h"
#include "support/IniTool.h"
#include "support/XapGlobal.h"

class IniTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<XapGlobal> m_g;
    RecordingSender m_node;

    QString cfg(const QString& name) { return m_dir.path() + u"/Config/"_qs + name; }
    QStringList reports() {
        QStringList out;
        for (const auto& s : m_node.sent) {
            out.append(s[3].mid(s[3].indexOf(u"Data\1"_qs) + 5));
        }
        return out;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_g = std::make_unique<XapGlobal>();
        m_g->useAppPath(m_dir.path());
        m_node.sent.clear();
        m_g->setSender(&m_node);
        m_g->bXapReady = true;
    }

    void readingAMissingFileCreatesNothing() {
        QCOMPARE(m_g->hs().GetINISetting(u"Quilljot"_qs, u"UseSQL"_qs, u"0"_qs, u"a.ini"_qs),
                 u"0"_qs);
        QVERIFY(!QFileInfo::exists(m_dir.path() + u"/Config"_qs));
        QCOMPARE(m_g->hs().GetINISetting(u"G"_qs, u"K"_qs, u"d"_qs, QString()), u"d"_qs);
    }

    void firstWriteCreatesFileFoldersAndEmptyBackup() {
        m_g->hs().SaveIniSetting(u"Quilljot"_qs, u"UseSQL"_qs, u"True"_qs, u"q.ini"_qs);
        QCOMPARE(readFile(cfg(u"q.ini"_qs)), QByteArray("[QUILLJOT]\r\nUSESQL=True\r\n"));
        QVERIFY(QFileInfo::exists(cfg(u"q.ini_bck"_qs)));
        QCOMPARE(readFile(cfg(u"q.ini_bck"_qs)), QByteArray());
        m_g->hs().SaveIniSetting(u"quilljot"_qs, u"Database"_qs, u"x"_qs, u"q.ini"_qs);
        QCOMPARE(readFile(cfg(u"q.ini_bck"_qs)), QByteArray("[QUILLJOT]\r\nUSESQL=True\r\n"));
        QCOMPARE(readFile(cfg(u"q.ini"_qs)),
                 QByteArray("[QUILLJOT]\r\nDATABASE=x\r\nUSESQL=True\r\n"));
    }

    void roundTripKeepsTheFormat() {
        QVERIFY(writeFile(cfg(u"s.ini"_qs),
                          "top=first\r\n"
                          "; comment\r\n"
                          "  [Quilljot]  \r\n"
                          "UseSQL=-1\r\n"
                          "useSQL=ignored\r\n"
                          "Eq=a=b\n"
                          " spaced = v \r\n"
                          "Empty=\r\n"
                          "[ Spaced Header ]\r\n"
                          "k=1\r\n"
                          "[QUILLJOT]\r\n"
                          "Zed=z\r\n"
                          "[Alpha]\r\n"
                          "b=2\r\n"
                          "a=1"));
        Hs& hs = m_g->hs();
        QCOMPARE(hs.GetINISetting(u"QUILLJOT"_qs, u"usesql"_qs, u"0"_qs, u"s.ini"_qs), u"-1"_qs);
        QCOMPARE(hs.GetINISetting(u"quilljot"_qs, u"EQ"_qs, QString(), u"s.ini"_qs), u"a=b"_qs);
        QCOMPARE(hs.GetINISetting(u"quilljot"_qs, u"spaced"_qs, u"no"_qs, u"s.ini"_qs), u"no"_qs);
        QCOMPARE(hs.GetINISetting(u"quilljot"_qs, u"spaced "_qs, u"no"_qs, u"s.ini"_qs), u" v"_qs);
        QCOMPARE(hs.GetINISetting(u"quilljot"_qs, u"Empty"_qs, u"dflt"_qs, u"s.ini"_qs),
                 u"dflt"_qs);
        QCOMPARE(hs.GetINISetting(u"Spaced Header"_qs, u"k"_qs, u"no"_qs, u"s.ini"_qs), u"no"_qs);
        QCOMPARE(hs.GetINISetting(u" Spaced Header "_qs, u"k"_qs, u"no"_qs, u"s.ini"_qs), u"1"_qs);
        QCOMPARE(hs.GetINISetting(QString(), u"TOP"_qs, u"no"_qs, u"s.ini"_qs), u"first"_qs);
        QCOMPARE(hs.GetINISetting(u"Quilljot"_qs, u"zed"_qs, u"no"_qs, u"s.ini"_qs), u"z"_qs);

        hs.SaveIniSetting(u"Alpha"_qs, u"c"_qs, u"3"_qs, u"s.ini"_qs);
        QCOMPARE(readFile(cfg(u"s.ini"_qs)), QByteArray("TOP=first\r\n"
                                                        "[ SPACED HEADER ]\r\n"
                                                        "K=1\r\n"
                                                        "[ALPHA]\r\n"
                                                        "A=1\r\n"
                                                        "B=2\r\n"
                                                        "C=3\r\n"
                                                        "[QUILLJOT]\r\n"
                                                        "EMPTY=\r\n"
                                                        "EQ=a=b\r\n"
                                                        "SPACED = v\r\n"
                                                        "USESQL=-1\r\n"
                                                        "ZED=z\r\n"));
        QVERIFY(readFile(cfg(u"s.ini_bck"_qs)).startsWith("top=first\r\n; comment"));
        QVERIFY(m_node.sent.isEmpty());
    }

    void tableOperations() {
        IniTool ini(*m_g);
        ini.Load(cfg(u"t.ini"_qs));
        QVERIFY(QFileInfo::exists(cfg(u"t.ini"_qs)));
        ini.WriteKey(u"Quilljot"_qs, u"b"_qs, u"1"_qs);
        ini.WriteKey(u"QUILLJOT"_qs, u"a"_qs, u"2"_qs);
        ini.WriteKey(u"Lonely"_qs, u"x"_qs, u"3"_qs);
        ini.Remove(u"lonely"_qs, u"X"_qs);
        QCOMPARE(ini.Keys(u"quilljot"_qs), QStringList({u"B"_qs, u"A"_qs}));
        QCOMPARE(ini.Keys(u"Lonely"_qs), QStringList({QString()}));
        QCOMPARE(ini.Headers(), QStringList({u"Quilljot"_qs, u"Lonely"_qs}));
        ini.Save();
        QCOMPARE(readFile(cfg(u"t.ini"_qs)), QByteArray("[QUILLJOT]\r\nA=2\r\nB=1\r\n"));
    }

    void badInputLoadsWhatIsWellFormed() {
        QByteArray bytes("[G]\r\n#not a comment\r\ngood=1\r\n");
        bytes += QByteArray("\x00\x01\xff\xfe=nul\r\n", 10);
        bytes += QByteArray(1024 * 1024, 'x') + "\r\n";
        bytes += "\x89PNG\r\n\x1a\n";
        bytes += "last=2";  // no line end
        QVERIFY(writeFile(cfg(u"bad.ini"_qs), bytes));
        IniTool ini(*m_g);
        ini.Load(cfg(u"bad.ini"_qs));
        QCOMPARE(ini.Read(u"g"_qs, u"good"_qs, QString()), u"1"_qs);
        QCOMPARE(ini.Read(u"g"_qs, u"last"_qs, QString()), u"2"_qs);
        QCOMPARE(ini.Read(u"g"_qs, QString::fromLatin1("\0\1\xff\xfe", 4), QString()), u"nul"_qs);
        const QStringList r = reports();
        QCOMPARE(r.size(), 4);
        QCOMPARE(r[0], u" Equal sign not found on line #not a comment"_qs);
        QCOMPARE(r[1].size(), 30 + IniTool::kMaxQuotedLine + 3);
        QVERIFY(r[2].contains(u"PNG"_qs));
        QCOMPARE(m_node.sent[0][2], u"Event.Log"_qs);
        QVERIFY(m_node.sent[0][3].contains(u"Type\1IniTool"_qs));
    }

    void failedSaveLeavesBothFilesAndReports() {
        QVERIFY(writeFile(cfg(u"ro.ini"_qs), "[A]\r\nk=1\r\n"));
        QDir().mkpath(cfg(u"ro.ini_bck"_qs));  // a folder where the backup file should be
        QVERIFY(writeFile(cfg(u"ro.ini_bck/keep"_qs), "x"));
        m_g->hs().SaveIniSetting(u"A"_qs, u"k"_qs, u"2"_qs, u"ro.ini"_qs);
        QCOMPARE(readFile(cfg(u"ro.ini"_qs)), QByteArray("[A]\r\nk=1\r\n"));
        QVERIFY(QFileInfo::exists(cfg(u"ro.ini_bck/keep"_qs)));
        QCOMPARE(m_node.sent.size(), 1);
        QVERIFY(reports()[0].startsWith(u"IniTool Save "_qs + cfg(u"ro.ini"_qs) + u" Line 2 "_qs));
    }

    void installerRewritesDeclarations() {
        QVERIFY(writeFile(cfg(u"inst.ini"_qs),
                          "[Consts]\r\nMaxRows=500\r\nGreeting=\"hi\"\r\n"
                          "[Names]\r\nTitle= = \"Quilljot\"\r\n"
                          "[Arr]\r\nA=1 ' one\r\nB=2\r\n"
                          "[Nothing]\r\n"));
        const QString src = m_dir.path() + u"/module.bas"_qs;
        QVERIFY(writeFile(src,
                          "Option Explicit\r\n"
                          "Private Const MAXROWS = 10 ' old comment\r\n"
                          "  greeting = \"old\"\r\n"
                          "Title = \"x\"\r\n"
                          "Names = Array(\"q\")\r\n"
                          "Values = Array(9)\r\n"));
        IniTool ini(*m_g);
        ini.Load(cfg(u"inst.ini"_qs));
        const QString dated =
            QFileInfo(cfg(u"inst.ini"_qs)).lastModified().toString(u"yyyy-MM-dd HH:mm:ss"_qs);
        const QString marker = u"\t'Installed From .ini dated "_qs + dated;

        ini.InstallKeys(src, u"Consts"_qs);
        ini.InstallStrings(src, u"Names"_qs);
        ini.InstallArray(src, u"Arr"_qs, u"Names"_qs, u"Values"_qs);
        const QByteArray before = readFile(src);
        ini.InstallKeys(src, u"Nothing"_qs);
        QCOMPARE(readFile(src), before);

        QCOMPARE(QString::fromUtf8(readFile(src)),
                 u"Option Explicit\r\n"_qs
                 u"Private Const MAXROWS = 500"_qs +
                     marker +
                     u"\r\n"_qs
                     u"  greeting = \"hi\""_qs +
                     marker +
                     u"\r\n"_qs
                     u"Title = \"Quilljot\"\r\n"_qs
                     u"Names = Array(\"A\",\"B\")"_qs +
                     marker +
                     u"\r\n"_qs
                     u"Values = Array(1,2)"_qs +
                     marker + u"\r\n"_qs);

        const QStringList log = QString::fromUtf8(readFile(cfg(u"inst_IniLog.txt"_qs)))
                                    .split(u"\r\n"_qs, Qt::SkipEmptyParts);
        QCOMPARE(log.size(), 5);
        QCOMPARE(
            log[0],
            u"Run Date   /   Ini File   /   Date of Ini File    /   File Modified    /  Header Modified"_qs);
        const QStringList fields = log[1].split(u'\t');
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields.mid(1), QStringList({cfg(u"inst.ini"_qs), dated, src, u"Consts"_qs}));
    }

    void installerRefusesALineWithoutLineEnd() {
        QVERIFY(writeFile(cfg(u"c.ini"_qs), "[C]\r\nX=1\r\n"));
        const QString src = m_dir.path() + u"/m.bas"_qs;
        QVERIFY(writeFile(src, "Const X = 0"));
        IniTool ini(*m_g);
        ini.Load(cfg(u"c.ini"_qs));
        QVERIFY_THROWS_EXCEPTION(std::exception, ini.InstallConstant(src, u"X"_qs, u"5"_qs));
        QCOMPARE(readFile(src), QByteArray("Const X = 0"));
    }
};

QTEST_GUILESS_MAIN(IniTest)
#include "tst_ini.moc"
