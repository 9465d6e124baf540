#pragma once

#include <QHash>
#include <QSqlQuery>
#include <memory>

#include "logger/db/DbProvider.h"

// The file database: a SQLite file at the connection string's Data Source, opened in WAL mode
// with synchronous=NORMAL. A file that exists and is not a SQLite database is refused and never
// written to. Statements that write are run as prepared plans of their shape (literals become
// parameters), so a stream of inserts that differ only in their values is parsed once.
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
    QSqlQuery& prepared(const QString& shape);
    void releaseStatements();

    static constexpr int kMaxPlans = 32;

    bool m_batch = false;
    QHash<QString, std::shared_ptr<QSqlQuery>> m_plans;
    std::unique_ptr<QSqlQuery> m_savepoint;
    std::unique_ptr<QSqlQuery> m_release;
    std::unique_ptr<QSqlQuery> m_rollback;
};
