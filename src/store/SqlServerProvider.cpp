#include "store/SqlServerProvider.h"

#include <QFileInfo>
#include <QSqlError>
#include <QVariant>
#include <algorithm>
#include <utility>

namespace {

// SQL Server stores an apostrophe inside a text as a double quote.
QString storedText(const QString& text) {
    return text.contains(u'\'') ? QString(text).replace(u'\'', u'"') : text;
}

}  // namespace

SqlServerProvider::SqlServerProvider(DatabaseSettings settings)
    : StoreProvider(std::move(settings)), m_source(ServerSource::parse(m_settings.sqlSource)) {}

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

QString SqlServerProvider::odbcText(const ServerSource& source, const QString& catalog,
                                    const QString& driver) {
    // FreeTDS mishandles "host,port" inside SERVER; the port goes into a key of its own.
    QString out =
        QStringLiteral("DRIVER={") + driver + QStringLiteral("};SERVER=") + source.host + u';';
    if (!source.port.isEmpty()) {
        out += QStringLiteral("PORT=") + source.port + u';';
    }
    if (!catalog.isEmpty()) {
        out += QStringLiteral("DATABASE=") + catalog + u';';
    }
    if (!source.userId.isEmpty()) {
        out += QStringLiteral("UID=") + source.userId + QStringLiteral(";PWD={") +
               QString(source.password).replace(u'}', QStringLiteral("}}")) + QStringLiteral("};");
    } else {
        out += QStringLiteral("Trusted_Connection=Yes;");
    }
    // Timeout is FreeTDS's query timeout, in seconds.
    out += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;Timeout=") +
           QString::number(kQueryTimeoutSeconds) + u';';
    return out;
}

Problem SqlServerProvider::failure(const QString& text) const {
    return Problem{isUnavailable(text) ? ErrorNumber::DatabaseUnavailable : ErrorNumber::Database,
                   m_source.redact(text)};
}

