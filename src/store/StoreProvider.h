#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <memory>

#include "report/Result.h"
#include "store/EventQuery.h"
#include "store/LogEvent.h"
#include "support/LoggerSettings.h"

// One database engine: how to make the database and the event table, how to write an event and
// read the history. Every difference between engines lives in one class of this kind; nothing
// above the store asks which engine it talks to. Values always travel as bound parameters.
//
// The event table has the columns ID (key), SampleDate, Source, Category (the event's type),
// Data. Each engine keeps its quote rule on the texts: the file database stores a double quote
// as an apostrophe, SQL Server an apostrophe as a double quote, PostgreSQL both as they are.
class StoreProvider {
public:
    using RowVisitor = std::function<void(const StoredEvent&)>;

    virtual ~StoreProvider();

    // Makes the database when it does not exist yet; the problem's step says which part failed.
    virtual Status createDatabaseIfMissing() = 0;
    virtual Status open() = 0;
    virtual bool isOpen() const = 0;
    // True when the provider, closed by a failure, connects again by itself at a later write.
    virtual bool connectsAgain() const { return false; }
    // Creates the event table when the database has none of that name, in any letter case; the
    // problem's step says which part of making it failed.
    virtual Status ensureTable() = 0;
    virtual Status insert(const LogEvent& event) = 0;
    // Groups the writes of one receive pass; each write stays its own unit of failure.
    virtual Status beginBatch() { return {}; }
    virtual Status endBatch() { return {}; }
    // The rows of a query, each handed to `visit` in the query's order.
    virtual Status readEvents(const EventQuery& query, const RowVisitor& visit);
    // How many rows the query's range and filters take.
    virtual Result<qint64> countEvents(const EventQuery& query);

    // The database as people name it: its file, or its name and server (never a password).
    virtual QString where() const = 0;
    // Whether the database could be opened, or made where it is missing, without making or
    // changing anything: what was found ("the table is there", "would be made"), or what stands
    // in the way. Servers are connected to.
    virtual Result<QString> probe() = 0;

    static std::unique_ptr<StoreProvider> forSettings(const DatabaseSettings& settings);

protected:
    explicit StoreProvider(DatabaseSettings settings) : m_settings(std::move(settings)) {}

    // A Qt connection of its own name, so that several can be open at once; removed again with
    // the provider.
    Status addConnection(const QString& driver);
    void removeConnection();

    // How this engine writes the parts of an event query that differ (the table's name at least).
    virtual EventSelectDialect selectDialect() const = 0;
    // A connection to read on, made again when the engine's was lost.
    virtual Status readyToRead() { return {}; }
    // The stored form of a SampleDate value as the driver returns it.
    virtual QString timeText(const QVariant& stored) const;
    // A problem from a driver message (engines whose messages can quote secrets mask them).
    virtual Problem failure(const QString& text) const;

    DatabaseSettings m_settings;
    QSqlDatabase m_db;
    QString m_connectionName;
};
