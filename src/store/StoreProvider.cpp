#include "store/StoreProvider.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <atomic>

#include "support/DateText.h"

#include "store/PostgresProvider.h"
#include "store/SqlServerProvider.h"
#include "store/SqliteProvider.h"

StoreProvider::~StoreProvider() {
    removeConnection();
}

Status StoreProvider::addConnection(const QString& driver) {
    static std::atomic<int> counter{0};
    removeConnection();
    m_connectionName = QStringLiteral("quilljot-") + QString::number(++counter);
    m_db = QSqlDatabase::addDatabase(driver, m_connectionName);
    if (!m_db.isValid()) {
        return Problem{ErrorNumber::Database,
                       QStringLiteral("The Qt SQL driver ") + driver +
                           QStringLiteral(" is not installed (see the README's dependencies)")};
    }
    return {};
}

void StoreProvider::removeConnection() {
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

std::unique_ptr<StoreProvider> StoreProvider::forSettings(const DatabaseSettings& settings) {
    switch (settings.kind) {
        case DatabaseKind::SqlServer:
            return std::make_unique<SqlServerProvider>(settings);
        case DatabaseKind::PostgreSql:
            return std::make_unique<PostgresProvider>(settings);
        case DatabaseKind::File:
            break;
    }
    return std::make_unique<SqliteProvider>(settings);
}

QString StoreProvider::timeText(const QVariant& stored) const {
    // Servers return their date-time columns as such.
    if (stored.typeId() == QMetaType::QDateTime) {
        return DateText::isoText(stored.toDateTime());
    }
    const QString text = stored.toString();
    return DateText::normalize(text).value_or(text);
}

Problem StoreProvider::failure(const QString& text) const {
    return Problem{ErrorNumber::Database, text};
}

namespace {

// Runs one select of an event query on a Qt connection, forward only.
Result<QSqlQuery> runSelect(const QSqlDatabase& db, const EventSelect& select) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = q.prepare(select.sql);
    for (qsizetype i = 0; ok && i < select.values.size(); ++i) {
        q.bindValue(int(i), select.values[i]);
    }
    if (!ok || !q.exec()) {
        return Problem{ErrorNumber::Database, q.lastError().text()};
    }
    return q;
}

}  // namespace

Status StoreProvider::readEvents(const EventQuery& query, const RowVisitor& visit) {
    if (const Status ready = readyToRead(); !ready) {
        return ready;
    }
    const EventSelectDialect dialect = selectDialect();
    QString cursorTime;
    if (query.after) {
        Result<QSqlQuery> cursor = runSelect(m_db, EventSelects::timeOfRow(dialect, *query.after));
        if (!cursor) {
            return failure(cursor.problem().description);
        }
        if (!cursor.value().next()) {
            return {};
        }
        cursorTime = timeText(cursor.value().value(0));
    }
    Result<QSqlQuery> rows = runSelect(m_db, EventSelects::rows(dialect, query, cursorTime));
    if (!rows) {
        return failure(rows.problem().description);
    }
    QSqlQuery& q = rows.value();
    while (q.next()) {
        visit(StoredEvent{q.value(0).toLongLong(),
                          LogEvent{timeText(q.value(1)), q.value(2).toString(),
                                   q.value(3).toString(), q.value(4).toString()}});
    }
    if (q.lastError().isValid()) {
        return failure(q.lastError().text());
    }
    return {};
}

Result<qint64> StoreProvider::countEvents(const EventQuery& query) {
    if (const Status ready = readyToRead(); !ready) {
        return ready.problem();
    }
    Result<QSqlQuery> counted = runSelect(m_db, EventSelects::count(selectDialect(), query));
    if (!counted) {
        return failure(counted.problem().description);
    }
    if (!counted.value().next()) {
        return failure(counted.value().lastError().text());
    }
    return counted.value().value(0).toLongLong();
}
