#include "store/PostgresProvider.h"

#include <libpq-fe.h>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <algorithm>
#include <cstring>

#include "report/ReportSteps.h"

namespace {

constexpr const char* kInsertName = "quilljot_insert";

QByteArray storedText(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (std::memchr(utf8.constData(), '\0', std::size_t(utf8.size())) != nullptr) {
        utf8 = QString(text).replace(QChar(u'\0'), QChar(0xFFFD)).toUtf8();
    }
    return utf8;
}

// One field of COPY's text format: a backslash starts an escape, a tab ends the field, a line end
// the row. Everything else, other control characters too, is taken as it stands.
void appendCopyField(QByteArray& out, const QString& text) {
    const QByteArray utf8 = storedText(text);
    const char* run = utf8.constData();
    const char* const end = run + utf8.size();
    for (const char* p = run; p != end; ++p) {
        const char* escape = nullptr;
        switch (*p) {
            case '\\':
                escape = "\\\\";
                break;
            case '\t':
                escape = "\\t";
                break;
            case '\n':
                escape = "\\n";
                break;
            case '\r':
                escape = "\\r";
                break;
            default:
                continue;
        }
        out.append(run, p - run);
        out.append(escape, 2);
        run = p + 1;
    }
    out.append(run, end - run);
}

void appendCopyRow(QByteArray& out, const LogEvent& event) {
    appendCopyField(out, event.time);
    out.append('\t');
    appendCopyField(out, event.source);
    out.append('\t');
    appendCopyField(out, event.type);
    out.append('\t');
    appendCopyField(out, event.data);
    out.append('\n');
}

}  // namespace

PostgresProvider::PostgresProvider(DatabaseSettings settings)
    : StoreProvider(std::move(settings)),
      m_source(ServerSource::parse(m_settings.sqlSource)),
      m_table(quotedName(m_settings.table.toLower())) {}

PostgresProvider::~PostgresProvider() {
    // The open batch's rows are sent, as the other engines commit theirs.
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
    return Problem{connected() ? ErrorKind::Database : ErrorKind::DatabaseUnavailable,
                   m_source.redact(text)};
}

Problem PostgresProvider::engineFailure(const QString& message) const {
    return failure(message.trimmed());
}

bool PostgresProvider::connected() const {
    return m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK;
}

void PostgresProvider::disconnect() {
    if (m_copying || m_copyAsked) {
        // What went into the COPY went with the connection: the pass is sent whole on the next.
        m_copyLost = true;
        m_copyBroken = failure(QStringLiteral("The connection to PostgreSQL ") + serverName() +
                               QStringLiteral(" was lost during the pass"));
    }
    m_conn = nullptr;
    m_copying = false;
    m_copyAsked = false;
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
        // libpq marks what the server itself said: "FATAL:  password authentication failed".
        const QString said = m_db.lastError().text();
        const Problem p =
            failure(QStringLiteral("Cannot connect to PostgreSQL ") + serverName() + u": " +
                    connectReason(said, said.contains(QStringLiteral("FATAL:"))));
        disconnect();
        return p;
    }
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "pg_conn*") != 0) {
        disconnect();
        return Problem{ErrorKind::Database,
                       QStringLiteral("The PostgreSQL driver gives no handle")};
    }
    m_conn = *static_cast<pg_conn* const*>(handle.constData());
    // A Data filter makes a bitmap of the pages that may hold the term. In the server's default
    // 4 MB it turns lossy from about ten million rows on, and then every row of those pages is
    // checked again (a word in 1 % of 3,000,000 rows: 1.6 s in a quarter of that memory, 0.3 s
    // exact). 64 MB keeps it exact to about a hundred million rows; a server set higher keeps
    // its own value, and the memory is taken only by a query that needs it.
    PQclear(PQexec(m_conn,
                   "SELECT set_config('work_mem', '64MB', false) FROM pg_settings "
                   "WHERE name = 'work_mem' AND setting::bigint < 65536"));
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
        return server.problem().atStep(ReportStep::CreateDatabase::Catalog);
    }
    // Quoted, so that the name keeps its letter case as the connection names it.
    const QByteArray sql =
        (QStringLiteral("CREATE DATABASE ") + quotedName(m_settings.database)).toUtf8();
    const Status made = run(sql.constData());
    disconnect();
    // Another logger starting at the same moment may have made it first.
    if (!made && connect(m_settings.database)) {
        disconnect();
        return {};
    }
    return made ? made : Status(made.problem().atStep(ReportStep::CreateDatabase::Catalog));
}

