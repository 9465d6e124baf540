#include "store/PostgresProvider.h"

#include <libpq-fe.h>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <cstring>

namespace {

constexpr const char* kInsertName = "quilljot_insert";

QByteArray storedText(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (std::memchr(utf8.constData(), '\0', std::size_t(utf8.size())) != nullptr) {
        utf8 = QString(text).replace(QChar(u'\0'), QChar(0xFFFD)).toUtf8();
    }
    return utf8;
}

QString quotedName(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

}  // namespace

PostgresProvider::PostgresProvider(DatabaseSettings settings)
    : StoreProvider(std::move(settings)), m_source(ServerSource::parse(m_settings.sqlSource)) {}

PostgresProvider::~PostgresProvider() {
    // What the open batch wrote is kept, as with the other engines.
    if (m_batch) {
        (void)endBatch();
    }
    disconnect();
}

QString PostgresProvider::serverName() const {
    if (m_source.host.isEmpty()) {
        return QStringLiteral("on the local socket");
    }
    return m_source.host + (m_source.port.isEmpty() ? QString() : u',' + m_source.port);
}

Problem PostgresProvider::failure(const QString& text) const {
    // Without a live connection nothing could have been written: that passes when the server
    // is back. With one, the server refused the value itself.
    return Problem{connected() ? ErrorNumber::Database : ErrorNumber::DatabaseUnavailable,
                   m_source.redact(text)};
}

Problem PostgresProvider::engineFailure(const QString& message) const {
    return failure(message.trimmed());
}

bool PostgresProvider::connected() const {
    return m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK;
}

void PostgresProvider::disconnect() {
    m_conn = nullptr;
    m_prepared = false;
    removeConnection();
}

Status PostgresProvider::connect(const QString& database) {
    disconnect();
    if (const Status added = addConnection(QStringLiteral("QPSQL")); !added) {
        return added;
    }
    // A host starting with "/" is the folder of the server's Unix socket; no host is the
    // default socket. Without a User ID libpq signs in as this system user (peer sign-in).
    if (!m_source.host.isEmpty()) {
        m_db.setHostName(m_source.host);
    }
    if (!m_source.port.isEmpty()) {
        m_db.setPort(m_source.port.toInt());
    }
    m_db.setDatabaseName(database);
    if (!m_source.userId.isEmpty()) {
        m_db.setUserName(m_source.userId);
        m_db.setPassword(m_source.password);
    }
    // A server that does not answer must not hold the logger for long.
    m_db.setConnectOptions(QStringLiteral("connect_timeout=5;application_name=quilljot"));
    if (!m_db.open()) {
        const Problem p = failure(QStringLiteral("Cannot connect to PostgreSQL ") + serverName() +
                                  u": " + m_db.lastError().text());
        disconnect();
        return p;
    }
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "pg_conn*") != 0) {
        disconnect();
        return Problem{ErrorNumber::Database,
                       QStringLiteral("The PostgreSQL driver gives no handle")};
    }
    m_conn = *static_cast<pg_conn* const*>(handle.constData());
    return {};
}

Status PostgresProvider::outcome(PGresult* result) const {
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    const QString why = ok ? QString() : QString::fromUtf8(PQerrorMessage(m_conn));
    PQclear(result);
    if (!ok) {
        return engineFailure(why);
    }
    return {};
}

Status PostgresProvider::run(const char* sql) {
    return outcome(PQexec(m_conn, sql));
}

Status PostgresProvider::createDatabaseIfMissing() {
    const bool exists = static_cast<bool>(connect(m_settings.database));
    if (exists) {
        disconnect();
        return {};
    }
    if (const Status server = connect(QStringLiteral("postgres")); !server) {
        disconnect();
        return server.problem().atStep(3);
    }
    // Quoted, so that the name keeps its letter case as the connection names it.
    const QByteArray sql =
        (QStringLiteral("CREATE DATABASE ") + quotedName(m_settings.database)).toUtf8();
    const Status made = run(sql.constData());
    disconnect();
    return made ? made : Status(made.problem().atStep(3));
}

Status PostgresProvider::open() {
    const Status s = connect(m_settings.database);
    m_opened = static_cast<bool>(s);
    return s;
}

// Steps, as "CreateDatabase" reports them: 4 the table, 5 its time index.
Status PostgresProvider::ensureTable() {
    m_table = quotedName(m_settings.table.toLower());
    if (!connected()) {
        return {};
    }
    {
        QSqlQuery q(m_db);
        q.prepare(
            QStringLiteral("SELECT table_name FROM information_schema.tables WHERE "
                           "table_schema = current_schema() AND lower(table_name) = lower(?)"));
        q.addBindValue(m_settings.table);
        // A table of the name in another letter case is used as it is.
        if (q.exec() && q.next()) {
            m_table = quotedName(q.value(0).toString());
        } else {
            q.finish();
            if (!q.exec(QStringLiteral("CREATE TABLE ") + m_table +
                        QStringLiteral(" (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                                       "SampleDate timestamp NOT NULL, Source text, Category "
                                       "text, Data text)"))) {
                return failure(q.lastError().text()).atStep(4);
            }
        }
    }
    // The history query asks for the rows after a time; also on tables made elsewhere.
    QSqlQuery index(m_db);
    if (!index.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS ") +
                    quotedName(m_settings.table.toLower() + QStringLiteral("_sampledate")) +
                    QStringLiteral(" ON ") + m_table + QStringLiteral(" (SampleDate)"))) {
        return failure(index.lastError().text()).atStep(5);
    }
    return {};
}

