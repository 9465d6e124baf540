#pragma once

#include <QObject>
#include <QPointer>

#include "report/Result.h"
#include "store/EventExport.h"
#include "store/EventQuery.h"
#include "web/HttpConnection.h"

class Store;

// One export download: the rows of a query, oldest first, read a page at a time by key and
// written only when the client has taken most of what was sent, so that a download that is not
// read holds at most HttpLimits::kMaxUnsent. Pages are sized to about kPageBytes from the rows
// seen so far. The first page is read before the answer begins, so that a query that fails is
// answered with an error status; a read that fails later breaks the connection off without the
// stream's last chunk, so that the client sees the download failed. Deletes itself when done or
// when the client goes away.
class ExportStream : public QObject {
public:
    static constexpr int kMaxPageRows = 1000;
    static constexpr int kFirstPageRows = 16;
    static constexpr qsizetype kPageBytes = 256 * 1024;

    // Answers the request on `connection`; the error when the first page could not be read
    // (nothing has been sent then).
    static Status start(Store& store, EventQuery query, ExportFormat format,
                        HttpConnection& connection, QObject* parent);

private:
    ExportStream(Store& store, EventQuery query, ExportFormat format, HttpConnection& connection,
                 QObject* parent);
    // The next page as text; false when the read failed.
    bool readPage(QByteArray& text);
    void writeMore();

    Store& m_store;
    EventQuery m_query;
    ExportFormat m_format;
    QPointer<HttpConnection> m_connection;
    bool m_done = false;
    qsizetype m_largestRow = 0;  // in the last page
};
