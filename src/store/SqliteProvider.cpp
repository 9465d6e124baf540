#include "store/SqliteProvider.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "message/TextCodec.h"
#include "report/ReportSteps.h"

namespace {

// SQLite's own words once (the driver's "Error opening database" only repeats them), with the
// system's reason where the file or its folder refuses this user: SQLite says "unable to open
// database file" for a missing folder and a permission alike.
QString openFailure(const QSqlError& error, const QString& file) {
    QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QFileInfo info(file);
    const QByteArray checked = QFile::encodeName(info.exists() ? file : info.absolutePath());
    const int need = info.exists() ? R_OK | W_OK : W_OK | X_OK;
    if (::access(checked.constData(), need) != 0) {
        text += QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(errno)) + u')';
    }
    return text;
}

// The file database stores a double quote inside a text as an apostrophe (in UTF-8 a byte of
// its own, never part of another character).
void quotesToApostrophes(char* p, const char* end) {
    while ((p = static_cast<char*>(std::memchr(p, '"', std::size_t(end - p)))) != nullptr) {
        *p++ = '\'';
    }
}

// SQLite keeps counts of its memory under a process-wide lock, on every allocation of every
// insert, unless told otherwise before it first starts (later it refuses, and counts on). Nothing
// here reads the counts.
void leaveMemoryUncounted() {
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)configured;
}

// Whether a database file could be made where none is yet.
Result<QString> probeMissingFile(const QString& path) {
    // The nearest folder that exists must take the new folders and the file.
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(folder) && QFileInfo(folder).absolutePath() != folder) {
        folder = QFileInfo(folder).absolutePath();
    }
    if (!QFileInfo(folder).isDir()) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot make ") + path +
                                                  QStringLiteral(": ") + folder +
                                                  QStringLiteral(" is a file, not a folder")};
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot make ") + path +
                                                  QStringLiteral(": the folder ") + folder +
                                                  QStringLiteral(" is not writable")};
    }
    return QStringLiteral("does not exist yet; it would be made, with the table");
}

}  // namespace

SqliteProvider::~SqliteProvider() {
    // Closing with a transaction open would undo it: what was written so far is kept.
    if (m_batch) {
        (void)endBatch();
    }
    closeHandle();
}

void SqliteProvider::closeHandle() {
    m_checkpointer.reset();
    m_insert.reset();
    m_insertRun.reset();
    m_handle = nullptr;
    removeConnection();
}

int SqliteProvider::onCommit(void* self, sqlite3* db, const char*, int pages) {
    auto* provider = static_cast<SqliteProvider*>(self);
    const qint64 bytes = qint64(pages) * provider->m_pageBytes;
    if (bytes >= kWriterCheckpointBytes) {
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    } else if (bytes >= kCheckpointBytes) {
        provider->checkpointSoon();
    }
    return SQLITE_OK;
}

void SqliteProvider::checkpointSoon() {
    if (!m_checkpointer) {
        m_checkpointer = std::make_unique<SqliteCheckpointer>(m_nativePath);
    }
    m_checkpointer->ask();
}

Problem SqliteProvider::engineFailure(const QString& what) const {
    if (m_handle == nullptr) {
        return Problem{ErrorKind::DatabaseUnavailable, what};
    }
    const QString why =
        QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_handle)));
    // Failures of the file or of the moment pass; a value SQLite will not take does not.
    ErrorKind kind = ErrorKind::Database;
    switch (sqlite3_errcode(m_handle)) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        case SQLITE_NOMEM:
        case SQLITE_PROTOCOL:
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            kind = ErrorKind::DatabaseUnavailable;
            break;
        default:
            break;
    }
    return Problem{kind, what.isEmpty() ? why : what + QStringLiteral(": ") + why};
}

