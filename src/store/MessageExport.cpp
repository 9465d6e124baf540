#include "store/MessageExport.h"

#include "store/Store.h"

namespace {

constexpr int kPageRows = 5000;

QList<const QString*> texts(const StoredMessage& row) {
    const LoggedMessage& m = row.message;
    return {&m.time, &m.source, &m.target, &m.messageClass, &m.uid, &m.text};
}

}  // namespace

namespace MessageExport {

QByteArray csvHeader() {
    return QByteArrayLiteral("ID,Time,Source,Target,Class,UID,Message\r\n");
}

QByteArray csvLine(const StoredMessage& row) {
    QByteArray line = QByteArray::number(row.id);
    for (const QString* text : texts(row)) {
        line += ',';
        EventExport::appendCsvField(line, *text);
    }
    line += "\r\n";
    return line;
}

QByteArray jsonLine(const StoredMessage& row) {
    static const char* const names[] = {
        ",\"time\":", ",\"source\":", ",\"target\":", ",\"class\":", ",\"uid\":", ",\"message\":"};
    QByteArray line = QByteArrayLiteral("{\"id\":") + QByteArray::number(row.id);
    const QList<const QString*> values = texts(row);
    for (qsizetype i = 0; i < values.size(); ++i) {
        line += names[i];
        EventExport::appendJsonString(line, *values[i]);
    }
    line += "}\n";
    return line;
}

Result<qint64> write(Store& store, MessageQuery query, ExportFormat format, QIODevice& out,
                     const std::function<bool(qint64)>& progress) {
    auto failedWrite = [&out] {
        return Problem{ErrorNumber::Database,
                       QStringLiteral("Cannot write the export: ") + out.errorString()};
    };
    if (format == ExportFormat::Csv && out.write(csvHeader()) < 0) {
        return failedWrite();
    }
    qint64 written = 0;
    query.limit = kPageRows;
    for (;;) {
        QByteArray page;
        qint64 rows = 0;
        const Status read = store.readMessages(query, [&](const StoredMessage& row) {
            page += format == ExportFormat::Csv ? csvLine(row) : jsonLine(row);
            query.after = row.id;
            ++rows;
        });
        if (!read) {
            return read.problem();
        }
        if (rows > 0 && out.write(page) != page.size()) {
            return failedWrite();
        }
        written += rows;
        if ((progress && !progress(written)) || rows < kPageRows) {
            break;
        }
    }
    return written;
}

}  // namespace MessageExport
