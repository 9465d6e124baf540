#pragma once

#include <QFile>
#include <QList>
#include <QString>

#include "CaptureRecord.h"
#include "report/Result.h"

// A capture file being written: the header line when it opens, then one line per datagram,
// flushed at once so that a capture cut short by a kill keeps everything before it.
class CaptureWriter {
public:
    // Creates or truncates `path` ("-" for standard output) and writes the header line.
    Status open(const QString& path, const QString& source, qint64 startedMicroseconds);
    Status write(const CaptureRecord& record);
    bool isOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
    QString m_path;
};

// Every record of a capture file ("-" for standard input), in file order; the first malformed
// line fails the whole read, with its line number.
Result<QList<CaptureRecord>> readCaptureFile(const QString& path);
