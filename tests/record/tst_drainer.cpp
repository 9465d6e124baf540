#include <QTemporaryDir>
#include <QtTest>

#include "record/Drainer.h"
#include "record/EventCodec.h"
#include "record/MessageCodec.h"
#include "report/Reporter.h"

namespace {

// A timer that fires only when the test says, on a clock that moves only when the test (or a
// slow attempt) moves it.
class FakeTimer : public DrainTimer {
public:
    void start(int ms) override { m_due = m_now + ms; }
    void stop() override { m_due.reset(); }
    bool isActive() const override { return m_due.has_value(); }
    qint64 nowMs() const override { return m_now; }

    void advance(qint64 ms) { m_now += ms; }
    std::optional<qint64> pause() const {
        return m_due ? std::optional<qint64>(*m_due - m_now) : std::nullopt;
    }
    // Waits for the next attempt and makes it.
    void fireNext() {
        QVERIFY(m_due);
        m_now = std::max(m_now, *m_due);
        m_due.reset();
        fire();
    }

private:
    qint64 m_now = 1000000;
    std::optional<qint64> m_due;
};

// A database of texts: away (every write fails as one that passes), refusing some values for
// good, or failing its commits; attempts can be made to take time.
struct FakeDatabase {
    FakeTimer* timer = nullptr;
    std::optional<QString> away;  // the cause it gives
    QStringList refused;
    bool commitFails = false;
    qint64 attemptCostMs = 0;
    QStringList rows;  // committed
    QStringList batch;
    bool inBatch = false;
    QStringList refusals;  // as the codec heard of them
    int runs = 0;          // runs asked for
};

struct FakeCodec {
    using Record = QString;
    static inline const DrainTexts* s_texts = &EventCodec::texts();

    FakeDatabase* db;

    static const DrainTexts& texts() { return *s_texts; }
    static QStringList toSpool(const QString& r) { return {r}; }
    static QString fromSpool(const QStringList& t) { return t.value(0); }

    Status insert(const QString& r) {
        if (db->away) {
            db->timer->advance(db->attemptCostMs);
            return Problem{ErrorKind::DatabaseUnavailable, *db->away};
        }
        if (db->refused.contains(r)) {
            return Problem{ErrorKind::Database, QStringLiteral("refused ") + r};
        }
        (db->inBatch ? db->batch : db->rows).append(r);
        return {};
    }
    // Stops at the first record not taken, as a database's run does.
    StoreProvider::RunWritten insertRun(std::span<const QString> run) {
        ++db->runs;
        StoreProvider::RunWritten written;
        for (const QString& r : run) {
            if (written.next = insert(r); !written.next) {
                break;
            }
            ++written.written;
        }
        return written;
    }
    Status beginBatch() {
        db->inBatch = true;
        return {};
    }
    Status endBatch() {
        db->inBatch = false;
        if (db->commitFails) {
            db->batch.clear();
            return Problem{ErrorKind::DatabaseUnavailable, QStringLiteral("commit failed")};
        }
        db->rows += std::exchange(db->batch, {});
        return {};
    }
    bool isOpen() const { return !db->away; }
    Status reopen() {
        if (db->away) {
            db->timer->advance(db->attemptCostMs);
            return Problem{ErrorKind::DatabaseUnavailable, *db->away};
        }
        return {};
    }
    void refuse(const QString& r, const Refusal& f) {
        db->refusals.append(r + (f.refusedSinceWrite ? QStringLiteral(" again") : QString()));
    }
};

// A drainer over the fake database, with its spool in a folder of its own.
struct Rig {
    explicit Rig(qint64 spoolLimit = 1 << 20, const QString& folder = QString()) {
        auto t = std::make_unique<FakeTimer>();
        timer = t.get();
        db.timer = timer;
        drainer = std::make_unique<Drainer<FakeCodec>>(FakeCodec{&db}, reporter, std::move(t));
        drainer->open(folder.isEmpty() ? dir.path() : folder, spoolLimit);
    }
    QStringList said() const {
        QStringList out;
        for (const MemoryReporter::Entry& e : reporter.entries) {
            out.append(e.text);
        }
        return out;
    }
    // Makes the attempts that are due until the spool is written or `most` were made.
    void drain(int most = 100) {
        while (drainer->waiting() > 0 && timer->isActive() && most-- > 0) {
            timer->fireNext();
        }
    }
    QTemporaryDir dir;
    MemoryReporter reporter;
    FakeDatabase db;
    FakeTimer* timer;
    std::unique_ptr<Drainer<FakeCodec>> drainer;
};

QString n(int i) {
    return QString::number(i);
}

}  // namespace

