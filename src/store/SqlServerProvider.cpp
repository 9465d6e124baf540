#include "store/SqlServerProvider.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <map>
#include <utility>

#include "report/ReportSteps.h"

namespace {

// The columns each write names, in the order of its bound values; the first is the row's time.
const QStringList kEventColumns{QStringLiteral("SampleDate"), QStringLiteral("Source"),
                                QStringLiteral("Category"), QStringLiteral("Data")};
const QStringList kMessageColumns{QStringLiteral("ReceivedDate"), QStringLiteral("Source"),
                                  QStringLiteral("Target"),       QStringLiteral("Class"),
                                  QStringLiteral("UID"),          QStringLiteral("Message")};

QString insertSql(const QString& table, const QStringList& columns) {
    return QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + columns.join(u',') +
           QStringLiteral(") VALUES (") +
           QStringList(columns.size(), QStringLiteral("?")).join(u',') + u')';
}

// SQL Server stores an apostrophe inside a text as a double quote.
QString storedText(const QString& text) {
    return text.contains(u'\'') ? QString(text).replace(u'\'', u'"') : text;
}

}  // namespace

SqlServerProvider::SqlServerProvider(DatabaseSettings settings)
    : StoreProvider(std::move(settings)),
      m_source(ServerSource::parse(m_settings.sqlSource)),
      m_sessionBase(QStringLiteral("Quilljot writer ") +
                    QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

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
    return Problem{isUnavailable(text) ? ErrorKind::DatabaseUnavailable : ErrorKind::Database,
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

Problem SqlServerProvider::classified(const OdbcStatement& statement) const {
    Problem p = failure(statement.message());
    // Connection failures (08...), timeouts (HYT00, HYT01), and a link that broke under a
    // statement, which FreeTDS reports as an unknown error.
    if (statement.state().startsWith(u"08") || statement.state().startsWith(u"HYT") ||
        statement.connectionDead()) {
        p.kind = ErrorKind::DatabaseUnavailable;
    }
    return p;
}

Problem SqlServerProvider::failed(std::unique_ptr<OdbcStatement>& statement) {
    const Problem p = classified(*statement);
    statement.reset();
    return failed(p);
}

Problem SqlServerProvider::failed(const Problem& p) {
    if (p.passes()) {
        // The connection is of no more use: FreeTDS keeps failing on it after the server is back.
        m_insert.reset();
        m_insertMessage.reset();
        removeConnection();
        m_unavailable = p;
        m_sinceFailure.start();
    }
    return p;
}

Status SqlServerProvider::ready(bool now) {
    if (!m_unavailable) {
        return m_db.isOpen() ? settleDoubt() : Status(failure(QStringLiteral("Not connected")));
    }
    if (!now && m_sinceFailure.elapsed() < m_retryMs) {
        return *m_unavailable;
    }
    Status connected = connect(m_settings.database);
    if (connected) {
        connected = ensureLayout().status();
    }
    if (!connected) {
        removeConnection();
        if (!connected.problem().passes()) {
            // Reachable, but refusing: tried again after the longest delay only.
            m_retryMs = kLastRetryMs;
        } else {
            m_retryMs = std::min(m_retryMs * 2, kLastRetryMs);
        }
        m_unavailable = Problem{ErrorKind::DatabaseUnavailable, connected.problem().description};
        m_sinceFailure.start();
        return *m_unavailable;
    }
    m_unavailable.reset();
    return settleDoubt();
}

Status SqlServerProvider::settleDoubt() {
    if (!m_doubt) {
        return {};
    }
    const DoubtfulWrite d = *m_doubt;
    if (!d.session.isEmpty()) {
        bool ended = false;
        const Result<qint64> asked = runTimed(
            QStringLiteral("SELECT APPLOCK_TEST('public', ?, 'Exclusive', 'Session')"), {d.session},
            [&](const QStringList& row) { ended = row.value(0) == u"1"; }, kWriteTimeoutSeconds);
        if (asked && !ended) {
            return Problem{ErrorKind::DatabaseUnavailable,
                           QStringLiteral("The server still runs the session of the connection "
                                          "that was lost; its last write is checked once it has "
                                          "ended")};
        }
        if (!asked && asked.problem().passes()) {
            return asked.problem();
        }
    }
    QString sql =
        QStringLiteral("SELECT COUNT(*) FROM ") + d.row.table + QStringLiteral(" WHERE ID > ?");
    const QStringList& columns = *d.row.columns;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        // The first column is the row's time, never empty.
        sql += i == 0 ? QStringLiteral(" AND %1 = ?").arg(columns[i])
                      : QStringLiteral(" AND COALESCE(%1, N'') = ?").arg(columns[i]);
    }
    qint64 found = 0;
    const Result<qint64> counted = runTimed(
        sql, QStringList{QString::number(d.after)} + d.row.values,
        [&](const QStringList& row) { found = row.value(0).toLongLong(); }, kWriteTimeoutSeconds);
    if (!counted && counted.problem().passes()) {
        return counted.problem();  // asked again at the next connection
    }
    // A refused question must not refuse the next row: unanswered, the row is written again.
    m_doubt.reset();
    if (counted && found > d.equalDone) {
        m_alreadyStored = d.row;
    }
    return {};
}

Status SqlServerProvider::writeRow(OdbcStatement& statement, const RowWrite& row) {
    if (m_alreadyStored) {
        const bool same = *std::exchange(m_alreadyStored, std::nullopt) == row;
        if (same) {
            m_passWritten.append(row);
            return {};
        }
    }
    if (m_inPass && !m_passAfter.contains(row.table)) {
        qint64 newest = 0;
        const Result<qint64> read = runTimed(
            QStringLiteral("SELECT COALESCE(MAX(ID), 0) FROM ") + row.table, {},
            [&](const QStringList& r) { newest = r.value(0).toLongLong(); }, kWriteTimeoutSeconds);
        if (!read) {
            return read.problem();
        }
        m_passAfter.insert(row.table, newest);
    }
    if (!statement.exec(row.values)) {
        // The kept statements are freed by failed() before the connection.
        const Problem p = failed(classified(statement));
        if (p.passes() && m_passAfter.contains(row.table)) {
            m_doubt = DoubtfulWrite{row, m_passAfter.value(row.table),
                                    qint64(m_passWritten.count(row)), m_session};
        }
        return p;
    }
    if (m_inPass) {
        m_passWritten.append(row);
    }
    return {};
}

Status SqlServerProvider::beginBatch() {
    m_inPass = true;
    m_passAfter.clear();
    m_passWritten.clear();
    return {};
}

Status SqlServerProvider::endBatch() {
    m_inPass = false;
    m_passAfter.clear();
    m_passWritten.clear();
    return {};
}

Status SqlServerProvider::connect(const QString& catalog) {
    m_insert.reset();
    m_insertMessage.reset();
    if (const Status added = addConnection(QStringLiteral("QODBC")); !added) {
        return added;
    }
    m_db.setDatabaseName(odbcText(m_source, catalog, driverName()));
    m_db.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1")
            .arg(kLoginTimeoutSeconds));
    if (!m_db.open()) {
        // The message names the server, never the password. Whether the server answered (a
        // login it refused, a catalog it lacks) and the kind of failure come from what the
        // driver said; a server it never reached is not described by the network's reason.
        const QString said = m_db.lastError().text();
        const bool answered = said.contains(QStringLiteral("Login failed"), Qt::CaseInsensitive) ||
                              !isUnavailable(said);
        Problem refused = failure(said);
        refused.description =
            m_source.redact(QStringLiteral("Cannot connect to SQL Server ") + m_source.host +
                            (m_source.port.isEmpty() ? QString() : u',' + m_source.port) + u": " +
                            connectReason(said, answered));
        return refused;
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
    // The name is new to the server: granted at once. A server without application locks only
    // loses the wait for an earlier session (see settleDoubt).
    const QString session = m_sessionBase + u' ' + QString::number(++m_sessions);
    m_session = q.exec(QStringLiteral("EXEC sp_getapplock @Resource = N'") + session +
                       QStringLiteral("', @LockMode = 'Exclusive', @LockOwner = 'Session', "
                                      "@LockTimeout = 0"))
                    ? session
                    : QString();
    return {};
}

Status SqlServerProvider::createDatabaseIfMissing() {
    const Status direct = connect(m_settings.database);
    if (direct || direct.problem().passes()) {
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
        return server.problem().atStep(ReportStep::CreateDatabase::Catalog);
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    const bool made = q.exec(QStringLiteral("CREATE DATABASE ") + m_settings.database);
    const Status result =
        made ? Status()
             : Status(failure(q.lastError().text()).atStep(ReportStep::CreateDatabase::Catalog));
    removeConnection();
    // Another logger starting at the same moment may have made it first.
    if (!made && connect(m_settings.database)) {
        removeConnection();
        return {};
    }
    return result;
}

Status SqlServerProvider::open() {
    if (m_db.isOpen()) {
        return {};
    }
    Status opened = m_openFailure ? Status(*std::exchange(m_openFailure, std::nullopt))
                                  : connect(m_settings.database);
    if (!opened && opened.problem().passes()) {
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

Result<QVariant> SqlServerProvider::layoutQuery(const QString& sql, const QVariantList& values) {
    QSqlQuery q(m_db);
    if (!execLayout(q, sql, values)) {
        return failed(q.lastError());
    }
    // A batch's statements that return no rows come first.
    do {
        if (q.isSelect() && q.next()) {
            return q.value(0);
        }
    } while (q.nextResult());
    return QVariant();
}

// Other loggers starting on the same catalog wait for the lock until this one is done.
Status SqlServerProvider::beginLayoutChange() {
    if (const Status begun = layoutQuery(QStringLiteral("BEGIN TRANSACTION")).status(); !begun) {
        return begun;
    }
    const Result<QVariant> locked = layoutQuery(
        QStringLiteral("DECLARE @r int; EXEC @r = sp_getapplock @Resource = 'quilljot layout', "
                       "@LockMode = 'Exclusive', @LockOwner = 'Transaction', @LockTimeout = "
                       "30000; SELECT @r"));
    if (locked && locked.value().toInt() < 0) {
        (void)endLayoutChange(false);
        return failure(QStringLiteral("Another program held the layout lock of ") +
                       m_settings.database + QStringLiteral(" for 30 s"));
    }
    return locked.status();
}

Status SqlServerProvider::endLayoutChange(bool commit) {
    return layoutQuery(commit ? QStringLiteral("COMMIT TRANSACTION")
                              : QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"))
        .status();
}

StoreProvider::LayoutDialect SqlServerProvider::layoutDialect() const {
    return {QStringLiteral("SELECT CASE WHEN OBJECT_ID(?, 'U') IS NULL THEN 0 ELSE 1 END"),
            QStringLiteral("CREATE TABLE %1 (TableName nvarchar(128) NOT NULL CONSTRAINT [PK_%1] "
                           "PRIMARY KEY, Version int NOT NULL)"),
            m_settings.table};
}

// The steps of the catalog's layout (see StoreProvider::layoutSteps): to add one, append its
// number and statements here, and the same step to the other engines.
QList<StoreProvider::LayoutStep> SqlServerProvider::layoutSteps() {
    namespace Part = ReportStep::CreateDatabase;
    const QString hours = activityDialect(0).table;
    const QString days = activityDialect(0).days;
    const QString summary = QStringLiteral(
        "CREATE TABLE %1 (%2 varchar(19) NOT NULL, Source nvarchar(255) NOT NULL, "
        "Category nvarchar(255) NOT NULL, Events bigint NOT NULL, CONSTRAINT "
        "[PK_%1] PRIMARY KEY NONCLUSTERED (%2, Source, Category))");
    return {
        {1, {}, [this] { return firstLayout(); }},
        // The activity summary, by hour and by day.
        {2,
         {{summary.arg(hours, QStringLiteral("Hour")), Part::IndexesAndMessages, hours,
           kSummaryMade, true},
          {summary.arg(days, QStringLiteral("Day")), Part::IndexesAndMessages, days, QString(),
           true}}},
        // No text index here: a data filter reads the rows (see the README).
        {3, {}},
    };
}

// Layout 1: the event table with nvarchar columns, which keep every character, a datetime2
// SampleDate, which keeps every date from year 1, a key and an index on SampleDate that the
// history reads in time order; the messages table alike. Tables of earlier versions may have
// varchar, text or datetime columns, no key, no index, no messages table.
Result<QStringList> SqlServerProvider::firstLayout() {
    namespace Part = ReportStep::CreateDatabase;
    const Result<bool> there = hasTable();
    if (!there) {
        return there.problem().atStep(Part::Table);
    }
    Result<QStringList> done = there.value() ? convertTable() : makeTable();
    if (!done) {
        return done;
    }
    const QString& t = m_settings.table;
    if (!hasPrimaryKey()) {
        return failure(QStringLiteral("The table ") + t +
                       QStringLiteral(" was made without its primary key"))
            .atStep(Part::Key);
    }
    const Result<bool> indexed = hasIndexOn(t, QStringLiteral("SampleDate"));
    if (!indexed) {
        return indexed.problem().atStep(Part::IndexesAndMessages);
    }
    if (const Status index = ensureIndexOn(t, QStringLiteral("SampleDate")); !index) {
        return index.problem();
    }
    if (there.value() && !indexed.value()) {
        done.value().append(QStringLiteral("an index on SampleDate"));
    }
    const Result<bool> messages = makeMessagesTable();
    if (!messages) {
        return messages.problem();
    }
    if (there.value() && messages.value()) {
        done.value().append(QStringLiteral("the table ") + m_settings.messagesTable +
                            QStringLiteral(" made"));
    }
    return done;
}

Result<QStringList> SqlServerProvider::makeTable() {
    const QString& t = m_settings.table;
    // The key is part of the table's definition, so that there is no table without it.
    const Status made =
        layoutQuery(QStringLiteral("CREATE TABLE ") + t +
                    QStringLiteral(" (ID int IDENTITY(1,1) CONSTRAINT [PK_%1] PRIMARY KEY "
                                   "NONCLUSTERED, SampleDate datetime2(0) NOT NULL, Source "
                                   "nvarchar(255) NULL, Category nvarchar(255) NULL, Data "
                                   "nvarchar(max) NULL)")
                        .arg(t))
            .status();
    if (!made) {
        return made.problem().atStep(ReportStep::CreateDatabase::Table);
    }
    return QStringList();
}

Result<QStringList> SqlServerProvider::convertTable() {
    Result<QStringList> converted = convertColumns();
    if (!converted) {
        return converted.problem().atStep(ReportStep::CreateDatabase::Table);
    }
    if (!hasPrimaryKey()) {
        const QString& t = m_settings.table;
        const Status keyed =
            layoutQuery(
                QStringLiteral("ALTER TABLE ") + t +
                QStringLiteral(" ADD CONSTRAINT [PK_%1] PRIMARY KEY NONCLUSTERED (ID)").arg(t))
                .status();
        if (!keyed) {
            return keyed.problem().atStep(ReportStep::CreateDatabase::Key);
        }
        converted.value().append(QStringLiteral("a primary key on ID"));
    }
    return converted;
}

Result<bool> SqlServerProvider::makeMessagesTable() {
    const int part = ReportStep::CreateDatabase::IndexesAndMessages;
    const QString& messages = m_settings.messagesTable;
    const Result<bool> had = layoutHas(messages);
    if (!had) {
        return had.problem().atStep(part);
    }
    if (!had.value()) {
        const Status made =
            layoutQuery(QStringLiteral("CREATE TABLE ") + messages +
                        QStringLiteral(" (ID int IDENTITY(1,1) CONSTRAINT [PK_%1] PRIMARY KEY "
                                       "NONCLUSTERED, ReceivedDate datetime2(0) NOT NULL, Source "
                                       "nvarchar(255) NULL, Target nvarchar(255) NULL, Class "
                                       "nvarchar(255) NULL, UID nvarchar(64) NULL, Message "
                                       "nvarchar(max) NULL)")
                            .arg(messages))
                .status();
        if (!made) {
            return made.problem().atStep(part);
        }
    }
    if (const Status index = ensureIndexOn(messages, QStringLiteral("ReceivedDate")); !index) {
        return index.problem();
    }
    return !had.value();
}

std::map<QString, SqlServerProvider::Column> SqlServerProvider::columnsOf(QSqlQuery& q) {
    std::map<QString, Column> columns;
    while (q.next()) {
        columns[q.value(0).toString().toLower()] =
            Column{q.value(1).toString().toLower(), q.value(2).toInt(),
                   q.value(3).toString().compare(u"NO", Qt::CaseInsensitive) != 0};
    }
    q.finish();
    return columns;
}

QStringList SqlServerProvider::nameColumnChanges(std::map<QString, Column>& columns,
                                                 QStringList& done) const {
    const QString& t = m_settings.table;
    const QString alter = QStringLiteral("ALTER TABLE ") + t + QStringLiteral(" ALTER COLUMN ");
    QStringList sql;
    for (const char* name : {"Source", "Category"}) {
        const QString column = QLatin1String(name);
        const Column c = columns[column.toLower()];
        if (c.type == u"nvarchar" && c.length == kNameColumnSize) {
            continue;
        }
        // text and ntext change to the (max) types only.
        if (c.type == u"text" || c.type == u"ntext") {
            sql.append(alter + column + QStringLiteral(" nvarchar(max)"));
        }
        sql.append(QStringLiteral("UPDATE ") + t +
                   QStringLiteral(" SET %1 = LEFT(CAST(%1 AS "
                                  "nvarchar(max)), %2) + NCHAR(%3) "
                                  "WHERE LEN(CAST(%1 AS "
                                  "nvarchar(max))) > %4")
                       .arg(column)
                       .arg(kNameColumnSize - 1)
                       .arg(kCutMark.unicode())
                       .arg(kNameColumnSize));
        sql.append(alter + column + QStringLiteral(" nvarchar(255)"));
        done.append(column + QStringLiteral(" to nvarchar(255)"));
    }
    return sql;
}

Result<QStringList> SqlServerProvider::convertColumns() {
    const QString& t = m_settings.table;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE FROM "
                       "INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = ?"));
    q.bindValue(0, t);
    if (!q.exec()) {
        return failed(q.lastError());
    }
    std::map<QString, Column> columns = columnsOf(q);
    QStringList done;
    QStringList sql = nameColumnChanges(columns, done);
    const QString alter = QStringLiteral("ALTER TABLE ") + t + QStringLiteral(" ALTER COLUMN ");
    const Column data = columns[QStringLiteral("data")];
    if (data.type != u"nvarchar" || data.length != -1) {
        sql.append(alter + QStringLiteral("Data nvarchar(max)"));
        done.append(QStringLiteral("Data to nvarchar(max)"));
    }
    const Column time = columns[QStringLiteral("sampledate")];
    const bool newTime = time.type != u"datetime2";
    if (newTime) {
        // SQL Server changes no indexed column: the index is made again after.
        const Result<bool> indexed = hasIndexOn(t, QStringLiteral("SampleDate"));
        if (!indexed) {
            return indexed.problem();
        }
        if (indexed.value()) {
            sql.append(QStringLiteral("DROP INDEX [IX_") + t + QStringLiteral("_SampleDate] ON ") +
                       t);
        }
        // Without NULL or NOT NULL: one server keeps what the column had, another takes NULL
        // (made NOT NULL again below), and a third refuses either word here.
        sql.append(alter + QStringLiteral("SampleDate datetime2(0)"));
        done.append(QStringLiteral("SampleDate to datetime2(0)"));
    }
    for (const QString& statement : std::as_const(sql)) {
        if (const Status ran = layoutQuery(statement).status(); !ran) {
            return ran.problem();
        }
    }
    if (newTime && !time.nullable) {
        const Result<QVariant> nullable = layoutQuery(
            QStringLiteral("SELECT IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = "
                           "? AND COLUMN_NAME = 'SampleDate'"),
            {t});
        if (!nullable) {
            return nullable.problem();
        }
        if (nullable.value().toString().compare(u"YES", Qt::CaseInsensitive) == 0) {
            if (const Status kept =
                    layoutQuery(alter + QStringLiteral("SampleDate datetime2(0) NOT NULL"))
                        .status();
                !kept) {
                return kept.problem();
            }
        }
    }
    return done;
}

Result<bool> SqlServerProvider::hasIndexOn(const QString& table, const QString& column) {
    // Found by what it indexes, not by name: some servers keep an index's name changed.
    const Result<QVariant> found = layoutQuery(
        QStringLiteral("SELECT COUNT(*) FROM sys.index_columns ic JOIN sys.columns c ON "
                       "c.object_id = ic.object_id AND c.column_id = ic.column_id WHERE "
                       "ic.object_id = OBJECT_ID(?) AND ic.key_ordinal = 1 AND c.name = ?"),
        {table, column});
    if (!found) {
        return found.problem();
    }
    return found.value().toInt() > 0;
}

// Step 6 of "CreateDatabase".
Status SqlServerProvider::ensureIndexOn(const QString& table, const QString& column) {
    const Result<bool> there = hasIndexOn(table, column);
    if (!there) {
        return there.problem().atStep(ReportStep::CreateDatabase::IndexesAndMessages);
    }
    if (there.value()) {
        return {};
    }
    const Status made =
        layoutQuery(QStringLiteral("CREATE INDEX [IX_") + table + u'_' + column +
                    QStringLiteral("] ON ") + table + QStringLiteral(" (") + column + u')')
            .status();
    return made ? made
                : Status(made.problem().atStep(ReportStep::CreateDatabase::IndexesAndMessages));
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

Status SqlServerProvider::keptInsert(std::unique_ptr<OdbcStatement>& insert, const QString& table,
                                     const QStringList& columns) {
    if (!insert) {
        insert = std::make_unique<OdbcStatement>(m_db, kWriteTimeoutSeconds);
        if (!insert->prepare(insertSql(table, columns))) {
            return failed(insert);
        }
    }
    return {};
}

Status SqlServerProvider::insert(const LogEvent& event) {
    if (const Status connected = ready(); !connected) {
        return connected;
    }
    if (const Status prepared = keptInsert(m_insert, m_settings.table, kEventColumns); !prepared) {
        return prepared;
    }
    const Status written =
        writeRow(*m_insert, RowWrite{m_settings.table,
                                     &kEventColumns,
                                     {event.time, fitted(storedText(event.source)),
                                      fitted(storedText(event.type)), storedText(event.data)}});
    if (!written) {
        return written;
    }
    m_retryMs = kFirstRetryMs;
    return {};
}

StoreProvider::ActivityDialect SqlServerProvider::activityDialect(int limit) const {
    ActivityDialect dialect;
    const QString& events = m_settings.table;
    dialect.table = events + QStringLiteral("_Activity");
    dialect.hourOf = QStringLiteral("CONVERT(varchar(13), %1, 120) + ':00:00'");
    dialect.minuteOf = QStringLiteral("CONVERT(varchar(16), %1, 120) + ':00'");
    dialect.days = events + QStringLiteral("_ActivityDays");
    dialect.dayOf = QStringLiteral("CONVERT(varchar(10), %1, 120) + ' 00:00:00'");
    const QString source = QStringLiteral("COALESCE(Source, N'')");
    const QString type = QStringLiteral("COALESCE(Category, N'')");
    // In two statements: the server this is tested on knows no MERGE.
    const auto mergeInto = [&](const QString& table, const QString& column, const QString& start) {
        const QString added = QStringLiteral("(SELECT ") + start + QStringLiteral(" AS Start, ") +
                              source + QStringLiteral(" AS Source, ") + type +
                              QStringLiteral(" AS Category, COUNT_BIG(*) AS Events FROM ") +
                              events + QStringLiteral(" WHERE ID > ? AND ID <= ? GROUP BY ") +
                              start + u',' + source + u',' + type + QStringLiteral(") AS s");
        const QString same = QStringLiteral(" t.") + column +
                             QStringLiteral(
                                 " = s.Start AND t.Source = s.Source AND t.Category = "
                                 "s.Category");
        return QStringList{
            QStringLiteral("UPDATE t SET Events = t.Events + s.Events FROM ") + table +
                QStringLiteral(" AS t JOIN ") + added + QStringLiteral(" ON") + same,
            QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + column +
                QStringLiteral(", Source, Category, Events) SELECT s.Start, s.Source, "
                               "s.Category, s.Events FROM ") +
                added + QStringLiteral(" WHERE NOT EXISTS (SELECT 1 FROM ") + table +
                QStringLiteral(" AS t WHERE") + same + u')'};
    };
    dialect.merge = mergeInto(dialect.table, QStringLiteral("Hour"),
                              dialect.hourOf.arg(QStringLiteral("SampleDate"))) +
                    mergeInto(dialect.days, QStringLiteral("Day"),
                              dialect.dayOf.arg(QStringLiteral("SampleDate")));
    dialect.deleteOldest = QStringLiteral("DELETE TOP (") + QString::number(limit) +
                           QStringLiteral(") FROM ") + events +
                           QStringLiteral(
                               " OUTPUT DELETED.ID, DELETED.SampleDate, "
                               "DELETED.Source, DELETED.Category WHERE SampleDate < ?");
    return dialect;
}

QString SqlServerProvider::storedName(const QString& text) const {
    return fitted(storedText(text));
}

Result<qint64> SqlServerProvider::runStatement(const QString& sql, const QStringList& values,
                                               const TextRow& row) {
    return runTimed(sql, values, row, kQueryTimeoutSeconds);
}

Result<qint64> SqlServerProvider::runTimed(const QString& sql, const QStringList& values,
                                           const TextRow& row, int timeoutSeconds) {
    auto q = std::make_unique<OdbcStatement>(m_db, timeoutSeconds);
    if (!q->prepare(sql) || !q->exec(values)) {
        return failed(q);
    }
    const int columns = q->columns();
    if (columns > 0) {
        QStringList texts;
        while (q->next()) {
            texts.clear();
            for (int c = 0; c < columns; ++c) {
                texts.append(q->text(c));
            }
            if (row) {
                row(texts);
            }
        }
        if (!q->message().isEmpty()) {
            return failed(q);
        }
        return qint64(0);
    }
    return q->rowsAffected();
}

EventSelectDialect SqlServerProvider::selectDialect() const {
    EventSelectDialect dialect{m_settings.table};
    // Style 120 is the stored form, yyyy-mm-dd hh:mm:ss, for datetime and datetime2 alike.
    dialect.timeColumn = QStringLiteral("CONVERT(varchar(19), %1, 120)");
    // Tables made by older tools may hold text/ntext, which neither sorts nor compares.
    dialect.sortableText = QStringLiteral("COALESCE(CAST(%1 AS nvarchar(max)), N'')");
    dialect.limitWithTop = true;
    // "[" opens a set of characters in SQL Server's LIKE.
    dialect.likeSpecials = QStringLiteral("[");
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
        auto cursor = std::make_unique<OdbcStatement>(m_db, kQueryTimeoutSeconds);
        if (!cursor->prepare(cursorOf.sql) || !cursor->exec(cursorOf.values)) {
            return failed(cursor);
        }
        if (!cursor->next()) {
            return cursor->message().isEmpty() ? Status() : Status(failed(cursor));
        }
        cursorValue = cursor->text(0);
    }
    const EventSelect select = EventSelects::rows(dialect, query, cursorValue);
    auto q = std::make_unique<OdbcStatement>(m_db, kQueryTimeoutSeconds);
    if (!q->prepare(select.sql) || !q->exec(select.values)) {
        return failed(q);
    }
    while (q->next()) {
        visit(StoredEvent{q->text(0).toLongLong(),
                          LogEvent{q->text(1), q->text(2), q->text(3), q->text(4)}});
    }
    if (!q->message().isEmpty()) {
        return failed(q);
    }
    return {};
}

Result<qint64> SqlServerProvider::countEvents(const EventQuery& query) {
    if (const Status connected = ready(); !connected) {
        return connected.problem();
    }
    const EventSelect select = EventSelects::count(selectDialect(), query);
    auto q = std::make_unique<OdbcStatement>(m_db, kQueryTimeoutSeconds);
    if (!q->prepare(select.sql) || !q->exec(select.values) || !q->next()) {
        return failed(q);
    }
    return q->text(0).toLongLong();
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
    if (table == Table::Events) {
        return deleteEventsBefore(before, limit);
    }
    auto q = std::make_unique<OdbcStatement>(m_db, kQueryTimeoutSeconds);
    if (!q->prepare(deleteOldestSql(table, limit)) || !q->exec({before})) {
        return failed(q);
    }
    return int(q->rowsAffected());
}

Status SqlServerProvider::insertMessage(const LoggedMessage& m) {
    if (const Status connected = ready(); !connected) {
        return connected;
    }
    // As Unicode, like the events; a write, it gives up as soon as theirs.
    if (const Status prepared =
            keptInsert(m_insertMessage, m_settings.messagesTable, kMessageColumns);
        !prepared) {
        return prepared;
    }
    return writeRow(*m_insertMessage, RowWrite{m_settings.messagesTable,
                                               &kMessageColumns,
                                               {m.time, fitted(m.source), fitted(m.target),
                                                fitted(m.messageClass), m.uid, m.text}});
}

QString SqlServerProvider::where() const {
    return QStringLiteral("SQL Server database ") + m_settings.database + QStringLiteral(" on ") +
           m_source.host + (m_source.port.isEmpty() ? QString() : u',' + m_source.port);
}

Result<QString> SqlServerProvider::probe() {
    if (const Status reached = connect(m_settings.database); !reached) {
        removeConnection();
        if (reached.problem().passes()) {
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
