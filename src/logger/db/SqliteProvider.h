#pragma once

#include <QHash>
#include <memory>

#include "logger/db/DbProvider.h"

// The file database: a SQLite file at the connection string's Data Source, opened in WAL mode
// with synchronous=NORMAL. A file that exists and is not a SQLite database is refused and never
// written to. Statements that write are run as prepared plans of their shape (literals become
// parameters), so a stream of inserts that differ only in their values is parsed once; the plans
// run on the connection's own SQLite handle, without a Qt query object per statement.
struct sqlite3;
struct sqlite3_stmt;

class SqliteProvider : public DbProvider {
public:
    explicit SqliteProvider(ConnectionString cs) : DbProvider(std::move(cs)) {}
    ~SqliteProvider() override;

    void open() override;
    QString toNative(const QString& statement) const override;
    RecordSet execute(const QString& statement) override;
    QStringList tableNames() override;
    void createDatabase() override;
    void createLogTable(const QString& table) override;
    void beginBatch() override;
    void endBatch() override;
    bool inBatch() const override { return m_batch; }

private:
    void refuseForeignFile() const;
    void openFile();
    void run(const QString& sql);
    sqlite3_stmt* prepared(const QString& shape);
    // Runs a plan that returns no rows; false (and the statement reset) when SQLite refuses it.
    bool step(sqlite3_stmt* plan);
    QString lastError() const;
    void releaseStatements();

    static constexpr int kMaxPlans = 32;

    bool m_batch = false;
    sqlite3* m_handle = nullptr;
    QHash<QString, sqlite3_stmt*> m_plans;
};
