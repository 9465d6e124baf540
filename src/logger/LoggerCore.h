#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>

#include "logger/db/DbConnection.h"

class XapGlobal;

// The logger's own state and work: the logging settings and the one shared database connection
// (InitXap), creating the database and the log table when they are missing (OpenDatabase and
// friends), and the dispatch of one received message to a log row or a reply (Readmessage).
class LoggerCore : public QObject {
    Q_OBJECT

public:
    explicit LoggerCore(XapGlobal& global, QObject* parent = nullptr);
    ~LoggerCore() override;

    bool bUseSQL = false;
    QString sSQLSource;
    QString sDatabase;
    QString sDatabaseTable;
    QString sDateDelimiter;
    QString sWildcard;
    QString sConnectPrefix;

    DbConnection* dbConnection() const { return m_connection.get(); }

    void InitXap();
    void OpenDatabase();
    void CreateDatabase();
    void CreateMovementTable(const QString& sTable);
    QString StdTime(const QString& sTime);
    void Readmessage(const QString& sRaw);

    // This program's own xAP source address (the node's): queries addressed to it are answered,
    // and a failed write of its own event reports is not reported again.
    void setOwnSource(const QString& source) { m_ownSource = source; }
    const QString& ownSource() const { return m_ownSource; }

    // What Readmessage has done since the core was made: messages read, event rows written,
    // and events whose row the database (or a closed connection) refused.
    struct Tally {
        quint64 messages = 0;
        quint64 rowsWritten = 0;
        quint64 rowsRefused = 0;
    };
    const Tally& tally() const { return m_tally; }

    static QString fileDatabasePrefix();
    static QString sqlServerPrefix(const QString& sqlSource);
    // "0" and "False" are false; "True" and any other number true; anything else throws.
    static bool readBoolean(const QString& text);

signals:
    // One logged event for the echo window: source, time as received, type, data.
    void echo(const QString& s0, const QString& s1, const QString& s2, const QString& s3);

private:
    XapGlobal& m_g;
    std::unique_ptr<DbConnection> m_connection;
    QString m_ownSource;
    Tally m_tally;
};
