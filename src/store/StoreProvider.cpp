#include "store/StoreProvider.h"

#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <atomic>

#include "support/DateText.h"

StoreProvider::~StoreProvider() {
    removeConnection();
}

Status StoreProvider::addConnection(const QString& driver) {
    static std::atomic<int> counter{0};
    removeConnection();
    m_connectionName = QStringLiteral("quilljot-") + QString::number(++counter);
    m_db = QSqlDatabase::addDatabase(driver, m_connectionName);
    if (!m_db.isValid()) {
        return Problem{ErrorKind::Database,
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

bool StoreProvider::execLayout(QSqlQuery& q, const QString& sql, const QVariantList& values) {
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        return q.exec(sql);
    }
    if (!q.prepare(sql)) {
        return false;
    }
    for (qsizetype i = 0; i < values.size(); ++i) {
        q.bindValue(int(i), values[i]);
    }
    return q.exec();
}

QString StoreProvider::quotedName(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
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
    return Problem{ErrorKind::Database, text};
}

QString StoreProvider::connectReason(const QString& driverText, bool serverAnswered) {
    return serverAnswered ? driverText
                          : QStringLiteral(
                                "the server cannot be reached (check the host and port "
                                "in SQL Source, and that the server runs)");
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
        return Problem{ErrorKind::Database, q.lastError().text()};
    }
    return q;
}

}  // namespace

Status StoreProvider::readEvents(const EventQuery& query, const RowVisitor& visit) {
    if (const Status ready = readyToRead(); !ready) {
        return ready;
    }
    EventSelectDialect dialect = selectDialect();
    // A term common enough to leave the index out is found within a few thousand rows.
    const bool shortWalk = pageWalksNewestRows(dialect, query);
    if (shortWalk) {
        dialect.dataIndex.clear();
        expectShortWalk(true);
    }
    const auto walked = qScopeGuard([&] {
        if (shortWalk) {
            expectShortWalk(false);
        }
    });
    QString cursorValue;
    if (query.after) {
        Result<QSqlQuery> cursor = runSelect(m_db, EventSelects::cursorOf(dialect, query));
        if (!cursor) {
            return failure(cursor.problem().description);
        }
        if (!cursor.value().next()) {
            return {};
        }
        const QVariant value = cursor.value().value(0);
        cursorValue = query.sortBy == EventQuery::Column::Time ? timeText(value) : value.toString();
    }
    Result<QSqlQuery> rows = runSelect(m_db, EventSelects::rows(dialect, query, cursorValue));
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

QString StoreProvider::tableName(Table table) const {
    return table == Table::Events ? selectDialect().table : m_settings.messagesTable;
}

QString StoreProvider::timeColumn(Table table) {
    return table == Table::Events ? QStringLiteral("SampleDate") : QStringLiteral("ReceivedDate");
}

QString StoreProvider::deleteOldestSql(Table table, int limit) const {
    const QString name = tableName(table);
    const QString time = timeColumn(table);
    return QStringLiteral("DELETE FROM ") + name + QStringLiteral(" WHERE ID IN (SELECT ID FROM ") +
           name + QStringLiteral(" WHERE ") + time + QStringLiteral(" < ? ORDER BY ") + time +
           QStringLiteral(" LIMIT ") + QString::number(limit) + u')';
}

Result<int> StoreProvider::deleteRowsBefore(Table table, const QString& before, int limit) {
    if (const Status ready = readyToRead(); !ready) {
        return ready.problem();
    }
    if (table == Table::Events) {
        return deleteEventsBefore(before, limit);
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(deleteOldestSql(table, limit))) {
        return failure(q.lastError().text());
    }
    q.bindValue(0, before);
    if (!q.exec()) {
        return failure(q.lastError().text());
    }
    return q.numRowsAffected();
}

StoreProvider::RunWritten StoreProvider::insertRun(std::span<const LogEvent> events) {
    RunWritten run;
    for (const LogEvent& event : events) {
        run.next = insert(event);
        if (!run.next) {
            break;
        }
        ++run.written;
    }
    return run;
}

Status StoreProvider::insertMessage(const LoggedMessage& m) {
    if (const Status ready = readyToRead(); !ready) {
        return ready;
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("INSERT INTO ") + tableName(Table::Messages) +
                   QStringLiteral(" (ReceivedDate,Source,Target,Class,UID,Message) "
                                  "VALUES (?,?,?,?,?,?)"))) {
        return failure(q.lastError().text());
    }
    int i = 0;
    for (const QString* value : {&m.time, &m.source, &m.target, &m.messageClass, &m.uid, &m.text}) {
        q.bindValue(i++, *value);
    }
    if (!q.exec()) {
        return failure(q.lastError().text());
    }
    return {};
}

Status StoreProvider::readMessages(const MessageQuery& query, const MessageVisitor& visit) {
    if (const Status ready = readyToRead(); !ready) {
        return ready;
    }
    const EventSelectDialect dialect = selectDialect();
    const QString time = timeColumn(Table::Messages);
    EventSelect select;
    QStringList terms;
    if (!query.from.isEmpty()) {
        terms.append(time + QStringLiteral(" >= ?"));
        select.values.append(query.from);
    }
    if (!query.to.isEmpty()) {
        terms.append(time + QStringLiteral(" < ?"));
        select.values.append(query.to);
    }
    for (const auto& [column, text] :
         {std::pair{"Source", &query.source}, std::pair{"Class", &query.messageClass}}) {
        if (!text->isEmpty()) {
            terms.append(
                EventSelects::contains(dialect, QLatin1String(column), *text, select.values));
        }
    }
    if (query.after) {
        terms.append(QStringLiteral("ID > ?"));
        select.values.append(QString::number(*query.after));
    }
    const bool top = dialect.limitWithTop && query.limit > 0;
    select.sql =
        QStringLiteral("SELECT ") +
        (top ? QStringLiteral("TOP (") + QString::number(query.limit) + QStringLiteral(") ")
             : QString()) +
        QStringLiteral("ID, ") + dialect.timeColumn.arg(time) +
        QStringLiteral(", Source, Target, Class, UID, Message FROM ") + tableName(Table::Messages) +
        (terms.isEmpty() ? QString()
                         : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "))) +
        QStringLiteral(" ORDER BY ID");
    if (!dialect.limitWithTop && query.limit > 0) {
        select.sql += QStringLiteral(" LIMIT ") + QString::number(query.limit);
    }
    Result<QSqlQuery> rows = runSelect(m_db, select);
    if (!rows) {
        return failure(rows.problem().description);
    }
    QSqlQuery& q = rows.value();
    while (q.next()) {
        visit(StoredMessage{
            q.value(0).toLongLong(),
            LoggedMessage{timeText(q.value(1)), q.value(2).toString(), q.value(3).toString(),
                          q.value(4).toString(), q.value(5).toString(), q.value(6).toString()}});
    }
    if (q.lastError().isValid()) {
        return failure(q.lastError().text());
    }
    return {};
}
