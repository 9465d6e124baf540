#pragma once

#include "logger/db/DbProvider.h"

// SQL Server through Qt's ODBC driver and FreeTDS. Statements are sent as written.
//
// Traps of this driver stack on Debian's Qt 6.4: every query must be forward-only (otherwise
// FreeTDS opens server cursors); QSqlDatabase::tables() and record() return nothing, so tables
// are listed through INFORMATION_SCHEMA; text values above about 64 KB read back empty.
class SqlServerProvider : public DbProvider {
public:
    explicit SqlServerProvider(ConnectionString cs) : DbProvider(std::move(cs)) {}

    void open() override;
    QString toNative(const QString& statement) const override { return statement; }
    QStringList tableNames() override;
    void createDatabase() override;
    void createLogTable(const QString& table) override;

    // The FreeTDS driver: its library path where the package put it, else the registered name.
    static QString driverName();
};
