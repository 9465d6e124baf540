#pragma once

#include <QString>

// The parts of a connection string in the "Name = value; Name = value" form the settings build:
// which provider, which server or file, which catalog, and how to sign in.
struct ConnectionString {
    enum class Provider { FileDatabase, SqlServer, Unknown };

    Provider provider = Provider::Unknown;
    QString providerName;
    QString dataSource;      // the file (file database) or the server, possibly "host,port"
    QString initialCatalog;  // SQL Server database
    QString userId;
    QString password;
    bool integratedSecurity = false;

    static ConnectionString parse(const QString& text);

    // The text with every occurrence of the password masked: driver messages can quote what
    // they were given, and no message that leaves a connection may show the password.
    QString redact(const QString& text) const;

    // The ODBC connection string for the FreeTDS driver. Always ends with ";", which Debian's
    // Qt 6.4 ODBC driver needs to read the last value intact.
    QString toOdbc(const QString& driver) const;
};
