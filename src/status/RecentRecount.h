#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>

#include "settings/LoggerSettings.h"
#include "status/RecentActivity.h"

// Counts the last day's events per minute from the database for RecentActivity, on a thread and
// through a reading connection of its own, so that the recorder goes on writing while a busy day
// is counted. The rows counted are those up to a key the recorder read between two passes; the
// events it logs after that are counted by RecentActivity::add.
class RecentRecount {
public:
    // Called on the recount's thread when a count could not be read (RecentActivity says why).
    using Failed = std::function<void(quint64 recount, const DatabaseSettings& database)>;

    RecentRecount(RecentActivity& recent, Failed failed);
    ~RecentRecount();
    RecentRecount(const RecentRecount&) = delete;
    RecentRecount& operator=(const RecentRecount&) = delete;

    // Counts the rows of `database` up to `newestKey` for the recount `recount` of RecentActivity;
    // a count under way for an earlier recount ends at its next step.
    void start(quint64 recount, const DatabaseSettings& database, qint64 newestKey);
    // Ends a count under way at its next step, and the thread; nothing is counted after.
    void stop();

private:
    void count(quint64 recount, const DatabaseSettings& database, qint64 newestKey);

    RecentActivity& m_recent;
    Failed m_failed;
    std::atomic<bool> m_stopping = false;
    QThread m_thread;
    QObject m_onThread;  // lives on m_thread: what start() posts runs there
};
