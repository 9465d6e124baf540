#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

#include "logger/db/ConnectionString.h"
#include "logger/db/RecordSet.h"

// One database engine behind a connection: how to open it, how the statements the logger writes
// become the engine's SQL, and the catalog operations the logger needs. Chosen by the connection
// string's Provider; no other code asks which driver it runs on.
class DbProvider {
public:
    virtual ~DbProvider();

    // Opens the connection; throws Failure with the driver's message.
    virtual void open() = 0;
    virtual QString toNative(const QString& statement) const = 0;
    // Runs one statement; a SELECT yields its rows. Throws Failure with the driver's message.
    virtual RecordSet execute(const QString& statement);
    virtual QStringList tableNames() = 0;
    // Makes a new, empty database (file providers; others throw).
    virtual void createDatabase() = 0;
    // Creates the log table through the catalog, with its columns and key.
    virtual void createLogTable(const QString& table) = 0;
    // Groups the statements of one receive pass; each statement stays its own unit of failure.
    virtual void beginBatch() {}
    virtual void endBatch() {}
    virtual bool inBatch() const { return false; }

    QSqlDatabase& database() { return m_db; }
    void close();

    static std::unique_ptr<DbProvider> forConnectionString(const QString& text);

protected:
    explicit DbProvider(ConnectionString cs);
    // A connection name of its own, so that several connections can be open at once.
    QSqlDatabase addDatabase(const QString& driver);

    ConnectionString m_cs;
    QSqlDatabase m_db;
    QString m_connectionName;
};
