#include "web/ExportStream.h"

#include <QTimer>

#include "store/Store.h"
#include "web/HttpReply.h"

void ExportStream::start(Store& store, EventQuery query, ExportFormat format,
                         QHttpServerResponder&& responder) {
    auto* stream = new ExportStream(store, std::move(query), format, std::move(responder));
    stream->writeMore();
}

ExportStream::ExportStream(Store& store, EventQuery query, ExportFormat format,
                           QHttpServerResponder&& responder)
    : QObject(responder.socket()),
      m_store(store),
      m_query(std::move(query)),
      m_format(format),
      m_responder(std::make_unique<QHttpServerResponder>(std::move(responder))),
      m_socket(m_responder->socket()) {
    m_query.order = EventQuery::Order::Ascending;
    m_query.after.reset();
    m_query.limit = kPageRows;
    const bool csv = m_format == ExportFormat::Csv;
    HttpReply::beginStream(
        *m_responder, csv ? "text/csv; charset=utf-8" : "application/x-ndjson; charset=utf-8",
        {{"Content-Disposition", csv ? "attachment; filename=\"quilljot-events.csv\""
                                     : "attachment; filename=\"quilljot-events.jsonl\""}});
    if (csv) {
        m_responder->writeBody(EventExport::csvHeader());
    }
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!m_done && m_socket->bytesToWrite() < kMaxUnsent) {
            writeMore();
        }
    });
}

void ExportStream::writeMore() {
    QByteArray chunk;
    int rows = 0;
    qint64 last = 0;
    const Status read = m_store.readEvents(m_query, [&](const StoredEvent& row) {
        chunk +=
            m_format == ExportFormat::Csv ? EventExport::csvLine(row) : EventExport::jsonLine(row);
        last = row.id;
        ++rows;
    });
    if (!chunk.isEmpty()) {
        m_responder->writeBody(chunk);
    }
    // A failed read cuts the file short; a download that ends early is the only way left to say
    // so once the answer has begun.
    if (!read || rows < kPageRows) {
        finish();
        return;
    }
    m_query.after = last;
}

void ExportStream::finish() {
    m_done = true;
    // Closes once everything written has left; the socket owns this object.
    m_socket->disconnectFromHost();
}
