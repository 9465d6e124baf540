#pragma once

#include <QList>
#include <QStringList>
#include <memory>

#include "report/Result.h"
#include "spool/ReadPosition.h"
#include "spool/RecordAppender.h"
#include "spool/RecordReader.h"

// Records that cannot be handed on yet (to the database, to the MQTT broker), kept on disk in
// arrival order until they can: one record log, `<name>.spool`, and beside it its position,
// `<name>.position`, up to which the records are handed on. A record is a list of texts (see
// SpoolRecords for the events' and the messages'); each kind of record has a spool of its own,
// named after it. Appends reach the disk in small groups (sync()); the position is written
// durably after each batch that was taken. Once every record is taken both files are removed.
//
// What a crash leaves is checked when the spool is opened, reading the file through once in
// chunks: a torn last record is cut off, a damaged one is counted and skipped, and neither is
// ever handed on. Memory stays the same whatever the file's size.
class Spool {
public:
    // The files are `<name>.spool` and `<name>.position` in `folder`.
    Spool(QString folder, const QString& name, qint64 limitBytes);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    struct Recovered {
        qint64 records = 0;   // records waiting from an earlier run
        qint64 cutBytes = 0;  // bytes of torn or damaged records left out
    };
    // Takes over what an earlier run left in the folder.
    Result<Recovered> open();

    enum class Appended { Kept, Full };
    // Full: the spool holds its limit; the record is not kept (the newest are the ones dropped,
    // so that what is kept is an unbroken stretch from the moment the database went away).
    Result<Appended> append(const QStringList& record);
    // Makes the appends so far durable.
    Status sync();

    qint64 waiting() const { return m_waiting; }
    bool isEmpty() const { return m_waiting == 0; }

    // Up to `count` of the oldest waiting records, without taking them.
    Result<QList<QStringList>> peek(int count);
    // The first `count` of what peek() gave are taken: they are not read again, even after a
    // crash. The files go when nothing waits.
    Status consume(int count);

    const QString& path() const { return m_path; }

private:
    Status openForAppend();
    void removeFiles();

    QString m_folder;
    QString m_path;
    qint64 m_limitBytes;
    RecordAppender m_appender;
    std::unique_ptr<RecordReader> m_reader;
    ReadPosition m_position;
    qint64 m_readOffset = 0;
    qint64 m_waiting = 0;
    qint64 m_unsynced = 0;
    QList<qint64> m_peekedEnds;  // file offsets after each record peek() gave
};
