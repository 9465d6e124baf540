#pragma once

#include <QByteArray>
#include <QString>

#include "report/Result.h"
#include "store/LogEvent.h"
#include "store/LoggedMessage.h"
#include "support/OutgoingQueue.h"

// The bridge's wire format: which topic each thing is published to and the JSON it carries.
// Texts pass through byte for byte (UTF-8, escaped only where JSON must), so that a subscriber
// sees exactly what the xAP network said.
namespace MqttPayloads {

// An xAP address as topic levels: "acme.lamp.hall:1.2" is "acme/lamp/hall/1/2". The MQTT
// wildcards + and # and an empty level become "_", so that no source can widen a subscription.
QString topicPath(QStringView address);

QString statusTopic(const QString& prefix);
QString eventTopic(const QString& prefix, const QString& source);
QString messageTopic(const QString& prefix, const LoggedMessage& message);
QString commandTopic(const QString& prefix);

// {"time":..,"source":..,"type":..,"data":..,"id":N}
QByteArray eventJson(const LogEvent& event, quint64 id);
// {"time":..,"header":{"uid":..,"class":..,"source":..,"target":..},
//  "blocks":[{"name":"block.name","items":{"Name":"value",..}},..]}
QByteArray messageJson(const LoggedMessage& message);

// A command published to the command topic:
//   {"class":"xAPBSC.cmd","target":"acme.lamp.hall","block":"output.state.1",
//    "items":{"ID":"*","State":"on"}}
// as the message the logger sends; target is optional. The problem says what is wrong with it.
Result<OutgoingMessage> command(const QByteArray& json);

}  // namespace MqttPayloads
