#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUdpSocket>
#include <QtTest>

#include "PostgresServer.h"
#include "RecordingSender.h"
#include "SqliteRows.h"
#include "logger/EventWriter.h"
#include "logger/Frontend.h"
#include "logger/Logger.h"
#include "logger/MessageHandler.h"
#include "logger/MessageWriter.h"
#include "logger/Retention.h"
#include "message/XapMessage.h"
#include "report/Reporter.h"
#include "store/Store.h"
#include "support/IniFile.h"
#include "support/OutgoingQueue.h"

namespace {

const QString kOwn = u"zel.Quilljot.HOST1"_qs;
const QDateTime kNow(QDate(2026, 12, 5), QTime(8, 30, 0));

QString eventText(const QString& items, const QString& cls = u"Homeseer.Event"_qs,
                  const QString& source = u"zel.hs.pc"_qs) {
    return u"xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass="_qs + cls + u"\nsource="_qs + source +
           u"\n}\nEvent.Log\n{\n"_qs + items + u"}\n"_qs;
}

QString query(const QString& cls, const QString& block, const QString& item,
              const QString& target = QString()) {
    QString t = u"xap-header\n{\nv=12\nhop=1\nuid=FF000100\nclass="_qs + cls +
                u"\nsource=acme.asker.box\n"_qs;
    if (!target.isEmpty()) {
        t += u"target="_qs + target + u'\n';
    }
    return t + u"}\n"_qs + block + u"\n{\n"_qs + item + u"}\n"_qs;
}

// A device status message: a light's state.
QString bsc(const QString& cls, const QString& source, const QString& target = QString()) {
    return u"xap-header\n{\nv=12\nhop=1\nuid=FF123401\nclass="_qs + cls + u"\nsource="_qs + source +
           (target.isEmpty() ? QString() : u"\ntarget="_qs + target) +
           u"\n}\noutput.state.1\n{\nstate=on\nlevel=80%\n}\n"_qs;
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
        rules.include = {*RuleSettings::parseRule(u"xAPBSC.event"_qs)};
        handler.setRules(LogRules(rules));
    }
    MemoryReporter reporter;
    OutgoingQueue outgoing{reporter};
    EventWriter writer;
    MessageWriter messages;
    MessageHandler handler;
};

QList<QStringList> rows(const QString& path, const QString& table) {
    return sqliteRows(
        path, u"SELECT SampleDate, Source, Category, Data FROM "_qs + table + u" ORDER BY ID"_qs);
}

}  // namespace

class LoggerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QUdpSocket> m_network;  // where the logger's datagrams go
    Frontend m_noWindows;
    std::unique_ptr<Logger> m_logger;

    QString defaultDb() const { return m_dir->path() + u"/Data/xapzelQuilljot.mdb"_qs; }
    void setting(const QString& key, const QString& value) {
        const QString path = m_dir->path() + u"/Config/zelXapQuilljot.ini"_qs;
        IniFile ini = IniFile::load(path).value();
        ini.write(u"Quilljot"_qs, key, value);
        QVERIFY(ini.save());
    }
    // The event reports the logger sent, as "type: data".
    QStringList reports() {
        QStringList out;
        while (m_network->hasPendingDatagrams()) {
            QByteArray d(m_network->pendingDatagramSize(), '\0');
            m_network->readDatagram(d.data(), d.size());
            const QString text = QString::fromUtf8(d);
            if (text.startsWith(u"xap-header"_qs) && text.contains(u"Event.Log"_qs)) {
                out.append(text.section(u"\nData="_qs, 1).section(u'\n', 0, 0));
            }
        }
        return out;
    }
    void startLogger() {
        Logger::Options o;
        o.place.appDir = m_dir->path();
        o.place.programFile = u"/opt/quilljot/bin/quilljot"_qs;
        o.place.hostName = [] { return u"HOST1"_qs; };
        o.network = std::make_unique<FixedHostNetwork>(QStringList{u"127.0.0.1"_qs});
        o.xapPort = m_network->localPort();
        o.clock = [] { return kNow; };
        m_logger = std::make_unique<Logger>(m_noWindows, std::move(o));
        QVERIFY(m_logger->start());
    }
    // The reports after the start report.
    QStringList reportsAfterStart() {
        QStringList said;
        QElapsedTimer waited;
        waited.start();
        while (said.size() < 2 && waited.elapsed() < 2000) {
            m_network->waitForReadyRead(100);
            said += reports();
        }
        return said.mid(1);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_dir->path() + u"/Config"_qs);
        QFile shared(m_dir->path() + u"/Config/zelXap.ini"_qs);
        QVERIFY(shared.open(QIODevice::WriteOnly));
        shared.write("[Interface]\r\nBroadcastAddress=127.0.0.1\r\n");
        shared.close();
        m_network = std::make_unique<QUdpSocket>();
        QVERIFY(m_network->bind(QHostAddress(QHostAddress::LocalHost), 0));
    }
    void cleanup() {
        m_logger.reset();
        m_network.reset();
        m_dir.reset();
    }

    // Controller events in every time form become rows; the rest of the traffic does not.
    void eventsBecomeRows() {
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, defaultDb(), u"t"_qs}).open);
        MemoryReporter reporter;
        OutgoingQueue outgoing(reporter);
        EventWriter writer(store, reporter, [] { return kNow; });
        QList<LogEvent> logged;
        MessageHandler handler(storeIn(writer, nullptr, &logged), outgoing, reporter,
                               [] { return kNow; });
        handler.handle(eventText(u"Time=2026-12-04 23:13:09\nType=O'Neil\nData=say \"hi\"\n"_qs));
        handler.handle(eventText(u"Time=12/4/2026 11:14:00 PM\n"_qs, u"HOMESEER.EVENT"_qs));
        handler.handle(eventText(u"Time=not a date\nType=t\nData=d\n"_qs));
        handler.handle(eventText(u"Type=no time\n"_qs));
        handler.handle(u"xap-header\n{\nclass=Homeseer.Event\n}\nOther\n{\nTime=1\n}\n"_qs);
        handler.handle(eventText(u"Time=2026-12-04\nType=midnight\n"_qs));
        // A malformed text is said in the text log; what was read before the fault still counts.
        handler.handle(eventText(u"Time=2026-12-04 10:00:00\nType=a\nType=b\n"_qs));
        // An event without a time is logged with its arrival, and said once per source.
        handler.handle(eventText(u"Type=no time again\n"_qs));
        QCOMPARE(reporter.entries.size(), 2);
        QVERIFY(reporter.entries[0].second.startsWith(u"Event without Time from zel.hs.pc"_qs));
        QCOMPARE(reporter.entries[1].text, u"From XAP  6 Duplicate item name: type"_qs);
        // CR LF line ends are read as LF ones.
        handler.handle(
            eventText(u"Time=2026-12-04 11:00:00\nType=crlf\n"_qs).replace(u"\n"_qs, u"\r\n"_qs));
        // A text cut off inside its block is no row, and is said once per source.
        const QString whole = eventText(u"Time=2026-12-04 12:00:00\nType=t\nData=long\n"_qs);
        const QString cut = whole.first(whole.indexOf(u"=long"_qs) + 3);
        handler.handle(cut);
        handler.handle(cut);
        handler.handle(QString(cut).replace(u"zel.hs.pc"_qs, u"zel.hs.other"_qs));
        QCOMPARE(reporter.entries.size(), 4);
        QVERIFY(!reporter.entries[2].textLog);
        QVERIFY2(reporter.entries[2].text.startsWith(
                     u"Readmessage Line 5 A message from zel.hs.pc ends inside a block"_qs),
                 qPrintable(reporter.entries[2].text));
        QVERIFY(reporter.entries[3].text.contains(u"zel.hs.other"_qs));

        const auto r = rows(defaultDb(), u"t"_qs);
        QCOMPARE(r.size(), 8);
        QCOMPARE(r[7][2], u"crlf"_qs);
        QCOMPARE(r[0], QStringList({u"2026-12-04 23:13:09"_qs, u"zel.hs.pc"_qs, u"O'Neil"_qs,
                                    u"say 'hi'"_qs}));
        QCOMPARE(r[1], QStringList({u"2026-12-04 23:14:00"_qs, u"zel.hs.pc"_qs, u"Unknown"_qs,
                                    u"Unknown"_qs}));
        QCOMPARE(r[2][0], u"2026-12-05 08:30:00"_qs);  // the moment of arrival
        QCOMPARE(r[3], QStringList({u"2026-12-05 08:30:00"_qs, u"zel.hs.pc"_qs, u"no time"_qs,
                                    u"Unknown"_qs}));
        QCOMPARE(r[4][0], u"2026-12-04 00:00:00"_qs);
        QCOMPARE(r[5][2], u"a"_qs);
        QCOMPARE(logged.size(), 8);
        QCOMPARE(logged[0].data,
                 u"say \"hi\""_qs);  // the echo shows it as sent
        QCOMPARE(handler.tally().messages, 12u);
        QCOMPARE(handler.tally().events, 8u);
        QCOMPARE(writer.tally().written, 8u);
    }

    // Messages × rules → table. Rule lines are "class [source [target]]" with xAP wildcards.
    void rulesChooseTheTable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("include");
        QTest::addColumn<QStringList>("exclude");
        QTest::addColumn<bool>("excludeOwn");
        QTest::addColumn<int>("table");  // LogRules::Destination
        const int events = int(LogRules::Destination::Events);
        const int messages = int(LogRules::Destination::Messages);
        const int none = int(LogRules::Destination::None);
        const QString event = eventText(u"Time=2026-12-04 10:00:00\n"_qs);
        const QString own = eventText(u"Time=2026-12-04 10:00:00\n"_qs, u"Homeseer.Event"_qs, kOwn);
        const QString light = bsc(u"xAPBSC.event"_qs, u"acme.lights.kitchen:ceiling"_qs);
        const QString info = bsc(u"xAPBSC.info"_qs, u"acme.lights.hall"_qs, u"zel.hs.pc"_qs);
        const QString beat =
            u"xap-hbeat\n{\nv=12\nhop=1\nuid=FF1\nclass=xap-hbeat.alive\n"
            "source=acme.lights.kitchen\ninterval=60\n}\n"_qs;
        const QStringList no;
        QTest::newRow("no rules: events only") << event << no << no << false << events;
        QTest::newRow("no rules: status not logged") << light << no << no << false << none;
        QTest::newRow("own report kept by default") << own << no << no << false << events;
        QTest::newRow("own report excluded") << own << no << no << true << none;
        QTest::newRow("class include")
            << light << QStringList{u"xAPBSC.event"_qs} << no << false << messages;
        QTest::newRow("class wildcard")
            << info << QStringList{u"xapbsc.*"_qs} << no << false << messages;
        QTest::newRow("other class") << beat << QStringList{u"xAPBSC.>"_qs} << no << false << none;
        QTest::newRow("everything") << beat << QStringList{u">"_qs} << no << false << messages;
        QTest::newRow("source wildcard")
            << light << QStringList{u"> acme.lights.*"_qs} << no << false << messages;
        QTest::newRow("source differs")
            << light << QStringList{u"> acme.heating.>"_qs} << no << false << none;
        QTest::newRow("target given")
            << info << QStringList{u"> > zel.>"_qs} << no << false << messages;
        QTest::newRow("no target to match")
            << light << QStringList{u"> > zel.>"_qs} << no << false << none;
        QTest::newRow("exclude wins")
            << light << QStringList{u"xAPBSC.>"_qs} << QStringList{u"> acme.*.kitchen:ceiling"_qs}
            << false << none;
        QTest::newRow("exclude elsewhere")
            << info << QStringList{u"xAPBSC.>"_qs} << QStringList{u"> acme.*.kitchen:ceiling"_qs}
            << false << messages;
        QTest::newRow("exclude an event source")
            << event << no << QStringList{u"Homeseer.Event zel.hs.*"_qs} << false << none;
    }
    void rulesChooseTheTable() {
        QFETCH(QString, text);
        QFETCH(QStringList, include);
        QFETCH(QStringList, exclude);
        QFETCH(bool, excludeOwn);
        QFETCH(int, table);
        StorageRules rules;
        rules.excludeOwnReports = excludeOwn;
        for (const QString& line : include) {
            rules.include.append(*RuleSettings::parseRule(line));
        }
        for (const QString& line : exclude) {
            rules.exclude.append(*RuleSettings::parseRule(line));
        }
        const XapMessage m = XapMessage::read(text);
        const bool event = m.isClass(u"Homeseer.Event");
        const bool own = m.source().compare(kOwn, Qt::CaseInsensitive) == 0;
        QCOMPARE(int(LogRules(rules).destination(m, event, own)), table);
    }

    // A light switched on, with xAPBSC.event included, is a row of the messages table, found by
    // its source; the event table does not see it, and an included message is still answered.
    void aSwitchedLightIsLoggedAsAMessage() {
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, defaultDb(), u"t"_qs}).create);
        LightLogging rig(store);
        auto& [reporter, outgoing, writer, messages, handler] = rig;
        const QString on = bsc(u"xAPBSC.event"_qs, u"acme.lights.kitchen:ceiling"_qs);
        handler.handle(on);
        handler.handle(bsc(u"xAPBSC.event"_qs, u"acme.lights.hall"_qs));
        handler.handle(bsc(u"xAPBSC.info"_qs, u"acme.lights.kitchen:ceiling"_qs));
        QList<StoredMessage> found;
        MessageQuery bySource;
        bySource.source = u"KITCHEN"_qs;
        QVERIFY(store.readMessages(bySource, [&](const StoredMessage& m) { found.append(m); }));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].message,
                 (LoggedMessage{u"2026-12-05 08:30:00"_qs, u"acme.lights.kitchen:ceiling"_qs,
                                QString(), u"xAPBSC.event"_qs, u"FF123401"_qs, on}));
        QVERIFY(rows(defaultDb(), u"t"_qs).isEmpty());
        QCOMPARE(messages.written(), 2u);
    }

    // While the database file is away (moved aside, a folder in its place) the messages the rules
    // log wait in their spool, and newer ones behind them; once it is back each reaches the table
    // once, in the order they came.
    void loggedMessagesWaitWhileTheDatabaseIsAway() {
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        const QString aside = defaultDb() + u".aside"_qs;
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, defaultDb(), u"t"_qs}).create);
        QVERIFY(QFile::rename(defaultDb(), aside));
        QVERIFY(QDir().mkpath(defaultDb()));
        LightLogging rig(store);
        auto& [reporter, outgoing, writer, messages, handler] = rig;
        messages.open(m_dir->path() + u"/Data/spool"_qs, 1 << 20);
        QList<LoggedMessage> sent;
        auto send = [&] {
            const QString source = u"acme.lights.l"_qs + QString::number(sent.size());
            const QString text = bsc(u"xAPBSC.event"_qs, source, u"acme.hub.x"_qs);
            sent.append({u"2026-12-05 08:30:00"_qs, source, u"acme.hub.x"_qs, u"xAPBSC.event"_qs,
                         u"FF123401"_qs, text});
            rig.handler.handle(text);
        };
        for (int i = 0; i < 3; ++i) {
            send();
        }
        QCOMPARE(messages.waiting(), 3);
        QCOMPARE(reporter.entries.size(), 1);
        QVERIFY2(reporter.entries[0].text.contains(u"kept in the spool"_qs),
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
    }

    // Each table keeps its own number of days; more old rows than one batch go in several.
    void retentionKeepsEachTableToItsDays() {
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        Store store;
        QVERIFY(!store.open(DatabaseSettings{DatabaseKind::File, {}, defaultDb(), u"t"_qs}).create);
        QVERIFY(store.beginBatch());
        for (int i = 0; i < Retention::kBatchRows * 2 + 10; ++i) {
            QVERIFY(store.insert(LogEvent{u"2026-11-04 08:29:59"_qs, u"old"_qs, {}, {}}));
        }
        for (const QString& time : {u"2026-11-05 08:30:00"_qs, u"2026-12-05 08:00:00"_qs}) {
            QVERIFY(store.insert(LogEvent{time, u"kept"_qs, {}, {}}));
            QVERIFY(store.insertMessage(LoggedMessage{time, u"a.b.c"_qs, {}, u"c.d"_qs, {}, {}}));
        }
        QVERIFY(store.insertMessage(LoggedMessage{u"2026-11-28 08:29:59"_qs, {}, {}, {}, {}, {}}));
        QVERIFY(store.endBatch());

        MemoryReporter reporter;
        Retention retention(store, reporter, [] { return kNow; });
        QSignalSpy purged(&retention, &Retention::purged);
        retention.start(Retention::Limits{30, 7});
        QVERIFY(purged.wait(10000));
        QCOMPARE(purged[0][0].toLongLong(), Retention::kBatchRows * 2 + 10 + 2);
        QVERIFY(reporter.entries.isEmpty());
        QStringList sources;
        for (const QStringList& row : rows(defaultDb(), u"t"_qs)) {
            sources.append(row[1]);
        }
        QCOMPARE(sources, (QStringList{u"kept"_qs, u"kept"_qs}));
        QList<StoredMessage> left;
        QVERIFY(store.readMessages({}, [&](const StoredMessage& m) { left.append(m); }));
        QCOMPARE(left.size(), 1);
        QCOMPARE(left[0].message.time, u"2026-12-05 08:00:00"_qs);
    }

    void queriesAreAnswered_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("reply");  // target, class, block, items as name=value
        QTest::newRow("echo unaddressed")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Query=PING\n"_qs)
            << QStringList{u"acme.asker.box"_qs, u"VOZ.Echo"_qs, u"Echo.Response"_qs,
                           u"Response=ping"_qs};
        QTest::newRow("echo addressed")
            << query(u"voz.echo"_qs, u"Echo.Query"_qs, u"Query=Hi\n"_qs, u"zel.quilljot.*"_qs)
            << QStringList{u"acme.asker.box"_qs, u"VOZ.Echo"_qs, u"Echo.Response"_qs,
                           u"Response=hi"_qs};
        QTest::newRow("echo elsewhere")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Query=PING\n"_qs, u"other.app.box"_qs)
            << QStringList{};
        QTest::newRow("echo without query")
            << query(u"VOZ.Echo"_qs, u"Echo.Query"_qs, u"Other=1\n"_qs) << QStringList{};
        const QString role = u"Role=Application|Path=/opt/quilljot/bin/quilljot|Form=SetupForm"_qs;
        QTest::newRow("role ANY") << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=ANY\n"_qs)
                                  << QStringList{QString(), u"Homeseer.Role"_qs,
                                                 u"Role.Notification"_qs, role};
        QTest::newRow("role application addressed")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=application\n"_qs, kOwn)
            << QStringList{QString(), u"Homeseer.Role"_qs, u"Role.Notification"_qs, role};
        QTest::newRow("role other")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=other\n"_qs) << QStringList{};
        QTest::newRow("role elsewhere")
            << query(u"Homeseer.Role"_qs, u"Role.Query"_qs, u"Role=any\n"_qs, u"a.b.c"_qs)
            << QStringList{};
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
        handler.setProgramFile(u"/opt/quilljot/bin/quilljot"_qs);
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
        QDir().mkpath(m_dir->path() + u"/Data"_qs);
        {
            auto db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"prep"_qs);
            db.setDatabaseName(defaultDb());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(
                q.exec(u"CREATE TABLE t (ID INTEGER PRIMARY KEY, SampleDate, Source, "
                       "Category, Data CHECK (Data <> 'bad'))"_qs));
            db.close();
        }
        QSqlDatabase::removeDatabase(u"prep"_qs);
        Store store;
        store.open(DatabaseSettings{DatabaseKind::File, {}, defaultDb(), u"t"_qs});
        MemoryReporter reporter;
        EventWriter writer(store, reporter, [] { return kNow; });
        const QString spool = m_dir->path() + u"/Data/spool"_qs;
        writer.open({spool, 1 << 20, spool + u"/rejected.jsonl"_qs});
        const LogEvent bad{u"2026-12-04 10:00:00"_qs, u"a.b.c"_qs, u"t"_qs, u"bad"_qs};
        QCOMPARE(writer.write(bad, true), EventWriter::Outcome::Rejected);
        QVERIFY(reporter.entries.isEmpty());
        QCOMPARE(writer.write(bad, false), EventWriter::Outcome::Rejected);
        QCOMPARE(reporter.entries.size(), 1);
        QVERIFY2(reporter.entries[0].text.startsWith(u"Readmessage Line 4 CHECK constraint"_qs),
                 qPrintable(reporter.entries[0].text));
        QVERIFY2(
            reporter.entries[0].text.endsWith(u"(kept in "_qs + spool + u"/rejected.jsonl)"_qs),
            qPrintable(reporter.entries[0].text));
        QFile rejected(spool + u"/rejected.jsonl"_qs);
        QVERIFY(rejected.open(QIODevice::ReadOnly));
        QCOMPARE(rejected.readAll().count('\n'), 2);
        QCOMPARE(writer.tally().rejected, 2u);
    }

    // PostgreSQL learns of a refused value only when the pass is sent: the pass is undone and
    // waits in the spool, and written from there the refused event alone is rejected; the
    // counts, the rejected file and the order come out as if it had been refused at once.
    void aPostgresPassWithARefusedEventIsWrittenAgainWithoutIt() {
        PostgresServer pg;
        if (!pg.start()) {
            if (PostgresServer::required()) {
                QFAIL(qPrintable(pg.missing));
            }
            QSKIP(qPrintable(pg.missing));
        }
        const DatabaseSettings settings = pg.settings(u"quilljot_writer"_qs, u"t"_qs);
        Store store;
        QVERIFY(!store.open(settings).open);
        {
            auto db = QSqlDatabase::addDatabase(u"QPSQL"_qs, u"prep"_qs);
            db.setHostName(pg.socketFolder);
            db.setPort(pg.port.toInt());
            db.setDatabaseName(u"quilljot_writer"_qs);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(u"ALTER TABLE t ADD CHECK (Data <> 'bad')"_qs));
            db.close();
        }
        QSqlDatabase::removeDatabase(u"prep"_qs);
        MemoryReporter reporter;
        EventWriter writer(store, reporter, [] { return kNow; });
        const QString spool = m_dir->path() + u"/Data/spool"_qs;
        writer.open({spool, 1 << 20, spool + u"/rejected.jsonl"_qs});
        // Long enough that the rows reach the server while the pass goes on.
        const QString padding(40000, u'.');
        const QStringList sent = {u"1"_qs + padding, u"bad"_qs, u"2"_qs + padding,
                                  u"3"_qs + padding};
        writer.beginPass();
        for (const QString& d : sent) {
            QCOMPARE(
                writer.write(LogEvent{u"2026-12-04 10:00:00"_qs, u"a.b.c"_qs, u"t"_qs, d}, false),
                EventWriter::Outcome::Written);
        }
        writer.endPass();
        QTRY_COMPARE_WITH_TIMEOUT(writer.waiting(), 0, 5000);
        const EventWriter::Tally t = writer.tally();
        QCOMPARE(t.written, 3u);
        QCOMPARE(t.rejected, 1u);
        QFile rejected(spool + u"/rejected.jsonl"_qs);
        QVERIFY(rejected.open(QIODevice::ReadOnly));
        const QByteArray kept = rejected.readAll();
        QCOMPARE(kept.count('\n'), 1);
        QVERIFY(kept.contains("\"bad\""));
        QStringList data;
        EventQuery oldestFirst;
        oldestFirst.order = EventQuery::Order::Ascending;
        QVERIFY(store.readEvents(oldestFirst,
                                 [&](const StoredEvent& r) { data.append(r.event.data); }));
        QCOMPARE(data, QStringList({sent[0], sent[2], sent[3]}));
    }

    // On PostgreSQL a pass streams its events in one COPY: a message the rules log in the middle
    // of the pass still reaches its table, and the events theirs.
    void aMessageAmongTheEventsOfAPostgresPassIsWritten() {
        PostgresServer pg;
        if (!pg.start()) {
            if (PostgresServer::required()) {
                QFAIL(qPrintable(pg.missing));
            }
            QSKIP(qPrintable(pg.missing));
        }
        Store store;
        QVERIFY(!store.open(pg.settings(u"quilljot_mixed"_qs, u"t"_qs)).open);
        LightLogging rig(store);
        auto& [reporter, outgoing, writer, messages, handler] = rig;
        writer.beginPass();
        messages.beginPass();
        handler.handle(eventText(u"Time=2026-12-04 10:00:00\nType=t\nData=one\n"_qs));
        handler.handle(bsc(u"xAPBSC.event"_qs, u"acme.lights.hall"_qs));
        handler.handle(eventText(u"Time=2026-12-04 10:00:01\nType=t\nData=two\n"_qs));
        writer.endPass();
        messages.endPass();
        QCOMPARE(messages.written(), 1u);
        QCOMPARE(messages.lost(), 0u);
        QStringList data;
        QVERIFY(store.readEvents({}, [&](const StoredEvent& r) { data.prepend(r.event.data); }));
        QCOMPARE(data, QStringList({u"one"_qs, u"two"_qs}));
        QList<StoredMessage> found;
        QVERIFY(store.readMessages({}, [&](const StoredMessage& m) { found.append(m); }));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].message.source, u"acme.lights.hall"_qs);
    }

    void settingsThatAreNotPlainNamesAreRefused() {
        setting(u"DatabaseTable"_qs, u"tblQuilljot (ID) SELECT 1; DROP TABLE x"_qs);
        startLogger();
        QVERIFY(m_logger->settings().database.table.isEmpty());
        const QStringList said = reportsAfterStart();
        QVERIFY2(said.value(0).startsWith(u"InitXap  Line 4 DatabaseTable must be a plain name"_qs),
                 qPrintable(said.join(u'|')));

        // Engine chooses over UseSQL.
        setting(u"UseSQL"_qs, u"False"_qs);
        setting(u"Engine"_qs, u"PostgreSQL"_qs);
        setting(u"Database"_qs, u"Home; DROP DATABASE postgres"_qs);
        m_logger->reloadSettings();
        QCOMPARE(m_logger->settings().database.kind, DatabaseKind::PostgreSql);
        QTRY_VERIFY(m_network->hasPendingDatagrams());
        const QStringList later = reports();
        QVERIFY2(!later.filter(u"Database must be a plain database name"_qs).isEmpty(),
                 qPrintable(later.join(u'|')));
    }

    // A reload switches to the database the settings now name, relative to the folder.
    void reloadSwitchesDatabases() {
        startLogger();
        QSignalSpy reloaded(m_logger.get(), &Logger::settingsReloaded);
        setting(u"Database"_qs, u"Logs/Home/events.mdb"_qs);  // relative to the folder
        setting(u"DatabaseTable"_qs, u"tblOther"_qs);
        m_logger->reloadSettings();
        QCOMPARE(reloaded.size(), 1);
        QTRY_VERIFY(QFileInfo::exists(m_dir->path() + u"/Logs/Home/events.mdb"_qs));
        QTRY_VERIFY(m_logger->databaseOpen());
        const QStringList problems = reports().filter(u" Line "_qs);  // the start report aside
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'|')));
    }
};

QTEST_GUILESS_MAIN(LoggerTest)
#include "tst_logger.moc"
