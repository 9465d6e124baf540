#pragma once

#include <QList>
#include <QObject>

#include "record/Drainer.h"
#include "record/MessageCodec.h"

class Reporter;
class Store;

// Writes the other messages that rules log into the messages table, through the drainer of
// logged messages (see Drainer): while the database cannot take them they wait in a spool of
// their own, in order. A message the database refuses for good is reported and left out: it
// never holds up the ones after it.
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
    void retryNow() { m_drainer.retryNow(); }
    // No more attempts; what waits in the spool is on disk for the next run.
    void stop() { m_drainer.stop(); }

    quint64 written() const;
    quint64 lost() const;
    qint64 waiting() const { return m_drainer.waiting(); }

private:
    Drainer<MessageCodec> m_drainer;
    bool m_inPass = false;
    QList<LoggedMessage> m_held;  // messages of the pass in progress
};
