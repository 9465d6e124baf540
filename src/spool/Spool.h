#pragma once

#include <QFile>
#include <QList>
#include <QStringList>
#include <optional>
#include <utility>

#include "report/Result.h"

// Records the database could not take yet, kept on disk in arrival order until it can: one
// append-only file of checksummed records in the spool folder, and beside it the position up to
// which the records are in the database. A record is a list of texts (see SpoolRecords for the
// events' and the messages'); each kind of record has a spool of its own, named after it. Appends
// reach the disk in small groups (sync()); the position is written durably after each batch that
// the database committed. Once every record is in the database both files are removed.
//
// What a crash leaves is checked when the spool is opened: a torn last record is cut off, a
// damaged one is left out, and neither ever reaches the database.
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
    // The first `count` of what peek() gave are in the database: they are not read again, even
    // after a crash. The files go when nothing waits.
    Status consume(int count);

    const QString& path() const { return m_path; }

    // The format of one record, for other files of records that must survive a crash the same
    // way: a record appended to `out`, and the record that starts at `offset` of `bytes` with its
    // size in bytes (nothing when it is torn or damaged). Bytes the reading process wrote itself,
    // with no crash between, cannot be damaged: their checksum need not be computed again.
    enum class Written { ByAnyone, ByThisProcess };
    static void appendRecord(QByteArray& out, const QStringList& record);
    static std::optional<std::pair<QStringList, qint64>> decodeRecordAt(
        const QByteArray& bytes, qint64 offset, Written written = Written::ByAnyone);

private:
    Status openForAppend();
    Status writePosition();
    void removeFiles();

    QString m_folder;
    QString m_path;
    QString m_positionPath;
    qint64 m_limitBytes;
    QFile m_file;
    qint64 m_readOffset = 0;
    qint64 m_waiting = 0;
    qint64 m_unsynced = 0;
    QList<qint64> m_peekedEnds;  // file offsets after each record peek() gave
};
