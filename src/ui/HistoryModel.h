#pragma once

#include <QAbstractTableModel>
#include <QSet>
#include <deque>

#include "report/Result.h"
#include "store/EventQuery.h"
#include "store/Store.h"

// The history table: the stored events a query takes, as columns Time, Source, Type, Data, read
// through a connection of its own, a page at a time by key as the view scrolls, so that a range
// of a million rows opens as quickly as one of ten. Live events never enter it; it changes only
// when a query is run.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Source, Type, Data, Columns };
    static constexpr int kPageRows = 500;
    // Sorted by a text, every page sorts the whole range again: fewer, larger pages.
    static constexpr int kSortedPageRows = 2000;

    explicit HistoryModel(QObject* parent = nullptr);

    // Reads the first page of `query` (its order is kept; page and cursor are the model's) from
    // the database `database` names, and counts the rows it takes. A failure leaves the table
    // empty.
    Status run(const DatabaseSettings& database, const EventQuery& query);
    // How many rows a page holds under the query's sort.
    int pageRows() const { return int(m_query.limit); }
    // The rows the query takes, loaded or not.
    qint64 total() const { return m_total; }
    const EventQuery& query() const { return m_query; }
    const StoredEvent& row(int index) const { return m_rows[std::size_t(index)]; }
    // Tab-separated lines of the given rows (Time, Source, Type, Data), line breaks in the texts
    // kept as "|" so that each row stays one line.
    QString rowsAsText(const QList<int>& rows) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // Runs the query again, sorted by the database (rows with the same value in time order).
    void sort(int column, Qt::SortOrder order) override;

signals:
    // A page could not be read; the text says why.
    void pageFailed(const QString& problem);

private:
    Status readPage();
    // Sources and types repeat from row to row: each distinct text is held once.
    QString shared(const QString& text);

    Store m_store;
    EventQuery m_query;
    // A deque grows without moving what it holds: a million rows never get copied at once.
    std::deque<StoredEvent> m_rows;
    QSet<QString> m_names;
    qint64 m_total = 0;
    bool m_atEnd = true;
};
