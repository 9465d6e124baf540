#pragma once

#include <QHttpServerResponder>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <memory>

#include "store/EventExport.h"
#include "store/EventQuery.h"

class Store;

// One export download: the rows of a query, oldest first, read a page at a time by key and
// written when the connection has taken the previous page, so that memory stays small for
// millions of rows and the logger goes on between two pages. Deletes itself when done or when
// the browser goes away.
class ExportStream : public QObject {
public:
    static constexpr int kPageRows = 1000;
    static constexpr qint64 kMaxUnsent = 256 * 1024;

    static void start(Store& store, EventQuery query, ExportFormat format,
                      QHttpServerResponder&& responder);

private:
    ExportStream(Store& store, EventQuery query, ExportFormat format,
                 QHttpServerResponder&& responder);
    void writeMore();
    void finish();

    Store& m_store;
    EventQuery m_query;
    ExportFormat m_format;
    std::unique_ptr<QHttpServerResponder> m_responder;
    QPointer<QTcpSocket> m_socket;
    bool m_done = false;
};
