#include "web/ExportStream.h"

#include <algorithm>

#include "store/Store.h"
#include "web/HttpLimits.h"
#include "web/HttpReply.h"

Status ExportStream::start(Store& store, EventQuery query, ExportFormat format,
                           HttpConnection& connection, QObject* parent) {
    auto* stream = new ExportStream(store, std::move(query), format, connection, parent);
    QByteArray first;
    if (!stream->readPage(first)) {
        delete stream;
        return Problem{ErrorKind::Database,
                       QStringLiteral("The export could not be read from the database")};
    }
    const bool csv = format == ExportFormat::Csv;
    HttpReply::beginStream(
        connection, csv ? "text/csv; charset=utf-8" : "application/x-ndjson; charset=utf-8",
        {{"Content-Disposition", csv ? "attachment; filename=\"quilljot-events.csv\""
                                     : "attachment; filename=\"quilljot-events.jsonl\""}});
    connection.writeChunk((csv ? EventExport::csvHeader() : QByteArray()) + first);
    if (stream->m_done) {
        connection.endStream();
        delete stream;
        return {};
    }
    connect(&connection, &HttpConnection::drained, stream, &ExportStream::writeMore);
    connect(&connection, &HttpConnection::closed, stream, &QObject::deleteLater);
    return {};
}

ExportStream::ExportStream(Store& store, EventQuery query, ExportFormat format,
                           HttpConnection& connection, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_query(std::move(query)),
      m_format(format),
      m_connection(&connection) {
    m_query.order = EventQuery::Order::Ascending;
    m_query.after.reset();
    m_query.limit = kFirstPageRows;
    m_largestRow = kPageBytes / kFirstPageRows;
}

bool ExportStream::readPage(QByteArray& text) {
    // As many rows as the largest of the last page fit in a page, and at most twice as many
    // as the last: a table of big rows is read a few rows at a time.
    m_query.limit = int(std::clamp<qsizetype>(kPageBytes / std::max<qsizetype>(m_largestRow, 1), 1,
                                              std::min(2 * m_query.limit, kMaxPageRows)));
    m_largestRow = 0;
    int rows = 0;
    qint64 last = 0;
    const Status read = m_store.readEvents(m_query, [&](const StoredEvent& row) {
        const QByteArray line =
            m_format == ExportFormat::Csv ? EventExport::csvLine(row) : EventExport::jsonLine(row);
        m_largestRow = std::max(m_largestRow, line.size());
        text += line;
        last = row.id;
        ++rows;
    });
    if (!read) {
        return false;
    }
    m_done = rows < m_query.limit;
    m_query.after = last;
    return true;
}

void ExportStream::writeMore() {
    if (m_connection.isNull() || m_done) {
        return;
    }
    while (m_connection->unsent() < HttpLimits::kMaxUnsent / 2) {
        QByteArray page;
        if (!readPage(page)) {
            m_connection->abort();
            return;
        }
        m_connection->writeChunk(page);
        if (m_done) {
            m_connection->endStream();
            deleteLater();
            return;
        }
    }
}
