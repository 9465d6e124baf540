#pragma once

#include <QSqlQuery>
#include <optional>

#include "store/ServerSource.h"
#include "store/StoreProvider.h"

// SQL Server through Qt's ODBC driver and FreeTDS. The catalog is created through the server's
// "master" database when missing; every statement is forward-only (otherwise FreeTDS opens server
// cursors) and takes its values as bound parameters. Tables are listed through
// INFORMATION_SCHEMA: this driver stack's QSqlDatabase::tables() returns nothing. Text values
// above about 64 KB read back empty through it, so the server cuts what it returns instead.
class SqlServerProvider : public StoreProvider {
public:
    explicit SqlServerProvider(DatabaseSettings settings);

    // Steps: 2 opening the catalog, 3 making it.
    Status createDatabaseIfMissing() override;
    Status open() override;
    bool isOpen() const override { return m_db.isOpen(); }
    void ensureTable() override;
    Status insert(const LogEvent& event) override;
    Status readHistory(const HistoryFilter& filter, const RowVisitor& visit) override;

    // The FreeTDS driver: its library path where the package put it, else the registered name.
    static QString driverName();
    // The ODBC connection text for a catalog. Always ends with ";", which Debian's Qt 6.4 ODBC
    // driver needs to read the last value intact.
    static QString odbcText(const ServerSource& source, const QString& catalog,
                            const QString& driver);

protected:
    Problem failure(const QString& text) const override;

private:
    Status connect(const QString& catalog);

    ServerSource m_source;
    std::optional<QSqlQuery> m_insert;
};