Status SqliteProvider::run(const char* sql) {
    if (sqlite3_exec(m_handle, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return engineFailure(QString::fromLatin1(sql));
    }
    return {};
}

Status SqliteProvider::openFile(bool fresh) {
    leaveMemoryUncounted();
    if (const Status added = addConnection(QStringLiteral("QSQLITE")); !added) {
        return added;
    }
    m_db.setDatabaseName(path());
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                           QString::number(kBusyTimeoutMs));
    if (!m_db.open()) {
        return Problem{ErrorKind::Database, QStringLiteral("Cannot open database ") + path() +
                                                u": " + openFailure(m_db.lastError(), path())};
    }
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        return Problem{ErrorKind::Database,
                       QStringLiteral("The SQLite driver gives no handle for ") + path()};
    }
    m_handle = *static_cast<sqlite3* const*>(handle.constData());
    // SQLite reads the header before anything is written: a file that is no database is refused
    // here untouched. (Reading the header through a descriptor of our own instead would drop the
    // locks this process holds on the file when it is closed, and another program closing its
    // connection would then take the write-ahead log away from under ours.)
    if (sqlite3_exec(m_handle, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        const bool foreign = sqlite3_errcode(m_handle) == SQLITE_NOTADB;
        const Problem p = foreign ? Problem{ErrorKind::Database,
                                            QStringLiteral("The file ") + path() +
                                                QStringLiteral(" is not a SQLite database; "
                                                               "Quilljot leaves it untouched. "
                                                               "Name another file in the "
                                                               "Database setting.")}
                                  : engineFailure(QStringLiteral("Cannot read database ") + path());
        closeHandle();
        return p;
    }
    // A new database gives the space of deleted rows back to the file system when asked
    // (releaseSpace); SQLite takes this only before WAL mode writes the header.
    if (fresh) {
        (void)run(QByteArray("PRAGMA page_size=" + QByteArray::number(kNewPageBytes)).constData());
        (void)run("PRAGMA auto_vacuum=INCREMENTAL");
    }
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
        if (const Status s = run(pragma); !s) {
            closeHandle();
            return s;
        }
    }
    if (const Result<int> page = number("PRAGMA page_size"); page && page.value() > 0) {
        m_pageBytes = page.value();
    }
    m_nativePath = QFile::encodeName(path());
    sqlite3_wal_hook(m_handle, &SqliteProvider::onCommit, this);
    struct stat st = {};
    if (::stat(m_nativePath.constData(), &st) != 0) {
        closeHandle();
        return Problem{ErrorKind::Database,
                       QStringLiteral("The database file vanished while opening: ") + path()};
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return {};
}

// Steps: 4 making the file.
Status SqliteProvider::createDatabaseIfMissing() {
    if (QFileInfo::exists(path())) {
        return {};
    }
    // WAL mode writes the header, so the new file is a database at once.
    const Status made = openFile(true);
    closeHandle();
    return made ? made : Status(made.problem().atStep(ReportStep::CreateDatabase::Table));
}

Status SqliteProvider::open() {
    if (path().isEmpty()) {
        return Problem{ErrorKind::DatabaseUnavailable, QStringLiteral("No database file named")};
    }
    if (!QFileInfo(path()).isFile()) {
        return Problem{ErrorKind::DatabaseUnavailable,
                       QStringLiteral("Could not find file '") + path() + u'\''};
    }
    return openFile();
}

