#pragma once

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QThread>

#include "settings/MqttSettings.h"
#include "status/LoggerStatus.h"

class MqttBridge;
class OutgoingQueue;
class Recorder;
class Reporter;

// The logger's MQTT bridge, while [Mqtt] names a host: on a thread of its own, fed by the
// recorder, replaced when its settings change; and the counts of the bridges that ran before the
// one running, so that the status sums over the whole run.
class BridgeRun {
public:
    BridgeRun(Reporter& reporter, OutgoingQueue& outgoing);
    ~BridgeRun();
    BridgeRun(const BridgeRun&) = delete;
    BridgeRun& operator=(const BridgeRun&) = delete;

    // Starts, restarts or stops the bridge as `mqtt` says; a running bridge whose settings are
    // unchanged goes on. It publishes what `recorder` logs.
    void apply(const MqttSettings& mqtt, Recorder& recorder, const QString& computerName,
               const QString& spoolFolder, qint64 spoolLimitBytes);
    // Stops the bridge, after the hand-off its recorder may have begun.
    void stop();
    // The bridges' counts into `status`, with the running one's broker and connection.
    void gather(LoggerStatus& status) const;

private:
    Reporter& m_reporter;
    OutgoingQueue& m_outgoing;
    QThread m_thread;
    MqttBridge* m_bridge = nullptr;  // lives on m_thread; null: no MQTT bridge
    Recorder* m_recorder = nullptr;  // what feeds m_bridge
    MqttSettings m_settings;
    QList<QMetaObject::Connection> m_feeds;
    LoggerStatus::Counts m_before;
};
