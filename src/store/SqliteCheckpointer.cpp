#include "store/SqliteCheckpointer.h"

#include <pthread.h>
#include <sqlite3.h>

#include "support/ThreadPriority.h"

SqliteCheckpointer::SqliteCheckpointer(QByteArray path)
    : m_path(std::move(path)), m_thread([this] { run(); }) {}

SqliteCheckpointer::~SqliteCheckpointer() {
    {
        const std::lock_guard hold(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void SqliteCheckpointer::ask() {
    {
        const std::lock_guard hold(m_lock);
        m_asked = true;
    }
    m_wake.notify_one();
}

void SqliteCheckpointer::run() {
    pthread_setname_np(pthread_self(), "checkpoint");
    // Copying the log can wait; reading the socket cannot.
    ThreadPriority::giveWay();
    std::unique_lock hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_asked || m_stopping; });
        if (m_stopping) {
            return;
        }
        m_asked = false;
        hold.unlock();
        // Opened for each copy and closed after it, so that a file replaced meanwhile is never held
        // open; never made, so that a file that is gone stays gone.
        sqlite3* db = nullptr;
        // The connection learns that the file keeps a log when it first reads it; until then a
        // checkpoint has nothing to copy.
        if (sqlite3_open_v2(m_path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr) == SQLITE_OK) {
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        sqlite3_close(db);
        hold.lock();
    }
}
