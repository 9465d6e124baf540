#include "intake/MessageHandler.h"

#include "message/XapMessage.h"
#include "report/Reporter.h"
#include "support/DateText.h"
#include "support/OutgoingQueue.h"
#include "support/ProgramNames.h"

#include <utility>

namespace {
constexpr QStringView kUnknown = u"Unknown";
}

MessageHandler::MessageHandler(Sink sink, OutgoingQueue& outgoing, Reporter& reporter, Clock clock)
    : m_sink(std::move(sink)),
      m_outgoing(outgoing),
      m_reporter(reporter),
      m_clock(std::move(clock)) {}

QString MessageHandler::storedTime(QStringView text, const Clock& now) {
    if (auto stored = DateText::normalize(text)) {
        return *std::move(stored);
    }
    return DateText::isoText(now());
}

void MessageHandler::handle(QString text) {
    ++m_tally.messages;
    const XapMessage m = XapMessage::read(std::move(text));
    if (m.cutOff()) {
        reportCutOff(m);
        return;
    }
    if (const auto& fault = m.fault()) {
        m_reporter.toTextLog(QStringLiteral("From XAP"), QString(),
                             Problem{ErrorKind::Message, fault->description, fault->step});
    }
    if (m.isClass(ProgramNames::kEventClass)) {
        logEvent(m);
        return;
    }
    if (m_rules.logsMessages()) {
        logMessage(m);
    }
    // Queries count as addressed to the logger when their target matches it or they have none.
    if (!m.targetMatches(m_ownSource) && !m.targetMatches(kUnknown)) {
        return;
    }
    if (m.isClass(u"VOZ.Echo")) {
        answerEcho(m);
    } else if (m.isClass(u"Homeseer.Role")) {
        answerRole(m);
    }
}

// Said once per source: a sender or hub that cuts its long messages does so to every one of them.
// Step 5, as a block's "}" counts in the reader's faults.
void MessageHandler::reportCutOff(const XapMessage& m) {
    const QString source = m.source().toString().toLower();
    if (m_cutOffSources.contains(source) || m_cutOffSources.size() >= kCutOffSourcesKept) {
        return;
    }
    m_cutOffSources.insert(source);
    m_reporter.toNetwork(
        ProgramNames::kProgram, QStringLiteral("Readmessage"),
        Problem{ErrorKind::Message,
                QStringLiteral("A message from ") + m.source().toString() +
                    QStringLiteral(" ends inside a block (cut off on its way?) and is not logged; "
                                   "said once for this source"),
                5});
}

void MessageHandler::logEvent(const XapMessage& m) {
    const QStringView time = m.item(ProgramNames::kEventBlock, u"Time");
    // An event class without the event block is some other message.
    const bool timeless = time == kUnknown;
    if (timeless && !m.blockNames().contains(ProgramNames::kEventBlock.toLower())) {
        if (m_rules.logsMessages()) {
            logMessage(m);
        }
        return;
    }
    const bool own =
        !m_ownSource.isEmpty() && m.source().compare(m_ownSource, Qt::CaseInsensitive) == 0;
    if (m_rules.destination(m, true, own) != LogRules::Destination::Events) {
        return;
    }
    LogEvent event{storedTime(time, m_clock), m.source().toString(),
                   m.item(ProgramNames::kEventBlock, u"Type").toString(),
                   m.item(ProgramNames::kEventBlock, u"Data").toString()};
    if (timeless) {
        reportMissingTime(event.source);
    }
    ++m_tally.events;
    m_sink(ReceivedItem{std::move(event), own});
}

void MessageHandler::logMessage(const XapMessage& m) {
    if (m_rules.destination(m, false, false) != LogRules::Destination::Messages) {
        return;
    }
    ++m_tally.loggedMessages;
    m_sink(ReceivedItem{LoggedMessage{DateText::isoText(m_clock()), m.source().toString(),
                                      m.target() == kUnknown ? QString() : m.target().toString(),
                                      m.className().toString(), m.uid().toString(), m.text()},
                        false});
}

void MessageHandler::reportMissingTime(const QString& source) {
    if (m_timelessSources.size() >= kMaxTimelessSources || m_timelessSources.contains(source)) {
        return;
    }
    m_timelessSources.insert(source);
    m_reporter.toNetwork(ProgramNames::kProgram,
                         QStringLiteral("Event without Time from ") + source +
                             QStringLiteral(": logged with the time it arrived (said once per "
                                            "source)"));
}

void MessageHandler::answerEcho(const XapMessage& m) {
    const QStringView query = m.item(u"Echo.Query", u"Query");
    if (query == kUnknown) {
        return;
    }
    m_outgoing.send(
        OutgoingMessage{m.source().toString(),
                        QStringLiteral("VOZ.Echo"),
                        QStringLiteral("Echo.Response"),
                        {XapItem{QStringLiteral("Response"), query.toString().toLower()}}});
}

void MessageHandler::answerRole(const XapMessage& m) {
    const QString role = m.item(u"Role.Query", u"Role").toString().toLower();
    if (role != u"application" && role != u"any") {
        return;
    }
    m_outgoing.send(
        OutgoingMessage{QString(),
                        QStringLiteral("Homeseer.Role"),
                        QStringLiteral("Role.Notification"),
                        {XapItem{QStringLiteral("Role"), QStringLiteral("Application")},
                         XapItem{QStringLiteral("Path"), m_programFile},
                         XapItem{QStringLiteral("Form"), QStringLiteral("SetupForm")}}});
}
