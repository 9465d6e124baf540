#include "logger/db/SqliteProvider.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVarLengthArray>

#include "logger/db/FileDialect.h"
#include "support/Failure.h"

void SqliteProvider::openFile() {
    addDatabase(QStringLiteral("QSQLITE"));
    m_db.setDatabaseName(m_cs.dataSource);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                           QString::number(kBusyTimeoutMs));
    if (!m_db.open()) {
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot open database ") +
                                                 m_cs.dataSource + u": " + m_db.lastError().text());
    }
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("The SQLite driver gives no handle for ") + m_cs.dataSource);
    }
    m_handle = *static_cast<sqlite3* const*>(handle.constData());
    // SQLite reads the header before anything is written: a file that is no database is refused
    // here untouched. (Reading the header through a descriptor of our own instead would drop the
    // locks this process holds on the file when it is closed, and another program closing its
    // connection would then take the write-ahead log away from under ours.)
    if (sqlite3_exec(m_handle, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        const QString why = lastError();
        if (sqlite3_errcode(m_handle) == SQLITE_NOTADB) {
            throw Failure(ErrorNumber::Database,
                          QStringLiteral("The file ") + m_cs.dataSource +
                              QStringLiteral(" is not a SQLite database; Quilljot leaves it "
                                             "untouched. Name another file in the Database "
                                             "setting."));
        }
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Cannot read database ") + m_cs.dataSource + u": " + why);
    }
    run(QStringLiteral("PRAGMA journal_mode=WAL"));
    run(QStringLiteral("PRAGMA synchronous=NORMAL"));
    m_nativePath = QFile::encodeName(m_cs.dataSource);
    struct stat st = {};
    if (::stat(m_nativePath.constData(), &st) != 0) {
        throw Failure(
            ErrorNumber::Database,
            QStringLiteral("The database file vanished while opening: ") + m_cs.dataSource);
    }
    m_device = st.st_dev;
    m_inode = st.st_ino;
}

void SqliteProvider::checkSameFile() {
    struct stat st = {};
    if (::stat(m_nativePath.constData(), &st) == 0 && st.st_dev == m_device &&
        st.st_ino == m_inode && S_ISREG(st.st_mode)) {
        return;
    }
    // The rows of the open batch are committed, and the log checkpointed, into the file that was
    // opened: a file that was moved away keeps them. SQLite does not checkpoint a moved file when
    // it closes, and the log would stay beside the path, where a new database made later would
    // take it for its own.
    const int lost = m_batch ? m_batchRows : 0;
    if (m_batch) {
        sqlite3_exec(m_handle, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_exec(m_handle, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    m_batch = false;
    releaseStatements();
    close();
    m_handle = nullptr;
    QString text = QStringLiteral("The database file ") + m_cs.dataSource +
                   QStringLiteral(
                       " was removed or replaced while open; the connection is closed. "
                       "Put the database back (or remove what is in its place) and "
                       "reopen it: close the setup dialog, or send SIGHUP");
    if (lost > 0) {
        text += QStringLiteral(". The last ") + QString::number(lost) +
                QStringLiteral(" rows went to the file that was opened, wherever it is now");
    }
    throw Failure(ErrorNumber::Database, text);
}

void SqliteProvider::setContended(bool contended) {
    if (contended != m_contended) {
        m_contended = contended;
        sqlite3_busy_timeout(m_handle, contended ? 0 : kBusyTimeoutMs);
    }
}

void SqliteProvider::open() {
    if (m_cs.dataSource.isEmpty()) {
        throw Failure(ErrorNumber::Database, QStringLiteral("No database file named"));
    }
    if (!QFileInfo(m_cs.dataSource).isFile()) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Could not find file '") + m_cs.dataSource + u'\'');
    }
    openFile();
}

void SqliteProvider::createDatabase() {
    if (QFileInfo::exists(m_cs.dataSource)) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Database already exists: ") + m_cs.dataSource);
    }
    openFile();  // WAL mode writes the header, so the new file is a database at once
    releaseStatements();
    close();
}

SqliteProvider::~SqliteProvider() {
    // Closing with a transaction open would undo it: what was written so far is kept.
    if (m_batch) {
        try {
            endBatch();
        } catch (const std::exception&) {
        }
    }
    releaseStatements();
}

void SqliteProvider::releaseStatements() {
    for (sqlite3_stmt* plan : std::as_const(m_plans)) {
        sqlite3_finalize(plan);
    }
    m_plans.clear();
}

QString SqliteProvider::lastError() const {
    return QString::fromUtf16(static_cast<const char16_t*>(sqlite3_errmsg16(m_handle)));
}

