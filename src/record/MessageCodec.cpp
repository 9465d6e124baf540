#include "record/MessageCodec.h"

#include "report/Reporter.h"
#include "support/ProgramNames.h"

const DrainTexts& MessageCodec::texts() {
    static const DrainTexts t{
        .spoolName = QStringLiteral("messages"),
        .spool = QStringLiteral("Messages spool"),
        .record = QStringLiteral("message"),
        .records = QStringLiteral("messages"),
        .openWhat = QStringLiteral("Messages "),
        .problemWhat = QStringLiteral("Messages "),
        .problemStep = 0,
        .keptWhat = QStringLiteral("Messages the rules log"),
    };
    return t;
}

void MessageCodec::refuse(const LoggedMessage& message, const Refusal& refusal) {
    if (refusal.refusedSinceWrite) {
        return;
    }
    Problem said = refusal.why;
    said.description += QStringLiteral(". The message from ") + message.source +
                        QStringLiteral(" is left out (said again after a message is written)");
    m_reporter->toNetwork(ProgramNames::kProgram, QStringLiteral("Messages "), said);
}
