#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include "LoopbackLogger.h"
#include "PostgresServer.h"
#include "RecordingSender.h"
#include "SqliteRows.h"
#include "intake/MessageHandler.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "message/XapMessage.h"
#include "record/EventWriter.h"
#include "record/MessageWriter.h"
#include "record/Retention.h"
#include "report/Reporter.h"
#include "status/QuietSources.h"
#include "status/RecentActivity.h"
#include "store/Store.h"
#include "support/OutgoingQueue.h"

namespace {

const QString kOwn = QStringLiteral("zel.Quilljot.HOST1");
const QDateTime kNow(QDate(2026, 12, 5), QTime(8, 30, 0));

QString eventText(const QString& items, const QString& cls = QStringLiteral("Homeseer.Event"),
                  const QString& source = QStringLiteral("zel.hs.pc")) {
    return QStringLiteral("xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=") + cls +
           QStringLiteral("\nsource=") + source + QStringLiteral("\n}\nEvent.Log\n{\n") + items +
           QStringLiteral("}\n");
}

QString query(const QString& cls, const QString& block, const QString& item,
              const QString& target = QString()) {
    QString t = QStringLiteral("xap-header\n{\nv=12\nhop=1\nuid=FF000100\nclass=") + cls +
                QStringLiteral("\nsource=acme.asker.box\n");
    if (!target.isEmpty()) {
        t += QStringLiteral("target=") + target + u'\n';
    }
    return t + QStringLiteral("}\n") + block + QStringLiteral("\n{\n") + item +
           QStringLiteral("}\n");
}

// A device status message: a light's state.
QString bsc(const QString& cls, const QString& source, const QString& target = QString()) {
    return QStringLiteral("xap-header\n{\nv=12\nhop=1\nuid=FF123401\nclass=") + cls +
           QStringLiteral("\nsource=") + source +
           (target.isEmpty() ? QString() : QStringLiteral("\ntarget=") + target) +
           QStringLiteral("\n}\noutput.state.1\n{\nstate=on\nlevel=80%\n}\n");
}

// What the recorder does with what the handler hands on: events to the event writer, messages
// to the message writer; each event handed on is also noted in `handedOn`.
MessageHandler::Sink storeIn(EventWriter& events, MessageWriter* messages,
                             QList<LogEvent>* handedOn = nullptr) {
    return [&events, messages, handedOn](ReceivedItem&& item) {
        if (const auto* e = std::get_if<LogEvent>(&item.what)) {
            events.write(*e, item.ownReport);
            if (handedOn != nullptr) {
                handedOn->append(*e);
            }
        } else if (messages != nullptr) {
            messages->write(std::get<LoggedMessage>(item.what));
        }
    };
}

// The receiving side of the logger over one store, with a rule that logs switched lights
// (xAPBSC.event) in the messages table.
struct LightLogging {
    explicit LightLogging(Store& store)
        : writer(store, reporter, [] { return kNow; }),
          messages(store, reporter),
          handler(storeIn(writer, &messages), outgoing, reporter, [] { return kNow; }) {
        StorageRules rules;
        rules.include = {*RuleSettings::parseRule(QStringLiteral("xAPBSC.event"))};
        handler.setRules(LogRules(rules));
    }
    MemoryReporter reporter;
    OutgoingQueue outgoing{reporter};
    EventWriter writer;
    MessageWriter messages;
    MessageHandler handler;
};

QList<QStringList> rows(const QString& path, const QString& table) {
    return sqliteRows(path, QStringLiteral("SELECT SampleDate, Source, Category, Data FROM ") +
                                table + QStringLiteral(" ORDER BY ID"));
}

}  // namespace

class LoggerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackLogger> m_place;
    Frontend m_noWindows;
    std::unique_ptr<Logger> m_logger;

    QString defaultDb() const {
        return m_place->dir.path() + QStringLiteral("/Data/xapzelQuilljot.mdb");
    }
    // The default database file, in its folder, with the table t.
    DatabaseSettings fileDatabase() const {
        QDir().mkpath(m_place->dir.path() + QStringLiteral("/Data"));
        return {DatabaseKind::File, {}, defaultDb(), QStringLiteral("t")};
    }
    void startLogger() {
        Logger::Options o = m_place->options();
        o.clock = [] { return kNow; };
        m_logger = std::make_unique<Logger>(m_noWindows, std::move(o));
        QVERIFY(m_logger->start());
    }