bool SqlServerProvider::isUnavailable(const QString& message) {
    // A catalog that is not there yet is no outage: it is made (FreeTDS says "unable to connect"
    // for it as well).
    const bool missingCatalog = message.contains(u"cannot open database", Qt::CaseInsensitive) ||
                                (message.contains(u"database \"", Qt::CaseInsensitive) &&
                                 message.contains(u"does not exist", Qt::CaseInsensitive));
    if (missingCatalog) {
        return false;
    }
    // What FreeTDS says when the server is down, unreachable, restarted under the connection, or
    // silent past a timeout; the rest is the server refusing a statement or a value.
    static const char16_t* const fragments[] = {
        u"communication link failure",
        u"timeout expired",
        u"login timeout",
        u"unable to connect",
        u"is unavailable",
        u"connection refused",
        u"read from the server failed",
        u"write to the server failed",
        u"server closed the connection",
        u"connection is dead",
    };
    for (const char16_t* fragment : fragments) {
        if (message.contains(QStringView(fragment), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

QString SqlServerProvider::fitted(const QString& text) {
    if (text.size() <= kNameColumnSize) {
        return text;
    }
    qsizetype keep = kNameColumnSize - 1;
    if (text.at(keep - 1).isHighSurrogate()) {
        --keep;  // never half a character
    }
    return text.left(keep) + kCutMark;
}

Problem SqlServerProvider::failed(const QSqlError& error) {
    return failed(failure(error.text()));
}

Problem SqlServerProvider::failed(const OdbcStatement& statement) {
    Problem p = failure(statement.message());
    // Connection failures (08...) and timeouts (HYT00, HYT01).
    if (statement.state().startsWith(u"08") || statement.state().startsWith(u"HYT")) {
        p.number = ErrorNumber::DatabaseUnavailable;
    }
    return failed(p);
}

Problem SqlServerProvider::failed(const Problem& p) {
    if (p.number == ErrorNumber::DatabaseUnavailable) {
        // The connection is of no more use: FreeTDS keeps failing on it after the server is back.
        m_insert.reset();
        removeConnection();
        m_unavailable = p;
        m_sinceFailure.start();
    }
    return p;
}

Status SqlServerProvider::ready() {
    if (!m_unavailable) {
        return m_db.isOpen() ? Status() : Status(failure(QStringLiteral("Not connected")));
    }
    if (m_sinceFailure.elapsed() < m_retryMs) {
        return *m_unavailable;
    }
    Status connected = connect(m_settings.database);
    if (connected) {
        connected = ensureTable();
    }
    if (!connected) {
        removeConnection();
        if (connected.problem().number != ErrorNumber::DatabaseUnavailable) {
            // Reachable, but refusing: tried again after the longest delay only.
            m_retryMs = kLastRetryMs;
        } else {
            m_retryMs = std::min(m_retryMs * 2, kLastRetryMs);
        }
        m_unavailable = Problem{ErrorNumber::DatabaseUnavailable, connected.problem().description};
        m_sinceFailure.start();
        return *m_unavailable;
    }
    m_unavailable.reset();
    return {};
}

Status SqlServerProvider::connect(const QString& catalog) {
    m_insert.reset();
    if (const Status added = addConnection(QStringLiteral("QODBC")); !added) {
        return added;
    }
    m_db.setDatabaseName(odbcText(m_source, catalog, driverName()));
    m_db.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1")
            .arg(kLoginTimeoutSeconds));
    if (!m_db.open()) {
        // The message names the server, never the password.
        return failure(QStringLiteral("Cannot connect to SQL Server ") + m_source.host +
                       (m_source.port.isEmpty() ? QString() : u',' + m_source.port) + u": " +
                       m_db.lastError().text());
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Times are written as "yyyy-mm-dd hh:mm:ss"; this keeps that meaning under every login
    // language.
    if (!q.exec(QStringLiteral("SET DATEFORMAT ymd"))) {
        return failure(q.lastError().text());
    }
    // FreeTDS asks the server for at most 64,512 bytes of a long text by default; a longer
    // Data value would come back cut or empty.
    if (!q.exec(QStringLiteral("SET TEXTSIZE 2147483647"))) {
        return failure(q.lastError().text());
    }
    return {};
}

Status SqlServerProvider::createDatabaseIfMissing() {
    const Status direct = connect(m_settings.database);
    if (direct || direct.problem().number == ErrorNumber::DatabaseUnavailable) {
        // Open already, or a server that does not answer: open() hands back the same failure
        // rather than waiting for the server a second and third time and reporting it twice.
        if (!direct) {
            m_openFailure = direct.problem();
            removeConnection();
        }
        return {};
    }
    // A connection to the instance that does not name the missing catalog.
    if (const Status server = connect(QStringLiteral("master")); !server) {
        removeConnection();
        return server.problem().atStep(3);
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    const bool made = q.exec(QStringLiteral("CREATE DATABASE ") + m_settings.database);
    const Status result = made ? Status() : Status(failure(q.lastError().text()).atStep(3));
    removeConnection();
    return result;
}

Status SqlServerProvider::open() {
    if (m_db.isOpen()) {
        return {};
    }
    Status opened = m_openFailure ? Status(*std::exchange(m_openFailure, std::nullopt))
                                  : connect(m_settings.database);
    if (!opened && opened.problem().number == ErrorNumber::DatabaseUnavailable) {
        // Writes connect again by themselves once the server answers.
        m_unavailable = opened.problem();
        m_sinceFailure.start();
    }
    return opened;
}

Result<bool> SqlServerProvider::hasTable() {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES "
                       "WHERE TABLE_TYPE = 'BASE TABLE' AND TABLE_NAME = ?"));
    q.bindValue(0, m_settings.table);
    if (!q.exec() || !q.next()) {
        return failed(q.lastError());
    }
    return q.value(0).toInt() > 0;
}

Status SqlServerProvider::ensureTable() {
    const Result<bool> there = hasTable();
    if (!there) {
        return there.problem().atStep(4);
    }
    const QString& t = m_settings.table;
    // An existing table is used as it is, whatever its column types: old tables keep working.
    if (there.value()) {
        return ensureTimeIndex();
    }
    // nvarchar keeps every character; datetime2 every date from year 1. The key is part of the
    // table's definition, so that there is no table without it.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("CREATE TABLE ") + t +
                QStringLiteral(" (ID int IDENTITY(1,1) CONSTRAINT [PK_") + t +
                QStringLiteral("] PRIMARY KEY NONCLUSTERED, SampleDate datetime2(0) NOT NULL, "
                               "Source nvarchar(255) NULL, Category nvarchar(255) NULL, "
                               "Data nvarchar(max) NULL)"))) {
        return failed(q.lastError()).atStep(4);
    }
    if (!hasPrimaryKey()) {
        return failure(QStringLiteral("The table ") + t +
                       QStringLiteral(" was made without its primary key"))
            .atStep(5);
    }
    return ensureTimeIndex();
}

// The history asks for the rows after a time, in time order: the index serves both. Step 6 of
// "CreateDatabase".
Status SqlServerProvider::ensureTimeIndex() {
    return ensureIndexOn(m_settings.table, QStringLiteral("SampleDate"));
}

Status SqlServerProvider::ensureIndexOn(const QString& table, const QString& column) {
    const QString index = QStringLiteral("IX_") + table + u'_' + column;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Found by what it indexes, not by name: some servers keep an index's name changed.
    if (!q.exec(QStringLiteral("IF NOT EXISTS (SELECT 1 FROM sys.index_columns ic JOIN "
                               "sys.columns c ON c.object_id = ic.object_id AND c.column_id = "
                               "ic.column_id WHERE ic.object_id = OBJECT_ID('") +
                table + QStringLiteral("') AND ic.key_ordinal = 1 AND c.name = '") + column +
                QStringLiteral("') CREATE INDEX [") + index + QStringLiteral("] ON ") + table +
                QStringLiteral(" (") + column + u')')) {
        return failed(q.lastError()).atStep(6);
    }
    return {};
}

bool SqlServerProvider::hasPrimaryKey() {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLE_CONSTRAINTS "
                       "WHERE CONSTRAINT_TYPE = 'PRIMARY KEY' AND TABLE_NAME = ?"));
    q.bindValue(0, m_settings.table);
    return q.exec() && q.next() && q.value(0).toInt() > 0;
}