class DrainerTest : public QObject {
    Q_OBJECT

private slots:
    void init() { FakeCodec::s_texts = &EventCodec::texts(); }

    // The first retry comes soon; each failed one doubles the pause, up to half a second while
    // attempts fail at once and 30 s while they take time; a write resets it, and so does a
    // retry asked for.
    void retryPausesGrowToTheirCap() {
        Rig rig;
        rig.db.away = QStringLiteral("locked");
        QCOMPARE(rig.drainer->write(QStringLiteral("1")), DrainOutcome::Spooled);
        QCOMPARE(rig.timer->pause(), 250);
        QList<qint64> pauses;
        for (int i = 0; i < 3; ++i) {
            rig.timer->fireNext();
            pauses.append(*rig.timer->pause());
        }
        QCOMPARE(pauses, (QList<qint64>{500, 500, 500}));

        rig.db.attemptCostMs = 5000;  // a server that does not answer
        pauses.clear();
        for (int i = 0; i < 8; ++i) {
            rig.timer->fireNext();
            pauses.append(*rig.timer->pause());
        }
        QCOMPARE(pauses, (QList<qint64>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
        rig.db.attemptCostMs = 0;
        rig.timer->fireNext();
        QCOMPARE(rig.timer->pause(), 500);

        rig.drainer->retryNow();
        QCOMPARE(rig.timer->pause(), 0);
        rig.timer->fireNext();
        QCOMPARE(rig.timer->pause(), 500);  // the first pause, doubled by this failure

        rig.db.away.reset();
        rig.drain();
        QCOMPARE(rig.db.rows, QStringList{QStringLiteral("1")});
        rig.db.away = QStringLiteral("locked");
        rig.drainer->write(QStringLiteral("2"));
        QCOMPARE(rig.timer->pause(), 250);
    }

    // An outage says its cause once; a different cause within it waits a minute since the last
    // one said. Once the spool is written, the next outage says its cause again.
    void aCauseIsSaidOncePerOutage() {
        Rig rig;
        rig.db.away = QStringLiteral("The database is locked");
        for (int i = 1; i <= 3; ++i) {
            rig.drainer->write(n(i));
        }
        rig.timer->fireNext();
        rig.timer->fireNext();
        QCOMPARE(rig.reporter.entries.size(), 1);
        rig.db.away = QStringLiteral("Server gone");
        rig.timer->fireNext();
        rig.timer->advance(DrainReports::kCauseRepeatMs);
        rig.timer->fireNext();
        rig.db.away = QStringLiteral("The database is locked");
        rig.timer->fireNext();  // within a minute of the last cause said
        rig.db.away.reset();
        rig.drain();
        QCOMPARE(
            rig.said(),
            (QStringList{
                QStringLiteral("Readmessage Line 4 The database is locked. Events are kept in the "
                               "spool (1 waiting) and written when the database takes them"),
                QStringLiteral("Readmessage Line 4 Server gone. Events are kept in the spool "
                               "(3 waiting) and written when the database takes them"),
                QStringLiteral("Spool written: every waiting event is in the database (3 in this "
                               "run)")}));
        rig.db.away = QStringLiteral("The database is locked");
        rig.drainer->write(n(4));
        QCOMPARE(rig.reporter.entries.size(), 4);
    }

    // Whatever happens on the way, records reach the database once and in the order they came:
    // newer ones wait behind the spool, a pass's records whose commit failed go ahead of those
    // that come after them, the spool is written in several steps, and one the database refuses
    // for good is left out without holding up the rest (and the codec hears whether it is the
    // first refusal since a record was written).
    void recordsKeepTheirOrder() {
        Rig rig;
        QStringList sent;
        auto write = [&](int i) {
            sent.append(n(i));
            return rig.drainer->write(n(i));
        };
        rig.drainer->beginPass();
        write(0);
        rig.db.away = QStringLiteral("locked");
        QCOMPARE(write(1), DrainOutcome::Spooled);  // the pass's first is committed before
        rig.db.away.reset();
        QCOMPARE(write(2), DrainOutcome::Spooled);  // behind the waiting one
        rig.drainer->endPass();
        QCOMPARE(rig.db.rows, QStringList{n(0)});
        rig.drain();
        QCOMPARE(rig.drainer->waiting(), 0);

        rig.drainer->beginPass();
        QCOMPARE(write(3), DrainOutcome::Written);
        QCOMPARE(write(4), DrainOutcome::Written);
        rig.db.commitFails = true;
        rig.drainer->endPass();
        rig.db.commitFails = false;
        QCOMPARE(rig.drainer->waiting(), 2);
        QCOMPARE(write(5), DrainOutcome::Spooled);
        rig.db.refused = {n(4), n(5)};
        sent.removeOne(n(4));
        sent.removeOne(n(5));
        const int many = Drainer<FakeCodec>::kDrainStep * 2 + 5;
        for (int i = 6; i < 6 + many; ++i) {
            write(i);
        }
        rig.drain();
        QCOMPARE(rig.db.rows, sent);
        QCOMPARE(rig.db.refusals, (QStringList{n(4), n(5) + QStringLiteral(" again")}));

        const DrainTally t = rig.drainer->tally();
        QCOMPARE(t.written, quint64(sent.size()));
        QCOMPARE(t.rejected, 2u);
        QCOMPARE(t.spooled + t.dropped + t.earlierWritten + t.earlierWaiting, 0u);
        QVERIFY(QDir(rig.dir.path()).isEmpty());  // nothing waits: the spool's files are gone
    }

    // Each record of a run gets its own outcome: written up to one the database refuses, that
    // one rejected, the rest written on; while the database is away, spooled in order, and the
    // spool written later as a run of its own.
    void eachRecordOfARunHasItsOutcome() {
        using enum DrainOutcome;
        Rig rig;
        const auto writeRun = [&](const QStringList& run) {
            return rig.drainer->writeRun(std::span(run.constData(), std::size_t(run.size())));
        };
        rig.db.refused = {n(2)};
        rig.drainer->beginPass();
        QCOMPARE(writeRun({n(0), n(1), n(2), n(3)}),
                 (std::vector{Written, Written, Rejected, Written}));
        rig.db.away = QStringLiteral("locked");
        QCOMPARE(writeRun({n(4), n(5)}), (std::vector{Spooled, Spooled}));
        rig.db.away.reset();
        QCOMPARE(writeRun({n(6)}), std::vector{Spooled});  // behind those waiting
        rig.drainer->endPass();
        QCOMPARE(rig.db.rows, (QStringList{n(0), n(1), n(3)}));
        const int runs = rig.db.runs;
        rig.drain();
        QCOMPARE(rig.db.rows, (QStringList{n(0), n(1), n(3), n(4), n(5), n(6)}));
        QCOMPARE(rig.db.runs, runs + 1);
    }

    // At its limit the spool keeps what it has (an unbroken stretch from the start of the
    // outage) and drops the newest, said once per outage; dropped records are counted.
    void aFullSpoolDropsTheNewest() {
        Rig rig(200);
        rig.db.away = QStringLiteral("locked");
        int kept = 0;
        int dropped = 0;
        for (int i = 0; i < 40; ++i) {
            const DrainOutcome o = rig.drainer->write(n(i));
            QVERIFY(o == DrainOutcome::Spooled || o == DrainOutcome::Dropped);
            (o == DrainOutcome::Spooled ? kept : dropped) += 1;
            QVERIFY(o == DrainOutcome::Dropped || dropped == 0);
        }
        QVERIFY(kept > 0 && dropped > 0);
        qint64 onDisk = 0;
        for (const QFileInfo& f : QDir(rig.dir.path()).entryInfoList(QDir::Files)) {
            onDisk += f.size();
        }
        QVERIFY2(onDisk <= 200, qPrintable(QString::number(onDisk)));
        QCOMPARE(rig.said().filter(QStringLiteral("Spool full")).size(), 1);
        QCOMPARE(rig.said().last(),
                 QStringLiteral("Spool full: new events are dropped until the database "
                                "takes the ") +
                     n(kept) + QStringLiteral(" waiting (SpoolLimit in the settings)"));
        QCOMPARE(rig.drainer->tally().dropped, quint64(dropped));
        QCOMPARE(rig.drainer->tally().spooled, quint64(kept));
        rig.db.away.reset();
        rig.drain();
        QCOMPARE(rig.db.rows.size(), kept);
        QCOMPARE(rig.db.rows.last(), n(kept - 1));
        rig.db.away = QStringLiteral("locked");
        for (int i = 0; i < 40; ++i) {
            rig.drainer->write(n(i));
        }
        QCOMPARE(rig.said().filter(QStringLiteral("Spool full")).size(), 2);
    }

    // What one run left in the spool is written first by the next, said once, and counted as
    // the earlier run's; each kind of record names itself in the reports users read.
    void anEarlierRunsSpoolIsWrittenFirst_data() {
        QTest::addColumn<bool>("messages");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("events")
            << false
            << QStringList{QStringLiteral("Readmessage Line 4 locked. Events are kept in the spool "
                                          "(1 waiting) and written when the database takes them"),
                           QStringLiteral("Spool: 3 events left by an earlier run are written "
                                          "first"),
                           QStringLiteral("Spool written: every waiting event is in the database "
                                          "(4 in this run)")};
        QTest::newRow("messages")
            << true
            << QStringList{
                   QStringLiteral(
                       "Messages  Line 0 locked. Messages the rules log are kept in the spool (1 "
                       "waiting) and written when the database takes them"),
                   QStringLiteral("Messages spool: 3 messages left by an earlier run are written "
                                  "first"),
                   QStringLiteral(
                       "Messages spool written: every waiting message is in the database "
                       "(4 in this run)")};
    }
    void anEarlierRunsSpoolIsWrittenFirst() {
        QFETCH(bool, messages);
        QFETCH(QStringList, said);
        FakeCodec::s_texts = messages ? &MessageCodec::texts() : &EventCodec::texts();
        QTemporaryDir folder;
        {
            Rig earlier(1 << 20, folder.path());
            earlier.db.away = QStringLiteral("locked");
            for (int i = 0; i < 3; ++i) {
                earlier.drainer->write(n(i));
            }
            earlier.drainer->stop();
            QCOMPARE(earlier.said(), said.mid(0, 1));
        }
        Rig rig(1 << 20, folder.path());
        QCOMPARE(rig.timer->pause(), 0);
        rig.drainer->write(QStringLiteral("3"));  // behind the earlier ones
        rig.drain();
        QCOMPARE(rig.db.rows, (QStringList{n(0), n(1), n(2), n(3)}));
        QCOMPARE(rig.said(), said.mid(1));
        const DrainTally t = rig.drainer->tally();
        QCOMPARE(t.earlierWritten, 3u);
        QCOMPARE(t.written, 1u);
    }
};

QTEST_GUILESS_MAIN(DrainerTest)
#include "tst_drainer.moc"