Status PostgresProvider::open() {
    const Status s = connect(m_settings.database);
    m_opened = static_cast<bool>(s);
    if (m_opened) {
        (void)findTable();
    }
    return s;
}

// A table of the name in another letter case (made by another program) is used as it is; a
// connection that only reads must know it as well as the one that made the table.
bool PostgresProvider::findTable() {
    QSqlQuery q(m_db);
    q.prepare(
        QStringLiteral("SELECT table_name FROM information_schema.tables WHERE "
                       "table_schema = current_schema() AND lower(table_name) = lower(?)"));
    q.addBindValue(m_settings.table);
    if (q.exec() && q.next()) {
        m_table = quotedName(q.value(0).toString());
        return true;
    }
    m_table = quotedName(m_settings.table.toLower());
    return false;
}

// Other loggers starting on the same database wait for the lock until this one is done.
Status PostgresProvider::beginLayoutChange() {
    if (!m_db.transaction()) {
        return failure(m_db.lastError().text());
    }
    return layoutQuery(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('quilljot layout'))"))
        .status();
}

Status PostgresProvider::endLayoutChange(bool commit) {
    if (!(commit ? m_db.commit() : m_db.rollback())) {
        return failure(m_db.lastError().text());
    }
    return {};
}

Result<bool> PostgresProvider::hasEventTable() {
    return findTable();
}

StoreProvider::LayoutDialect PostgresProvider::layoutDialect() const {
    return {QStringLiteral("SELECT to_regclass(?) IS NOT NULL"),
            QStringLiteral("CREATE TABLE %1 (TableName text PRIMARY KEY, Version "
                           "integer NOT NULL)"),
            m_settings.table.toLower()};
}

// The steps of the database's layout (see StoreProvider::layoutSteps): to add one, append its
// number and statements here, and the same step to the other engines. Names are checked as
// to_regclass reads them: quoted, as made.
QList<StoreProvider::LayoutStep> PostgresProvider::layoutSteps() {
    namespace Part = ReportStep::CreateDatabase;
    const QString lower = m_settings.table.toLower();
    const QString eventIndex = quotedName(lower + QStringLiteral("_sampledate"));
    const QString messages = tableName(Table::Messages);
    const QString messageIndex =
        quotedName(m_settings.messagesTable.toLower() + QStringLiteral("_receiveddate"));
    const QString hours = quotedName(lower + QStringLiteral("_activity"));
    const QString days = quotedName(lower + QStringLiteral("_activitydays"));
    const QString summary = QStringLiteral(
        " (%1 text NOT NULL, Source text NOT NULL, Category text NOT NULL, Events "
        "bigint NOT NULL, PRIMARY KEY (%1, Source, Category))");
    return {
        // The event table with an identity key and an index on SampleDate that the history
        // query uses (also on a table made elsewhere), and the messages table with one on its
        // time. Tables of earlier versions may lack the index or the messages table.
        {1,
         {{QStringLiteral("CREATE TABLE ") + m_table +
               QStringLiteral(" (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                              "SampleDate timestamp NOT NULL, Source text, Category text, Data "
                              "text)"),
           Part::Table, m_table, QString()},
          {QStringLiteral("CREATE INDEX ") + eventIndex + QStringLiteral(" ON ") + m_table +
               QStringLiteral(" (SampleDate)"),
           Part::Key, eventIndex,
           QStringLiteral("an index on ") + m_settings.table + QStringLiteral(" made")},
          {QStringLiteral("CREATE TABLE ") + messages +
               QStringLiteral(" (ID bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                              "ReceivedDate timestamp NOT NULL, Source text, Target text, Class "
                              "text, UID text, Message text)"),
           Part::IndexesAndMessages, messages,
           QStringLiteral("the table ") + m_settings.messagesTable + QStringLiteral(" made")},
          {QStringLiteral("CREATE INDEX ") + messageIndex + QStringLiteral(" ON ") + messages +
               QStringLiteral(" (ReceivedDate)"),
           Part::IndexesAndMessages, messageIndex, QString()}}},
        // The activity summary, by hour and by day.
        {2,
         {{QStringLiteral("CREATE TABLE ") + hours + summary.arg(u"Hour"), Part::IndexesAndMessages,
           hours, kSummaryMade, true},
          {QStringLiteral("CREATE TABLE ") + days + summary.arg(u"Day"), Part::IndexesAndMessages,
           days, QString(), true}}},
        // The text index of the data, taken from the rows in steps after it (rollUpSearch).
        {3, {}, [this] { return keepSearchIndex(); }},
    };
}

