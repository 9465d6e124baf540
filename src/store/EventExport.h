#pragma once

#include <QByteArray>
#include <QIODevice>
#include <functional>

#include "report/Result.h"
#include "store/EventQuery.h"
#include "store/LogEvent.h"

class Store;

enum class ExportFormat { Csv, JsonLines };

// Stored events written out for other programs: CSV (RFC 4180, UTF-8, CRLF, a header line) or
// JSON lines (one object per row: id, time, source, type, data). Both keep every character of
// the texts; the one exception is the spreadsheet rule below.
namespace EventExport {

// One text as a CSV field (quoted when it must be, with the spreadsheet rule below), appended;
// for other tables' exports.
void appendCsvField(QByteArray& line, const QString& text);

QByteArray csvHeader();
// A text from the network that begins like a formula ("=", "@", a tab, a carriage return, or
// "-" or "+" unless the whole text is a plain number) gets an apostrophe in front, so that a
// spreadsheet opening the file shows it rather than computing it: "-2+3" is a formula too, while
// "-5" and "+3.25" stay numbers.
QByteArray csvLine(const StoredEvent& row);
QByteArray jsonLine(const StoredEvent& row);

// Writes every row of `query`, read page by page by key so that memory stays the same for any
// number of rows, to `out` (CSV with its header). `progress(rowsWritten)` is called after each
// page; returning false stops the export. The rows written, or why it failed.
Result<qint64> write(Store& store, EventQuery query, ExportFormat format, QIODevice& out,
                     const std::function<bool(qint64)>& progress = {});

// The page loop of every export: `readPage(limit, page)` appends up to `limit` rows to `page`
// and says how many; fewer than asked ends it. `wanted` 0: every row. Rows written, or why not.
using PageReader = std::function<Result<qint64>(int limit, QByteArray& page)>;
Result<qint64> writePages(QIODevice& out, const QByteArray& header, int wanted,
                          const PageReader& readPage, const std::function<bool(qint64)>& progress);

}  // namespace EventExport
