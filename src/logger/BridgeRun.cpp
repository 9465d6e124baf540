#include "logger/BridgeRun.h"

#include "mqtt/MqttBridge.h"
#include "record/Recorder.h"
#include "support/ThreadPriority.h"

namespace {

// A bridge's counts added to those of the bridges before it: the sums run over the whole run,
// what waits is the latest bridge's.
void addBridgeCounts(LoggerStatus::Counts& to, const MqttBridge::Counts& b) {
    to.mqtt = true;
    to.mqttPublished += b.published;
    to.mqttWaiting = b.waiting;
    to.mqttRepublished += b.republished;
    to.mqttDropped += b.dropped;
    to.mqttCommandsSent += b.commandsSent;
    to.mqttCommandsRefused += b.commandsRefused;
}

// Runs `work` on the thread `object` lives on and waits for it.
template <typename Work>
void runOn(QObject* object, Work work) {
    QMetaObject::invokeMethod(object, std::move(work), Qt::BlockingQueuedConnection);
}

}  // namespace

BridgeRun::BridgeRun(Reporter& reporter, OutgoingQueue& outgoing)
    : m_reporter(reporter), m_outgoing(outgoing) {
    m_thread.setObjectName(QStringLiteral("bridge"));
    QObject::connect(
        &m_thread, &QThread::started, &m_thread, [] { ThreadPriority::giveWay(); },
        Qt::DirectConnection);
}

BridgeRun::~BridgeRun() {
    stop();
}

void BridgeRun::apply(const MqttSettings& mqtt, Recorder& recorder, const QString& computerName,
                      const QString& spoolFolder, qint64 spoolLimitBytes) {
    if (m_bridge != nullptr && mqtt == m_settings) {
        return;
    }
    stop();
    if (!mqtt.enabled()) {
        return;
    }
    m_settings = mqtt;
    m_recorder = &recorder;
    m_bridge = new MqttBridge(m_reporter, m_outgoing, mqtt, computerName);
    m_bridge->moveToThread(&m_thread);
    // The recorder's thread only adds to the bridge's hand-off list, and never waits on it.
    m_feeds.append(QObject::connect(
        &recorder, &Recorder::eventsLogged, m_bridge,
        [b = m_bridge](const QList<LogEvent>& events) { b->handEvents(events); },
        Qt::DirectConnection));
    m_feeds.append(QObject::connect(
        &recorder, &Recorder::messagesLogged, m_bridge,
        [b = m_bridge](const QList<LoggedMessage>& messages) {
            for (const LoggedMessage& m : messages) {
                b->handMessage(m);
            }
        },
        Qt::DirectConnection));
    m_thread.start();
    QMetaObject::invokeMethod(m_bridge, [b = m_bridge, spoolFolder, spoolLimitBytes] {
        b->start(spoolFolder, spoolLimitBytes);
    });
}

void BridgeRun::stop() {
    if (m_bridge == nullptr) {
        return;
    }
    for (const QMetaObject::Connection& c : std::as_const(m_feeds)) {
        QObject::disconnect(c);
    }
    m_feeds.clear();
    // A hand-off the recorder had begun ends before the bridge goes.
    if (m_recorder->thread()->isRunning()) {
        runOn(m_recorder, [] {});
    }
    runOn(m_bridge, [b = m_bridge] { b->stop(); });
    addBridgeCounts(m_before, m_bridge->counts());
    m_thread.quit();
    m_thread.wait();
    delete m_bridge;
    m_bridge = nullptr;
    m_recorder = nullptr;
}

void BridgeRun::gather(LoggerStatus& s) const {
    LoggerStatus::Counts& c = s.counts;
    c.mqtt = m_before.mqtt;
    c.mqttPublished = m_before.mqttPublished;
    c.mqttWaiting = m_before.mqttWaiting;
    c.mqttRepublished = m_before.mqttRepublished;
    c.mqttDropped = m_before.mqttDropped;
    c.mqttCommandsSent = m_before.mqttCommandsSent;
    c.mqttCommandsRefused = m_before.mqttCommandsRefused;
    if (m_bridge != nullptr) {
        const MqttBridge::Counts b = m_bridge->counts();
        addBridgeCounts(c, b);
        s.mqttBroker = m_settings.brokerName();
        s.mqttConnected = b.connected;
    }
}