Status SqlServerProvider::insert(const LogEvent& event) {
    if (const Status connected = ready(); !connected) {
        return connected;
    }
    if (!m_insert) {
        m_insert = std::make_unique<OdbcStatement>(m_db, kWriteTimeoutSeconds);
        if (!m_insert->prepare(QStringLiteral("INSERT INTO ") + m_settings.table +
                               QStringLiteral(" (SampleDate,Source,Category,Data) "
                                              "VALUES (?,?,?,?)"))) {
            const Problem p = failed(*m_insert);
            m_insert.reset();
            return p;
        }
    }
    if (!m_insert->exec({event.time, fitted(storedText(event.source)),
                         fitted(storedText(event.type)), storedText(event.data)})) {
        return failed(*m_insert);
    }
    m_retryMs = kFirstRetryMs;
    return {};
}

EventSelectDialect SqlServerProvider::selectDialect() const {
    EventSelectDialect dialect{m_settings.table};
    // Style 120 is the stored form, yyyy-mm-dd hh:mm:ss, for datetime and datetime2 alike.
    dialect.timeColumn = QStringLiteral("CONVERT(varchar(19), SampleDate, 120)");
    // Tables made by older tools may hold text/ntext, which neither sorts nor compares.
    dialect.sortableText = QStringLiteral("COALESCE(CAST(%1 AS nvarchar(max)), N'')");
    dialect.limitWithTop = true;
    return dialect;
}

Status SqlServerProvider::readEvents(const EventQuery& query, const RowVisitor& visit) {
    if (const Status connected = ready(); !connected) {
        return connected;
    }
    const EventSelectDialect dialect = selectDialect();
    QString cursorValue;
    if (query.after) {
        const EventSelect cursorOf = EventSelects::cursorOf(dialect, query);
        OdbcStatement cursor(m_db, kQueryTimeoutSeconds);
        if (!cursor.prepare(cursorOf.sql) || !cursor.exec(cursorOf.values)) {
            return failed(cursor);
        }
        if (!cursor.next()) {
            return cursor.message().isEmpty() ? Status() : Status(failed(cursor));
        }
        cursorValue = cursor.text(0);
    }
    const EventSelect select = EventSelects::rows(dialect, query, cursorValue);
    OdbcStatement q(m_db, kQueryTimeoutSeconds);
    if (!q.prepare(select.sql) || !q.exec(select.values)) {
        return failed(q);
    }
    while (q.next()) {
        visit(StoredEvent{q.text(0).toLongLong(),
                          LogEvent{q.text(1), q.text(2), q.text(3), q.text(4)}});
    }
    if (!q.message().isEmpty()) {
        return failed(q);
    }
    return {};
}

