#include "web/StatusJson.h"

#include <QJsonArray>

#include "store/ServerSource.h"

namespace {

QJsonValue timeValue(const QDateTime& time) {
    if (!time.isValid()) {
        return QJsonValue::Null;
    }
    return time.toLocalTime().toString(u"yyyy-MM-dd hh:mm:ss"_qs);
}

QString databaseText(const DatabaseSettings& d) {
    if (d.kind == DatabaseKind::File) {
        return d.database + u", table "_qs + d.table;
    }
    return SettingRules::engineName(d.kind) + u' ' + ServerSource::redactedSource(d.sqlSource) +
           u", database "_qs + d.database + u", table "_qs + d.table;
}

}  // namespace

namespace StatusJson {

QJsonObject toJson(const LoggerStatus& s) {
    const LoggerStatus::Counts& c = s.counts;
    return {
        {u"version"_qs, s.version},
        {u"xapSource"_qs, s.xapSource},
        {u"listenPort"_qs, int(s.listenPort)},
        {u"sendFrom"_qs, s.sendFrom},
        {u"destination"_qs, QString(s.destination + u':' + QString::number(s.destinationPort))},
        {u"startedAt"_qs, timeValue(s.startedAt)},
        {u"lastReceived"_qs, timeValue(s.lastReceived)},
        {u"hubSeen"_qs, s.lastReceived.isValid()},
        {u"database"_qs, databaseText(s.database)},
        {u"engine"_qs, SettingRules::engineName(s.database.kind)},
        {u"databaseOpen"_qs, s.databaseOpen},
        {u"spoolWaiting"_qs, s.spoolWaiting},
        {u"messagesWaiting"_qs, s.messagesWaiting},
        {u"droppedBeforeReceive"_qs, qint64(s.counts.droppedBeforeReceive)},
        {u"counts"_qs, QJsonObject{{u"received"_qs, qint64(c.received)},
                                   {u"written"_qs, qint64(c.written)},
                                   {u"spooled"_qs, qint64(c.spooled)},
                                   {u"rejected"_qs, qint64(c.rejected)},
                                   {u"messagesWritten"_qs, qint64(c.messagesWritten)},
                                   {u"messagesSpooled"_qs, qint64(c.messagesSpooled)},
                                   {u"other"_qs, qint64(c.other)},
                                   {u"waiting"_qs, qint64(c.waiting)},
                                   {u"dropped"_qs, qint64(c.dropped)},
                                   {u"droppedBeforeReceive"_qs, qint64(c.droppedBeforeReceive)},
                                   {u"earlierWritten"_qs, qint64(c.earlierWritten)}}},
        {u"reportsSent"_qs, qint64(s.reportsSent)},
        {u"lastReports"_qs, QJsonArray::fromStringList(s.lastReports)},
    };
}

}  // namespace StatusJson
