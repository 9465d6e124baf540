#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "report/Result.h"
#include "spool/RecordFormat.h"

// Reads the records of one record log file in order, from any offset, holding at most a chunk
// of the file (or one record, when that is larger) in memory whatever the file's size. What a
// crash can leave is passed over here, in one place for every log: bytes that are no whole
// record (a torn last record, a damaged one) are skipped up to the next record and counted, and
// never read as one.
class RecordReader {
public:
    RecordReader(QString path, RecordFormat::Check check);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    Status open();
    bool isOpen() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }
    // The file's size now.
    Result<qint64> size() const;

    // Reads on from `offset` of the file.
    void seek(qint64 offset);
    // The next whole record that ends at or before `end` of the file (-1: its end); nothing when
    // none is left there.
    Result<std::optional<QStringList>> next(qint64 end = -1);

    // Where the next read starts: after the last record read, or bytes skipped.
    qint64 offset() const { return m_offset; }
    // The end of the last whole record read (the offset seek() gave while none was).
    qint64 recordsEnd() const { return m_recordsEnd; }
    // Bytes skipped as no whole record.
    qint64 cutBytes() const { return m_cut; }

private:
    // Reads until `want` bytes from the offset are held, or the limit is reached; the bytes held.
    Result<qint64> buffered(qint64 want);
    Status skipDamaged();

    QString m_path;
    RecordFormat::Check m_check;
    int m_fd = -1;
    QByteArray m_chunk;
    qint64 m_chunkStart = 0;  // the file offset of m_chunk's first byte
    qint64 m_offset = 0;
    qint64 m_limit = 0;  // the end of the current read
    qint64 m_recordsEnd = 0;
    qint64 m_cut = 0;
};