sqlite3_stmt* SqliteProvider::prepared(const QString& shape) {
    if (sqlite3_stmt* plan = m_plans.value(shape, nullptr)) {
        return plan;
    }
    if (m_plans.size() >= kMaxPlans) {
        for (sqlite3_stmt* plan : std::as_const(m_plans)) {
            sqlite3_finalize(plan);
        }
        m_plans.clear();
    }
    sqlite3_stmt* plan = nullptr;
    if (sqlite3_prepare16_v3(m_handle, shape.utf16(), int(shape.size() * sizeof(char16_t)),
                             SQLITE_PREPARE_PERSISTENT, &plan, nullptr) != SQLITE_OK) {
        sqlite3_finalize(plan);
        throw Failure(ErrorNumber::Database, lastError());
    }
    m_plans.insert(shape, plan);
    return plan;
}

bool SqliteProvider::step(sqlite3_stmt* plan) {
    int rc = sqlite3_step(plan);
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(plan);
    }
    sqlite3_reset(plan);
    return rc == SQLITE_DONE;
}

RecordSet SqliteProvider::execute(const QString& statement) {
    const FileDialect::Parameterized p = FileDialect::parameterize(statement);
    if (QStringView(p.shape).trimmed().startsWith(u"SELECT", Qt::CaseInsensitive)) {
        auto query = std::make_shared<QSqlQuery>(m_db);
        query->setForwardOnly(true);
        bool ok = query->prepare(p.shape);
        for (qsizetype i = 0; ok && i < p.values.size(); ++i) {
            query->bindValue(int(i), p.values[i].text().toString());
        }
        if (!ok || !query->exec()) {
            throw Failure(ErrorNumber::Database,
                          query->lastError().text() + QStringLiteral(" in: ") + statement);
        }
        return RecordSet(std::move(query));
    }
    checkSameFile();
    sqlite3_stmt* plan = nullptr;
    try {
        plan = prepared(p.shape);
    } catch (const Failure& f) {
        throw Failure(ErrorNumber::Database, f.description() + QStringLiteral(" in: ") + statement);
    }
    // The database keeps its text as UTF-8: converting here is cheaper than inside SQLite.
    QVarLengthArray<QByteArray, 8> utf8;
    for (qsizetype i = 0; i < p.values.size(); ++i) {
        utf8.append(p.values[i].text().toUtf8());
        sqlite3_bind_text(plan, int(i + 1), utf8.back().constData(), int(utf8.back().size()),
                          SQLITE_STATIC);
    }
    // Inside a batch each statement is its own unit: SQLite undoes a refused statement alone and
    // keeps the transaction, so its neighbours stay (a savepoint per statement would add two
    // statements per event and protect nothing more). Only a failure that makes SQLite abandon
    // the whole transaction (a full disk, an I/O error) ends the batch; a new one is begun.
    const bool ok = step(plan);
    const QString error = ok ? QString() : lastError();
    const int code = ok ? SQLITE_OK : sqlite3_errcode(m_handle);
    sqlite3_clear_bindings(plan);
    setContended(code == SQLITE_BUSY || code == SQLITE_LOCKED);
    if (ok && m_batch) {
        ++m_batchRows;
    }
    if (!ok) {
        if (m_batch && sqlite3_get_autocommit(m_handle) != 0) {
            m_batch = false;
            beginBatch();
        }
        throw Failure(ErrorNumber::Database, error + QStringLiteral(" in: ") + statement);
    }
    return RecordSet();
}

void SqliteProvider::run(const QString& sql) {
    QSqlQuery q(m_db);
    if (!q.exec(sql)) {
        throw Failure(ErrorNumber::Database, q.lastError().text() + QStringLiteral(" in: ") + sql);
    }
}

QString SqliteProvider::toNative(const QString& statement) const {
    return FileDialect::toSqlite(statement);
}

QStringList SqliteProvider::tableNames() {
    return m_db.tables(QSql::Tables);
}

void SqliteProvider::createLogTable(const QString& table) {
    QString quoted = table;
    quoted.replace(u'"', QStringLiteral("\"\""));
    run(QStringLiteral("CREATE TABLE \"") + quoted +
        QStringLiteral("\" (ID INTEGER CONSTRAINT PrimaryKey PRIMARY KEY AUTOINCREMENT, "
                       "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), "
                       "Data TEXT)"));
}

void SqliteProvider::beginBatch() {
    if (!m_batch && m_db.isOpen()) {
        run(QStringLiteral("BEGIN"));
        m_batch = true;
        m_batchRows = 0;
    }
}

void SqliteProvider::endBatch() {
    if (m_batch) {
        checkSameFile();
        m_batch = false;
        try {
            run(QStringLiteral("COMMIT"));
        } catch (const Failure&) {
            // A transaction left open would refuse every later BEGIN.
            if (sqlite3_get_autocommit(m_handle) == 0) {
                run(QStringLiteral("ROLLBACK"));
            }
            throw;
        }
    }
}
