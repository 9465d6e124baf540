#pragma once

#include <QByteArray>
#include <condition_variable>
#include <mutex>
#include <thread>

// Copies a SQLite file's write-ahead log back into the file, on a thread and a connection of its
// own, so that the connection writing events neither spends its time on the copy nor waits on the
// disk sync that ends it. SQLite lets a checkpoint run beside a writer: rows keep being appended
// to the log while the copy reads what was committed before it began.
//
// The writer asks after a commit that left the log long; asks that come while a copy runs are
// one. A copy that fails (the file gone, a reader holding old pages) is left to the next ask.
class SqliteCheckpointer {
public:
    // `path`: the file, in the system's encoding.
    explicit SqliteCheckpointer(QByteArray path);
    // Waits for a running copy to end.
    ~SqliteCheckpointer();
    SqliteCheckpointer(const SqliteCheckpointer&) = delete;
    SqliteCheckpointer& operator=(const SqliteCheckpointer&) = delete;

    // Any thread; never waits on the copy.
    void ask();

private:
    void run();

    const QByteArray m_path;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_asked = false;
    bool m_stopping = false;
    std::thread m_thread;
};
