#include "store/RejectedEvents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

Status RejectedEvents::add(const LogEvent& event, const QString& reason, const QString& when) {
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile file(m_path);
    const QByteArray line = QJsonDocument(QJsonObject{{QStringLiteral("rejected"), when},
                                                      {QStringLiteral("reason"), reason},
                                                      {QStringLiteral("time"), event.time},
                                                      {QStringLiteral("source"), event.source},
                                                      {QStringLiteral("type"), event.type},
                                                      {QStringLiteral("data"), event.data}})
                                .toJson(QJsonDocument::Compact) +
                            '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size() ||
        !file.flush()) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot write ") + m_path + u": " + file.errorString()};
    }
    return {};
}
