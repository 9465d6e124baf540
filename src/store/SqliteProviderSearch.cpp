// The text index of SqliteProvider: an FTS5 table of the data's trigrams, kept by key in steps.
//
// The index keeps no positions (detail=none): a third of the disk and about half the time of one
// that does; nor each row's length (columnsize=0), which only ranking would read. A search asks it
// for the rows holding every trigram of the term, and LIKE checks those rows, so the index only
// ever narrows what LIKE would find: the results are LIKE's, letter case and all.
#include <QList>
#include <QSqlError>
#include <algorithm>

#include "store/SqliteProvider.h"

namespace {

// The FTS5 query of the rows that hold every trigram of `term`.
QString trigramsOf(const QString& term) {
    const QList<uint> points = term.toUcs4();
    QStringList grams;
    for (qsizetype i = 0; i + 3 <= points.size(); ++i) {
        QString gram =
            QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData() + i), 3);
        gram = u'"' + gram.replace(u'"', QStringLiteral("\"\"")) + u'"';
        if (!grams.contains(gram)) {
            grams.append(gram);
        }
    }
    return grams.join(QStringLiteral(" AND "));
}

}  // namespace

QString SqliteProvider::searchTable() const {
    return quotedName(m_settings.table + QStringLiteral("_Search"));
}

QString SqliteProvider::searchKeyTable() const {
    return quotedName(m_settings.table + QStringLiteral("_SearchKey"));
}

Status SqliteProvider::makeSearchIndex() {
    const QString content = QString(m_settings.table).replace(u'\'', QStringLiteral("''"));
    const QByteArray steps[] = {
        (QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS ") + searchTable() +
         QStringLiteral(" USING fts5(Data, content='") + content +
         QStringLiteral("', content_rowid='ID', tokenize='trigram', detail='none', "
                        "columnsize=0)"))
            .toUtf8(),
        // Segments are merged only when sixteen of a size have gathered (FTS5's "crisis"
        // merge), not a little after every step: that halves the index's CPU per row for
        // searches a few milliseconds slower.
        (QStringLiteral("INSERT INTO ") + searchTable() + u'(' + searchTable() +
         QStringLiteral(", rank) VALUES ('automerge', 0)"))
            .toUtf8(),
        (QStringLiteral("CREATE TABLE IF NOT EXISTS ") + searchKeyTable() +
         QStringLiteral(" (Indexed INTEGER NOT NULL)"))
            .toUtf8(),
        (QStringLiteral("INSERT INTO ") + searchKeyTable() +
         QStringLiteral(" (Indexed) SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM ") + searchKeyTable() +
         u')')
            .toUtf8(),
    };
    for (const QByteArray& step : steps) {
        if (const Status made = run(step.constData()); !made) {
            return made;
        }
    }
    m_searchIndexed = true;
    return {};
}

Status SqliteProvider::dropSearchIndex() {
    for (const QString& table : {searchTable(), searchKeyTable()}) {
        const QByteArray sql = (QStringLiteral("DROP TABLE IF EXISTS ") + table).toUtf8();
        if (const Status dropped = run(sql.constData()); !dropped) {
            return dropped;
        }
    }
    m_searchIndexed = false;
    return {};
}

Result<QStringList> SqliteProvider::keepSearchIndex() {
    const Result<bool> had = layoutHas(m_settings.table + QStringLiteral("_Search"));
    if (!had) {
        return had.problem();
    }
    if (!m_settings.searchIndex) {
        if (const Status dropped = dropSearchIndex(); !dropped) {
            return dropped.problem();
        }
        return had.value() ? QStringList{QStringLiteral("the text index of the data dropped")}
                           : QStringList();
    }
    if (const Status made = makeSearchIndex(); !made) {
        return made.problem();
    }
    return had.value() ? QStringList()
                       : QStringList{QStringLiteral(
                             "the text index of the data begun (it takes the rows in steps "
                             "while logging goes on)")};
}

void SqliteProvider::addSearchIndex(EventSelectDialect& dialect) const {
    if (!m_searchIndexed) {
        return;
    }
    // The rows the index matches, and every row after the key it holds rows up to.
    dialect.dataIndex = QStringLiteral("ID IN (SELECT rowid FROM ") + searchTable() +
                        QStringLiteral(" WHERE ") + searchTable() +
                        QStringLiteral(" MATCH ? UNION ALL SELECT ID FROM ") + dialect.table +
                        QStringLiteral(" WHERE ID > (SELECT Indexed FROM ") + searchKeyTable() +
                        QStringLiteral("))");
    dialect.dataIndexValue = &trigramsOf;
}

std::optional<StoreProvider::SearchDialect> SqliteProvider::searchDialect() const {
    if (!m_searchIndexed) {
        return std::nullopt;
    }
    return SearchDialect{searchKeyTable(),
                         QStringLiteral("INSERT INTO ") + searchTable() +
                             QStringLiteral(" (rowid, Data) SELECT ID, Data FROM ") +
                             tableName(Table::Events) +
                             QStringLiteral(" WHERE ID > ? AND ID <= ? AND Data IS NOT NULL")};
}

Status SqliteProvider::forgetSearched(const QString& before, int limit) {
    if (!m_searchIndexed) {
        return {};
    }
    // The rows the purge's DELETE takes, chosen by the same statement in the same transaction;
    // the index is told each one's text, as it took it.
    const QString table = tableName(Table::Events);
    QString rows = deleteOldestSql(Table::Events, limit);
    rows.replace(0, QStringLiteral("DELETE FROM ").size() + table.size(),
                 QStringLiteral("INSERT INTO ") + searchTable() + u'(' + searchTable() +
                     QStringLiteral(", rowid, Data) SELECT 'delete', ID, Data FROM ") + table);
    rows += QStringLiteral(" AND Data IS NOT NULL AND ID <= (SELECT Indexed FROM ") +
            searchKeyTable() + u')';
    const Result<qint64> forgotten = runStatement(rows, {before});
    if (!forgotten) {
        return forgotten.problem();
    }
    return {};
}
