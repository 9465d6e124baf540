#pragma once

#include <QList>
#include <QString>
#include <mutex>

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
// failed. Any thread may send; the lock is never held while a failure is reported, so that a
// report (which takes the reporter's lock, then sends) cannot wait on a sender that waits on it.
class OutgoingQueue {
public:
    explicit OutgoingQueue(Reporter& failures) : m_failures(failures) {}

    void setSender(MessageSender* sender);
    void setReady(bool ready);
    bool ready() const;

    void send(OutgoingMessage message);
    QList<OutgoingMessage> waitingMessages() const;

private:
    Status sendNow(const OutgoingMessage& message);

    mutable std::mutex m_lock;
    Reporter& m_failures;
    MessageSender* m_sender = nullptr;
    bool m_ready = false;
    QList<OutgoingMessage> m_waiting;
};
