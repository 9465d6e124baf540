#include "support/ApplicationReporter.h"

#include "support/DateText.h"
#include "support/OutgoingQueue.h"
#include "support/ProgramNames.h"
#include "support/TextLog.h"

ApplicationReporter::ApplicationReporter(TextLog& textLog, Clock clock)
    : m_textLog(textLog), m_clock(std::move(clock)) {}

void ApplicationReporter::writeTextLog(const QString& where, const QString& what,
                                       const Problem& problem) {
    m_textLog.append(textLogLine(where, what, problem));
}

QString ApplicationReporter::journalLine(const QString& type, const QString& text) {
    QString line = text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    line = line.trimmed();
    return type == ProgramNames::kProgram ? line : type + QStringLiteral(": ") + line;
}

void ApplicationReporter::sendReport(const QString& type, const QString& what,
                                     const std::optional<Problem>& problem) {
    if (m_journal && !m_offJournal) {
        m_journal(journalLine(type, plainText(what, problem)));
    }
    send(type, reportData(what, problem));
}

void ApplicationReporter::toNetworkOnly(const QString& type, const QString& what) {
    const std::lock_guard hold(reportLock());
    m_offJournal = true;
    toNetwork(type, what);
    m_offJournal = false;
}

void ApplicationReporter::send(const QString& type, const QString& data) {
    if (m_outgoing == nullptr) {
        return;
    }
    m_outgoing->send(OutgoingMessage{
        QString(),
        ProgramNames::kEventClass,
        ProgramNames::kEventBlock,
        {XapItem{QStringLiteral("Time"), DateText::isoText(m_clock())},
         XapItem{QStringLiteral("Type"), type}, XapItem{QStringLiteral("Data"), data}}});
}
