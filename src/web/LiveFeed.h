#pragma once

#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <vector>

#include "store/LogEvent.h"

class Logger;

// The live stream of logged events, as server-sent events at /api/live. Events are collected
// while at least one page listens and sent in batches, a few a second, so that a burst costs the
// logger one copy per event and the browser a few messages a second: each batch holds the newest
// kMaxBatch events and says how many it skipped. A page that cannot keep up skips batches.
class LiveFeed : public QObject {
    Q_OBJECT

public:
    static constexpr int kBatchMillis = 250;
    static constexpr int kMaxBatch = 500;
    static constexpr qint64 kMaxUnsentBytes = 1 << 20;

    explicit LiveFeed(Logger& logger, QObject* parent = nullptr);
    ~LiveFeed() override;

    void addClient(QHttpServerResponder&& responder);
    int clients() const { return int(m_clients.size()); }

private:
    struct Client {
        std::unique_ptr<QHttpServerResponder> responder;
        QPointer<QTcpSocket> socket;
        qint64 skipped = 0;
    };
    void onEvents(const QList<LogEvent>& events);
    void flush();
    void dropGoneClients();

    Logger& m_logger;
    QTimer m_timer;
    QMetaObject::Connection m_listening;
    std::vector<Client> m_clients;
    // The newest kMaxBatch events since the last batch, oldest at m_first: a ring, so that taking
    // an event allocates nothing.
    std::vector<LogEvent> m_pending;
    size_t m_first = 0;
    size_t m_count = 0;
    qint64 m_skipped = 0;
    int m_quietTicks = 0;
    // A burst is taken in one long receive pass, during which no timer fires: the events
    // themselves then send the batches that are due.
    QElapsedTimer m_sinceFlush;
};
