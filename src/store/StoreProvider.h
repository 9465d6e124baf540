#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <tuple>

#include "report/Result.h"
#include "settings/LoggerSettings.h"
#include "store/ActivityQuery.h"
#include "store/EventQuery.h"
#include "store/LogEvent.h"
#include "store/LoggedMessage.h"

// One database engine: how to make the database and the event table, how to write an event and
// read the history. Every difference between engines lives in one class of this kind; nothing
// above the store asks which engine it talks to. Values always travel as bound parameters.
//
// The event table has the columns ID (key), SampleDate, Source, Category (the event's type),
// Data. Each engine keeps its quote rule on the texts: the file database stores a double quote
// as an apostrophe, SQL Server an apostrophe as a double quote, PostgreSQL both as they are.
class StoreProvider {
public:
    // The tables the logger keeps rows in: controller events, and the other messages rules log.
    enum class Table { Events, Messages };

    using RowVisitor = std::function<void(const StoredEvent&)>;
    using MessageVisitor = std::function<void(const StoredMessage&)>;

    virtual ~StoreProvider();

    // Makes the database when it does not exist yet; the problem's step says which part failed.
    virtual Status createDatabaseIfMissing() = 0;
    virtual Status open() = 0;
    virtual bool isOpen() const = 0;
    // True when the provider, closed by a failure, connects again by itself at a later write.
    virtual bool connectsAgain() const { return false; }
    // Such a provider connects now, whatever its own pause between attempts: the writer's retry
    // policy decides when. It keeps what it knows of a write whose answer was lost.
    virtual Status connectAgainNow() { return {}; }
    // The layout of the tables this version makes. The database records the layout of each event
    // table (in tblQuilljotLayout, one row per table, on every engine), and tables of an older
    // layout are upgraded when the logger opens them, one numbered step at a time.
    static constexpr int kLayoutVersion = 3;
    // Brings the tables to the current layout in one transaction, which holds off any other
    // logger doing the same on the database: makes the tables when the event table is missing (in
    // any letter case), or runs the steps after the layout recorded, every row kept. What was
    // changed on tables that were there before, for people (empty when nothing). A layout newer
    // than this version knows is refused untouched: that problem has no step; the others' step
    // says which part failed (4 the event table, 5 its key or index, 6 the messages table and the
    // other indexes and tables, 7 the record).
    Result<QString> ensureLayout();
    virtual Status insert(const LogEvent& event) = 0;
    // How far a run of events got: the first `written` are in; when that is fewer than all,
    // `next` says why the one after them was not taken (as insert() would have said).
    struct RunWritten {
        qsizetype written = 0;
        Status next;
    };
    // Writes `events` in order until one is not taken. An engine that writes several rows in one
    // statement more cheaply does so, and retries a statement that failed a row at a time, so
    // that the failure is always that of one event. The default writes a row at a time.
    virtual RunWritten insertRun(std::span<const LogEvent> events);
    // Groups the writes of one receive pass; each write stays its own unit of failure.
    virtual Status beginBatch() { return {}; }
    virtual Status endBatch() { return {}; }
    // The rows of a query, each handed to `visit` in the query's order.
    virtual Status readEvents(const EventQuery& query, const RowVisitor& visit);
    // How many rows the query's range and filters take.
    virtual Result<qint64> countEvents(const EventQuery& query);

