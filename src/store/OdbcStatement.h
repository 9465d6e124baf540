#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <vector>

// One prepared statement on the native ODBC connection under a QODBC connection. Qt's driver
// takes FreeTDS for an 8-bit driver and sends every text as 8-bit characters, which the server
// turns into its code page ("?" for the rest), and it sets no query timeout; this statement sends
// its values as Unicode and gives up after the timeout. Results are read as Unicode text.
class OdbcStatement {
public:
    OdbcStatement(const QSqlDatabase& db, int timeoutSeconds);
    ~OdbcStatement();
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;

    bool prepare(const QString& sql);
    // Runs the statement with these values for its "?" marks, in order.
    bool exec(const QStringList& values);
    bool next();
    // How many columns the statement's rows have (none for one that returns no rows).
    int columns();
    QString text(int column);
    // Rows the last INSERT, UPDATE or DELETE changed.
    qint64 rowsAffected();

    // Whether the driver found the connection broken (a failure then says little more than
    // "Unknown error").
    bool connectionDead() const;
    // The SQLSTATE and the driver's messages of the last failure.
    const QString& state() const { return m_state; }
    const QString& message() const { return m_message; }

private:
    bool check(short ret);

    void* m_handle = nullptr;
    void* m_connection = nullptr;
    QStringList m_values;  // kept alive while the driver reads them
    std::vector<long> m_lengths;
    QString m_state;
    QString m_message;
};
