#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <mutex>

#include "status/LoggerStatus.h"

// Keeps what the status views show: the facts fixed at start, the reports made (noted from any
// thread), and the counts the logger's threads publish, gathered when asked; notices once a
// second whether any of it changed, and says so.
class StatusTracker : public QObject {
    Q_OBJECT

public:
    // Fills in what the threads publish: counts, spools, whether the database is open.
    using Gather = std::function<void(LoggerStatus&)>;

    StatusTracker(std::function<QDateTime()> clock, Gather gather, QObject* parent = nullptr);

    // Any thread.
    void setFixed(const LoggerStatus& fixed);
    void setDatabase(const DatabaseSettings& database);
    void noteReport(const QString& line);
    LoggerStatus status() const;

    // On the thread the tracker lives on.
    void start();
    void stop();

signals:
    void changed();

private:
    void check();

    std::function<QDateTime()> m_clock;
    Gather m_gather;
    QTimer m_timer;
    mutable std::mutex m_lock;
    LoggerStatus m_fixed;  // with the reports and when traffic last arrived
    std::atomic<quint64> m_receivedSeen{0};
    // What status() said when changed() was last emitted, in short.
    QList<quint64> m_seen;
};
