#include "web/StatusJson.h"

#include <QJsonArray>

#include "store/ServerSource.h"

namespace {

QJsonValue timeValue(const QDateTime& time) {
    if (!time.isValid()) {
        return QJsonValue::Null;
    }
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString databaseText(const DatabaseSettings& d) {
    if (d.kind == DatabaseKind::File) {
        return d.database + QStringLiteral(", table ") + d.table;
    }
    return SettingRules::engineName(d.kind) + u' ' + ServerSource::redactedSource(d.sqlSource) +
           QStringLiteral(", database ") + d.database + QStringLiteral(", table ") + d.table;
}

QJsonArray quietJson(const QList<LoggerStatus::QuietSource>& quiet) {
    QJsonArray list;
    for (const LoggerStatus::QuietSource& q : quiet) {
        list.append(QJsonObject{{QStringLiteral("source"), q.source},
                                {QStringLiteral("lastHeard"), timeValue(q.lastHeard)},
                                {QStringLiteral("usualGapSeconds"), q.usualGapSeconds}});
    }
    return list;
}

}  // namespace

namespace StatusJson {

QJsonObject toJson(const LoggerStatus& s) {
    const LoggerStatus::Counts& c = s.counts;
    return {
        {QStringLiteral("version"), s.version},
        {QStringLiteral("xapSource"), s.xapSource},
        {QStringLiteral("listenPort"), int(s.listenPort)},
        {QStringLiteral("sendFrom"), s.sendFrom},
        {QStringLiteral("destination"),
         QString(s.destination + u':' + QString::number(s.destinationPort))},
        {QStringLiteral("startedAt"), timeValue(s.startedAt)},
        {QStringLiteral("lastReceived"), timeValue(s.lastReceived)},
        {QStringLiteral("hubSeen"), s.lastReceived.isValid()},
        {QStringLiteral("lastEvent"), timeValue(s.lastEvent)},
        {QStringLiteral("quietSources"), quietJson(s.quietSources)},
        {QStringLiteral("database"), databaseText(s.database)},
        {QStringLiteral("engine"), SettingRules::engineName(s.database.kind)},
        {QStringLiteral("databaseOpen"), s.databaseOpen},
        {QStringLiteral("spoolWaiting"), s.spoolWaiting},
        {QStringLiteral("messagesWaiting"), s.messagesWaiting},
        {QStringLiteral("droppedBeforeReceive"), qint64(s.counts.droppedBeforeReceive)},
        {QStringLiteral("counts"),
         QJsonObject{{QStringLiteral("received"), qint64(c.received)},
                     {QStringLiteral("written"), qint64(c.written)},
                     {QStringLiteral("spooled"), qint64(c.spooled)},
                     {QStringLiteral("rejected"), qint64(c.rejected)},
                     {QStringLiteral("messagesWritten"), qint64(c.messagesWritten)},
                     {QStringLiteral("messagesSpooled"), qint64(c.messagesSpooled)},
                     {QStringLiteral("other"), qint64(c.other)},
                     {QStringLiteral("waiting"), qint64(c.waiting)},
                     {QStringLiteral("dropped"), qint64(c.dropped)},
                     {QStringLiteral("droppedBeforeReceive"), qint64(c.droppedBeforeReceive)},
                     {QStringLiteral("earlierWritten"), qint64(c.earlierWritten)}}},
        {QStringLiteral("mqtt"),
         QJsonObject{{QStringLiteral("broker"), s.mqttBroker},
                     {QStringLiteral("connected"), s.mqttConnected},
                     {QStringLiteral("published"), qint64(c.mqttPublished)},
                     {QStringLiteral("waiting"), qint64(c.mqttWaiting)},
                     {QStringLiteral("republished"), qint64(c.mqttRepublished)},
                     {QStringLiteral("dropped"), qint64(c.mqttDropped)},
                     {QStringLiteral("commandsSent"), qint64(c.mqttCommandsSent)},
                     {QStringLiteral("commandsRefused"), qint64(c.mqttCommandsRefused)}}},
        {QStringLiteral("reportsSent"), qint64(s.reportsSent)},
        {QStringLiteral("lastReports"), QJsonArray::fromStringList(s.lastReports)},
    };
}

}  // namespace StatusJson
