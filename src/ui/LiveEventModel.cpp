#include "ui/LiveEventModel.h"

#include "logger/EchoFormat.h"
#include "ui/EventTip.h"

namespace {

bool contains(const QString& text, const QString& filter) {
    return filter.isEmpty() || text.contains(filter, Qt::CaseInsensitive);
}

// The echo line with its tab stop as spaces: item views draw a tab as a single space.
QString shownLine(const LogEvent& event) {
    QString line = EchoFormat::line(event);
    const qsizetype tab = line.indexOf(u'\t');
    if (tab >= 0) {
        line.replace(tab, 1, QString(tab < 22 ? 22 - tab : 2, u' '));
    }
    return line;
}

}  // namespace

LiveEventModel::LiveEventModel(QObject* parent) : QAbstractListModel(parent) {}

bool LiveEventModel::passes(const LogEvent& event) const {
    return contains(event.source, m_filters.source) && contains(event.type, m_filters.type) &&
           contains(event.data, m_filters.data);
}

const LogEvent& LiveEventModel::shownEvent(int row) const {
    return m_kept[m_shown[std::size_t(row)] - m_firstNumber];
}

void LiveEventModel::add(const LogEvent& event) {
    if (m_frozen) {
        if (m_held.size() == kHeldEvents) {
            m_held.pop_front();
            ++m_dropped;
        }
        m_held.push_back(event);
        emit tallyChanged();
        return;
    }
    keep(event);
}

void LiveEventModel::keep(const LogEvent& event) {
    if (m_kept.size() == kKeptEvents) {
        if (!m_shown.empty() && m_shown.front() == m_firstNumber) {
            beginRemoveRows({}, 0, 0);
            m_shown.pop_front();
            m_kept.pop_front();
            ++m_firstNumber;
            endRemoveRows();
        } else {
            m_kept.pop_front();
            ++m_firstNumber;
        }
        ++m_dropped;
        emit tallyChanged();
    }
    m_kept.push_back(event);
    if (passes(event)) {
        const int row = int(m_shown.size());
        beginInsertRows({}, row, row);
        m_shown.push_back(m_firstNumber + m_kept.size() - 1);
        endInsertRows();
    }
}

void LiveEventModel::setFilters(const Filters& filters) {
    if (filters == m_filters) {
        return;
    }
    beginResetModel();
    m_filters = filters;
    m_shown.clear();
    for (std::size_t i = 0; i < m_kept.size(); ++i) {
        if (passes(m_kept[i])) {
            m_shown.push_back(m_firstNumber + i);
        }
    }
    endResetModel();
}

void LiveEventModel::setFrozen(bool frozen) {
    if (frozen == m_frozen) {
        return;
    }
    m_frozen = frozen;
    if (!frozen) {
        std::deque<LogEvent> held;
        held.swap(m_held);
        for (const LogEvent& event : held) {
            keep(event);
        }
    }
    emit tallyChanged();
}

void LiveEventModel::clear() {
    beginResetModel();
    m_firstNumber += m_kept.size();
    m_kept.clear();
    m_shown.clear();
    m_held.clear();
    m_dropped = 0;
    endResetModel();
    emit tallyChanged();
}

QStringList LiveEventModel::lines() const {
    QStringList out;
    out.reserve(qsizetype(m_shown.size()));
    for (int row = 0; row < int(m_shown.size()); ++row) {
        out.append(EchoFormat::line(shownEvent(row)));
    }
    return out;
}

int LiveEventModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant LiveEventModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_shown.size())) {
        return {};
    }
    const LogEvent& event = shownEvent(index.row());
    if (role == Qt::DisplayRole) {
        return shownLine(event);
    }
    if (role == Qt::ToolTipRole) {
        return EventTip::of(event);
    }
    return {};
}
