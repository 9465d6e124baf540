// The text index of StoreProvider: following the event table by key, a step at a time.
#include <QSqlError>
#include <algorithm>

#include "store/StoreProvider.h"

Result<bool> StoreProvider::rollUpSearch() {
    if (const Status ready = readyToRead(); !ready) {
        return ready.problem();
    }
    const std::optional<SearchDialect> dialect = searchDialect();
    if (!dialect) {
        return false;
    }
    if (!m_db.transaction()) {
        return failure(m_db.lastError().text());
    }
    const auto undo = [&](const Problem& p) -> Result<bool> {
        m_db.rollback();
        return p;
    };
    qint64 mark = 0;
    Result<qint64> read =
        runStatement(QStringLiteral("SELECT Indexed FROM ") + dialect->keyTable, {},
                     [&](const QStringList& row) { mark = row.value(0).toLongLong(); });
    if (!read) {
        return undo(read.problem());
    }
    const Result<qint64> newest = newestKey();
    if (!newest) {
        return undo(newest.problem());
    }
    const qint64 last = std::min(newest.value(), mark + kSearchStepKeys);
    if (last > mark) {
        const QStringList range{QString::number(mark), QString::number(last)};
        read = runStatement(dialect->addRows, range);
        if (read) {
            read = runStatement(
                QStringLiteral("UPDATE ") + dialect->keyTable + QStringLiteral(" SET Indexed = ?"),
                {range.value(1)});
        }
        if (!read) {
            return undo(read.problem());
        }
    }
    if (!m_db.commit()) {
        return undo(failure(m_db.lastError().text()));
    }
    return last < newest.value();
}
