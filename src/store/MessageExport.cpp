#include "store/MessageExport.h"

#include "store/Store.h"
#include "support/JsonText.h"

namespace {

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
        JsonText::appendString(line, values[i]->toUtf8());
    }
    line += "}\n";
    return line;
}

Result<qint64> write(Store& store, MessageQuery query, ExportFormat format, QIODevice& out,
                     const std::function<bool(qint64)>& progress) {
    const bool csv = format == ExportFormat::Csv;
    return EventExport::writePages(
        out, csv ? csvHeader() : QByteArray(), 0,
        [&](int limit, QByteArray& page) -> Result<qint64> {
            query.limit = limit;
            qint64 rows = 0;
            const Status read = store.readMessages(query, [&](const StoredMessage& row) {
                page += csv ? csvLine(row) : jsonLine(row);
                query.after = row.id;
                ++rows;
            });
            return read ? Result<qint64>(rows) : Result<qint64>(read.problem());
        },
        progress);
}

}  // namespace MessageExport
