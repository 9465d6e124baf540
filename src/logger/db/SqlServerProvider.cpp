#include "logger/db/SqlServerProvider.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include "support/Failure.h"

QString SqlServerProvider::driverName() {
    const char* const candidates[] = {
        "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
        "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
        "/usr/lib/odbc/libtdsodbc.so",
    };
    for (const char* path : candidates) {
        if (QFileInfo::exists(QString::fromLatin1(path))) {
            return QString::fromLatin1(path);
        }
    }
    return QStringLiteral("FreeTDS");
}

void SqlServerProvider::open() {
    addDatabase(QStringLiteral("QODBC"));
    m_db.setDatabaseName(m_cs.toOdbc(driverName()));
    if (!m_db.open()) {
        // The message names the server, never the password.
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot connect to SQL Server ") +
                                                 m_cs.dataSource + u": " + m_db.lastError().text());
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // The log writes "yyyy-mm-dd hh:mm:ss"; this keeps that meaning under every login language.
    if (!q.exec(QStringLiteral("SET DATEFORMAT ymd"))) {
        throw Failure(ErrorNumber::Database, q.lastError().text());
    }
    // Text values above about 64 KB read back empty through this driver stack; the server cuts
    // what it returns of a text column at this size instead, so long Data shows, shortened.
    if (!q.exec(QStringLiteral("SET TEXTSIZE 60000"))) {
        throw Failure(ErrorNumber::Database, q.lastError().text());
    }
}

QStringList SqlServerProvider::tableNames() {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_TYPE = 'BASE TABLE'"))) {
        throw Failure(ErrorNumber::Database, q.lastError().text());
    }
    QStringList names;
    while (q.next()) {
        names.append(q.value(0).toString());
    }
    return names;
}

void SqlServerProvider::createDatabase() {
    throw Failure(ErrorNumber::Database,
                  QStringLiteral("SQL Server databases are created with CREATE DATABASE"));
}

void SqlServerProvider::createLogTable(const QString&) {
    throw Failure(ErrorNumber::Database,
                  QStringLiteral("SQL Server tables are created with CREATE TABLE"));
}
