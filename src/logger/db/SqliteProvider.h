#pragma once

#include <QHash>
#include <memory>

#include "logger/db/DbProvider.h"

// The file database: a SQLite file at the connection string's Data Source, opened in WAL mode
// with synchronous=NORMAL. A file that exists and is not a SQLite database is refused and never
// written to. Statements that write are run as prepared plans of their shape (literals become
// parameters), so a stream of inserts that differ only in their values is parsed once; the plans
// run on the connection's own SQLite handle, without a Qt query object per statement.
//
// Two faults are met without stalling or writing into the void: a database file that is
// removed or replaced while open (the connection would go on writing to the unlinked file) ends
// the connection with a failure, and a database locked by another process fails each write at
// once after the first one waited its busy timeout in vain, until a write gets through again.
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
    void openFile();
    void run(const QString& sql);
    sqlite3_stmt* prepared(const QString& shape);
    // Runs a plan that returns no rows; false (and the statement reset) when SQLite refuses it.
    bool step(sqlite3_stmt* plan);
    QString lastError() const;
    void releaseStatements();
    // Throws, and closes the connection, when the path no longer names the file that was opened.
    void checkSameFile();
    // The busy timeout: the full wait normally, none while another process holds the lock.
    void setContended(bool contended);

    static constexpr int kMaxPlans = 32;

    static constexpr int kBusyTimeoutMs = 5000;

    bool m_batch = false;
    bool m_contended = false;
    int m_batchRows = 0;
    QByteArray m_nativePath;
    unsigned long long m_device = 0;
    unsigned long long m_inode = 0;
    sqlite3* m_handle = nullptr;
    QHash<QString, sqlite3_stmt*> m_plans;
};