Result<qint64> SqlServerProvider::countEvents(const EventQuery& query) {
    if (const Status connected = ready(); !connected) {
        return connected.problem();
    }
    const EventSelect select = EventSelects::count(selectDialect(), query);
    OdbcStatement q(m_db, kQueryTimeoutSeconds);
    if (!q.prepare(select.sql) || !q.exec(select.values) || !q.next()) {
        return failed(q);
    }
    return q.text(0).toLongLong();
}

QString SqlServerProvider::deleteOldestSql(Table table, int limit) const {
    // The oldest first would need a sort of every old row: any old rows will do, as many times
    // as it takes.
    return QStringLiteral("DELETE TOP (") + QString::number(limit) + QStringLiteral(") FROM ") +
           tableName(table) + QStringLiteral(" WHERE ") + timeColumn(table) +
           QStringLiteral(" < ?");
}

Result<int> SqlServerProvider::deleteRowsBefore(Table table, const QString& before, int limit) {
    if (const Status connected = ready(); !connected) {
        return connected.problem();
    }
    OdbcStatement q(m_db, kQueryTimeoutSeconds);
    if (!q.prepare(deleteOldestSql(table, limit)) || !q.exec({before})) {
        return failed(q);
    }
    return int(q.rowsAffected());
}

Status SqlServerProvider::ensureMessagesTable() {
    const QString& t = m_settings.messagesTable;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("IF OBJECT_ID('") + t +
                QStringLiteral("', 'U') IS NULL CREATE TABLE ") + t +
                QStringLiteral(" (ID int IDENTITY(1,1) CONSTRAINT [PK_") + t +
                QStringLiteral("] PRIMARY KEY NONCLUSTERED, ReceivedDate datetime2(0) NOT NULL, "
                               "Source nvarchar(255) NULL, Target nvarchar(255) NULL, "
                               "Class nvarchar(255) NULL, UID nvarchar(64) NULL, "
                               "Message nvarchar(max) NULL)"))) {
        return failed(q.lastError());
    }
    return ensureIndexOn(t, QStringLiteral("ReceivedDate"));
}

Status SqlServerProvider::insertMessage(const LoggedMessage& m) {
    if (const Status connected = ready(); !connected) {
        return connected;
    }
    // As Unicode, like the events.
    OdbcStatement q(m_db, kQueryTimeoutSeconds);
    if (!q.prepare(QStringLiteral("INSERT INTO ") + m_settings.messagesTable +
                   QStringLiteral(" (ReceivedDate,Source,Target,Class,UID,Message) "
                                  "VALUES (?,?,?,?,?,?)")) ||
        !q.exec(
            {m.time, fitted(m.source), fitted(m.target), fitted(m.messageClass), m.uid, m.text})) {
        return failed(q);
    }
    return {};
}

QString SqlServerProvider::where() const {
    return QStringLiteral("SQL Server database ") + m_settings.database + QStringLiteral(" on ") +
           m_source.host + (m_source.port.isEmpty() ? QString() : u',' + m_source.port);
}

Result<QString> SqlServerProvider::probe() {
    if (const Status reached = connect(m_settings.database); !reached) {
        removeConnection();
        if (reached.problem().number == ErrorNumber::DatabaseUnavailable) {
            return reached.problem();
        }
        // A catalog that is missing is made through the instance's master database.
        const Status server = connect(QStringLiteral("master"));
        removeConnection();
        if (!server) {
            return server.problem();
        }
        return QStringLiteral("does not exist yet; the server would make it, with the table");
    }
    const Result<bool> there = hasTable();
    removeConnection();
    if (!there) {
        return there.problem();
    }
    return there.value() ? QStringLiteral("reached; the table is there")
                         : QStringLiteral("reached; the table would be made");
}
