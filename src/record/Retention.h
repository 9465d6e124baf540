#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

#include "store/StoreProvider.h"

class Reporter;
class Store;

// Keeps each table to its number of days: at start and then every hour, rows older than that are
// deleted in small batches with a pause between them, on the logger's own connection between two
// receive passes, so that a purge of millions of rows never holds the database long enough to
// delay the events that arrive meanwhile. The file database then gives the space back, in steps
// as small. A failure ends the purge, is reported, and the next hour tries again.
class Retention : public QObject {
    Q_OBJECT

public:
    // Days of rows kept per table; 0 keeps every row.
    struct Limits {
        int eventDays = 0;
        int messageDays = 0;

        bool operator==(const Limits&) const = default;
    };

    Retention(Store& store, Reporter& reporter, std::function<QDateTime()> clock,
              QObject* parent = nullptr);

    // Starts a purge now when any table has a limit, and then one every hour.
    void start(const Limits& limits);
    void stop();
    bool purging() const { return m_step.isActive(); }
    qint64 deleted() const { return m_deleted; }

    static constexpr int kBatchRows = 500;
    static constexpr int kPauseMs = 5;
    static constexpr qint64 kBytesPerStep = 800 * 1024;
    static constexpr int kEveryMs = 60 * 60 * 1000;

signals:
    // A purge has ended: every old row is gone and its space given back, or it failed.
    void purged(qint64 rows);

private:
    void beginPurge();
    void step();
    void finish();

    Store& m_store;
    Reporter& m_reporter;
    std::function<QDateTime()> m_clock;
    Limits m_limits;
    QTimer m_hourly;
    QTimer m_step;
    // The purge under way: the table it is at (Events, then Messages), the time before which rows
    // go, and whether it is giving space back.
    StoreProvider::Table m_table = StoreProvider::Table::Events;
    QString m_before;
    bool m_releasing = false;
    qint64 m_purgeRows = 0;
    qint64 m_deleted = 0;
};
