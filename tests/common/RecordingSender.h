#pragma once

#include <QList>

#include "support/OutgoingQueue.h"

// Stands in for the xAP node: records what would have been sent, and fails on request.
class RecordingSender : public MessageSender {
public:
    Status send(const OutgoingMessage& message) override {
        if (failNext > 0) {
            --failNext;
            return Problem{ErrorKind::Socket, QStringLiteral("Send refused")};
        }
        sent.append(message);
        return {};
    }
    QList<OutgoingMessage> sent;
    int failNext = 0;
};