    // The activity summary: events per hour, source and type, and per day, source and type, kept
    // beside the event table so that a chart of years reads thousands of counts rather than
    // millions of rows. It holds the
    // rows up to a key it records (in its row with an empty hour); rows after that key are counted
    // from the event table when read, so a chart is exact whenever it is read. Each pass of writes
    // is added after it is committed, a purge takes its rows out in its own transaction, and a
    // missing summary is made again from the rows when the layout is checked at open.
    // One roll-up adds the rows of at most kRollUpStepKeys keys: a summary far behind (made
    // anew beside millions of rows, or rows another program wrote) catches up in steps that
    // hold the writer briefly and stay inside a server's query timeout. Whether rows remain.
    Result<bool> rollUpActivity();
    static constexpr qint64 kRollUpStepKeys = 20000;
    // The key of the newest event row (0 for none).
    Result<qint64> newestKey();
    // Counts a row the engine took, by hour, source and type, for the next roll-up: one whose
    // new rows are as many as were counted adds the counts rather than reading the rows back.
    void countWritten(const LogEvent& event);
    // Forgets the counts: a pass was not written after all.
    void forgetWritten();
    // The chart of `query` (see ActivityQuery): from the summary, or, with a data filter or by
    // minutes, by reading the rows of the range in steps that `progress` hears of and may cancel.
    Result<ActivityChart> activity(const ActivityQuery& query, const ActivityProgress& progress);

    // The text index of the events' data, on an engine that keeps one beside the table: it holds
    // the rows up to a key it records, and a search reads the index up to that key and the rows
    // after it, so that it is exact whenever it is read. One step adds the rows of at most
    // kSearchStepKeys keys, so that a table of years is indexed in steps while logging goes on.
    // Whether rows remain; false at once on an engine without one.
    Result<bool> rollUpSearch();
    static constexpr qint64 kSearchStepKeys = 10000;

    // The table of other messages (with an index on its time), written and read like the event
    // table.
    virtual Status insertMessage(const LoggedMessage& message);
    virtual Status readMessages(const MessageQuery& query, const MessageVisitor& visit);

    // Deletes at most `limit` of the oldest rows of `table` dated before `before` (stored form);
    // how many went. Keys are never handed out again: each engine's key keeps counting.
    virtual Result<int> deleteRowsBefore(Table table, const QString& before, int limit);
    // Gives the space of deleted rows back to the file system, about `bytes` at a time; true
    // while more is left. Servers manage their space themselves.
    virtual Result<bool> releaseSpace(qint64 bytes) {
        (void)bytes;
        return false;
    }
    // The database as people name it: its file, or its name and server (never a password).
    virtual QString where() const = 0;
    // Whether the database could be opened, or made where it is missing, without making or
    // changing anything: what was found ("the table is there", "would be made"), or what stands
    // in the way. Servers are connected to.
    virtual Result<QString> probe() = 0;

protected:
    explicit StoreProvider(DatabaseSettings settings) : m_settings(std::move(settings)) {}