Status PostgresProvider::prepareInsert() {
    if (m_prepared) {
        return {};
    }
    const QByteArray sql =
        (QStringLiteral("INSERT INTO ") + m_table +
         QStringLiteral(" (SampleDate,Source,Category,Data) VALUES ($1,$2,$3,$4)"))
            .toUtf8();
    PGresult* r = PQprepare(m_conn, kInsertName, sql.constData(), 4, nullptr);
    m_prepared = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    return m_prepared ? Status() : engineFailure(QString::fromUtf8(PQerrorMessage(m_conn)));
}

Status PostgresProvider::write(const LogEvent& event) {
    if (const Status prepared = prepareInsert(); !prepared) {
        return prepared;
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
                         QStringLiteral(" was lost and could not be made again yet; it is "
                                        "tried again at the next write: ") +
                         c.problem().description);
        return *m_lost;
    }
    m_lost.reset();
    return {};
}

void PostgresProvider::rollBack() {
    if (connected() && PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
        PQclear(PQexec(m_conn, "ROLLBACK"));
    }
}

std::optional<Problem> PostgresProvider::knownRefusal(const LogEvent& event) {
    for (Refusal& r : m_refused) {
        if (!r.met && r.event == event) {
            r.met = true;
            return r.why;
        }
    }
    return std::nullopt;
}

Status PostgresProvider::insert(const LogEvent& event) {
    if (const Status live = connection(); !live) {
        return live;
    }
    if (const Result<bool> settled = settleDoubt(); !settled) {
        return settled.problem();
    }
    if (!m_alreadyStored.isEmpty()) {
        if (m_alreadyStored.first() == event) {
            m_alreadyStored.removeFirst();
            return {};
        }
        m_alreadyStored.clear();
    }
    if (m_batch) {
        if (std::optional<Problem> refused = knownRefusal(event)) {
            return *refused;
        }
        m_batchRows.append(event);
        appendCopyRow(m_copyText, event);
        // Asked for at the pass's first row and taken up with its first piece: the server's answer
        // has arrived meanwhile, and the pass waits for no round trip before its end.
        if (!m_copying && !m_copyAsked && !m_copyBroken) {
            askCopy();
        }
        if (m_copyText.size() >= kCopyChunk) {
            streamText();
        }
        return {};
    }
    Status written = write(event);
    if (!written && !connected()) {
        // The server went away (restarted, or ended this session): once more on a new one.
        if (const Status again = reconnect(); !again) {
            return again;
        }
        written = write(event);
    }
    return written;
}

