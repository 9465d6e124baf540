#include "record/DrainReports.h"

#include "report/Reporter.h"
#include "support/ProgramNames.h"

DrainReports::DrainReports(Reporter& reporter, const DrainTexts& texts)
    : m_reporter(reporter), m_texts(texts) {}

void DrainReports::openFailed(const Problem& problem) {
    m_reporter.toNetwork(ProgramNames::kProgram, m_texts.openWhat, problem);
}

void DrainReports::recovered(const Spool::Recovered& found, const QString& path) {
    if (found.cutBytes > 0) {
        m_reporter.toNetwork(
            ProgramNames::kProgram,
            m_texts.spool + QStringLiteral(": ") + QString::number(found.cutBytes) +
                QStringLiteral(" bytes of torn or damaged records were cut from ") + path +
                QStringLiteral("; they never reach the database"));
    }
    if (found.records > 0) {
        m_reporter.toNetwork(ProgramNames::kProgram,
                             m_texts.spool + QStringLiteral(": ") + QString::number(found.records) +
                                 u' ' + m_texts.records +
                                 QStringLiteral(" left by an earlier run are written first"));
    }
}

void DrainReports::cause(const Problem& cause, qint64 waiting, qint64 nowMs) {
    if (cause.description.isEmpty() || cause.description == m_cause) {
        return;
    }
    if (!m_cause.isEmpty() && nowMs - m_causeSaidMs < kCauseRepeatMs) {
        return;
    }
    m_cause = cause.description;
    m_causeSaidMs = nowMs;
    Problem said = m_texts.problemStep > 0 ? cause.atStep(m_texts.problemStep) : cause;
    said.description += QStringLiteral(". ") + m_texts.keptWhat +
                        QStringLiteral(" are kept in the spool (") + QString::number(waiting) +
                        QStringLiteral(" waiting) and written when ") + m_texts.place +
                        QStringLiteral(" takes them");
    m_reporter.toNetwork(ProgramNames::kProgram, m_texts.problemWhat, said);
}

void DrainReports::full(qint64 waiting) {
    if (m_fullSaid) {
        return;
    }
    m_fullSaid = true;
    m_reporter.toNetwork(ProgramNames::kProgram,
                         m_texts.spool + QStringLiteral(" full: new ") + m_texts.records +
                             QStringLiteral(" are dropped until ") + m_texts.place +
                             QStringLiteral(" takes the ") + QString::number(waiting) +
                             QStringLiteral(" waiting (SpoolLimit in the settings)"));
}

void DrainReports::drained(quint64 count) {
    m_reporter.toNetwork(ProgramNames::kProgram,
                         m_texts.spool + QStringLiteral(" written: every waiting ") +
                             m_texts.record + QStringLiteral(" is in ") + m_texts.place +
                             QStringLiteral(" (") + QString::number(count) +
                             QStringLiteral(" in this run)"));
    m_cause.clear();
    m_fullSaid = false;
}
