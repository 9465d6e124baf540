#include "report/Reporter.h"

QString Reporter::textLogLine(const QString& where, const QString& what, const Problem& problem) {
    return where + u' ' + what + u' ' + QString::number(problem.step) + u' ' + problem.description;
}

QString Reporter::reportData(const QString& what, const std::optional<Problem>& problem) {
    if (!problem || problem->kind == ErrorKind::None) {
        return what;
    }
    return what + QStringLiteral(" Line ") + QString::number(problem->step) + u' ' +
           problem->description;
}

QString Reporter::plainText(const QString& what, const std::optional<Problem>& problem) {
    QString text = problem && !problem->description.isEmpty() ? problem->description : what;
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    text = text.trimmed();
    if (!text.isEmpty()) {
        text[0] = text[0].toUpper();
    }
    return text;
}

void MemoryReporter::writeTextLog(const QString& where, const QString& what,
                                  const Problem& problem) {
    entries.append(Entry{true, where, what, problem, textLogLine(where, what, problem)});
}

void MemoryReporter::sendReport(const QString& type, const QString& what,
                                const std::optional<Problem>& problem) {
    entries.append(
        Entry{false, type, what, problem.value_or(Problem{}), reportData(what, problem)});
}
