#pragma once

#include <QAbstractListModel>
#include <deque>

#include "store/LogEvent.h"

// The live lines of the echo window: the newest logged events (at most kKeptEvents), one line
// each in the echo format, narrowed by the Source, Type and Data filters. Filters apply to every
// kept event, also those already shown. While frozen, arriving events are held (at most
// kHeldEvents) and shown when released. Events that leave the view are still in the database.
class LiveEventModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr std::size_t kKeptEvents = 5000;
    static constexpr std::size_t kHeldEvents = 5000;

    struct Filters {
        QString source;
        QString type;
        QString data;
        bool operator==(const Filters&) const = default;
    };

    explicit LiveEventModel(QObject* parent = nullptr);

    void add(const LogEvent& event);
    void setFilters(const Filters& filters);
    void setFrozen(bool frozen);
    void clear();

    bool frozen() const { return m_frozen; }
    std::size_t held() const { return m_held.size(); }
    // Events that left the view to keep it bounded: the oldest kept ones, and those that came
    // while the held ones were at their limit.
    quint64 droppedFromView() const { return m_dropped; }
    // The lines shown, oldest first, as the console echo prints them.
    QStringList lines() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    // The held count or the dropped count changed.
    void tallyChanged();

private:
    bool passes(const LogEvent& event) const;
    const LogEvent& shownEvent(int row) const;
    void keep(const LogEvent& event);

    // Kept events carry numbers that only grow; the shown rows are the numbers of those that
    // pass the filters, so dropping the oldest event never renumbers the others.
    std::deque<LogEvent> m_kept;
    quint64 m_firstNumber = 0;
    std::deque<quint64> m_shown;
    std::deque<LogEvent> m_held;
    Filters m_filters;
    bool m_frozen = false;
    quint64 m_dropped = 0;
};
