#include "logger/db/DbProvider.h"

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

#include "logger/db/SqlServerProvider.h"
#include "logger/db/SqliteProvider.h"
#include "support/Failure.h"

DbProvider::DbProvider(ConnectionString cs) : m_cs(std::move(cs)) {}

DbProvider::~DbProvider() {
    close();
}

QSqlDatabase DbProvider::addDatabase(const QString& driver) {
    static std::atomic<int> counter{0};
    m_connectionName = QStringLiteral("quilljot-") + QString::number(++counter);
    m_db = QSqlDatabase::addDatabase(driver, m_connectionName);
    if (!m_db.isValid()) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("The Qt SQL driver ") + driver +
                          QStringLiteral(" is not installed (see the README's dependencies)"));
    }
    return m_db;
}

RecordSet DbProvider::execute(const QString& statement) {
    auto query = std::make_shared<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (!query->exec(toNative(statement))) {
        throw Failure(ErrorNumber::Database,
                      query->lastError().text() + QStringLiteral(" in: ") + statement);
    }
    return RecordSet(std::move(query));
}

void DbProvider::close() {
    if (m_connectionName.isEmpty()) {
        return;
    }
    if (m_db.isOpen()) {
        m_db.close();
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

std::unique_ptr<DbProvider> DbProvider::forConnectionString(const QString& text) {
    ConnectionString cs = ConnectionString::parse(text);
    switch (cs.provider) {
        case ConnectionString::Provider::FileDatabase:
            return std::make_unique<SqliteProvider>(std::move(cs));
        case ConnectionString::Provider::SqlServer:
            return std::make_unique<SqlServerProvider>(std::move(cs));
        case ConnectionString::Provider::Unknown:
            break;
    }
    throw Failure(ErrorNumber::Database,
                  QStringLiteral("Provider cannot be found: '") + cs.providerName +
                      QStringLiteral("' (known: Microsoft.Jet.OLEDB.4.0, sqloledb)"));
}
