#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <map>
#include <memory>
#include <optional>

#include "store/OdbcStatement.h"
#include "store/ServerSource.h"
#include "store/StoreProvider.h"

// SQL Server through Qt's ODBC driver and FreeTDS. The catalog is created through the server's
// "master" database when missing; every statement is forward-only (otherwise FreeTDS opens server
// cursors) and takes its values as bound parameters; events and history filters go through
// OdbcStatement, as Unicode. Tables are listed through INFORMATION_SCHEMA: this driver stack's
// QSqlDatabase::tables() returns nothing. The table tblQuilljotLayout records each event table's
// layout, as on every engine; tables of older versions (varchar, text, datetime columns) are
// converted.
//
// A server that is slow, gone or restarted never holds the logger longer than the login or the
// query timeout: such a failure is DatabaseUnavailable, the connection is dropped, and the next
// write after a backoff delay connects again first; until then writes fail at once.
class SqlServerProvider : public StoreProvider {
public:
    explicit SqlServerProvider(DatabaseSettings settings);

    // Waits for a login answer; a frozen or unreachable server fails the connection after this.
    static constexpr int kLoginTimeoutSeconds = 5;
    // Waits for the answer to one statement; a write that takes longer has failed. FreeTDS then
    // waits as long again for the server to confirm the cancel: a silent server holds a write
    // for twice this time at most.
    static constexpr int kQueryTimeoutSeconds = 5;
    // A write, and the reads a write pass needs, give up sooner: the pass's events wait in the
    // spool instead of behind a silent server.
    static constexpr int kWriteTimeoutSeconds = 2;
    // Delay before the first reconnect after the server became unavailable; doubles with each
    // failed attempt up to the last, and starts again after a write that got through.
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 60000;
    // Source and Category hold this many characters; longer texts are cut and end in kCutMark.
    static constexpr int kNameColumnSize = 255;
    static constexpr QChar kCutMark = QChar(0x2026);

    // Steps: 2 opening the catalog, 3 making it.
    Status createDatabaseIfMissing() override;
    Status open() override;
    bool isOpen() const override { return m_db.isOpen(); }
    bool connectsAgain() const override { return m_unavailable.has_value(); }
    Status connectAgainNow() override { return ready(true); }
    // Whether the event table is in the catalog.
    Result<bool> hasTable();
    Status insertMessage(const LoggedMessage& message) override;
    Status insert(const LogEvent& event) override;
    Status beginBatch() override;
    Status endBatch() override;
    Status readEvents(const EventQuery& query, const RowVisitor& visit) override;
    Result<qint64> countEvents(const EventQuery& query) override;
    Result<int> deleteRowsBefore(Table table, const QString& before, int limit) override;
    QString where() const override;
    Result<QString> probe() override;

