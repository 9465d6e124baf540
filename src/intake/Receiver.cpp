#include "intake/Receiver.h"

#include "intake/ReceiveQueue.h"
#include "report/Reporter.h"
#include "support/OutgoingQueue.h"
#include "support/ProgramNames.h"

Receiver::Receiver(Reporter& reporter, OutgoingQueue& outgoing, ReceiveQueue& queue,
                   std::function<QDateTime()> clock)
    : m_reporter(reporter),
      m_outgoing(outgoing),
      m_queue(queue),
      m_clock(std::move(clock)),
      m_handler([this](ReceivedItem&& item) { m_batch.push_back(std::move(item)); }, outgoing,
                reporter, m_clock) {}

Receiver::~Receiver() = default;

int Receiver::start(Setup setup) {
    m_node = std::make_unique<XapNode>(m_reporter, std::move(setup.network), setup.xapPort);
    m_node->setIdentity(setup.source, setup.uid);
    m_node->setNetworkSettings(setup.settings);
    m_handler.setOwnSource(m_node->source());
    m_handler.setProgramFile(setup.programFile);
    m_node->setGatherMs(kGatherMs);
    connect(m_node.get(), &XapNode::messagesWaiting, this, &Receiver::onMessagesWaiting);
    const int bound = m_node->bind();
    m_bound = bound > 0;
    if (m_bound) {
        m_node->sendHeartbeat(setup.heartbeatSeconds);
    }
    return bound;
}

void Receiver::setRules(const LogRules& rules) {
    m_handler.setRules(rules);
}

void Receiver::onMessagesWaiting() {
    const quint64 before = m_handler.tally().events + m_handler.tally().loggedMessages;
    quint64 texts = 0;
    m_batch.reserve(m_node->queuedCount());
    for (QString text = m_node->takeMessage(); !text.isEmpty(); text = m_node->takeMessage()) {
        m_handler.handle(std::move(text));
        ++texts;
    }
    const quint64 stored = m_handler.tally().events + m_handler.tally().loggedMessages - before;
    m_queue.push(std::move(m_batch));
    m_batch.clear();
    m_received = m_node->datagramsReceived();
    m_other = m_other.load() + (texts - stored);
    m_ignored = m_node->datagramsIgnored();
    noteSystemDrops();
}

// Said once per incident: drops after a quiet minute are a new one.
void Receiver::noteSystemDrops() {
    const quint64 dropped = m_node->droppedBeforeReceive();
    if (dropped <= m_dropped.load()) {
        return;
    }
    const quint64 added = dropped - m_dropped.load();
    m_dropped = dropped;
    const bool newIncident = !m_lastDrop.isValid() || m_lastDrop.hasExpired(kDropIncidentMs);
    m_lastDrop.start();
    if (newIncident) {
        const int buffer = m_node->receiveBufferBytes();
        // Linux reports twice what it grants: a buffer below what was asked is the system's cap.
        const QString why =
            buffer < XapNode::kReceiveBufferBytes
                ? QStringLiteral(
                      " bytes) was full. Raise net.core.rmem_max so that the logger "
                      "gets the 32 MiB it asks for (see the README, \"Receive "
                      "buffer\")")
                : QStringLiteral(
                      " bytes) was full: they came faster than the logger could read them on "
                      "this machine");
        m_reporter.toNetwork(ProgramNames::kProgram,
                             QStringLiteral("The system dropped ") + QString::number(added) +
                                 QStringLiteral(" datagrams before the logger could receive "
                                                "them: its receive buffer (") +
                                 QString::number(buffer) + why);
    }
}

void Receiver::stop() {
    if (!m_node || !m_bound) {
        return;
    }
    // Each pass hands on what it read; until the sockets are empty.
    for (quint64 before = ~quint64(0); before != m_node->datagramsReceived();) {
        before = m_node->datagramsReceived();
        m_node->drainSockets();
    }
    m_node->stopListening();
    m_node->sayGoodbye();
    m_received = m_node->datagramsReceived();
    m_ignored = m_node->datagramsIgnored();
    noteSystemDrops();
}

void Receiver::close() {
    m_node.reset();
}

Receiver::Counts Receiver::counts() const {
    return Counts{m_received.load(), m_other.load() + m_ignored.load(), m_dropped.load()};
}
