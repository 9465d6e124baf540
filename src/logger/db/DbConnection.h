#pragma once

#include <QString>
#include <memory>

#include "logger/db/RecordSet.h"

class DbProvider;

// One database connection, opened with a connection string of the settings' form. Failures are
// thrown (Failure) with the driver's message; the caller decides how they are reported.
class DbConnection {
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    void Open(const QString& connectionString);
    // Runs one statement; a SELECT yields its rows, anything else an empty result.
    RecordSet execute(const QString& sql);
    bool isOpen() const;
    void Close();

    // While a batch is open the statements are committed together when it ends, and each
    // statement that fails is undone alone.
    void beginBatch();
    void endBatch();

private:
    std::unique_ptr<DbProvider> m_provider;
    QString m_connectionString;
};

// The catalog operations on the database a connection string names.
namespace Catalog {

void Create(const QString& connectionString);
QStringList Tables(const QString& connectionString);
void AppendLogTable(const QString& connectionString, const QString& table);

}  // namespace Catalog
