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
// that the history query uses. Texts are stored as they are (a NUL character, which PostgreSQL's
// text cannot hold, as U+FFFD); the history filters ignore letter case, as the other engines' do.
//
// Events go through one statement prepared on the connection's own libpq handle, the values
// bound. PostgreSQL abandons a whole transaction at its first failed statement, so the rows of
// the open batch are kept until it commits: after a refused row, or a connection that is lost and
// made again, a new transaction writes them again and each write stays its own unit of failure.
// While the server cannot be reached, a new connection is tried at most once a second and writes
// in between fail at once.
class PostgresProvider : public StoreProvider {
public:
    explicit PostgresProvider(DatabaseSettings settings);
    ~PostgresProvider() override;

    // Steps: 3 reaching the server or making the database.
    Status createDatabaseIfMissing() override;
    Status open() override;
    bool isOpen() const override { return m_opened; }
    Status ensureTable() override;
    Status ensureMessagesTable() override;
    Status insert(const LogEvent& event) override;
    Status beginBatch() override;
    Status endBatch() override;

protected:
    EventSelectDialect selectDialect() const override;
    QString tableName(Table table) const override;
    Status readyToRead() override { return connection(); }
    Problem failure(const QString& text) const override;

private:
    Status connect(const QString& database);
    void disconnect();
    bool connected() const;
    // A working connection: the one there is, or a new one when it was lost (see above).
    Status connection();
    // A new connection after the old one was lost; the open batch's rows are written again.
    Status reconnect();
    // Undoes the open transaction and begins a new one with the batch's rows written so far.
    Status restartBatch();
    void rollBack();
    Status run(const char* sql);
    // Success, or the failure libpq reports for a statement's result (which it frees).
    Status outcome(pg_result* result) const;
    Status write(const LogEvent& event);
    Problem engineFailure(const QString& message) const;
    QString serverName() const;

    static constexpr int kRetryMs = 1000;

    ServerSource m_source;
    pg_conn* m_conn = nullptr;
    QString m_table;  // as it stands in statements
    bool m_opened = false;
    bool m_prepared = false;
    bool m_batch = false;
    QList<LogEvent> m_batchRows;
    QElapsedTimer m_lastAttempt;
    std::optional<Problem> m_lost;
};
