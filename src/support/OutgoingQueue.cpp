#include "support/OutgoingQueue.h"

#include "report/ReportSteps.h"
#include "report/Reporter.h"
#include "support/ProgramNames.h"

namespace {
// A report about a message quotes its items, cut to a length a text log line can carry.
constexpr qsizetype kMaxQuotedItems = 2000;
}  // namespace

Status OutgoingQueue::sendNow(const OutgoingMessage& message) {
    if (m_sender == nullptr) {
        return Problem{ErrorKind::Socket, QStringLiteral("No xAP node to send through")};
    }
    return m_sender->send(message);
}

void OutgoingQueue::setSender(MessageSender* sender) {
    const std::lock_guard hold(m_lock);
    m_sender = sender;
}

void OutgoingQueue::setReady(bool ready) {
    const std::lock_guard hold(m_lock);
    m_ready = ready;
}

bool OutgoingQueue::ready() const {
    const std::lock_guard hold(m_lock);
    return m_ready;
}

QList<OutgoingMessage> OutgoingQueue::waitingMessages() const {
    const std::lock_guard hold(m_lock);
    return m_waiting;
}

// Steps: 1 sending what waits, 2 the new message.
void OutgoingQueue::send(OutgoingMessage message) {
    std::optional<Problem> failure;
    {
        const std::lock_guard hold(m_lock);
        if (!m_ready) {
            m_waiting.append(std::move(message));
            return;
        }
        while (!m_waiting.isEmpty()) {
            const Status sent = sendNow(m_waiting.front());
            if (!sent) {
                failure = sent.problem().atStep(ReportStep::Outgoing::Waiting);
                break;
            }
            m_waiting.removeFirst();
        }
        if (!failure) {
            const Status sent = sendNow(message);
            if (!sent) {
                failure = sent.problem().atStep(ReportStep::Outgoing::Current);
            }
        }
    }
    if (failure) {
        QString items = XapText::itemsLine(message.items);
        if (items.size() > kMaxQuotedItems) {
            const qsizetype cut = items.size() - kMaxQuotedItems;
            items = items.left(kMaxQuotedItems) + QStringLiteral("... (") + QString::number(cut) +
                    QStringLiteral(" characters cut)");
        }
        m_failures.toTextLog(ProgramNames::kProgram, QStringLiteral("SendXap  ") + items, *failure);
    }
}
