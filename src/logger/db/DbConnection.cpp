#include "logger/db/DbConnection.h"

#include <QStringList>

#include "logger/db/ConnectionString.h"
#include "logger/db/DbProvider.h"
#include "support/Failure.h"

namespace {

// Runs one database operation; a failure leaves with the connection's password masked.
template <typename Work>
auto guarded(const QString& connectionString, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const Failure& f) {
        throw Failure(f.number(),
                      ConnectionString::parse(connectionString).redact(f.description()));
    }
}

}  // namespace

DbConnection::DbConnection() = default;
DbConnection::~DbConnection() = default;

void DbConnection::Open(const QString& connectionString) {
    Close();
    m_connectionString = connectionString;
    guarded(connectionString, [&] {
        auto provider = DbProvider::forConnectionString(connectionString);
        provider->open();
        m_provider = std::move(provider);
    });
}

bool DbConnection::isOpen() const {
    return m_provider && m_provider->database().isOpen();
}

void DbConnection::Close() {
    m_provider.reset();
}

RecordSet DbConnection::execute(const QString& sql) {
    if (!isOpen()) {
        throw Failure(ErrorNumber::Database,
                      QStringLiteral("Operation is not allowed when the object is closed"));
    }
    return guarded(m_connectionString, [&] { return m_provider->execute(sql); });
}

void DbConnection::beginBatch() {
    if (isOpen()) {
        guarded(m_connectionString, [&] { m_provider->beginBatch(); });
    }
}

void DbConnection::endBatch() {
    if (isOpen()) {
        guarded(m_connectionString, [&] { m_provider->endBatch(); });
    }
}

namespace Catalog {

void Create(const QString& connectionString) {
    guarded(connectionString,
            [&] { DbProvider::forConnectionString(connectionString)->createDatabase(); });
}

QStringList Tables(const QString& connectionString) {
    return guarded(connectionString, [&] {
        auto provider = DbProvider::forConnectionString(connectionString);
        provider->open();
        return provider->tableNames();
    });
}

void AppendLogTable(const QString& connectionString, const QString& table) {
    guarded(connectionString, [&] {
        auto provider = DbProvider::forConnectionString(connectionString);
        provider->open();
        provider->createLogTable(table);
    });
}

}  // namespace Catalog
