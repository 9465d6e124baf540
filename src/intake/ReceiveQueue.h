#pragma once

#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "intake/ReceivedItem.h"
#include "spool/RecordAppender.h"

// The hand-off from the receiver thread to the writer thread. Items wait in memory up to a bound;
// once the writer is that far behind, every new item is appended to an overflow file instead,
// without a sync (the receiver never waits on the disk), until the writer has read that file to
// its end: the order holds, memory stays bounded, and the socket is always read.
//
// Each stretch of overflow is a record log of its own in the folder, `received-<n>.spool`, read
// in the order of n; the writer notes how far it has read in `received-<n>.position` and removes
// both once read, so that what a crash or a stop leaves is read at the next start, once (a crash
// may repeat the last batch read; a torn or damaged record is left out). The lock guards the
// hand-off only: nobody does any I/O while holding it.
class ReceiveQueue {
public:
    struct Limits {
        // Small on purpose: memory the items leave is soon taken again, while still in the cache
        // and without new pages to fault in, and a crash costs no more than this; past it the
        // overflow file costs a write() per batch and no sync.
        qsizetype items = 4096;
        qsizetype bytes = 32 * 1024 * 1024;
    };

    ReceiveQueue(QString folder, Limits limits);
    ~ReceiveQueue();
    ReceiveQueue(const ReceiveQueue&) = delete;
    ReceiveQueue& operator=(const ReceiveQueue&) = delete;

    // Called by push() when items arrive for a writer that found nothing to take, on the
    // receiver's thread: it must only post a wake-up.
    void setWake(std::function<void()> wake) { m_wake = std::move(wake); }
    // What an overflow file that cannot be written costs (called on the receiver's thread, at
    // most once per stretch of failures).
    void setLossReport(std::function<void(const QString& why, qint64 items)> report) {
        m_lossReport = std::move(report);
    }

    // Receiver side: the batch's items, oldest first.
    void push(std::vector<ReceivedItem>&& batch);

    // Writer side: at most `most` of the oldest waiting items: first what an earlier run left,
    // then memory, then the overflow file. None when nothing waits; the next push() then wakes
    // the writer. Each call means the items of the previous answer are stored.
    std::vector<ReceivedItem> take(qsizetype most);

    // The items of take()'s last answer are stored: a crash no longer repeats them.
    void stored();

    // Puts what waits in memory into an overflow file read before the current one (at a stop,
    // when the writer cannot store it in time). Any thread.
    void keepForLater();

    struct Counts {
        quint64 pushed = 0;      // items the receiver handed on
        quint64 taken = 0;       // items the writer took
        quint64 overflowed = 0;  // of those pushed, items that went through an overflow file
        quint64 lost = 0;        // items an overflow file could not take
        quint64 earlier = 0;     // items an earlier run left, taken in this one
    };
    Counts counts() const;
    // Items pushed in this run and not taken yet (in memory or in an overflow file).
    qint64 waiting() const;

private:
    struct FileReader;

    QString filePath(int generation) const;
    QString positionPath(int generation) const;
    std::vector<ReceivedItem> readFile(FileReader& reader, qint64 end, qsizetype most);
    void finishFile(FileReader& reader);
    void noteLoss(const QString& why, qint64 items);

    const QString m_folder;
    const Limits m_limits;
    std::function<void()> m_wake;
    std::function<void(const QString&, qint64)> m_lossReport;

    mutable std::mutex m_lock;
    // Guarded by m_lock:
    std::deque<ReceivedItem> m_memory;
    qsizetype m_memoryBytes = 0;
    bool m_writerIdle = true;
    bool m_overflowing = false;
    bool m_appending = false;
    int m_generation = 0;        // the newest overflow file's number; new ones count on by 2
    qint64 m_published = 0;      // bytes of the current overflow file the writer may read
    std::vector<int> m_earlier;  // files to read before the current overflow file, in order
    int m_earlierWriting = 0;    // the one of them keepForLater() is still writing

    int m_firstOwnGeneration = 1;  // files numbered below were left by an earlier run

    // The receiver's own:
    RecordAppender m_appender;
    int m_appendGeneration = 0;
    bool m_losing = false;

    // The writer's own:
    std::unique_ptr<FileReader> m_reader;

    std::atomic<quint64> m_pushed{0};
    std::atomic<quint64> m_taken{0};
    std::atomic<quint64> m_overflowed{0};
    std::atomic<quint64> m_lost{0};
    std::atomic<quint64> m_earlierTaken{0};
};
