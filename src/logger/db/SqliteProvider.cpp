#include "logger/db/SqliteProvider.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include "logger/db/FileDialect.h"
#include "support/Failure.h"

namespace {
constexpr char kSqliteMagic[] = "SQLite format 3";  // followed by a NUL: 16 bytes
}

void SqliteProvider::refuseForeignFile() const {
    const QString& path = m_cs.dataSource;
    QFile file(path);
    if (!file.exists() || file.size() == 0) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot read database file ") + path +
                                                 u": " + file.errorString());
    }
    const QByteArray head = file.read(16);
    if (head != QByteArray(kSqliteMagic, 16)) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("The file ") + path +
                          QStringLiteral(" is not a SQLite database; Quilljot leaves it untouched. "
                                         "Name another file in the Database setting."));
    }
}

void SqliteProvider::openFile() {
    refuseForeignFile();
    addDatabase(QStringLiteral("QSQLITE"));
    m_db.setDatabaseName(m_cs.dataSource);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open()) {
        throw Failure(ErrorNumber::Database, QStringLiteral("Cannot open database ") +
                                                 m_cs.dataSource + u": " + m_db.lastError().text());
    }
    run(QStringLiteral("PRAGMA journal_mode=WAL"));
    run(QStringLiteral("PRAGMA synchronous=NORMAL"));
    auto statement = [this](const char* sql) {
        auto q = std::make_unique<QSqlQuery>(m_db);
        q->prepare(QString::fromLatin1(sql));
        return q;
    };
    m_savepoint = statement("SAVEPOINT quilljot_statement");
    m_release = statement("RELEASE quilljot_statement");
    m_rollback = statement("ROLLBACK TO quilljot_statement");
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
    releaseStatements();
}

void SqliteProvider::releaseStatements() {
    m_plans.clear();
    m_savepoint.reset();
    m_release.reset();
    m_rollback.reset();
}

QSqlQuery& SqliteProvider::prepared(const QString& shape) {
    auto it = m_plans.find(shape);
    if (it != m_plans.end()) {
        return **it;
    }
    if (m_plans.size() >= kMaxPlans) {
        m_plans.clear();
    }
    auto query = std::make_shared<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (!query->prepare(shape)) {
        throw Failure(ErrorNumber::Database, query->lastError().text());
    }
    return **m_plans.insert(shape, std::move(query));
}

RecordSet SqliteProvider::execute(const QString& statement) {
    const FileDialect::Parameterized p = FileDialect::parameterize(statement);
    const bool rows = QStringView(p.shape).trimmed().startsWith(u"SELECT", Qt::CaseInsensitive);
    std::shared_ptr<QSqlQuery> fresh;
    QSqlQuery* query = nullptr;
    try {
        if (rows) {
            fresh = std::make_shared<QSqlQuery>(m_db);
            fresh->setForwardOnly(true);
            if (!fresh->prepare(p.shape)) {
                throw Failure(ErrorNumber::Database, fresh->lastError().text());
            }
            query = fresh.get();
        } else {
            query = &prepared(p.shape);
        }
    } catch (const Failure& f) {
        throw Failure(ErrorNumber::Database, f.description() + QStringLiteral(" in: ") + statement);
    }
    for (qsizetype i = 0; i < p.values.size(); ++i) {
        query->bindValue(int(i), p.values[i]);
    }
    // Inside a batch each statement is its own unit: a refused one is undone alone.
    const bool unit = m_batch && !rows;
    if (unit) {
        m_savepoint->exec();
    }
    if (!query->exec()) {
        const QString error = query->lastError().text();
        if (unit) {
            m_rollback->exec();
            m_release->exec();
        }
        throw Failure(ErrorNumber::Database, error + QStringLiteral(" in: ") + statement);
    }
    if (unit) {
        m_release->exec();
    }
    return rows ? RecordSet(std::move(fresh)) : RecordSet();
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
    }
}

void SqliteProvider::endBatch() {
    if (m_batch) {
        m_batch = false;
        // Finished plans hold no read lock that would keep the commit from checkpointing.
        for (const auto& plan : std::as_const(m_plans)) {
            plan->finish();
        }
        run(QStringLiteral("COMMIT"));
    }
}
