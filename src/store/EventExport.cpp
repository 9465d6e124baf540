#include "store/EventExport.h"

#include <QRegularExpression>

#include "store/Store.h"
#include "support/JsonText.h"

namespace {

constexpr int kPageRows = 5000;

// "-5", "+3.25", "-.5", "1e-3": a sign, digits with one point at most, an optional exponent.
bool isPlainNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("\\A[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?\\z"));
    return number.match(text).hasMatch();
}

bool looksLikeFormula(const QString& text) {
    if (text.isEmpty()) {
        return false;
    }
    switch (text[0].unicode()) {
        case u'=':
        case u'@':
        case u'\t':
        case u'\r':
            return true;
        case u'-':
        case u'+':
            return !isPlainNumber(text);
        default:
            return false;
    }
}

}  // namespace

namespace EventExport {

void appendCsvField(QByteArray& line, const QString& text) {
    const QByteArray utf8 = (looksLikeFormula(text) ? u'\'' + text : text).toUtf8();
    const bool quoted =
        utf8.contains(',') || utf8.contains('"') || utf8.contains('\n') || utf8.contains('\r');
    if (!quoted) {
        line += utf8;
        return;
    }
    line += '"';
    for (const char c : utf8) {
        line += c;
        if (c == '"') {
            line += '"';
        }
    }
    line += '"';
}

QByteArray csvHeader() {
    return QByteArrayLiteral("ID,Time,Source,Type,Data\r\n");
}

QByteArray csvLine(const StoredEvent& row) {
    QByteArray line = QByteArray::number(row.id);
    for (const QString* text :
         {&row.event.time, &row.event.source, &row.event.type, &row.event.data}) {
        line += ',';
        appendCsvField(line, *text);
    }
    line += "\r\n";
    return line;
}

QByteArray jsonLine(const StoredEvent& row) {
    QByteArray line = QByteArrayLiteral("{\"id\":") + QByteArray::number(row.id);
    const std::pair<const char*, const QString*> fields[] = {{",\"time\":", &row.event.time},
                                                             {",\"source\":", &row.event.source},
                                                             {",\"type\":", &row.event.type},
                                                             {",\"data\":", &row.event.data}};
    for (const auto& [name, text] : fields) {
        line += name;
        JsonText::appendString(line, text->toUtf8());
    }
    line += "}\n";
    return line;
}

Result<qint64> writePages(QIODevice& out, const QByteArray& header, int wanted,
                          const PageReader& readPage, const std::function<bool(qint64)>& progress) {
    auto failedWrite = [&out] {
        return Problem{ErrorKind::Database,
                       QStringLiteral("Cannot write the export: ") + out.errorString()};
    };
    if (!header.isEmpty() && out.write(header) < 0) {
        return failedWrite();
    }
    qint64 written = 0;
    while (wanted == 0 || written < wanted) {
        const int limit = wanted == 0 ? kPageRows : int(qMin<qint64>(kPageRows, wanted - written));
        QByteArray page;
        const Result<qint64> rows = readPage(limit, page);
        if (!rows) {
            return rows.problem();
        }
        if (rows.value() > 0 && out.write(page) != page.size()) {
            return failedWrite();
        }
        written += rows.value();
        if ((progress && !progress(written)) || rows.value() < limit) {
            break;
        }
    }
    return written;
}

Result<qint64> write(Store& store, EventQuery query, ExportFormat format, QIODevice& out,
                     const std::function<bool(qint64)>& progress) {
    const bool csv = format == ExportFormat::Csv;
    const int wanted = query.limit;
    return writePages(
        out, csv ? csvHeader() : QByteArray(), wanted,
        [&](int limit, QByteArray& page) -> Result<qint64> {
            query.limit = limit;
            qint64 rows = 0;
            const Status read = store.readEvents(query, [&](const StoredEvent& row) {
                page += csv ? csvLine(row) : jsonLine(row);
                query.after = row.id;
                ++rows;
            });
            return read ? Result<qint64>(rows) : Result<qint64>(read.problem());
        },
        progress);
}

}  // namespace EventExport