    // One statement of a layout step. `makes` names the table or index it makes, as the engine's
    // check (LayoutDialect::isThere) names it: the statement is skipped when that is there
    // already, so that a step also finishes what an earlier version of the logger left half made.
    struct LayoutStatement {
        QString sql;
        int part = 0;   // the part of "CreateDatabase" its failure is reported at
        QString makes;  // empty: it always runs
        QString done;   // what it did, for people, when it ran on tables that were there before
        // Made again at every open when missing, also after its step: a summary of the rows,
        // which the rows can always give again.
        bool remade = false;
    };
    // One step of the layout: it brings the tables from the layout before it to `layout`. Its
    // function (when there is one) runs first, for what statements alone cannot say, and returns
    // what it changed for people; then its statements, in order.
    struct LayoutStep {
        int layout = 0;
        QList<LayoutStatement> statements;
        std::function<Result<QStringList>()> run = {};
    };
    // This engine's layout steps, numbered from 1 to kLayoutVersion in order. Step 1 makes the
    // tables of layout 1 from nothing or from what versions before recorded layouts left. To
    // change the layout: raise kLayoutVersion and add the step of that number at the end of every
    // engine's list, with the statements in that engine's SQL; steps that are out never change.
    virtual QList<LayoutStep> layoutSteps() = 0;
    // Makes the text index of the data, or drops it where the settings turn it off (layout 3, and
    // at every open after, as the setting may have changed); what was done, for people.
    virtual Result<QStringList> keepSearchIndex() { return QStringList(); }
    // What the step that makes the activity summary says it did.
    inline static const QString kSummaryMade =
        QStringLiteral("the activity summary made from the rows");
    // How this engine asks about its tables and records their layout.
    struct LayoutDialect {
        // Selects one value, not 0 when the table or index the "?" names is there.
        QString isThere;
        QString makeRecord;  // makes the record's table (TableName, Version), named %1
        QString recordKey;   // the event table as its row in the record names it
    };
    virtual LayoutDialect layoutDialect() const = 0;
    // The transaction of a layout change, holding the engine's lock that other loggers on the
    // same database wait for; ended by committing or undoing it.
    virtual Status beginLayoutChange() = 0;
    virtual Status endLayoutChange(bool commit) = 0;
    // Whether the event table is there, in any letter case.
    virtual Result<bool> hasEventTable();
    // The layout of the event table, which is there: as recorded, 0 when nothing is (made before
    // layouts were recorded).
    virtual Result<int> recordedLayout();
    // The current layout recorded for the event table.
    virtual Status recordLayout();
    // The row of the event table in the layout record, when there is one.
    Result<std::optional<int>> layoutRecord();
    // Runs a statement of the layout with `values` bound to its "?" marks; the first column of
    // its first row (null when it has none).
    virtual Result<QVariant> layoutQuery(const QString& sql, const QVariantList& values = {});
    // Whether the table or index is there, as the engine's check names it.
    Result<bool> layoutHas(const QString& name);
    // Runs the engine's steps after layout `from`, up to the current one; what they changed on
    // tables that were there, for people.
    Result<QStringList> upgradeLayout(int from);
    // Runs a step's function and statements (`remadeOnly`: only those of its statements made
    // again at every open); adds what they changed to `done`.
    Status runLayoutStep(const LayoutStep& step, bool remadeOnly, QStringList& done);

    // A name as a double-quoted SQL identifier.
    static QString quotedName(const QString& name);
    // Runs a statement of the layout's on `q` with `values` bound to its "?" marks; false when it
    // failed (q.lastError() says why). Statements without values go as they are: servers prepare
    // no DDL.
    static bool execLayout(QSqlQuery& q, const QString& sql, const QVariantList& values);

    // A Qt connection of its own name, so that several can be open at once; removed again with
    // the provider.
    Status addConnection(const QString& driver);
    void removeConnection();

