#include "ui/HistoryModel.h"

#include <QDateTime>
#include <vector>

#include "ui/EventTip.h"

namespace {

QString oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
    text.replace(u'\r', u'|');
    text.replace(u'\n', u'|');
    text.replace(u'\t', u' ');
    return text;
}

}  // namespace

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

Status HistoryModel::run(const DatabaseSettings& database, const EventQuery& query) {
    beginResetModel();
    m_rows.clear();
    m_names.clear();
    m_total = 0;
    m_atEnd = true;
    m_query = query;
    m_query.after.reset();
    m_query.limit = query.sortBy == EventQuery::Column::Time ? kPageRows : kSortedPageRows;
    // The connection is kept between queries while the settings stay; a failure drops it, so
    // that the next query connects again.
    Status status = m_store.readFrom(database);
    if (status) {
        const Result<qint64> counted = m_store.countEvents(m_query);
        status = counted.status();
        if (counted) {
            m_total = counted.value();
            m_atEnd = false;
            status = readPage();
        }
    }
    if (!status) {
        m_store.close();
        m_rows.clear();
        m_total = 0;
        m_atEnd = true;
    }
    endResetModel();
    return status;
}

QString HistoryModel::shared(const QString& text) {
    const auto found = m_names.constFind(text);
    if (found != m_names.cend()) {
        return *found;
    }
    // Texts that hardly repeat are not worth remembering beyond a few thousand.
    if (m_names.size() < 4096) {
        m_names.insert(text);
    }
    return text;
}

Status HistoryModel::readPage() {
    EventQuery page = m_query;
    if (!m_rows.empty()) {
        page.after = m_rows.back().id;
    }
    std::vector<StoredEvent> read;
    read.reserve(std::size_t(m_query.limit));
    const Status status = m_store.readEvents(page, [this, &read](const StoredEvent& row) {
        read.push_back(row);
        StoredEvent& kept = read.back();
        kept.event.source = shared(kept.event.source);
        kept.event.type = shared(kept.event.type);
    });
    if (!status) {
        m_atEnd = true;
        return status;
    }
    if (read.size() < std::size_t(m_query.limit)) {
        m_atEnd = true;
    }
    if (!read.empty()) {
        const int first = int(m_rows.size());
        const bool resetting = first == 0;
        if (!resetting) {
            beginInsertRows({}, first, first + int(read.size()) - 1);
        }
        m_rows.insert(m_rows.end(), std::make_move_iterator(read.begin()),
                      std::make_move_iterator(read.end()));
        if (!resetting) {
            endInsertRows();
        }
    }
    return {};
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !m_atEnd;
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) {
        return;
    }
    if (const Status read = readPage(); !read) {
        emit pageFailed(read.problem().description);
    }
}

void HistoryModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= Columns) {
        return;
    }
    static constexpr EventQuery::Column sortColumns[] = {
        EventQuery::Column::Time, EventQuery::Column::Source, EventQuery::Column::Type,
        EventQuery::Column::Data};
    EventQuery query = m_query;
    query.sortBy = sortColumns[column];
    query.order =
        order == Qt::DescendingOrder ? EventQuery::Order::Descending : EventQuery::Order::Ascending;
    if (query == m_query || !m_store.isOpen()) {
        m_query = query;
        return;
    }
    if (const Status read = run(*m_store.settings(), query); !read) {
        emit pageFailed(read.problem().description);
    }
}

QString HistoryModel::rowsAsText(const QList<int>& rows) const {
    QString out;
    for (int r : rows) {
        const LogEvent& e = row(r).event;
        out += e.time + u'\t' + oneLine(e.source) + u'\t' + oneLine(e.type) + u'\t' +
               oneLine(e.data) + u'\n';
    }
    return out;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size())) {
        return {};
    }
    const LogEvent& e = m_rows[std::size_t(index.row())].event;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case Time:
                return e.time;
            case Source:
                return oneLine(e.source);
            case Type:
                return oneLine(e.type);
            case Data:
                return oneLine(e.data);
            default:
                return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        return EventTip::of(e);
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const QString captions[] = {QStringLiteral("Time"), QStringLiteral("Source"),
                                       QStringLiteral("Type"), QStringLiteral("Data")};
    return section >= 0 && section < Columns ? captions[section] : QVariant();
}