    // The FreeTDS driver: its library path where the package put it, else the registered name.
    static QString driverName();
    // The ODBC connection text for a catalog. Always ends with ";", which Debian's Qt 6.4 ODBC
    // driver needs to read the last value intact.
    static QString odbcText(const ServerSource& source, const QString& catalog,
                            const QString& driver);
    // Whether a driver message says the server could not be reached or did not answer in time,
    // rather than refusing the statement.
    static bool isUnavailable(const QString& message);
    // The text as it fits a Source or Category column.
    static QString fitted(const QString& text);

protected:
    EventSelectDialect selectDialect() const override;
    ActivityDialect activityDialect(int limit) const override;
    QString storedName(const QString& text) const override;
    Result<qint64> runStatement(const QString& sql, const QStringList& values,
                                const TextRow& row = {}) override;
    Status readyToRead() override { return ready(); }
    QString deleteOldestSql(Table table, int limit) const override;
    Problem failure(const QString& text) const override;
    Status beginLayoutChange() override;
    Status endLayoutChange(bool commit) override;
    Result<bool> hasEventTable() override { return hasTable(); }
    QList<LayoutStep> layoutSteps() override;
    LayoutDialect layoutDialect() const override;
    // A statement with its values, as a batch whose statements that return no rows come first.
    Result<QVariant> layoutQuery(const QString& sql, const QVariantList& values = {}) override;

private:
    // runStatement with the statement's own timeout.
    Result<qint64> runTimed(const QString& sql, const QStringList& values, const TextRow& row,
                            int timeoutSeconds);
    // Layout step 1, from nothing or from the tables of earlier versions; what it changed.
    Result<QStringList> firstLayout();
    Result<QStringList> makeTable();
    // The event table of an earlier version: its columns converted and its key added.
    Result<QStringList> convertTable();
    // The messages table and its time index where missing; whether the table was made.
    Result<bool> makeMessagesTable();
    // The event table's columns brought to today's types, every value kept (a Source or Category
    // too long for its column cut as new ones are); what was converted.
    Result<QStringList> convertColumns();
    // A column of the event table as INFORMATION_SCHEMA describes it.
    struct Column {
        QString type;
        int length = 0;
        bool nullable = true;
    };
    // The columns the query on INFORMATION_SCHEMA.COLUMNS returned, by name in lower case.
    static std::map<QString, Column> columnsOf(QSqlQuery& q);
    // The statements that bring Source and Category to nvarchar(255); adds what they do to `done`.
    QStringList nameColumnChanges(std::map<QString, Column>& columns, QStringList& done) const;
    Result<bool> hasIndexOn(const QString& table, const QString& column);
    // An index on the column unless one starts with it already.
    Status ensureIndexOn(const QString& table, const QString& column);
    Status connect(const QString& catalog);
    // Connects again when the connection was lost and the backoff delay has passed (`now`: at
    // once).
    Status ready(bool now = false);
    // A failed statement: drops the connection when the server is unavailable.
    Problem failed(const QSqlError& error);
    // The statement's failure; a statement of its own is freed first, as freeing it after its
    // connection crashes the driver.
    Problem failed(std::unique_ptr<OdbcStatement>& statement);
    // What a failed statement means: an outage, or a refusal.
    Problem classified(const OdbcStatement& statement) const;
    Problem failed(const Problem& p);
    bool hasPrimaryKey();
    // After a connection is made again: whether the server did the write whose answer was lost.
    Status settleDoubt();

    ServerSource m_source;
    std::unique_ptr<OdbcStatement> m_insert;
    std::unique_ptr<OdbcStatement> m_insertMessage;
    // The connection failure found while making the database, handed back by open().
    std::optional<Problem> m_openFailure;
    // Set while the server is unavailable: what failed, and since when the delay runs.
    std::optional<Problem> m_unavailable;
    QElapsedTimer m_sinceFailure;
    int m_retryMs = kFirstRetryMs;

    // Each write is its own transaction, and one whose answer is lost with the connection (a
    // timeout, a broken link) may still have been done by the server. The pass's writes so far
    // and the newest key of the table before its first one tell, once connected again, whether
    // it was: if so, the same row written next (the spool's first) is taken as written instead
    // of being stored twice. Events and rule-logged messages alike.
    struct RowWrite {
        QString table;
        const QStringList* columns = nullptr;  // one list per table, kept by the provider
        QStringList values;                    // as bound
        bool operator==(const RowWrite&) const = default;
    };
    struct DoubtfulWrite {
        RowWrite row;
        qint64 after = 0;      // the table's newest key before the pass's first write to it
        qint64 equalDone = 0;  // rows equal to it the pass had written before it
        QString session;       // the lock its connection's session held (see m_session)
    };
    // The insert of a table, prepared once per connection and kept (so that a failure frees it
    // before the connection, see failed()).
    Status keptInsert(std::unique_ptr<OdbcStatement>& insert, const QString& table,
                      const QStringList& columns);
    // Writes one row through the statement, noting a write whose answer was lost.
    Status writeRow(OdbcStatement& statement, const RowWrite& row);
    bool m_inPass = false;
    QHash<QString, qint64> m_passAfter;
    QList<RowWrite> m_passWritten;
    std::optional<DoubtfulWrite> m_doubt;
    std::optional<RowWrite> m_alreadyStored;
    // A write whose answer was lost may still be under way in the session that sent it (a server
    // that was frozen, a link that broke): it is checked only once that session has ended. Each
    // connection's session holds an application lock of its own name for as long as it lives.
    QString m_sessionBase;  // unique to this provider
    quint64 m_sessions = 0;
    QString m_session;  // the lock of the connection open now; empty when it could not be taken
};