    // How this engine writes the parts of an event query that differ (the table's name at least).
    virtual EventSelectDialect selectDialect() const = 0;
    // Whether a page of `query` is read from the newest rows on without the text index: its
    // term is common (see termIsCommon).
    bool pageWalksNewestRows(const EventSelectDialect& dialect, const EventQuery& query);
    bool termIsCommon(EventSelectDialect dialect, const QString& term);
    // A term found kCommonMatches times in the newest kNewestRows rows, or more (one row in
    // 500), is common, in a table of more rows than that.
    static constexpr int kNewestRows = 5000;
    static constexpr int kCommonMatches = 10;
    // Said before and after a page that walks the newest rows for a common term: an engine whose
    // planner would start parallel workers for it, which cost more than the page, is told.
    virtual void expectShortWalk(bool starting) { (void)starting; }
    // How this engine keeps its text index, where it has one now.
    struct SearchDialect {
        QString keyTable;  // one row: the key up to which the index holds the rows (Indexed)
        QString addRows;   // adds the rows with keys after the first "?" up to the second
    };
    virtual std::optional<SearchDialect> searchDialect() const { return std::nullopt; }
    // Takes the rows the purge's DELETE (deleteOldestSql with "?" = `before`) is about to delete
    // out of the text index, in the transaction that is open.
    virtual Status forgetSearched(const QString& before, int limit) {
        (void)before;
        (void)limit;
        return {};
    }
    // A table's name as it stands in SQL, and the column that dates its rows.
    virtual QString tableName(Table table) const;
    static QString timeColumn(Table table);
    // The DELETE of at most `limit` of the oldest rows of `table` dated before "?".
    virtual QString deleteOldestSql(Table table, int limit) const;
    // A connection to read on, made again when the engine's was lost.
    virtual Status readyToRead() { return {}; }
    // How this engine writes the parts of the activity summary that differ.
    struct ActivityDialect {
        QString table;  // the summary's table of hours as it stands in SQL
        QString days;   // and its table of days (column Day rather than Hour)
        // What makes the stored form of a date-time column's hour ("yyyy-MM-dd HH:00:00") and
        // minute ("yyyy-MM-dd HH:mm:00"): %1 is the column.
        QString hourOf;
        QString minuteOf;
        QString dayOf;  // "yyyy-MM-dd 00:00:00"
        // Add the rows with keys after the first "?" up to the second to the summary, in order.
        QStringList merge;
        // Deletes the oldest rows of the event table like deleteOldestSql, and returns each
        // one's ID, time (or hour), source and type.
        QString deleteOldest;
    };
    virtual ActivityDialect activityDialect(int limit) const = 0;
    // Runs one statement with `values` for its "?" marks, handing each row it returns to `row`
    // as texts; the rows it changed, or what failed.
    using TextRow = std::function<void(const QStringList&)>;
    virtual Result<qint64> runStatement(const QString& sql, const QStringList& values,
                                        const TextRow& row = {});
    // deleteRowsBefore of the event table, with the summary's counts of the rows taken out.
    Result<int> deleteEventsBefore(const QString& before, int limit);
    // A source or type as this engine stores it.
    virtual QString storedName(const QString& text) const { return text; }
    // Adds the rows after the summary's key to it (one step), in the transaction that is open;
    // whether rows remain after the step.
    Result<bool> rollUpInTransaction();
    // Counts of events per hour (or day), source and type.
    using Counts = std::map<std::tuple<QString, QString, QString>, qint64>;
    static Counts perDay(const Counts& hours);
    // The key of the last row the summary holds; a summary without one is emptied and starts
    // again from the first row.
    Result<qint64> summaryMark(const ActivityDialect& dialect);
    // Adds the counts of the rows written since the last roll-up to the summary.
    Status addWrittenCounts(const ActivityDialect& dialect);
    struct ChartSql;
    // A chart from the summary and the rows after its mark; none when the summary cannot be read
    // (not made yet) or keeps changing under the read.
    std::optional<ActivityChart> chartFromSummary(const ActivityQuery& query,
                                                  const QStringList& starts, const ChartSql& sql);
    // A chart counted from the rows of the range, in steps that `progress` hears of.
    Result<ActivityChart> chartFromRows(const ActivityQuery& query, const QStringList& starts,
                                        const ChartSql& sql, const ActivityProgress& progress);
    // The stored form of a SampleDate value as the driver returns it.
    virtual QString timeText(const QVariant& stored) const;
    // A problem from a driver message (engines whose messages can quote secrets mask them).
    virtual Problem failure(const QString& text) const;
    // Why a connection failed, as a user can act on it: the server's own words when it answered
    // (a wrong password, a missing database), else only that it cannot be reached, so that the
    // message tells no one which ports of a host are open, closed or filtered.
    static QString connectReason(const QString& driverText, bool serverAnswered);

    DatabaseSettings m_settings;
    QSqlDatabase m_db;
    // Rows written since the last roll-up, per hour, source and type, and in all.
    Counts m_written;
    qint64 m_writtenRows = 0;
    // The count of the last event's hour, source and type (as received), which the next event
    // most often shares.
    struct LastWritten {
        QString time;
        QString source;
        QString type;
        qint64* count = nullptr;
    } m_lastWritten;
    QString m_connectionName;
};