Result<SqliteStatement> SqliteProvider::prepare(const QByteArray& sql, unsigned flags) const {
    sqlite3_stmt* made = nullptr;
    if (sqlite3_prepare_v3(m_handle, sql.constData(), int(sql.size()), flags, &made, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(made);
        return engineFailure(QString());
    }
    return SqliteStatement(made);
}

Result<int> SqliteProvider::number(const QByteArray& sql, int fallback) const {
    Result<SqliteStatement> q = prepare(sql);
    if (!q) {
        return q.problem();
    }
    switch (sqlite3_step(q.value().get())) {
        case SQLITE_ROW:
            return sqlite3_column_int(q.value().get(), 0);
        case SQLITE_DONE:
            return fallback;
        default:
            return engineFailure(QString());
    }
}

// Deferred: tables of the current layout are only read, and a file that another program holds
// locked, or that this user may only read, opens as before. An upgrade takes the write lock when
// it first writes.
Status SqliteProvider::beginLayoutChange() {
    return run("BEGIN");
}

Status SqliteProvider::endLayoutChange(bool commit) {
    return run(commit ? "COMMIT" : "ROLLBACK");
}

// Files of versions that recorded the layout in the file's user_version have no row in the
// record yet: the user_version stands for the layout of the file's event table until the next step
// records it.
Result<int> SqliteProvider::recordedLayout() {
    const Result<std::optional<int>> recorded = layoutRecord();
    if (!recorded) {
        return recorded.problem();
    }
    return recorded.value() ? Result<int>(*recorded.value()) : number("PRAGMA user_version");
}

// The user_version keeps the newest layout of the file's tables too: versions before the record
// read only that, and so refuse a file of a layout they do not know.
Status SqliteProvider::recordLayout() {
    if (const Status recorded = StoreProvider::recordLayout(); !recorded) {
        return recorded;
    }
    const Result<int> kept = number("PRAGMA user_version");
    if (!kept || kept.value() >= kLayoutVersion) {
        return kept.status();
    }
    const QByteArray sql = "PRAGMA user_version=" + QByteArray::number(kLayoutVersion);
    return run(sql.constData());
}

StoreProvider::LayoutDialect SqliteProvider::layoutDialect() const {
    return {QStringLiteral("SELECT count(*) FROM sqlite_master WHERE lower(name) = lower(?)"),
            QStringLiteral("CREATE TABLE %1 (TableName TEXT PRIMARY KEY, Version "
                           "INTEGER NOT NULL)"),
            m_settings.table};
}

// The steps of the file's layout (see StoreProvider::layoutSteps): to add one, append its number
// and statements here, and the same step to the other engines.
QList<StoreProvider::LayoutStep> SqliteProvider::layoutSteps() {
    namespace Part = ReportStep::CreateDatabase;
    const QString& events = m_settings.table;
    const QString& messages = m_settings.messagesTable;
    const QString eventIndex = events + QStringLiteral("_SampleDate");
    const QString messageIndex = messages + QStringLiteral("_ReceivedDate");
    const QString hours = events + QStringLiteral("_Activity");
    const QString days = events + QStringLiteral("_ActivityDays");
    const QString summary = QStringLiteral(
        " (%1 VARCHAR(19) NOT NULL, Source VARCHAR(255) NOT NULL, Category "
        "VARCHAR(255) NOT NULL, Events INTEGER NOT NULL, PRIMARY KEY (%1, Source, "
        "Category)) WITHOUT ROWID");
    return {
        // The event table with an index on its time, which the history reads in time order
        // without a sort, and the messages table with one on its time. Tables of earlier
        // versions lack the indexes or the messages table; their columns are as they are today.
        {1,
         {{QStringLiteral("CREATE TABLE ") + quotedName(events) +
               QStringLiteral(" (ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT, "
                              "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), "
                              "Data TEXT)"),
           Part::Table, events, QString()},
          {QStringLiteral("CREATE INDEX ") + quotedName(eventIndex) + QStringLiteral(" ON ") +
               quotedName(events) + QStringLiteral(" (SampleDate)"),
           Part::Key, eventIndex,
           QStringLiteral("an index on ") + events + QStringLiteral(" made")},
          {QStringLiteral("CREATE TABLE ") + quotedName(messages) +
               QStringLiteral(" (ID INTEGER PRIMARY KEY AUTOINCREMENT, ReceivedDate DATETIME, "
                              "Source VARCHAR(255), Target VARCHAR(255), Class VARCHAR(255), "
                              "UID VARCHAR(32), Message TEXT)"),
           Part::IndexesAndMessages, messages,
           QStringLiteral("the table ") + messages + QStringLiteral(" made")},
          {QStringLiteral("CREATE INDEX ") + quotedName(messageIndex) + QStringLiteral(" ON ") +
               quotedName(messages) + QStringLiteral(" (ReceivedDate)"),
           Part::IndexesAndMessages, messageIndex, QString()}}},
        // The activity summary, ordered by hour and by day.
        {2,
         {{QStringLiteral("CREATE TABLE ") + quotedName(hours) + summary.arg(u"Hour"),
           Part::IndexesAndMessages, hours, kSummaryMade, true},
          {QStringLiteral("CREATE TABLE ") + quotedName(days) + summary.arg(u"Day"),
           Part::IndexesAndMessages, days, QString(), true}}},
        // The text index of the data, taken from the rows in steps after it (rollUpSearch).
        {3, {}, [this] { return keepSearchIndex(); }},
    };
}

Status SqliteProvider::checkSameFile() {
    m_lastCheck.start();
    struct stat st = {};
    if (::stat(m_nativePath.constData(), &st) == 0 && st.st_dev == m_device &&
        st.st_ino == m_inode && S_ISREG(st.st_mode)) {
        return {};
    }
    // The rows of the open batch are committed, and the log checkpointed, into the file that was
    // opened: a file that was moved away keeps them. SQLite does not checkpoint a moved file when
    // it closes, and the log would stay beside the path, where a new database made later would
    // take it for its own.
    const int kept = m_batch ? m_batchRows : 0;
    if (m_batch) {
        sqlite3_exec(m_handle, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_exec(m_handle, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    m_batch = false;
    closeHandle();
    QString text = QStringLiteral("The database file ") + path() +
                   QStringLiteral(
                       " was removed or replaced while open; the connection is closed. "
                       "Put the database back (it is found again by itself), or remove what is "
                       "in its place and reopen: close the setup dialog, or send SIGHUP");
    if (kept > 0) {
        text += QStringLiteral(". The last ") + QString::number(kept) +
                QStringLiteral(" rows went to the file that was opened, wherever it is now");
    }
    m_closedBecause = Problem{ErrorKind::DatabaseUnavailable, text};
    return *m_closedBecause;
}

void SqliteProvider::setContended(bool contended) {
    if (contended != m_contended) {
        m_contended = contended;
        sqlite3_busy_timeout(m_handle, contended ? 0 : kBusyTimeoutMs);
    }
}

Problem SqliteProvider::whyClosed() const {
    return m_closedBecause.value_or(
        Problem{ErrorKind::DatabaseUnavailable,
                QStringLiteral("Operation is not allowed when the object is closed")});
}

Status SqliteProvider::readyToRead() {
    if (m_handle == nullptr) {
        return whyClosed();
    }
    if (!m_lastCheck.isValid() || m_lastCheck.elapsed() >= kCheckEveryMs) {
        if (const Status same = checkSameFile(); !same) {
            return same;
        }
    }
    // The logger makes the text index, or drops it, when it opens the file: each read looks.
    const Result<bool> indexed = layoutHas(m_settings.table + QStringLiteral("_Search"));
    m_searchIndexed = indexed && indexed.value();
    return {};
}

Problem SqliteProvider::failure(const QString& text) const {
    return Problem{engineFailure(QString()).kind, text};
}

Status SqliteProvider::readyToWrite() {
    if (m_handle == nullptr) {
        return whyClosed();
    }
    // Asking the file system costs more than the insert itself: once per batch and then every
    // 100 ms is enough, since rows written in between stay in the file that was opened.
    if (!m_batch || m_batchRows == 0 || !m_lastCheck.isValid() ||
        m_lastCheck.elapsed() >= kCheckEveryMs) {
        return checkSameFile();
    }
    return {};
}

Result<sqlite3_stmt*> SqliteProvider::insertStatement(qsizetype rows) {
    SqliteStatement& kept = rows == 1 ? m_insert : m_insertRun;
    if (!kept) {
        QByteArray sql = (QStringLiteral("INSERT INTO ") + quotedName(m_settings.table) +
                          QStringLiteral(" (SampleDate,Source,Category,Data) VALUES (?,?,?,?)"))
                             .toUtf8();
        for (qsizetype row = 1; row < rows; ++row) {
            sql += ",(?,?,?,?)";
        }
        Result<SqliteStatement> made = prepare(sql, SQLITE_PREPARE_PERSISTENT);
        if (!made) {
            return made.problem();
        }
        kept = std::move(made.value());
    }
    return kept.get();
}

void SqliteProvider::bind(sqlite3_stmt* statement, std::span<const LogEvent> events) {
    // The values are bound from a buffer kept from one insert to the next: an insert allocates
    // nothing of its own.
    std::size_t room = 0;
    for (const LogEvent& event : events) {
        for (const QString* text : {&event.time, &event.source, &event.type, &event.data}) {
            room += (std::size_t(text->size()) + 1) * 3;  // what the encoder asks for
        }
    }
    if (m_values.size() < room) {
        m_values.resize(room);
    }
    char* at = m_values.data();
    int column = 0;
    for (const LogEvent& event : events) {
        for (const QString* text : {&event.time, &event.source, &event.type, &event.data}) {
            char* end = writeTextBytes(at, *text);
            if (column % 4 > 0) {
                quotesToApostrophes(at, end);
            }
            sqlite3_bind_text(statement, ++column, at, int(end - at), SQLITE_STATIC);
            at = end;
        }
    }
}

Status SqliteProvider::step(sqlite3_stmt* statement, qsizetype rows) {
    const int rc = sqlite3_step(statement);
    const bool ok = rc == SQLITE_DONE;
    const Problem problem = ok ? Problem{} : engineFailure(QString());
    const int code = ok ? SQLITE_OK : sqlite3_errcode(m_handle);
    // The bindings are left: the next insert replaces them all before it steps.
    sqlite3_reset(statement);
    setContended(code == SQLITE_BUSY || code == SQLITE_LOCKED);
    if (ok) {
        if (m_batch) {
            m_batchRows += int(rows);
        }
        return {};
    }
    // Inside a batch each statement is its own unit: SQLite undoes a refused statement alone and
    // keeps the transaction, so its neighbours stay. A failure that makes SQLite abandon the
    // whole transaction (a full disk, an I/O error) took the batch's earlier rows with it: the
    // batch's end says so, and later inserts go into a new one.
    if (m_batch && sqlite3_get_autocommit(m_handle) != 0) {
        m_batch = false;
        if (!m_batchLost) {
            m_batchLost = problem;
        }
        (void)beginBatch();
    }
    return problem;
}

Status SqliteProvider::insert(const LogEvent& event) {
    if (const Status ready = readyToWrite(); !ready) {
        return ready;
    }
    const Result<sqlite3_stmt*> statement = insertStatement(1);
    if (!statement) {
        return statement.problem();
    }
    bind(statement.value(), std::span(&event, 1));
    return step(statement.value(), 1);
}

StoreProvider::RunWritten SqliteProvider::insertRun(std::span<const LogEvent> events) {
    RunWritten run;
    if (events.size() >= kRunRows) {
        if (run.next = readyToWrite(); !run.next) {
            return run;
        }
        const Result<sqlite3_stmt*> statement = insertStatement(kRunRows);
        if (!statement) {
            return {0, statement.problem()};
        }
        for (; events.size() - std::size_t(run.written) >= kRunRows; run.written += kRunRows) {
            const auto rows = events.subspan(std::size_t(run.written), kRunRows);
            bind(statement.value(), rows);
            if (run.next = step(statement.value(), kRunRows); run.next) {
                continue;
            }
            // The statement was undone: its rows are tried one at a time, so that the failure
            // is one event's. (Were the whole transaction abandoned, the batch's end says so.)
            const RunWritten alone = StoreProvider::insertRun(rows);
            if (!alone.next) {
                return {run.written + alone.written, alone.next};
            }
        }
    }
    const RunWritten rest = StoreProvider::insertRun(events.subspan(std::size_t(run.written)));
    return {run.written + rest.written, rest.next};
}

Status SqliteProvider::beginBatch() {
    if (m_batch || m_handle == nullptr) {
        return {};
    }
    if (const Status s = run("BEGIN"); !s) {
        return s;
    }
    m_batch = true;
    m_batchRows = 0;
    return {};
}

Status SqliteProvider::endBatch() {
    if (m_batchLost) {
        // The caller writes the whole batch again: what went in since is undone.
        if (m_batch) {
            m_batch = false;
            sqlite3_exec(m_handle, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        return *std::exchange(m_batchLost, std::nullopt);
    }
    if (!m_batch) {
        return {};
    }
    // A file that went away has taken the batch's rows with it, committed: nothing is lost, and
    // the next write says where they went.
    if (!checkSameFile()) {
        return {};
    }
    m_batch = false;
    const Status committed = run("COMMIT");
    // A transaction left open would refuse every later BEGIN.
    if (!committed && sqlite3_get_autocommit(m_handle) == 0) {
        sqlite3_exec(m_handle, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return committed;
}

EventSelectDialect SqliteProvider::selectDialect() const {
    EventSelectDialect dialect{quotedName(m_settings.table)};
    // Texts sort regardless of letter case, as they do on SQL Server.
    dialect.sortableText = QStringLiteral("COALESCE(%1, '') COLLATE NOCASE");
    addSearchIndex(dialect);
    return dialect;
}

StoreProvider::ActivityDialect SqliteProvider::activityDialect(int limit) const {
    ActivityDialect dialect;
    dialect.table = quotedName(m_settings.table + QStringLiteral("_Activity"));
    dialect.hourOf = QStringLiteral("substr(%1, 1, 13) || ':00:00'");
    dialect.minuteOf = QStringLiteral("substr(%1, 1, 16) || ':00'");
    dialect.days = quotedName(m_settings.table + QStringLiteral("_ActivityDays"));
    dialect.dayOf = QStringLiteral("substr(%1, 1, 10) || ' 00:00:00'");
    const QString hour = dialect.hourOf.arg(QStringLiteral("SampleDate"));
    const auto mergeInto = [&](const QString& table, const QString& column,
                               const QString& start) -> QString {
        return QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + column +
               QStringLiteral(", Source, Category, Events) SELECT ") + start +
               QStringLiteral(", COALESCE(Source, ''), COALESCE(Category, ''), COUNT(*) FROM ") +
               tableName(Table::Events) +
               QStringLiteral(
                   " WHERE ID > ? AND ID <= ? AND SampleDate IS NOT NULL GROUP BY 1, "
                   "2, 3 ON CONFLICT (") +
               column +
               QStringLiteral(
                   ", Source, Category) DO UPDATE SET Events = Events + "
                   "excluded.Events");
    };
    dialect.merge = QStringList{mergeInto(dialect.table, QStringLiteral("Hour"), hour),
                                mergeInto(dialect.days, QStringLiteral("Day"),
                                          dialect.dayOf.arg(QStringLiteral("SampleDate")))};
    dialect.deleteOldest = deleteOldestSql(Table::Events, limit) +
                           QStringLiteral(" RETURNING ID, ") + hour +
                           QStringLiteral(", COALESCE(Source, ''), COALESCE(Category, '')");
    return dialect;
}

QString SqliteProvider::storedName(const QString& text) const {
    // As insert() writes it: a lone surrogate half as "?", a double quote as an apostrophe.
    QString stored = text.isValidUtf16() ? text : QString::fromUtf8(text.toUtf8());
    return stored.contains(u'"') ? stored.replace(u'"', u'\'') : stored;
}

QString SqliteProvider::tableName(Table table) const {
    return quotedName(table == Table::Events ? m_settings.table : m_settings.messagesTable);
}

Result<bool> SqliteProvider::releaseSpace(qint64 bytes) {
    if (m_handle == nullptr) {
        return false;
    }
    // A database made before incremental vacuum was set keeps its free pages for new rows; it
    // takes the setting only with a VACUUM, which rewrites the whole file (see the README).
    const Result<int> mode = number("PRAGMA auto_vacuum");
    if (!mode) {
        return mode.problem();
    }
    if (mode.value() != 2) {  // incremental
        return false;
    }
    const qint64 pages = std::max<qint64>(1, bytes / m_pageBytes);
    const QByteArray step = "PRAGMA incremental_vacuum(" + QByteArray::number(pages) + ')';
    if (const Status done = run(step.constData()); !done) {
        return done.problem();
    }
    const Result<int> left = number("PRAGMA freelist_count");
    if (!left) {
        return left.problem();
    }
    const bool more = left.value() > 0;
    if (!more) {
        // The file shrinks when the log is copied back into it.
        checkpointSoon();
    }
    return more;
}

QString SqliteProvider::where() const {
    return QStringLiteral("file ") + path();
}

// Everything is read without SQLite's locks or journal files: the file is opened "immutable",
// so that the check leaves no -wal or -shm file behind and never waits for a running logger.
Result<QString> SqliteProvider::probe() {
    if (path().isEmpty()) {
        return Problem{ErrorKind::Settings, QStringLiteral("No database file named")};
    }
    const QFileInfo file(path());
    if (!file.exists()) {
        return probeMissingFile(path());
    }
    if (!file.isFile()) {
        return Problem{ErrorKind::FileSystem,
                       path() + QStringLiteral(" is not a file (a folder, pipe or device)")};
    }
    // A WAL database needs its folder writable for the -wal and -shm files beside it.
    for (const QString& needed : {path(), file.absolutePath()}) {
        if (::access(QFile::encodeName(needed).constData(), W_OK) != 0) {
            return Problem{ErrorKind::FileSystem, needed + QStringLiteral(" is not writable: ") +
                                                      QString::fromLocal8Bit(std::strerror(errno))};
        }
    }
    QFile header(path());
    if (!header.open(QIODevice::ReadOnly)) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot read ") + path() + u": " + header.errorString()};
    }
    const QByteArray start = header.read(16);
    header.close();
    if (start.isEmpty()) {
        return QStringLiteral("is empty; it would be made a database, with the table");
    }
    if (start != QByteArray("SQLite format 3", 16)) {
        return Problem{ErrorKind::Database,
                       QStringLiteral("The file ") + path() +
                           QStringLiteral(" is not a SQLite database; Quilljot leaves it "
                                          "untouched. Name another file in the Database setting.")};
    }
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path(), "/") + "?immutable=1";
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
    sqlite3_stmt* prepared = nullptr;
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db,
                                "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                "lower(name) = lower(?)",
                                -1, &prepared, nullptr);
    }
    const SqliteStatement query(prepared);
    const QByteArray table = m_settings.table.toUtf8();
    bool hasTable = false;
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(query.get(), 1, table.constData(), int(table.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(query.get());
        hasTable = rc == SQLITE_ROW && sqlite3_column_int(query.get(), 0) > 0;
    }
    const QString why = QString::fromUtf8(sqlite3_errmsg(db));
    if (rc != SQLITE_ROW) {
        return Problem{ErrorKind::Database, QStringLiteral("Cannot read database ") + path() +
                                                QStringLiteral(": ") + why};
    }
    if (hasTable) {
        return QStringLiteral("is a SQLite database with the table");
    }
    // Unread: what a running logger has not yet moved from its write-ahead log into the file.
    if (QFileInfo::exists(path() + QStringLiteral("-wal"))) {
        return QStringLiteral("is a SQLite database in use; the table is made when missing");
    }
    return QStringLiteral("is a SQLite database; the table would be made");
}
