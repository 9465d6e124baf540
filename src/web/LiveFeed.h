#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "store/LogEvent.h"
#include "web/HttpConnection.h"

class LoggerControl;

// The live stream of logged events, as server-sent events at /api/live. Events are collected
// while at least one page listens and sent in batches, a few a second, so that a burst costs the
// logger one copy per event and the browser a few messages a second: each batch holds the newest
// kMaxBatch events (at most kMaxBatchBytes of them) and says how many it skipped. A page that
// does not read skips batches: no connection holds more than HttpLimits::kMaxUnsent unsent.
class LiveFeed : public QObject {
    Q_OBJECT

public:
    static constexpr int kBatchMillis = 250;
    static constexpr int kMaxBatch = 500;
    static constexpr qsizetype kMaxBatchBytes = 256 * 1024;

    explicit LiveFeed(LoggerControl& logger, QObject* parent = nullptr);
    ~LiveFeed() override;

    // False when kMaxLiveStreams pages already listen.
    bool addClient(HttpConnection& connection);
    int clients() const { return int(m_clients.size()); }

private:
    struct Client {
        QPointer<HttpConnection> connection;
        qint64 skipped = 0;
    };
    void onEvents(const QList<LogEvent>& events);
    void flush();
    void dropGoneClients();

    LoggerControl& m_logger;
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
    // Events arrive in batches from the logger's threads; a long run of them sends the batches
    // that are due without waiting for the timer.
    QElapsedTimer m_sinceFlush;
};
