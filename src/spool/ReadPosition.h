#pragma once

#include <QString>

#include "report/Result.h"

// The position file beside a record log: how far its records are stored where they were going,
// as a decimal number of bytes. A crash before it is written costs a repeat of the records
// read since, never a loss.
class ReadPosition {
public:
    explicit ReadPosition(QString path) : m_path(std::move(path)) {}
    ~ReadPosition();
    ReadPosition(const ReadPosition&) = delete;
    ReadPosition& operator=(const ReadPosition&) = delete;

    // What the file says; 0 without one.
    qint64 load() const;

    // On the disk when it returns: called once a batch read is stored where it was going.
    Status save(qint64 offset);

    void remove();
    const QString& path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
