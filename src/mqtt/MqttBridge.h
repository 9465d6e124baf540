#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "mqtt/HomeAssistantDiscovery.h"
#include "mqtt/PublishCodec.h"
#include "record/Drainer.h"
#include "settings/MqttSettings.h"
#include "store/LogEvent.h"
#include "store/LoggedMessage.h"

class OutgoingQueue;
class Reporter;

// The door between the xAP network and MQTT, on a thread of its own: publishes each logged event
// and each message the rules log to the broker as JSON (through a spool while the broker is away,
// in order, at least once), keeps a retained status ("online", the broker's last will
// "offline"), announces event sources to Home Assistant when asked to, and sends the commands
// published for it on the xAP network when their class is allowed. It waits on the broker and
// the disk; the recorder only hands it what it logged and never waits on it.
class MqttBridge : public QObject {
    Q_OBJECT

public:
    struct Counts {
        bool connected = false;
        quint64 published = 0;    // confirmed by the broker (QoS 1) or sent (QoS 0)
        quint64 waiting = 0;      // in the bridge's spool
        quint64 republished = 0;  // sent again after a reconnect: possible duplicates
        quint64 dropped = 0;      // lost: the spool full, or the bridge far behind
        quint64 commandsSent = 0;
        quint64 commandsRefused = 0;
    };

    // Items waiting for the bridge's thread beyond this are dropped (and reported): a bridge this
    // far behind has a broker that takes messages slower than the network sends them.
    static constexpr qsizetype kHandLimit = 200000;
    static constexpr int kServiceMs = 100;
    static constexpr std::size_t kPassItems = 100;
    // What the recorder hands within this long after a first hand is published in one pass:
    // a pass costs wake-ups and system calls of its own, whatever its size.
    static constexpr int kGatherMs = 10;
    static constexpr qsizetype kTopicsKept = 1000;

    MqttBridge(Reporter& reporter, OutgoingQueue& outgoing, MqttSettings settings,
               QString computerName);
    ~MqttBridge() override;

    // Any thread.
    void handEvents(const QList<LogEvent>& events);
    void handMessage(const LoggedMessage& message);
    Counts counts() const;

    // On the bridge's thread (invoked queued): takes over the spool in `folder`, and connects.
    void start(const QString& folder, qint64 limitBytes);
    // Says "offline", disconnects; what waits stays in the spool for the next run.
    void stop();

private:
    using Item = std::variant<LogEvent, LoggedMessage>;
    void gather();
    void pump();
    void publish(const Item& item);
    void publishStates();
    std::vector<Publication> announcements() const;
    Status announceTo(MqttClient& client);
    void announceAgain();
    QByteArray eventTopic(const QString& source);
    void send(const Publication& publication);
    void confirm();
    void spoolUnconfirmed();
    void service();
    Result<std::unique_ptr<MqttClient>> connectNow();
    void command(const QByteArray& payload);
    void refuseCommand(const QString& why);
    void publishCounts();

    Reporter& m_reporter;
    OutgoingQueue& m_outgoing;
    const MqttSettings m_settings;
    const QString m_clientId;
    std::unique_ptr<Drainer<PublishCodec>> m_drainer;
    std::unique_ptr<QTimer> m_serviceTimer;
    std::unique_ptr<QTimer> m_gatherTimer;
    // Published straight to the broker while nothing waits in the spool, oldest first, until it
    // confirms them; when the connection is lost they go to the spool ahead of what comes next.
    std::deque<Publication> m_unconfirmed;
    quint64 m_confirmed = 0;  // of those, confirmed (or, at QoS 0, sent)
    quint64 m_resent = 0;     // of those, spooled to be sent again
    qint64 m_lastAttemptMs = 0;
    quint64 m_nextId = 0;
    QHash<QString, QByteArray> m_eventTopics;  // by source
    // With discovery on: each source Home Assistant was told of this run, with its last state
    // (an xAP network has tens of sources, not thousands), told again on every connection and
    // whenever Home Assistant starts; and the last event of each source in the pass under way,
    // retained as its state once the pass is published.
    std::optional<HomeAssistantDiscovery> m_discovery;
    struct Announced {
        HomeAssistantDiscovery::Sensor sensor;
        QByteArray state;
    };
    QHash<QString, Announced> m_announced;
    QHash<QString, QByteArray> m_passStates;
    QSet<QString> m_refusalsSaid;

    std::mutex m_handLock;  // guards the next three
    std::vector<Item> m_handed;
    bool m_pumpDue = false;
    quint64 m_handDropped = 0;
    bool m_behindSaid = false;

    mutable std::mutex m_countsLock;
    Counts m_counts;
    quint64 m_commandsSent = 0;
    quint64 m_commandsRefused = 0;
};
