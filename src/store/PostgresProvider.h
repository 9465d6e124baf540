#pragma once

#include <QElapsedTimer>
#include <QList>
#include <optional>

#include "store/ServerSource.h"
#include "store/StoreProvider.h"

struct pg_conn;
struct pg_result;

// PostgreSQL through Qt's QPSQL driver. The database is created through the server's "postgres"
// maintenance database when missing, the table with an identity key and an index on SampleDate
// that the history query uses; the table tblQuilljotLayout records each event table's layout. Texts
// are stored as they are (a NUL character, which PostgreSQL's text cannot hold, as U+FFFD); the
// history filters ignore letter case, as the other engines' do.
//
// A receive pass's events go into one COPY, which is its own transaction and ends with the pass:
// one flush to disk per pass instead of a round trip per event. Its rows are sent in pieces while
// the pass goes on, so that the server stores them while the logger reads the next events, and
// are kept until the pass ends. Events outside a pass go one by one through a prepared insert, the
// values bound. A pass the server refuses is written again row by row, each in a savepoint, to find
// the rows it refuses; the pass is undone and fails, and the refusals are kept: when the same
// events are written again (the pass's events go to the spool, which writes them in order), those
// rows are refused at once, as their own write, and the rest is committed. A connection lost
// during a pass is made again at its end and the pass sent once more, unless the server stored it:
// when the end of the COPY was sent and its answer lost, the server is asked whether the pass's
// transaction committed (txid_status), and a pass it has is not written twice, neither then nor
// when it comes back from the spool. While the server cannot be reached, a new connection is
// tried at most once a second and writes in between fail at once.
class PostgresProvider : public StoreProvider {
public:
    explicit PostgresProvider(DatabaseSettings settings);
    ~PostgresProvider() override;

    // Steps: 3 reaching the server or making the database.
    Status createDatabaseIfMissing() override;
    Status open() override;
    bool isOpen() const override { return m_opened; }
    Status insert(const LogEvent& event) override;
    Status beginBatch() override;
    Status endBatch() override;
    QString where() const override;
    Result<QString> probe() override;

protected:
    EventSelectDialect selectDialect() const override;
    ActivityDialect activityDialect(int limit) const override;
    QString storedName(const QString& text) const override;
    QString tableName(Table table) const override;
    Status readyToRead() override;
    Problem failure(const QString& text) const override;
    Status beginLayoutChange() override;
    Status endLayoutChange(bool commit) override;
    Result<bool> hasEventTable() override;
    QList<LayoutStep> layoutSteps() override;
    LayoutDialect layoutDialect() const override;
    std::optional<SearchDialect> searchDialect() const override;
    Result<QStringList> keepSearchIndex() override;
    void expectShortWalk(bool starting) override;

private:
    // The text index of the data (see PostgresProviderSearch.cpp): a table of each row's key and
    // data with a trigram index on the data, filled by key, and the key it holds rows up to.
    QString searchTable() const;
    QString searchKeyTable() const;
    Status dropSearchIndex();
    // Whether the database holds the index, as last seen (readers look at each read).
    bool m_searchIndexed = false;
    // A row the server refused, refused again at once when it is written again.
    struct Refusal {
        LogEvent event;
        Problem why;
        bool met = false;  // by a write of the current pass
    };

    Status connect(const QString& database);
    // Sets the event table's name as statements write it; true when the table is there.
    bool findTable();
    void disconnect();
    bool connected() const;
    // A working connection: the one there is, or a new one when it was lost (see above).
    Status connection();
    Status reconnect();
    void rollBack();
    Status run(const char* sql);
    // Success, or the failure libpq reports for a statement's result (which it frees).
    Status outcome(pg_result* result) const;
    Status prepareInsert();
    Status write(const LogEvent& event);
    void askCopy();
    // Sends the rows gathered so far into the pass's COPY.
    void streamText();
    void emptyCopyText();
    // Ends the pass's COPY, which commits it.
    Status finishCopy();
    // The whole pass in a COPY of its own, after the streamed one broke off.
    Status copyAll();
    void resetCopy();
    // The pass's rows in one COPY; on a connection made again when the old one was lost.
    Status copyPass();
    // When the connection was lost after the pass's end reached the server: the pass is in doubt.
    void noteDoubt();
    // Asks the server whether the pass in doubt was stored; when it was (true), its rows are
    // skipped as they come again. Fails while the server has not decided yet.
    Result<bool> settleDoubt();
    // After a refused COPY: which rows the server refuses. Undoes everything.
    void findRefusals();
    std::optional<Problem> knownRefusal(const LogEvent& event);
    Problem engineFailure(const QString& message) const;
    QString serverName() const;

    static constexpr int kRetryMs = 1000;
    // Rows go to the server in pieces of about this many bytes while the pass goes on, so that the
    // server stores them while the logger reads the next ones.
    static constexpr int kCopyChunk = 32 * 1024;

    ServerSource m_source;
    pg_conn* m_conn = nullptr;
    QString m_table;  // as it stands in statements
    bool m_opened = false;
    bool m_prepared = false;
    bool m_batch = false;
    QList<LogEvent> m_batchRows;
    QByteArray m_copyText;     // rows in COPY's text format, not sent yet
    bool m_copyAsked = false;  // the pass's COPY is asked for, the answer not read yet
    bool m_copying = false;    // the pass's COPY is under way on the connection
    bool m_copyLost = false;   // with the connection it was under way on
    bool m_copySendFailed = false;
    std::optional<Problem> m_copyBroken;  // why the pass's COPY could not start
    QList<Refusal> m_refused;
    // A pass whose answer was lost: the server's transaction and the pass's rows.
    struct DoubtfulPass {
        quint64 transaction = 0;
        QList<LogEvent> rows;
    };
    quint64 m_passTransaction = 0;  // of the pass under way, as txid_current() gave it
    bool m_copyEndSent = false;
    std::optional<DoubtfulPass> m_doubt;
    QList<LogEvent> m_alreadyStored;  // rows of a doubtful pass the server had, in their order
    QElapsedTimer m_lastAttempt;
    std::optional<Problem> m_lost;
};
