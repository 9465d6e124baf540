#include "CaptureFile.h"

#include <cstdio>

#include "CaptureFormat.h"

namespace {

bool openPath(QFile& file, const QString& path, QIODevice::OpenMode mode) {
    if (path == u"-") {
        return file.open(mode & QIODevice::WriteOnly ? stdout : stdin, mode);
    }
    file.setFileName(path);
    return file.open(mode);
}

}  // namespace

Status CaptureWriter::open(const QString& path, const QString& source, qint64 startedMicroseconds) {
    m_path = path;
    if (!openPath(m_file, path, QIODevice::WriteOnly | QIODevice::Truncate)) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("cannot write ") + path + u": " + m_file.errorString(), 0};
    }
    m_file.write(CaptureFormat::headerLine(source, startedMicroseconds));
    m_file.flush();
    return {};
}

Status CaptureWriter::write(const CaptureRecord& record) {
    const QByteArray line = CaptureFormat::recordLine(record);
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("cannot write ") + m_path + u": " + m_file.errorString(), 0};
    }
    return {};
}

Result<QList<CaptureRecord>> readCaptureFile(const QString& path) {
    QFile file;
    if (!openPath(file, path, QIODevice::ReadOnly)) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("cannot read ") + path + u": " + file.errorString(), 0};
    }
    QList<CaptureRecord> records;
    int number = 0;
    // readLine() gives an empty array only at the end: an empty line still has its line feed.
    for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
        ++number;
        auto read = CaptureFormat::readLine(line);
        if (!read) {
            return Problem{
                ErrorKind::Message,
                path + u':' + QString::number(number) + u": " + read.problem().description, number};
        }
        if (read.value()) {
            records.append(std::move(*read.value()));
        }
    }
    if (file.error() != QFileDevice::NoError) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("cannot read ") + path + u": " + file.errorString(), 0};
    }
    return records;
}
