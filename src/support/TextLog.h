#pragma once

#include <QString>
#include <functional>

// The text log: one line per failure that could not be reported over xAP, appended to a file in
// the application's Data folder. The file is created when missing, its folder never. A log that
// cannot be written is said once through `notice` (standard error by default), and again only
// after a line has got through.
class TextLog {
public:
    using Notice = std::function<void(const QString&)>;

    explicit TextLog(QString path, Notice notice = standardError());

    void append(const QString& line);
    const QString& path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }

    static Notice standardError();

private:
    QString m_path;
    Notice m_notice;
    QString m_problem;
};
