#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "intake/LogRules.h"
#include "intake/MessageHandler.h"
#include "node/XapNode.h"

class OutgoingQueue;
class ReceiveQueue;
class Reporter;

// The logger's ears, on a thread of their own: the xAP node's sockets are read as datagrams
// arrive, each message is handled at once (echo and role queries answered, heartbeats sent from
// here), and what is to be stored is handed to the writer through the receive queue, a batch per
// read. Nothing here waits on the database, a disk sync, the web page or the windows; the only
// locks taken are the queue's and the reporter's, which nobody holds across such a wait.
class Receiver : public QObject {
    Q_OBJECT

public:
    struct Setup {
        quint16 xapPort = XapNode::kXapPort;
        std::unique_ptr<HostNetwork> network;
        NetworkSettings settings;
        QString source;
        QString uid;
        QString programFile;
        int heartbeatSeconds = 60;
    };

    Receiver(Reporter& reporter, OutgoingQueue& outgoing, ReceiveQueue& queue,
             std::function<QDateTime()> clock);
    ~Receiver() override;

    // On the receiver's thread. Binds the node's sockets and starts its heartbeats: the bind
    // result (see XapNode::bind).
    int start(Setup setup);
    void setRules(const LogRules& rules);
    // Takes what the sockets still hold, hands it on, stops reading and says goodbye to the hubs;
    // the node still sends.
    void stop();
    // Closes the node's sockets.
    void close();

    // The node, for its addresses (fixed once start() returned); null before.
    const XapNode* node() const { return m_node.get(); }
    // What sends the logger's messages: the node, once start() returned.
    MessageSender* sender() { return m_node.get(); }

    // Any thread.
    struct Counts {
        quint64 received = 0;  // datagrams taken off the sockets
        quint64 other = 0;     // of those, what is not to be stored (heartbeats, queries, ...)
        quint64 droppedBeforeReceive = 0;  // datagrams the system dropped, its buffer full
    };
    Counts counts() const;

private:
    void onMessagesWaiting();
    void noteSystemDrops();

    static constexpr int kDropIncidentMs = 60000;
    // The node's pause between reads: at 50,000 events/s some fifty a wake-up; a reply to a query
    // is at most this much later.
    static constexpr int kGatherMs = 2;

    Reporter& m_reporter;
    OutgoingQueue& m_outgoing;
    ReceiveQueue& m_queue;
    std::function<QDateTime()> m_clock;
    std::unique_ptr<XapNode> m_node;
    MessageHandler m_handler;
    std::vector<ReceivedItem> m_batch;
    bool m_bound = false;
    QElapsedTimer m_lastDrop;
    std::atomic<quint64> m_received{0};
    std::atomic<quint64> m_other{0};    // messages handled and not stored
    std::atomic<quint64> m_ignored{0};  // datagrams the node left out (heartbeats)
    std::atomic<quint64> m_dropped{0};
};
