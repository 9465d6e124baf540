#include "support/TextLog.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "message/TextCodec.h"

TextLog::TextLog(QString path, Notice notice)
    : m_path(std::move(path)), m_notice(std::move(notice)) {}

TextLog::Notice TextLog::standardError() {
    return [](const QString& text) {
        std::fprintf(stderr, "quilljot: %s\n", text.toUtf8().constData());
    };
}

void TextLog::append(const QString& line) {
    if (m_path.isEmpty()) {
        return;
    }
    QFile file(m_path);
    const QByteArray bytes = bytesFromText(line + QStringLiteral("\r\n"));
    // A pipe in its place would block the program on open.
    const QFileInfo info(m_path);
    const bool usable = !info.exists() || info.isFile();
    if (usable && file.open(QIODevice::WriteOnly | QIODevice::Append) &&
        file.write(bytes) == bytes.size() && file.flush()) {
        m_problem.clear();
        return;
    }
    const QString problem = usable ? file.errorString() : QStringLiteral("not a regular file");
    if (problem != m_problem) {
        m_problem = problem;
        if (m_notice) {
            m_notice(QStringLiteral("cannot write the text log ") + m_path + QStringLiteral(": ") +
                     problem + QStringLiteral("; its lines are lost until it can be written"));
        }
    }
}