private slots:
    void init() {
        m_place = std::make_unique<LoopbackLogger>();
        QVERIFY(m_place->prepare());
    }
    void cleanup() {
        m_logger.reset();
        m_place.reset();
    }

    // Controller events in every time form become rows; the rest of the traffic does not.
    void eventsBecomeRows() {
        Store store;
        QVERIFY(!store.open(fileDatabase()).open);
        MemoryReporter reporter;
        OutgoingQueue outgoing(reporter);
        EventWriter writer(store, reporter, [] { return kNow; });
        QList<LogEvent> logged;
        MessageHandler handler(storeIn(writer, nullptr, &logged), outgoing, reporter,
                               [] { return kNow; });
        handler.handle(
            eventText(QStringLiteral("Time=2026-12-04 23:13:09\nType=O'Neil\nData=say \"hi\"\n")));
        handler.handle(eventText(QStringLiteral("Time=12/4/2026 11:14:00 PM\n"),
                                 QStringLiteral("HOMESEER.EVENT")));
        handler.handle(eventText(QStringLiteral("Time=not a date\nType=t\nData=d\n")));
        handler.handle(eventText(QStringLiteral("Type=no time\n")));
        handler.handle(
            QStringLiteral("xap-header\n{\nclass=Homeseer.Event\n}\nOther\n{\nTime=1\n}\n"));
        handler.handle(eventText(QStringLiteral("Time=2026-12-04\nType=midnight\n")));
        // A malformed text is said in the text log; what was read before the fault still counts.
        handler.handle(eventText(QStringLiteral("Time=2026-12-04 10:00:00\nType=a\nType=b\n")));
        // An event without a time is logged with its arrival, and said once per source.
        handler.handle(eventText(QStringLiteral("Type=no time again\n")));
        QCOMPARE(reporter.entries.size(), 2);
        QVERIFY(reporter.entries[0].second.startsWith(
            QStringLiteral("Event without Time from zel.hs.pc")));
        QCOMPARE(reporter.entries[1].text, QStringLiteral("From XAP  6 Duplicate item name: type"));
        // A text cut off inside its block is no row, and is said once per source.
        const QString whole =
            eventText(QStringLiteral("Time=2026-12-04 12:00:00\nType=t\nData=long\n"));
        const QString cut = whole.first(whole.indexOf(QStringLiteral("=long")) + 3);
        handler.handle(cut);
        handler.handle(cut);
        handler.handle(
            QString(cut).replace(QStringLiteral("zel.hs.pc"), QStringLiteral("zel.hs.other")));
        QCOMPARE(reporter.entries.size(), 4);
        QVERIFY(!reporter.entries[2].textLog);
        QVERIFY2(reporter.entries[2].text.startsWith(QStringLiteral(
                     "Readmessage Line 5 A message from zel.hs.pc ends inside a block")),
                 qPrintable(reporter.entries[2].text));
        QVERIFY(reporter.entries[3].text.contains(QStringLiteral("zel.hs.other")));

        // The first row's texts are tst_endtoend's logsEventsAndItsOwnStartReport.
        const auto r = rows(defaultDb(), QStringLiteral("t"));
        QCOMPARE(r.size(), 7);
        QCOMPARE(r[1],
                 QStringList({QStringLiteral("2026-12-04 23:14:00"), QStringLiteral("zel.hs.pc"),
                              QStringLiteral("Unknown"), QStringLiteral("Unknown")}));
        QCOMPARE(r[2][0], QStringLiteral("2026-12-05 08:30:00"));  // the moment of arrival
        QCOMPARE(r[3],
                 QStringList({QStringLiteral("2026-12-05 08:30:00"), QStringLiteral("zel.hs.pc"),
                              QStringLiteral("no time"), QStringLiteral("Unknown")}));
        QCOMPARE(r[4][0], QStringLiteral("2026-12-04 00:00:00"));
        QCOMPARE(r[5][2], QStringLiteral("a"));
        QCOMPARE(logged.size(), 7);
        QCOMPARE(logged[0].data,
                 QStringLiteral("say \"hi\""));  // the echo shows it as sent
        QCOMPARE(handler.tally().messages, 11u);
        QCOMPARE(handler.tally().events, 7u);
        QCOMPARE(writer.tally().written, 7u);
    }

    // Messages × rules → table. Rule lines are "class [source [target]]" with xAP wildcards.
    void rulesChooseTheTable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("include");  // a rule line, or none
        QTest::addColumn<QString>("exclude");
        QTest::addColumn<bool>("excludeOwn");
        QTest::addColumn<int>("table");  // LogRules::Destination
        const int events = int(LogRules::Destination::Events);
        const int messages = int(LogRules::Destination::Messages);
        const int none = int(LogRules::Destination::None);
        const QString event = eventText(QStringLiteral("Time=2026-12-04 10:00:00\n"));
        const QString own = eventText(QStringLiteral("Time=2026-12-04 10:00:00\n"),
                                      QStringLiteral("Homeseer.Event"), kOwn);
        const QString light =
            bsc(QStringLiteral("xAPBSC.event"), QStringLiteral("acme.lights.kitchen:ceiling"));
        const QString info = bsc(QStringLiteral("xAPBSC.info"), QStringLiteral("acme.lights.hall"),
                                 QStringLiteral("zel.hs.pc"));
        const QString beat = QStringLiteral(
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF1\nclass=xap-hbeat.alive\n"
            "source=acme.lights.kitchen\ninterval=60\n}\n");
        const QString no;
        QTest::newRow("no rules: events only") << event << no << no << false << events;
        QTest::newRow("no rules: status not logged") << light << no << no << false << none;
        QTest::newRow("own report kept by default") << own << no << no << false << events;
        QTest::newRow("own report excluded") << own << no << no << true << none;
        QTest::newRow("class include")
            << light << QStringLiteral("xAPBSC.event") << no << false << messages;
        QTest::newRow("class wildcard")
            << info << QStringLiteral("xapbsc.*") << no << false << messages;
        QTest::newRow("other class") << beat << QStringLiteral("xAPBSC.>") << no << false << none;
        QTest::newRow("everything") << beat << QStringLiteral(">") << no << false << messages;
        QTest::newRow("source wildcard")
            << light << QStringLiteral("> acme.lights.*") << no << false << messages;
        QTest::newRow("source differs")
            << light << QStringLiteral("> acme.heating.>") << no << false << none;
        QTest::newRow("target given")
            << info << QStringLiteral("> > zel.>") << no << false << messages;
        QTest::newRow("no target to match")
            << light << QStringLiteral("> > zel.>") << no << false << none;
        QTest::newRow("exclude wins")
            << light << QStringLiteral("xAPBSC.>") << QStringLiteral("> acme.*.kitchen:ceiling")
            << false << none;
        QTest::newRow("exclude elsewhere")
            << info << QStringLiteral("xAPBSC.>") << QStringLiteral("> acme.*.kitchen:ceiling")
            << false << messages;
        QTest::newRow("exclude an event source")
            << event << no << QStringLiteral("Homeseer.Event zel.hs.*") << false << none;
    }
    void rulesChooseTheTable() {
        QFETCH(QString, text);
        QFETCH(QString, include);
        QFETCH(QString, exclude);
        QFETCH(bool, excludeOwn);
        QFETCH(int, table);
        StorageRules rules;
        rules.excludeOwnReports = excludeOwn;
        if (!include.isEmpty()) {
            rules.include.append(*RuleSettings::parseRule(include));
        }
        if (!exclude.isEmpty()) {
            rules.exclude.append(*RuleSettings::parseRule(exclude));
        }
        const XapMessage m = XapMessage::read(text);
        const bool event = m.isClass(u"Homeseer.Event");
        const bool own = m.source().compare(kOwn, Qt::CaseInsensitive) == 0;
        QCOMPARE(int(LogRules(rules).destination(m, event, own)), table);
    }

    // A light switched, with xAPBSC.event included, is a row of the messages table, whole; the
    // event table does not see it, nor the messages table the classes no rule includes. While the
    // database file is away (moved aside, a folder in its place) such messages wait in their
    // spool, and newer ones behind them; once it is back each reaches the table once, in order.
    void switchedLightsAreLoggedAsMessagesAlsoWhileTheDatabaseIsAway() {
        const QString aside = defaultDb() + QStringLiteral(".aside");
        Store store;
        QVERIFY(!store.open(fileDatabase()).create);
        QVERIFY(QFile::rename(defaultDb(), aside));
        QVERIFY(QDir().mkpath(defaultDb()));
        LightLogging rig(store);
        auto& [reporter, outgoing, writer, messages, handler] = rig;
        messages.open(m_place->dir.path() + QStringLiteral("/Data/spool"), 1 << 20);
        QList<LoggedMessage> sent;
        // A reference of its own: a lambda cannot capture a structured binding before C++20's
        // rule reached every compiler the suite is built with.
        MessageHandler& handle = handler;
        auto send = [&] {
            const QString source = QStringLiteral("acme.lights.l") + QString::number(sent.size());
            const QString text =
                bsc(QStringLiteral("xAPBSC.event"), source, QStringLiteral("acme.hub.x"));
            sent.append({QStringLiteral("2026-12-05 08:30:00"), source,
                         QStringLiteral("acme.hub.x"), QStringLiteral("xAPBSC.event"),
                         QStringLiteral("FF123401"), text});
            handle.handle(text);
            handle.handle(bsc(QStringLiteral("xAPBSC.info"), source));
        };
        for (int i = 0; i < 3; ++i) {
            send();
        }
        QCOMPARE(messages.waiting(), 3);
        QCOMPARE(reporter.entries.size(), 1);
        QVERIFY2(reporter.entries[0].text.contains(QStringLiteral("kept in the spool")),
                 qPrintable(reporter.entries[0].text));

        QVERIFY(QDir(defaultDb()).removeRecursively());
        QVERIFY(QFile::rename(aside, defaultDb()));
        send();  // behind the waiting ones
        QTRY_COMPARE_WITH_TIMEOUT(messages.waiting(), 0, 5000);
        send();
        QList<LoggedMessage> stored;
        QVERIFY(store.readMessages({}, [&](const StoredMessage& m) { stored.append(m.message); }));
        QCOMPARE(stored, sent);
        QCOMPARE(messages.written(), 5u);
        QCOMPARE(messages.lost(), 0u);
        QVERIFY(rows(defaultDb(), QStringLiteral("t")).isEmpty());
    }

    void quietSourcesAreToldByTheirUsualSpacing() {
        constexpr qint64 kMinute = 60'000;
        QuietSources sources(10 * kMinute);
        const auto names = [&](qint64 now) {
            QStringList found;
            for (const QuietSources::Quiet& q : sources.quiet(now)) {
                found.append(q.source);
            }
            return found;
        };
        // Every five minutes, each time a burst of three events within half a second: the bursts
        // make no gaps, so its spacing is five minutes and it is quiet after 25.
        for (qint64 at = 0; at <= 15 * kMinute; at += 5 * kMinute) {
            sources.heard({QStringLiteral("acme.pir.hall")}, at);
            sources.heard({QStringLiteral("ACME.PIR.HALL"), QStringLiteral("acme.pir.hall")},
                          at + 500);
        }
        const qint64 last = 15 * kMinute + 500;
        const qint64 usual = 5 * kMinute - 500;
        const QStringList pir{QStringLiteral("acme.pir.hall")};
        QCOMPARE(names(last + 5 * usual), QStringList());
        QCOMPARE(names(last + 5 * usual + 1), pir);
        QCOMPARE(sources.quiet(last + 5 * usual + 1).first().usualGapMs, usual);
        // A week later it is forgotten.
        QCOMPARE(names(last + 7LL * 24 * 60 * kMinute + 1), QStringList());

        // A flood of made-up names pushes out names heard once, never a source with a spacing.
        for (int i = 0; i < QuietSources::kMaxSources * 3; ++i) {
            sources.heard({QStringLiteral("made.up.") + QString::number(i)}, 16 * kMinute);
        }
        QCOMPARE(names(60 * kMinute), pir);
        QCOMPARE(sources.lastHeardMs(), std::optional<qint64>(16 * kMinute));
    }

    // Each table keeps its own number of days; more old rows than one batch go in several.
    void retentionKeepsEachTableToItsDays() {
        Store store;
        QVERIFY(!store.open(fileDatabase()).create);
        QVERIFY(store.beginBatch());
        for (int i = 0; i < Retention::kBatchRows * 2 + 10; ++i) {
            QVERIFY(store.insert(
                LogEvent{QStringLiteral("2026-11-04 08:29:59"), QStringLiteral("old"), {}, {}}));
        }
        for (const QString& time :
             {QStringLiteral("2026-11-05 08:30:00"), QStringLiteral("2026-12-05 08:00:00")}) {
            QVERIFY(store.insert(LogEvent{time, QStringLiteral("kept"), {}, {}}));
            QVERIFY(store.insertMessage(
                LoggedMessage{time, QStringLiteral("a.b.c"), {}, QStringLiteral("c.d"), {}, {}}));
        }
        QVERIFY(store.insertMessage(
            LoggedMessage{QStringLiteral("2026-11-28 08:29:59"), {}, {}, {}, {}, {}}));
        QVERIFY(store.endBatch());

        MemoryReporter reporter;
        Retention retention(store, reporter, [] { return kNow; });
        QSignalSpy purged(&retention, &Retention::purged);
        retention.start(Retention::Limits{30, 7});
        QVERIFY(purged.wait(10000));
        QCOMPARE(purged[0][0].toLongLong(), Retention::kBatchRows * 2 + 10 + 2);
        QVERIFY(reporter.entries.isEmpty());
        QStringList sources;
        for (const QStringList& row : rows(defaultDb(), QStringLiteral("t"))) {
            sources.append(row[1]);
        }
        QCOMPARE(sources, (QStringList{QStringLiteral("kept"), QStringLiteral("kept")}));
        QList<StoredMessage> left;
        QVERIFY(store.readMessages({}, [&](const StoredMessage& m) { left.append(m); }));
        QCOMPARE(left.size(), 1);
        QCOMPARE(left[0].message.time, QStringLiteral("2026-12-05 08:00:00"));
    }

    void queriesAreAnswered_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("reply");  // target, class, block, items as name=value
        const auto echo = [](const char* cls, const char* item, const QString& target = {}) {
            return query(QString::fromLatin1(cls), QStringLiteral("Echo.Query"),
                         QString::fromLatin1(item), target);
        };
        const auto role = [](const char* item, const QString& target = {}) {
            return query(QStringLiteral("Homeseer.Role"), QStringLiteral("Role.Query"),
                         QString::fromLatin1(item), target);
        };
        const auto echoed = [](const char* response) {
            return QStringList{QStringLiteral("acme.asker.box"), QStringLiteral("VOZ.Echo"),
                               QStringLiteral("Echo.Response"), QString::fromLatin1(response)};
        };
        const QStringList roleNotice{
            QString(), QStringLiteral("Homeseer.Role"), QStringLiteral("Role.Notification"),
            QStringLiteral("Role=Application|Path=/opt/quilljot/bin/quilljot|Form=SetupForm")};
        QTest::newRow("echo unaddressed")
            << echo("VOZ.Echo", "Query=PING\n") << echoed("Response=ping");
        QTest::newRow("echo addressed")
            << echo("voz.echo", "Query=Hi\n", QStringLiteral("zel.quilljot.*"))
            << echoed("Response=hi");
        QTest::newRow("echo elsewhere")
            << echo("VOZ.Echo", "Query=PING\n", QStringLiteral("other.app.box")) << QStringList{};
        QTest::newRow("echo without query") << echo("VOZ.Echo", "Other=1\n") << QStringList{};
        QTest::newRow("role ANY") << role("Role=ANY\n") << roleNotice;
        QTest::newRow("role application addressed")
            << role("Role=application\n", kOwn) << roleNotice;
        QTest::newRow("role other") << role("Role=other\n") << QStringList{};
        QTest::newRow("role elsewhere")
            << role("Role=any\n", QStringLiteral("a.b.c")) << QStringList{};
    }
    void queriesAreAnswered() {
        QFETCH(QString, text);
        QFETCH(QStringList, reply);
        MemoryReporter reporter;
        OutgoingQueue outgoing(reporter);
        RecordingSender sender;
        outgoing.setSender(&sender);
        outgoing.setReady(true);
        MessageHandler handler([](ReceivedItem&&) {}, outgoing, reporter, [] { return kNow; });
        handler.setOwnSource(kOwn);
        handler.setProgramFile(QStringLiteral("/opt/quilljot/bin/quilljot"));
        handler.handle(text);
        if (reply.isEmpty()) {
            QVERIFY(sender.sent.isEmpty());
            return;
        }
        QCOMPARE(sender.sent.size(), 1);
        const OutgoingMessage& m = sender.sent[0];
        QCOMPARE((QStringList{m.target, m.className, m.block, XapText::itemsLine(m.items)}), reply);
    }

    // A value the database will not take is refused for good: reported (unless the event is the
    // logger's own report) and kept in the rejected file.
    void refusedEventsAreRejected() {
        sqliteRows(fileDatabase().database,
                   QStringLiteral("CREATE TABLE t (ID INTEGER PRIMARY KEY, SampleDate, "
                                  "Source, Category, Data CHECK (Data <> 'bad'))"));
        Store store;
        store.open(fileDatabase());
        MemoryReporter reporter;
        EventWriter writer(store, reporter, [] { return kNow; });
        const QString spool = m_place->dir.path() + QStringLiteral("/Data/spool");
        writer.open({spool, 1 << 20, spool + QStringLiteral("/rejected.jsonl")});
        const LogEvent bad{QStringLiteral("2026-12-04 10:00:00"), QStringLiteral("a.b.c"),
                           QStringLiteral("t"), QStringLiteral("bad")};
        QCOMPARE(writer.write(bad, true), EventWriter::Outcome::Rejected);
        QVERIFY(reporter.entries.isEmpty());
        QCOMPARE(writer.write(bad, false), EventWriter::Outcome::Rejected);
        QCOMPARE(reporter.entries.size(), 1);
        QVERIFY2(reporter.entries[0].text.startsWith(
                     QStringLiteral("Readmessage Line 4 CHECK constraint")),
                 qPrintable(reporter.entries[0].text));
        QVERIFY2(reporter.entries[0].text.endsWith(QStringLiteral("(kept in ") + spool +
                                                   QStringLiteral("/rejected.jsonl)")),
                 qPrintable(reporter.entries[0].text));
        QFile rejected(spool + QStringLiteral("/rejected.jsonl"));
        QVERIFY(rejected.open(QIODevice::ReadOnly));
        QCOMPARE(rejected.readAll().count('\n'), 2);
        QCOMPARE(writer.tally().rejected, 2u);
    }

    // On PostgreSQL a pass streams its events in one COPY: a message the rules log in the middle
    // of the pass still reaches its table, and the events theirs.
    void aMessageAmongTheEventsOfAPostgresPassIsWritten() {
        PostgresServer pg;
        START_POSTGRES(pg);
        Store store;
        QVERIFY(
            !store.open(pg.settings(QStringLiteral("quilljot_mixed"), QStringLiteral("t"))).open);
        LightLogging rig(store);
        auto& [reporter, outgoing, writer, messages, handler] = rig;
        writer.beginPass();
        messages.beginPass();
        handler.handle(eventText(QStringLiteral("Time=2026-12-04 10:00:00\nType=t\nData=one\n")));
        handler.handle(bsc(QStringLiteral("xAPBSC.event"), QStringLiteral("acme.lights.hall")));
        handler.handle(eventText(QStringLiteral("Time=2026-12-04 10:00:01\nType=t\nData=two\n")));
        writer.endPass();
        messages.endPass();
        QCOMPARE(messages.written(), 1u);
        QCOMPARE(messages.lost(), 0u);
        QStringList data;
        QVERIFY(store.readEvents({}, [&](const StoredEvent& r) { data.prepend(r.event.data); }));
        QCOMPARE(data, QStringList({QStringLiteral("one"), QStringLiteral("two")}));
        QList<StoredMessage> found;
        QVERIFY(store.readMessages({}, [&](const StoredMessage& m) { found.append(m); }));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].message.source, QStringLiteral("acme.lights.hall"));
    }

    // The last day by minute that the logger keeps in memory: read from the rows at start (on a
    // thread of its own, while events are logged), then counted as events are logged; the same
    // counts as the rows, and nothing for what it cannot answer.
    void recentActivityCountsAsTheRows() {
        const DatabaseSettings database{
            DatabaseKind::File, {}, defaultDb(), QStringLiteral("tblQuilljot")};
        QDir().mkpath(m_place->dir.path() + QStringLiteral("/Data"));
        {
            Store store;
            QVERIFY(!store.open(database).open);
            QVERIFY(store.beginBatch());
            // Before the day, its first minute, a busy minute, and ahead of the logger's clock.
            for (const char* time :
                 {"2026-12-04 08:29:59", "2026-12-04 08:30:00", "2026-12-05 07:00:01",
                  "2026-12-05 07:00:59", "2026-12-05 08:31:00"}) {
                QVERIFY(store.insert(LogEvent{QString::fromLatin1(time),
                                              QStringLiteral("a.b.c"),
                                              QStringLiteral("Log"),
                                              {}}));
            }
            QVERIFY(store.endBatch());
        }
        startLogger();
        ActivityQuery day;
        day.bucket = ActivityQuery::Bucket::Minute;
        day.from = QStringLiteral("2026-12-04 08:31:00");
        day.to = QStringLiteral("2026-12-05 08:32:00");
        Store reader;
        QVERIFY(reader.openForReading(database));
        const auto held = [&] {
            const std::optional<Result<ActivityChart>> chart = m_logger->recentActivity(day);
            return chart && *chart ? chart->value().buckets : QList<ActivityBucket>();
        };
        const auto counted = [&] { return reader.activity(day).value().buckets; };
        // Sent at once, so that they are logged while the rows are being counted, or after.
        QUdpSocket controller;
        for (const char* time : {"2026-12-05 07:00:30", "2026-12-05 08:31:59",
                                 "2026-12-05 06:59:59", "2026-12-01 00:00:00"}) {
            const QByteArray text =
                eventText(QStringLiteral("Time=%1\nType=t\n").arg(QLatin1String(time))).toUtf8();
            controller.writeDatagram(text, QHostAddress(QHostAddress::LocalHost),
                                     quint16(m_logger->node()->port()));
        }
        QTRY_COMPARE(held().value(22 * 60 + 29).count, 3);  // 07:00
        QTRY_COMPARE(reader.countEvents({}).value(), 9);
        QCOMPARE(held(), counted());
        QCOMPARE(held().value(24 * 60).count, 2);  // 08:31, ahead of the clock

        // A filter, a split, another bucket or an older range is for the database.
        QList<ActivityQuery> others(4, day);
        others[0].source = QStringLiteral("a");
        others[1].split = ActivityQuery::Split::Type;
        others[2].bucket = ActivityQuery::Bucket::Hour;
        others[3].from = QStringLiteral("2026-12-04 08:00:00");
        for (const ActivityQuery& other : others) {
            QVERIFY(!m_logger->recentActivity(other));
        }
    }

    // What is logged while the rows are counted is added to their counts, not replaced by them:
    // the recount reads the rows up to the key the recorder read when it began.
    void aRecountAddsToWhatWasLoggedMeanwhile() {
        const QDateTime now(QDate(2026, 12, 5), QTime(8, 30));
        RecentActivity recent([now] { return now; });
        const quint64 recount = recent.beginRecount();
        recent.add({LogEvent{QStringLiteral("2026-12-05 08:00:10"), {}, {}, {}},
                    LogEvent{QStringLiteral("2026-12-05 08:00:50"), {}, {}, {}}});
        ActivityChart counted;
        counted.buckets = {ActivityBucket{QStringLiteral("2026-12-04 08:30:00"), 0, {}},
                           ActivityBucket{QStringLiteral("2026-12-05 08:00:00"), 5, {}}};
        recent.finishRecount(recount, counted);
        ActivityQuery minute;
        minute.bucket = ActivityQuery::Bucket::Minute;
        minute.from = QStringLiteral("2026-12-05 08:00:00");
        minute.to = QStringLiteral("2026-12-05 08:01:00");
        const std::optional<Result<ActivityChart>> chart = recent.chart(minute);
        QVERIFY(chart && *chart);
        QCOMPARE(chart->value().buckets.value(0).count, 7);
    }
};

QTEST_GUILESS_MAIN(LoggerTest)
#include "tst_logger.moc"