void PostgresProvider::askCopy() {
    // In one query, the two run in one transaction: its number tells, should the answer to the
    // COPY's end be lost, whether the server stored the pass.
    const QByteArray sql = (QStringLiteral("SELECT txid_current(); COPY ") + m_table +
                            QStringLiteral(" (SampleDate,Source,Category,Data) FROM STDIN"))
                               .toUtf8();
    m_passTransaction = 0;
    if (PQsendQuery(m_conn, sql.constData()) == 1) {
        m_copyAsked = true;
    } else {
        m_copyBroken = engineFailure(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
}

void PostgresProvider::streamText() {
    if (!m_copying && !m_copyBroken) {
        if (!m_copyAsked) {
            askCopy();
        }
        if (m_copyAsked) {
            m_copyAsked = false;
            PGresult* started = PQgetResult(m_conn);
            if (PQresultStatus(started) == PGRES_TUPLES_OK) {
                m_passTransaction = QByteArray(PQgetvalue(started, 0, 0)).toULongLong();
                PQclear(started);
                started = PQgetResult(m_conn);
            }
            if (PQresultStatus(started) == PGRES_COPY_IN) {
                PQclear(started);
                m_copying = true;
            } else {
                const Status refused = outcome(started);
                m_copyBroken =
                    refused ? failure(QStringLiteral("COPY did not start")) : refused.problem();
                while (PGresult* more = PQgetResult(m_conn)) {
                    PQclear(more);
                }
            }
        }
    }
    if (m_copying && !m_copyText.isEmpty() &&
        PQputCopyData(m_conn, m_copyText.constData(), int(m_copyText.size())) != 1) {
        m_copySendFailed = true;
    }
    emptyCopyText();
}

void PostgresProvider::emptyCopyText() {
    // The room of a piece is kept for the next; that of a whole pass written at once is not.
    if (m_copyText.capacity() > 4 * kCopyChunk) {
        m_copyText.clear();
    } else {
        m_copyText.resize(0);
    }
}

Status PostgresProvider::finishCopy() {
    streamText();
    if (!m_copying) {
        return m_copyBroken ? Status(*m_copyBroken)
                            : Status(failure(QStringLiteral("COPY did not start")));
    }
    m_copying = false;
    // A row that did not reach the server must not leave the rest committed without it.
    m_copyEndSent =
        PQputCopyEnd(m_conn, m_copySendFailed ? "rows of the pass were not sent" : nullptr) == 1 &&
        !m_copySendFailed;
    std::optional<Status> copied;
    while (PGresult* result = PQgetResult(m_conn)) {
        if (PQresultStatus(result) == PGRES_COPY_IN) {
            // The end could not be sent: the connection is of no further use.
            copied = outcome(result);
            disconnect();
            break;
        }
        if (copied) {
            PQclear(result);
        } else {
            copied = outcome(result);
        }
    }
    if (!copied) {
        return engineFailure(QString::fromUtf8(PQerrorMessage(m_conn)));
    }
    return *copied;
}

Status PostgresProvider::copyAll() {
    resetCopy();
    for (const LogEvent& event : std::as_const(m_batchRows)) {
        appendCopyRow(m_copyText, event);
    }
    return finishCopy();
}

void PostgresProvider::resetCopy() {
    emptyCopyText();
    m_copying = false;
    m_copyAsked = false;
    m_copyLost = false;
    m_copySendFailed = false;
    m_copyEndSent = false;
    m_copyBroken.reset();
}

Status PostgresProvider::copyPass() {
    Status copied = finishCopy();
    if (!copied && (m_copyLost || !connected())) {
        noteDoubt();
        // The server went away (restarted, or ended this session): once more on a new one,
        // unless it stored the pass before.
        if (const Status live = connection(); !live) {
            return live;
        }
        const Result<bool> stored = settleDoubt();
        if (!stored) {
            return stored.problem();
        }
        if (stored.value()) {
            m_alreadyStored.clear();
            return {};
        }
        copied = copyAll();
        if (!copied && !connected()) {
            noteDoubt();
        }
    }
    if (copied || !connected()) {
        return copied;
    }
    const qsizetype known = m_refused.size();
    findRefusals();
    const qsizetype found = m_refused.size() - known;
    if (found == 0) {
        // Nothing refused on its own (a conflict with another session, a timeout): the whole pass
        // is tried again later.
        return copied;
    }
    return failure(QString::number(found) + QStringLiteral(" of the ") +
                   QString::number(m_batchRows.size()) +
                   QStringLiteral(" rows of this pass were refused; the pass is written again "
                                  "without them. The first: ") +
                   m_refused[known].why.description);
}

void PostgresProvider::noteDoubt() {
    if (m_copyEndSent && m_passTransaction != 0) {
        m_doubt = DoubtfulPass{m_passTransaction, m_batchRows};
    }
}

Result<bool> PostgresProvider::settleDoubt() {
    if (!m_doubt) {
        return false;
    }
    const QByteArray asked = "SELECT txid_status(" + QByteArray::number(m_doubt->transaction) + ")";
    for (int attempt = 0; attempt < 20; ++attempt) {
        PGresult* r = PQexec(m_conn, asked.constData());
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            const Status failed = outcome(r);
            if (!connected()) {
                return Problem{ErrorKind::DatabaseUnavailable, failed.problem().description};
            }
            // A server that cannot tell (older than PostgreSQL 10 has no txid_status) must not
            // stop the writes: the pass is written again.
            m_doubt.reset();
            return false;
        }
        const QByteArray status =
            PQgetisnull(r, 0, 0) ? QByteArray() : QByteArray(PQgetvalue(r, 0, 0));
        PQclear(r);
        if (status != "in progress") {
            // Aborted, or too old to be known (never so soon after): written again.
            const bool stored = status == "committed";
            if (stored) {
                m_alreadyStored = m_doubt->rows;
            }
            m_doubt.reset();
            return stored;
        }
        if (attempt == 0) {
            // The old session may wait for the rest of a COPY that will never come; ended, its
            // transaction is aborted unless it committed first. It is found by the transaction
            // (its 32-bit form), not by a process number a pooler may have made up.
            const QByteArray xid = QByteArray::number(m_doubt->transaction & 0xFFFFFFFFu);
            const QByteArray end =
                "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                "WHERE backend_xid::text = '" +
                xid + "'";
            PQclear(PQexec(m_conn, end.constData()));
        }
        QThread::msleep(50);
    }
    return Problem{ErrorKind::DatabaseUnavailable,
                   QStringLiteral("PostgreSQL ") + serverName() +
                       QStringLiteral(" has not yet ended the session that was writing a pass "
                                      "when the connection was lost; whether the pass was "
                                      "stored is asked again at the next write.")};
}

void PostgresProvider::findRefusals() {
    rollBack();
    if (!run("BEGIN")) {
        return;
    }
    for (const LogEvent& event : std::as_const(m_batchRows)) {
        if (!run("SAVEPOINT quilljot_row")) {
            break;
        }
        const Status written = write(event);
        if (written) {
            continue;
        }
        if (!connected()) {
            break;
        }
        m_refused.append(Refusal{event, written.problem()});
        if (!run("ROLLBACK TO SAVEPOINT quilljot_row")) {
            break;
        }
    }
    rollBack();
}

Status PostgresProvider::beginBatch() {
    if (m_batch) {
        return {};
    }
    m_batch = true;
    m_batchRows.clear();
    resetCopy();
    for (Refusal& r : m_refused) {
        r.met = false;
    }
    return {};
}

Status PostgresProvider::endBatch() {
    if (!m_batch) {
        return {};
    }
    m_batch = false;
    const Status sent = m_batchRows.isEmpty() ? Status() : copyPass();
    // Refusals met by a pass that got through were those of the pass written again (it follows
    // the refused one at once, from the spool); none of them is needed any more.
    const bool met =
        std::any_of(m_refused.cbegin(), m_refused.cend(), [](const Refusal& r) { return r.met; });
    if (sent && (met || !m_batchRows.isEmpty())) {
        m_refused.clear();
    }
    m_batchRows.clear();
    resetCopy();
    return sent;
}

EventSelectDialect PostgresProvider::selectDialect() const {
    EventSelectDialect dialect{m_table};
    dialect.likeOperator = QStringLiteral("ILIKE");
    // Texts sort regardless of letter case, whatever collation the database was made with.
    dialect.sortableText = QStringLiteral("lower(COALESCE(%1, ''))");
    if (m_searchIndexed) {
        // The rows the index matches, and every row after the key it holds rows up to.
        dialect.dataIndex = QStringLiteral("ID IN (SELECT ID FROM ") + searchTable() +
                            QStringLiteral(
                                " WHERE Data ILIKE ? ESCAPE '\\' UNION ALL SELECT ID "
                                "FROM ") +
                            m_table + QStringLiteral(" WHERE ID > (SELECT Indexed FROM ") +
                            searchKeyTable() + QStringLiteral("))");
    }
    return dialect;
}

StoreProvider::ActivityDialect PostgresProvider::activityDialect(int limit) const {
    ActivityDialect dialect;
    dialect.table = quotedName(m_settings.table.toLower() + QStringLiteral("_activity"));
    dialect.hourOf = QStringLiteral("to_char(date_trunc('hour', %1), 'YYYY-MM-DD HH24:MI:SS')");
    dialect.minuteOf = QStringLiteral("to_char(date_trunc('minute', %1), 'YYYY-MM-DD HH24:MI:SS')");
    dialect.days = quotedName(m_settings.table.toLower() + QStringLiteral("_activitydays"));
    dialect.dayOf = QStringLiteral("to_char(date_trunc('day', %1), 'YYYY-MM-DD HH24:MI:SS')");
    const QString hour = dialect.hourOf.arg(QStringLiteral("SampleDate"));
    const auto mergeInto = [&](const QString& table, const QString& column,
                               const QString& start) -> QString {
        return QStringLiteral("INSERT INTO ") + table + QStringLiteral(" AS summary (") + column +
               QStringLiteral(", Source, Category, Events) SELECT ") + start +
               QStringLiteral(", COALESCE(Source, ''), COALESCE(Category, ''), COUNT(*) FROM ") +
               m_table +
               QStringLiteral(" WHERE ID > ? AND ID <= ? GROUP BY 1, 2, 3 ON CONFLICT (") + column +
               QStringLiteral(
                   ", Source, Category) DO UPDATE SET Events = summary.Events + "
                   "EXCLUDED.Events");
    };
    dialect.merge = QStringList{mergeInto(dialect.table, QStringLiteral("Hour"), hour),
                                mergeInto(dialect.days, QStringLiteral("Day"),
                                          dialect.dayOf.arg(QStringLiteral("SampleDate")))};
    dialect.deleteOldest = deleteOldestSql(Table::Events, limit) +
                           QStringLiteral(" RETURNING ID, ") + hour +
                           QStringLiteral(", COALESCE(Source, ''), COALESCE(Category, '')");
    return dialect;
}

QString PostgresProvider::storedName(const QString& text) const {
    return text.isValidUtf16() && !text.contains(QChar(u'\0'))
               ? text
               : QString::fromUtf8(storedText(text));
}

QString PostgresProvider::tableName(Table table) const {
    return table == Table::Events ? m_table : quotedName(m_settings.messagesTable.toLower());
}

QString PostgresProvider::where() const {
    return QStringLiteral("PostgreSQL database ") + m_settings.database + u' ' +
           (m_source.host.isEmpty() ? serverName() : QStringLiteral("on ") + serverName());
}

Result<QString> PostgresProvider::probe() {
    if (const Status reached = connect(m_settings.database); !reached) {
        // A database that is missing is made through the maintenance database.
        const bool missing =
            reached.problem().description.contains(u"does not exist", Qt::CaseInsensitive);
        disconnect();
        if (!missing) {
            return reached.problem();
        }
        const Status server = connect(QStringLiteral("postgres"));
        disconnect();
        if (!server) {
            return server.problem();
        }
        return QStringLiteral("does not exist yet; the server would make it, with the table");
    }
    bool read = false;
    bool hasTable = false;
    QString why;
    {
        QSqlQuery q(m_db);
        q.prepare(
            QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE "
                           "table_schema = current_schema() AND lower(table_name) = lower(?)"));
        q.addBindValue(m_settings.table);
        read = q.exec() && q.next();
        hasTable = read && q.value(0).toInt() > 0;
        why = read ? QString() : q.lastError().text();
    }
    disconnect();
    if (!read) {
        return failure(why);
    }
    return hasTable ? QStringLiteral("reached; the table is there")
                    : QStringLiteral("reached; the table would be made");
}
