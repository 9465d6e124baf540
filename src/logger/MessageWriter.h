#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "store/LoggedMessage.h"
#include "store/Spool.h"

class Reporter;
class Store;
struct Problem;

// Writes the other messages that rules log into the messages table. While the database cannot
// take them (away, locked, unreachable) they wait in a spool of their own, and every later one
// behind them, so that the order holds; in the background the spool is written into the database
// ahead of newer messages. A message the database refuses for good is reported and left out: it
// never holds up the ones after it. A cause is reported once, not once per message.
class MessageWriter : public QObject {
    Q_OBJECT

public:
    MessageWriter(Store& store, Reporter& reporter, QObject* parent = nullptr);
    ~MessageWriter() override;

    // Takes over the spool an earlier run left in `folder`, and starts writing it. Until then a
    // message the database cannot take is lost.
    void open(const QString& folder, qint64 limitBytes);

    // False when the message is lost: refused, or the spool is full or cannot be written. During
    // a receive pass the message is held and the answer is true; endPass() writes it.
    bool write(const LoggedMessage& message);
    // The events of a receive pass share its transaction (on PostgreSQL one COPY, which any other
    // statement on the connection would break off): messages wait for the pass's end, and are
    // then written in one transaction of their own.
    void beginPass() { m_inPass = true; }
    void endPass();
    // Tries the database again now (settings applied, SIGHUP).
    void retryNow();
    // No more attempts; what waits in the spool is on disk for the next run.
    void stop();

    quint64 written() const { return m_written; }
    quint64 lost() const { return m_lost; }
    qint64 waiting() const { return m_spool ? m_spool->waiting() : 0; }

    // Pauses between attempts while the database stays away: short while each attempt fails at
    // once, growing up to the longest while attempts take time (a server that does not answer).
    static constexpr int kRetryMs = 500;
    static constexpr int kLongestRetryMs = 30000;
    // Messages written per step of the background drain.
    static constexpr int kDrainStep = 2000;

private:
    bool keep(const LoggedMessage& message, const Problem& cause);
    void refuse(const LoggedMessage& message, const Problem& why);
    // The failure says the database is away for now, not that it refuses this message.
    bool isAway(const Problem& failure) const;
    // Writes `message` now, or keeps it in the spool when the database is away.
    bool writeNow(const LoggedMessage& message);
    void drainStep();
    void retryLater(qint64 attemptMs);
    void reportCause(const Problem& cause);

    Store& m_store;
    Reporter& m_reporter;
    std::unique_ptr<Spool> m_spool;
    QTimer m_retry;
    int m_retryMs = kRetryMs;
    bool m_causeReported = false;
    bool m_fullReported = false;
    bool m_refusalReported = false;
    bool m_inPass = false;
    QList<LoggedMessage> m_held;  // messages of the pass in progress
    quint64 m_written = 0;
    quint64 m_lost = 0;
    quint64 m_drained = 0;  // messages written from the spool in this run
};
