#pragma once

#include <QByteArrayView>
#include <QString>

#include "report/Result.h"

// Appends records to one record log file (see RecordFormat for how they are made). Each append
// is one write() with no sync, so that a writer that must not wait on the disk can use it; one
// that failed part way is cut off again, so that the file always ends at a record.
class RecordAppender {
public:
    RecordAppender() = default;
    ~RecordAppender();
    RecordAppender(const RecordAppender&) = delete;
    RecordAppender& operator=(const RecordAppender&) = delete;

    // Fresh: the file starts empty. AtEnd: appends go on after what it holds.
    enum class Start { Fresh, AtEnd };
    Status open(const QString& path, Start start);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    Status append(QByteArrayView records);
    // Makes the appends so far durable.
    Status sync();

    // The file's size: where the next append goes.
    qint64 end() const { return m_end; }
    const QString& path() const { return m_path; }

private:
    Problem failed() const;

    QString m_path;
    int m_fd = -1;
    qint64 m_end = 0;
};
