#include <QtTest>

#include "TestFiles.h"
#include "report/Reporter.h"
#include "settings/IniFile.h"
#include "settings/RuleSettings.h"
#include "settings/SettingsStore.h"
#include "settings/WebSettings.h"

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    MemoryReporter m_reports;

    QString cfg(const QString& name) const {
        return m_dir.path() + QStringLiteral("/Config/") + name;
    }
    QString loggerFile() const { return cfg(QStringLiteral("zelXapQuilljot.ini")); }
    SettingsStore store() { return SettingsStore(AppFolders(m_dir.path()), m_reports); }
    // Who may do what with a file, apart from the running user.
    static QFile::Permissions access(const QString& path) {
        return QFileInfo(path).permissions() &
               ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }
    QStringList reports() const {
        QStringList out;
        for (const auto& e : m_reports.entries) {
            out.append(e.text);
        }
        return out;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_reports.entries.clear();
    }

    // Missing files read as the defaults and make nothing; the first start writes every key,
    // each below a comment, for the owner only, and leaves a file that is there alone.
    void firstStartWritesEveryDefaultWithACommentOwnerOnly() {
        const SettingsStore s = store();
        QCOMPARE(s.load(s.defaults()).settings, s.defaults());
        QVERIFY(s.loadNetwork().problems.isEmpty());
        QVERIFY(!QFileInfo::exists(m_dir.path() + QStringLiteral("/Config")));
        QVERIFY(s.createIfMissing());
        const QByteArray first = readFile(loggerFile());
        QCOMPARE(access(loggerFile()), QFile::ReadOwner | QFile::WriteOwner);
        const SettingsStore::Loaded loaded = s.load(LoggerSettings{});
        QVERIFY(loaded.problems.isEmpty());
        QCOMPARE(loaded.settings, s.defaults());
        QVERIFY(m_reports.entries.isEmpty());
        // Each key stands on its own line below a comment on it.
        const QList<QByteArray> lines = first.split('\n');
        for (const char* key : {"Engine=", "UseSQL=", "SQLSource=", "Database=Data/",
                                "DatabaseTable=", "SpoolLimit=256", "WindowHeight="}) {
            const auto at = std::find_if(lines.begin(), lines.end(),
                                         [&](const QByteArray& l) { return l.startsWith(key); });
            QVERIFY2(at != lines.end() && at != lines.begin() && (at - 1)->startsWith("; "), key);
        }

        // A file that is there, even one that cannot be read, is never replaced.
        QVERIFY(writeFile(loggerFile(), "[Quilljot]\r\nDatabaseTable=tblMine\r\n"));
        QVERIFY(s.createIfMissing());
        QCOMPARE(readFile(loggerFile()), QByteArray("[Quilljot]\r\nDatabaseTable=tblMine\r\n"));
        QVERIFY(QFile::remove(loggerFile()));
        QVERIFY(QFile::link(cfg(QStringLiteral("nowhere")), loggerFile()));
        QVERIFY(s.createIfMissing());
        QVERIFY(!QFileInfo::exists(cfg(QStringLiteral("nowhere"))));
    }

    void savesChangeOnlyWhatChangedAndBackUpThePreviousFile() {
        const SettingsStore s = store();
        const QByteArray mine =
            "; my notes\n"
            "[Quilljot]\n"
            "# which table\n"
            "  DatabaseTable = tblMine\n"
            "\tsqlsource\t=\told\n"
            "Colour = blue\n"
            "no equal sign here\n"
            "\n"
            "[Other]\n"
            "x=1\n";
        QVERIFY(writeFile(loggerFile(), mine));
        QVERIFY(QFile::setPermissions(loggerFile(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ReadOther | QFile::ReadGroup));
        const SettingsStore::Loaded loaded = s.load(s.defaults());
        QCOMPARE(loaded.problems.size(), 1);  // Colour, which no setting reads
        QCOMPARE(loaded.settings.database.table, QStringLiteral("tblMine"));
        QCOMPARE(loaded.settings.database.sqlSource, QStringLiteral("old"));
        QCOMPARE(reports(),
                 QStringList{QStringLiteral(" Equal sign not found on line no equal sign here")});

        const DatabaseSettings db{DatabaseKind::SqlServer,
                                  QStringLiteral("db.local,1433; Password=x"),
                                  QStringLiteral("Events"), QStringLiteral("tblMine")};
        QVERIFY(s.saveDatabase(db, loaded.settings.database));
        QCOMPARE(readFile(loggerFile()), QByteArray("; my notes\n"
                                                    "[Quilljot]\n"
                                                    "# which table\n"
                                                    "  DatabaseTable = tblMine\n"
                                                    "\tsqlsource\t=\tdb.local,1433; Password=x\n"
                                                    "Colour = blue\n"
                                                    "Engine=sqlserver\n"
                                                    "UseSQL=True\n"
                                                    "Database=Events\n"
                                                    "no equal sign here\n"
                                                    "\n"
                                                    "[Other]\n"
                                                    "x=1\n"));
        QCOMPARE(readFile(loggerFile() + QStringLiteral("_bck")), mine);
        for (const QString& f : QStringList{loggerFile(), loggerFile() + QStringLiteral("_bck")}) {
            QCOMPARE(access(f), QFile::ReadOwner | QFile::WriteOwner);
        }
        QCOMPARE(reports().size(), 1);  // odd lines are said when read, not again on saving

        // A save that changes nothing keeps the backup of the last change.
        const QByteArray saved = readFile(loggerFile());
        QVERIFY(s.saveDatabase(db, db));
        QCOMPARE(readFile(loggerFile()), saved);
        QCOMPARE(readFile(loggerFile() + QStringLiteral("_bck")), mine);

        const EchoWindowSettings window{7200, 14400, QStringLiteral("zel.*"), QStringLiteral("Log"),
                                        QStringLiteral("a=b")};
        QVERIFY(s.saveEchoWindow(window));
        QCOMPARE(readFile(loggerFile() + QStringLiteral("_bck")), saved);
        QCOMPARE(s.load(s.defaults()).settings,
                 (LoggerSettings{db, window, SettingKeys::initialNumber(Setting::SpoolLimit), {}}));
    }

    // Changing one value (the web page sends only the table) leaves the other keys as their
    // author wrote them: an engine named in capitals, a path relative to the Data folder.
    void savingOneValueLeavesTheOthersAsWritten() {
        const QByteArray mine = "[Quilljot]\nEngine=FILE\nDatabase=mine.db\nDatabaseTable=tblOld\n";
        QVERIFY(writeFile(loggerFile(), mine));
        const SettingsStore s = store();
        const DatabaseSettings before = s.load(s.defaults()).settings.database;
        DatabaseSettings after = before;
        after.table = QStringLiteral("tblHome");
        QVERIFY(s.saveDatabase(after, before));
        QCOMPARE(readFile(loggerFile()),
                 QByteArray("[Quilljot]\nEngine=FILE\nDatabase=mine.db\nDatabaseTable=tblHome\n"));
    }

    // A file saved with a byte order mark (as Windows editors do) keeps its first section.
    void byteOrderMarkIsNoPartOfTheFirstSection() {
        QVERIFY(
            writeFile(cfg(QStringLiteral("bom.ini")), "\xEF\xBB\xBF[Quilljot]\r\nUseSQL=True\r\n"));
        QCOMPARE(IniFile::load(cfg(QStringLiteral("bom.ini")))
                     .value()
                     .read(QStringLiteral("Quilljot"), QStringLiteral("UseSQL"), QString()),
                 QStringLiteral("True"));
    }

    void badInputLoadsWhatIsWellFormed() {
        QByteArray bytes("[Quilljot]\r\nDatabaseTable=tblGood\r\n");
        bytes += QByteArray("\x00\x01\xff\xfe=nul\r\n", 10);
        bytes += QByteArray(1024 * 1024, 'x') + "\r\n";
        bytes += "\x89PNG\r\n\x1a\n";
        bytes += "SourceFilter=last";  // no line end
        QVERIFY(writeFile(loggerFile(), bytes));
        Result<IniFile> ini = IniFile::load(loggerFile());
        QVERIFY(ini);
        QCOMPARE(ini.value().read(QStringLiteral("quilljot"),
                                  QString::fromLatin1("\0\1\xff\xfe", 4), QString()),
                 QStringLiteral("nul"));

        const SettingsStore::Loaded loaded = store().load(store().defaults());
        QCOMPARE(loaded.problems.size(), 1);  // the binary name, which is no setting
        QCOMPARE(loaded.settings.database.table, QStringLiteral("tblGood"));
        QCOMPARE(loaded.settings.echoWindow.sourceFilter, QStringLiteral("last"));
        const QStringList r = reports();
        QCOMPARE(r.size(), 3);
        QCOMPARE(r[0].size(), 30 + IniFile::kMaxQuotedLine + 3);
        QVERIFY(r[1].contains(QStringLiteral("PNG")));
        QCOMPARE(m_reports.entries[0].first, QStringLiteral("IniTool"));
        QVERIFY(!m_reports.entries[0].textLog);
    }

    void failedSaveLeavesBothFilesAndReports() {
        QVERIFY(writeFile(loggerFile(), "[Quilljot]\r\nk=1\r\n"));
        QDir().mkpath(loggerFile() +
                      QStringLiteral("_bck"));  // a folder where the backup file should be
        QVERIFY(writeFile(loggerFile() + QStringLiteral("_bck/keep"), "x"));
        const Status saved = store().saveEchoWindow(EchoWindowSettings{});
        QVERIFY(!saved);
        QCOMPARE(saved.problem().step, 2);
        QCOMPARE(readFile(loggerFile()), QByteArray("[Quilljot]\r\nk=1\r\n"));
        QVERIFY(QFileInfo::exists(loggerFile() + QStringLiteral("_bck/keep")));
        QCOMPARE(reports().size(), 1);
        QVERIFY(reports()[0].startsWith(QStringLiteral("IniTool Save ") + loggerFile() +
                                        QStringLiteral(" Line 2 ")));

        // Names too long for the file are refused before anything is touched.
        IniFile ini = IniFile::fromText(QString(), cfg(QStringLiteral("long.ini")));
        ini.write(QStringLiteral("s"), QString(66, u'k'), QStringLiteral("v"));
        QCOMPARE(ini.save().problem().step, 1);
        QVERIFY(!QFileInfo::exists(cfg(QStringLiteral("long.ini"))));
    }

    void unusableValuesKeepThePreviousOnes_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<int>("kind");  // DatabaseKind, as int
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("height");
        QTest::newRow("usable") << QByteArray("UseSQL=-1\r\nDatabase=Cat_1\r\nWindowHeight=80.6")
                                << QList<int>{} << int(DatabaseKind::SqlServer)
                                << QStringLiteral("Cat_1") << QStringLiteral("tblQuilljot") << 81;
        QTest::newRow("relative file")
            << QByteArray("UseSQL=false\r\nDatabase=db/q.mdb\r\nWindowHeight=tall") << QList<int>{}
            << int(DatabaseKind::File) << QStringLiteral("@/db/q.mdb")
            << QStringLiteral("tblQuilljot") << 0;
        QTest::newRow("UseSQL not a boolean")
            << QByteArray("UseSQL=yes\r\nDatabase=/q.mdb") << QList<int>{1}
            << int(DatabaseKind::File) << QStringLiteral("/q.mdb") << QStringLiteral("tblQuilljot")
            << 5000;
        QTest::newRow("catalog not plain")
            << QByteArray("UseSQL=True\r\nDatabase=x]; DROP TABLE t--\r\nDatabaseTable=tblY")
            << QList<int>{3} << int(DatabaseKind::SqlServer) << QStringLiteral("prev")
            << QStringLiteral("tblY") << 5000;
        QTest::newRow("Engine over UseSQL, database not plain")
            << QByteArray("UseSQL=False\r\nEngine=PostgreSQL\r\nDatabase=Home; DROP DATABASE x")
            << QList<int>{3} << int(DatabaseKind::PostgreSql) << QStringLiteral("prev")
            << QStringLiteral("tblQuilljot") << 5000;
        QTest::newRow("table not plain")
            << QByteArray("DatabaseTable=1tbl") << QList<int>{4} << int(DatabaseKind::File)
            << QStringLiteral("@/Data/xapzelQuilljot.mdb") << QStringLiteral("prevT") << 5000;
        QTest::newRow("table too long")
            << (QByteArray("DatabaseTable=t") + QByteArray(128, 'x')) << QList<int>{4}
            << int(DatabaseKind::File) << QStringLiteral("@/Data/xapzelQuilljot.mdb")
            << QStringLiteral("prevT") << 5000;
    }
    void unusableValuesKeepThePreviousOnes() {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, steps);
        QFETCH(int, kind);
        QFETCH(QString, database);
        QFETCH(QString, table);
        QFETCH(int, height);
        QVERIFY(writeFile(loggerFile(), "[Quilljot]\r\n" + text + "\r\n"));
        LoggerSettings previous;
        previous.database = DatabaseSettings{DatabaseKind::File, QString(), QStringLiteral("prev"),
                                             QStringLiteral("prevT")};
        const SettingsStore::Loaded loaded = store().load(previous);
        QList<int> got;
        for (const Problem& p : loaded.problems) {
            QCOMPARE(p.kind, ErrorKind::Settings);
            got.append(p.step);
        }
        QCOMPARE(got, steps);
        const DatabaseSettings& d = loaded.settings.database;
        QCOMPARE(int(d.kind), kind);
        QCOMPARE(d.database, QString(database).replace(QStringLiteral("@"), m_dir.path()));
        QCOMPARE(d.table, table);
        QCOMPARE(loaded.settings.echoWindow.heightTwips, height);
    }

    void unreadableFilesAreProblemsNotDefaults() {
        QDir().mkpath(loggerFile());
        QDir().mkpath(cfg(QStringLiteral("zelXap.ini")));
        const SettingsStore s = store();
        LoggerSettings previous;
        previous.database.table = QStringLiteral("tblKept");
        const SettingsStore::Loaded loaded = s.load(previous);
        QCOMPARE(loaded.problems.size(), 1);
        QCOMPARE(loaded.problems[0].step, 1);
        QCOMPARE(loaded.problems[0].kind, ErrorKind::FileSystem);
        QCOMPARE(loaded.settings, previous);
        QVERIFY(!s.saveDatabase(DatabaseSettings{}, previous.database));
        QVERIFY(QFileInfo(loggerFile()).isDir());
        const SettingsStore::LoadedNetwork net = s.loadNetwork();
        QCOMPARE(net.problems.size(), 1);
        QCOMPARE(net.problems[0].step, 9);
        QCOMPARE(net.settings.interfaceAddress, QStringLiteral("Default"));

        // A link to no file is not taken for a missing file.
        QVERIFY(QFile::link(cfg(QStringLiteral("nowhere")), cfg(QStringLiteral("dangling.ini"))));
        QVERIFY(!IniFile::load(cfg(QStringLiteral("dangling.ini"))));
    }

    // Rule lines in the order of their numbers, "class [source [target]]" with a lone ">" for
    // any; values that cannot be read keep their defaults and are named, and a save reads back
    // the same.
    void storageRulesReadAndWrite() {
        IniFile ini =
            IniFile::fromText(QStringLiteral("[Quilljot]\nKeepDays=30\nMessagesKeepDays=-1\n"
                                             "MessagesTable=bad name\n[Rules]\nInclude10=a.b\n"
                                             "Include2=xAPBSC.>   acme.*.x  >\nInclude3=\n"
                                             "Exclude1=> > zel.>\nExclude2=a b c d\n"
                                             "ExcludeOwnReports=yes\n"),
                              cfg(QStringLiteral("rules.ini")));
        const RuleSettings::Loaded loaded = RuleSettings::read(ini);
        const StorageRules& r = loaded.rules;
        QCOMPARE(r.eventKeepDays, 30);
        QCOMPARE(r.messageKeepDays, 0);
        QCOMPARE(r.messagesTable, QStringLiteral("tblQuilljotMessages"));
        QCOMPARE(r.include,
                 (QList<MessageRule>{{QStringLiteral("xAPBSC.>"), QStringLiteral("acme.*.x"), {}},
                                     {QStringLiteral("a.b"), {}, {}}}));
        QCOMPARE(r.exclude, (QList<MessageRule>{{{}, {}, QStringLiteral("zel.>")}}));
        QVERIFY(!r.excludeOwnReports);
        QCOMPARE(loaded.problems.size(), 4);  // MessagesKeepDays, MessagesTable, Exclude2, own

        StorageRules changed = r;
        changed.include.removeLast();
        changed.excludeOwnReports = true;
        RuleSettings::write(ini, changed);
        QVERIFY(ini.save());
        const RuleSettings::Loaded again = RuleSettings::read(IniFile::load(ini.path()).value());
        QCOMPARE(again.rules, changed);
        QVERIFY(again.problems.isEmpty());
    }

    // A key no setting reads is named with the known key nearest to it, or with the section a
    // key of its name belongs in; the sections of other programs are theirs.
    void unknownKeysAreNamedWithTheNearestKnownOne() {
        QVERIFY(writeFile(loggerFile(),
                          "[Quilljot]\nDatabse=x.db\nkeepdays=3\nInclude1=a\n[Rules]\n"
                          "Include12=a\nexclude3=b\nExcludeOwnReport=True\n[Mine]\nFoo=1\n"));
        const SettingsStore::Loaded loaded = store().load(store().defaults());
        QStringList said;
        for (const Problem& p : loaded.problems) {
            said.append(p.description);
        }
        QCOMPARE(said,
                 (QStringList{
                     QStringLiteral("The setting Databse in section [Quilljot] is not one the "
                                    "logger knows; the nearest known setting is Database (in "
                                    "[Quilljot])"),
                     QStringLiteral("The setting Include1 in section [Quilljot] is not one the "
                                    "logger knows: Include1 belongs in section [Rules]"),
                     QStringLiteral("The setting ExcludeOwnReport in section [Rules] is not one "
                                    "the logger knows; the nearest known setting is "
                                    "ExcludeOwnReports (in [Rules])")}));
        QCOMPARE(loaded.settings.database.database, store().defaults().database.database);
        QCOMPARE(loaded.rules.eventKeepDays, 3);
        QCOMPARE(loaded.rules.include.size(), 1);
    }

    // A block pasted below the defaults a first start wrote, under the sections' names in other
    // letter cases: each key given twice counts the second time, and a save rewrites the line
    // that counts and leaves the other as it was. (How each is named, with both lines, is the
    // service test's keysGivenTwiceAreNamedAtCheckStartAndReload.)
    void keysGivenTwiceCountTheLastTime() {
        const SettingsStore s = store();
        QVERIFY(s.createIfMissing());
        QVERIFY(writeFile(loggerFile(), readFile(loggerFile()) +
                                            "\n[QUILLJOT]\nKeepDays=30\ndatabasetable=tblPasted\n"
                                            "[RULES]\nINCLUDE1=xAPBSC.event\n"));
        const SettingsStore::Loaded loaded = s.load(s.defaults());
        QCOMPARE(loaded.rules.eventKeepDays, 30);
        QCOMPARE(loaded.rules.include,
                 (QList<MessageRule>{{QStringLiteral("xAPBSC.event"), {}, {}}}));
        QCOMPARE(loaded.settings.database.table, QStringLiteral("tblPasted"));
        QCOMPARE(loaded.problems.size(), 3);

        DatabaseSettings table = loaded.settings.database;
        table.table = QStringLiteral("tblSaved");
        QVERIFY(s.saveDatabase(table, loaded.settings.database));
        const QByteArray saved = readFile(loggerFile());
        QVERIFY(saved.contains("\ndatabasetable=tblSaved\n"));
        QVERIFY(saved.contains("\nDatabaseTable=tblQuilljot\n"));
        QCOMPARE(s.load(s.defaults()).settings.database.table, QStringLiteral("tblSaved"));
    }

    // A new file has each section once, also after the program adds a key to it, and the
    // platform's line ends; a file that has others keeps them.
    void writtenFilesHaveOneSectionEachAndKeepTheirLineEnds() {
        const SettingsStore s = store();
        QVERIFY(s.createIfMissing());
        QVERIFY(WebSettingsFile::savePasswordHash(s.folders(), QStringLiteral("hash")));
        const QByteArray first = readFile(loggerFile());
        QCOMPARE(first.count("[Quilljot]"), 1);
        QCOMPARE(first.count("[Rules]"), 1);
        const QByteArray platform = IniFile::kPlatformLineEnd.toString().toLatin1();
        QVERIFY(first.contains(QByteArray("WebPasswordHash=hash" + platform)));
        QCOMPARE(first.count("\r\n"),
                 IniFile::kPlatformLineEnd.size() == 2 ? first.count('\n') : 0);

        for (const QByteArray& end : {QByteArray("\r\n"), QByteArray("\n")}) {
            QVERIFY(writeFile(loggerFile(), "[Quilljot]" + end + "DatabaseTable=tblMine" + end));
            QVERIFY(WebSettingsFile::savePasswordHash(s.folders(), QStringLiteral("h")));
            QCOMPARE(readFile(loggerFile()), "[Quilljot]" + end + "DatabaseTable=tblMine" + end +
                                                 "WebPasswordHash=h" + end);
        }
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
