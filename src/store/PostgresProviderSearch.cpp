// The text index of PostgresProvider: the rows' data beside the event table with pg_trgm's GIN
// index on it, which ILIKE '%term%' uses, filled by key in steps on the logger's roll-up.
//
// Rows purged from the event table leave it through its foreign key. Keeping the index off the
// event table keeps its cost off the writer's COPY: GIN's list of pending entries is merged by
// whichever insert finds it full, which would be the writer's.
#include <QSqlError>
#include <QSqlQuery>

#include "store/PostgresProvider.h"

QString PostgresProvider::searchTable() const {
    return quotedName(m_settings.table.toLower() + QStringLiteral("_search"));
}

QString PostgresProvider::searchKeyTable() const {
    return quotedName(m_settings.table.toLower() + QStringLiteral("_searchkey"));
}

Status PostgresProvider::readyToRead() {
    if (const Status connected = connection(); !connected) {
        return connected;
    }
    // The logger makes the index, or drops it, when it opens the database: each read looks.
    const Result<QVariant> indexed =
        layoutQuery(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {searchKeyTable()});
    m_searchIndexed = indexed && indexed.value().toBool();
    return {};
}

Status PostgresProvider::dropSearchIndex() {
    for (const QString& table : {searchTable(), searchKeyTable()}) {
        if (const Status dropped =
                layoutQuery(QStringLiteral("DROP TABLE IF EXISTS ") + table).status();
            !dropped) {
            return dropped;
        }
    }
    m_searchIndexed = false;
    return {};
}

Result<QStringList> PostgresProvider::keepSearchIndex() {
    const Result<QVariant> had =
        layoutQuery(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {searchKeyTable()});
    if (!had) {
        return had.problem();
    }
    const bool existed = had.value().toBool();
    if (!m_settings.searchIndex) {
        if (const Status dropped = dropSearchIndex(); !dropped) {
            return dropped.problem();
        }
        return existed ? QStringList{QStringLiteral("the text index of the data dropped")}
                       : QStringList();
    }
    if (existed) {
        m_searchIndexed = true;
        return QStringList();
    }
    // A user who may not add the extension keeps everything else: the savepoint undoes the
    // attempt alone.
    if (const Status saved = layoutQuery(QStringLiteral("SAVEPOINT search")).status(); !saved) {
        return saved.problem();
    }
    const QString index = quotedName(m_settings.table.toLower() + QStringLiteral("_search_data"));
    const QString steps[] = {
        QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
        QStringLiteral("CREATE TABLE ") + searchTable() +
            QStringLiteral(" (ID bigint PRIMARY KEY REFERENCES ") + m_table +
            QStringLiteral(" (ID) ON DELETE CASCADE, Data text NOT NULL)"),
        QStringLiteral("CREATE INDEX ") + index + QStringLiteral(" ON ") + searchTable() +
            QStringLiteral(" USING gin (Data gin_trgm_ops)"),
        QStringLiteral("CREATE TABLE ") + searchKeyTable() +
            QStringLiteral(" (Indexed bigint NOT NULL)"),
        QStringLiteral("INSERT INTO ") + searchKeyTable() + QStringLiteral(" VALUES (0)"),
    };
    for (const QString& step : steps) {
        if (const Status made = layoutQuery(step).status(); !made) {
            (void)layoutQuery(QStringLiteral("ROLLBACK TO SAVEPOINT search"));
            m_searchIndexed = false;
            return QStringList{QStringLiteral("no text index of the data (searches read the "
                                              "rows): ") +
                               made.problem().description};
        }
    }
    m_searchIndexed = true;
    return QStringList{
        QStringLiteral("the text index of the data begun (it takes the rows in steps while "
                       "logging goes on)")};
}

std::optional<StoreProvider::SearchDialect> PostgresProvider::searchDialect() const {
    if (!m_searchIndexed) {
        return std::nullopt;
    }
    return SearchDialect{searchKeyTable(),
                         QStringLiteral("INSERT INTO ") + searchTable() +
                             QStringLiteral(" (ID, Data) SELECT ID, Data FROM ") + m_table +
                             QStringLiteral(" WHERE ID > ? AND ID <= ? AND Data IS NOT NULL")};
}

// The planner, guessing a term rare, would share the walk among parallel workers: starting them
// took 85 ms of a 96 ms page (a word in 1 % of 10,000,000 rows; 10 ms without them).
void PostgresProvider::expectShortWalk(bool starting) {
    (void)run(starting ? "SET max_parallel_workers_per_gather = 0"
                       : "RESET max_parallel_workers_per_gather");
}
