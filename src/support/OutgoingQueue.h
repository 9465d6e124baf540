#pragma once

#include <QList>
#include <QString>

#include "message/XapText.h"
#include "report/Result.h"

class Reporter;

// One message of one block to send on the xAP network; the source is the sender's own.
struct OutgoingMessage {
    QString target;
    QString className;
    QString block;
    QList<XapItem> items;
};

// What can put a message on the network (the xAP node).
class MessageSender {
public:
    virtual ~MessageSender() = default;
    virtual Status send(const OutgoingMessage& message) = 0;
};

// Messages the program sends: held back until the node is ready, then sent in order ahead of the
// next one. A message that cannot be sent is written to the text log, since the network is what
// failed.
class OutgoingQueue {
public:
    explicit OutgoingQueue(Reporter& failures) : m_failures(failures) {}

    void setSender(MessageSender* sender) { m_sender = sender; }
    void setReady(bool ready) { m_ready = ready; }
    bool ready() const { return m_ready; }

    void send(OutgoingMessage message);
    qsizetype waiting() const { return m_waiting.size(); }
    const QList<OutgoingMessage>& waitingMessages() const { return m_waiting; }

private:
    Status sendNow(const OutgoingMessage& message);

    Reporter& m_failures;
    MessageSender* m_sender = nullptr;
    bool m_ready = false;
    QList<OutgoingMessage> m_waiting;
};
