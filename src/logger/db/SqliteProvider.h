#pragma once

#include "logger/db/DbProvider.h"

// The file database: a SQLite file at the connection string's Data Source, opened in WAL mode
// with synchronous=NORMAL. A file that exists and is not a SQLite database is refused and never
// written to.
class SqliteProvider : public DbProvider {
public:
    explicit SqliteProvider(ConnectionString cs) : DbProvider(std::move(cs)) {}

    void open() override;
    QString toNative(const QString& statement) const override;
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

    bool m_batch = false;
};