Status PostgresProvider::write(const LogEvent& event) {
    if (!m_prepared) {
        const QByteArray sql = (QStringLiteral("INSERT INTO ") + m_table +
                                QStringLiteral(" (SampleDate,Source,Category,Data) "
                                               "VALUES ($1,$2,$3,$4)"))
                                   .toUtf8();
        PGresult* r = PQprepare(m_conn, kInsertName, sql.constData(), 4, nullptr);
        m_prepared = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!m_prepared) {
            return engineFailure(QString::fromUtf8(PQerrorMessage(m_conn)));
        }
    }
    const QByteArray values[] = {event.time.toUtf8(), storedText(event.source),
                                 storedText(event.type), storedText(event.data)};
    const char* params[4];
    for (int i = 0; i < 4; ++i) {
        params[i] = values[i].constData();
    }
    return outcome(PQexecPrepared(m_conn, kInsertName, 4, params, nullptr, nullptr, 0));
}

Status PostgresProvider::connection() {
    if (connected()) {
        return {};
    }
    if (m_lost && m_lastAttempt.isValid() && m_lastAttempt.elapsed() < kRetryMs) {
        return *m_lost;
    }
    return reconnect();
}

Status PostgresProvider::reconnect() {
    m_lastAttempt.start();
    if (const Status c = connect(m_settings.database); !c) {
        m_lost = failure(QStringLiteral("The connection to PostgreSQL ") + serverName() +
                         QStringLiteral(" was lost and cannot be made again: ") +
                         c.problem().description);
        return *m_lost;
    }
    m_lost.reset();
    return m_batch ? restartBatch() : Status();
}

void PostgresProvider::rollBack() {
    if (connected() && PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
        PQclear(PQexec(m_conn, "ROLLBACK"));
    }
}

Status PostgresProvider::restartBatch() {
    rollBack();
    if (const Status begun = run("BEGIN"); !begun) {
        return begun;
    }
    for (qsizetype i = 0; i < m_batchRows.size(); ++i) {
        if (const Status again = write(m_batchRows[i]); !again) {
            const qsizetype lost = m_batchRows.size() - i;
            m_batchRows.resize(i);
            return failure(QString::number(lost) +
                           QStringLiteral(" rows written earlier in this pass are lost: ") +
                           again.problem().description);
        }
    }
    return {};
}

Status PostgresProvider::insert(const LogEvent& event) {
    if (const Status live = connection(); !live) {
        return live;
    }
    Status written = write(event);
    if (!written && !connected()) {
        // The server went away (restarted, or ended this session): once more on a new one.
        if (const Status again = reconnect(); !again) {
            return again;
        }
        written = write(event);
    }
    if (written) {
        if (m_batch) {
            m_batchRows.append(event);
        }
        return {};
    }
    if (m_batch) {
        // The refused row ended the transaction; its neighbours get a new one.
        if (const Status restarted = restartBatch(); !restarted) {
            return restarted;
        }
    }
    return written;
}

Status PostgresProvider::beginBatch() {
    if (m_batch) {
        return {};
    }
    m_batch = true;
    m_batchRows.clear();
    // Without a connection the first write of the batch makes one and begins the transaction.
    if (connected()) {
        const Status begun = run("BEGIN");
        if (!begun && connected()) {
            return begun;
        }
    }
    return {};
}

Status PostgresProvider::endBatch() {
    if (!m_batch) {
        return {};
    }
    Status committed = connected() ? run("COMMIT") : Status(Problem{});
    if (!committed && !connected() && !m_batchRows.isEmpty() && reconnect()) {
        committed = run("COMMIT");
    }
    m_batch = false;
    const qsizetype rows = m_batchRows.size();
    m_batchRows.clear();
    if (committed || rows == 0) {
        return {};
    }
    rollBack();
    const QString why = committed.problem().description.isEmpty() && m_lost
                            ? m_lost->description
                            : committed.problem().description;
    return failure(QString::number(rows) + QStringLiteral(" rows written in this pass are lost: ") +
                   why);
}

EventSelectDialect PostgresProvider::selectDialect() const {
    EventSelectDialect dialect{m_table};
    dialect.likeOperator = QStringLiteral("ILIKE");
    return dialect;
}

QString PostgresProvider::tableName(Table table) const {
    return table == Table::Events ? m_table : quotedName(m_settings.messagesTable.toLower());
}

Status PostgresProvider::ensureMessagesTable() {
    if (!connected()) {
        return {};
    }
    const QString table = tableName(Table::Messages);
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS ") + table +
                QStringLiteral(" (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                               "ReceivedDate timestamp NOT NULL, Source text, Target text, "
                               "Class text, UID text, Message text)")) ||
        !q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS ") +
                quotedName(m_settings.messagesTable.toLower() + QStringLiteral("_receiveddate")) +
                QStringLiteral(" ON ") + table + QStringLiteral(" (ReceivedDate)"))) {
        return failure(q.lastError().text());
    }
    return {};
}
