#include "mqtt/MqttBridge.h"

#include <QDateTime>
#include <QThread>

#include "mqtt/MqttPayloads.h"
#include "report/Reporter.h"
#include "support/OutgoingQueue.h"
#include "support/ProgramNames.h"

namespace {

// How long after a failed connection the bridge tries again while nothing waits to be published
// (what waits is retried by the drainer, with its growing pauses).
constexpr qint64 kIdleRetryMs = 2000;
constexpr int kConnectMs = 5000;

const QString kReportType = QStringLiteral("Mqtt ");

}  // namespace

MqttBridge::MqttBridge(Reporter& reporter, OutgoingQueue& outgoing, MqttSettings settings,
                       QString computerName)
    : m_reporter(reporter),
      m_outgoing(outgoing),
      m_settings(std::move(settings)),
      m_clientId(m_settings.clientIdFor(computerName)),
      // Ids grow across runs too, as long as the clock does: a subscriber tells a message sent
      // again after a reconnect by an id it has seen.
      m_nextId(quint64(QDateTime::currentMSecsSinceEpoch()) * 1000) {
    if (m_settings.discovery) {
        m_discovery.emplace(HomeAssistantDiscovery::Logger{
            .identity = m_clientId,
            .name = QStringLiteral("Quilljot ") +
                    (m_settings.clientId.isEmpty() ? computerName : m_settings.clientId),
            .availabilityTopic = MqttPayloads::statusTopic(m_settings.topicPrefix),
        });
    }
}

MqttBridge::~MqttBridge() = default;

void MqttBridge::handEvents(const QList<LogEvent>& events) {
    bool wake = false;
    bool sayBehind = false;
    {
        const std::lock_guard hold(m_handLock);
        for (const LogEvent& e : events) {
            if (qsizetype(m_handed.size()) >= kHandLimit) {
                ++m_handDropped;
                sayBehind = !std::exchange(m_behindSaid, true);
                continue;
            }
            m_handed.emplace_back(e);
        }
        wake = !std::exchange(m_pumpDue, true);
    }
    if (sayBehind) {
        m_reporter.toNetwork(
            ProgramNames::kProgram, kReportType,
            Problem{ErrorKind::Generic,
                    QStringLiteral("the MQTT bridge is ") + QString::number(kHandLimit) +
                        QStringLiteral(" messages behind the network: newer ones are not "
                                       "published until it catches up")});
    }
    if (wake) {
        QMetaObject::invokeMethod(this, &MqttBridge::gather, Qt::QueuedConnection);
    }
}

void MqttBridge::handMessage(const LoggedMessage& message) {
    bool wake = false;
    {
        const std::lock_guard hold(m_handLock);
        if (qsizetype(m_handed.size()) >= kHandLimit) {
            ++m_handDropped;
            return;
        }
        m_handed.emplace_back(message);
        wake = !std::exchange(m_pumpDue, true);
    }
    if (wake) {
        QMetaObject::invokeMethod(this, &MqttBridge::gather, Qt::QueuedConnection);
    }
}

Result<std::unique_ptr<MqttClient>> MqttBridge::connectNow() {
    m_lastAttemptMs = QDateTime::currentMSecsSinceEpoch();
    MqttClient::Options o = MqttClient::Options::from(m_settings, m_clientId);
    o.willTopic = MqttPayloads::statusTopic(m_settings.topicPrefix);
    o.willPayload = QByteArrayLiteral("offline");
    auto client = std::make_unique<MqttClient>();
    if (const Status connected = client->connect(o, kConnectMs); !connected) {
        return connected.problem();
    }
    if (m_settings.commands) {
        const Status subscribed = client->subscribe(
            MqttPayloads::commandTopic(m_settings.topicPrefix),
            [this](const QString&, const QByteArray& payload) { command(payload); });
        if (!subscribed) {
            return subscribed.problem();
        }
    }
    if (m_discovery) {
        const Status subscribed =
            client->subscribe(HomeAssistantDiscovery::birthTopic(),
                              [this](const QString&, const QByteArray& payload) {
                                  if (HomeAssistantDiscovery::isBirth(payload)) {
                                      QMetaObject::invokeMethod(this, &MqttBridge::announceAgain,
                                                                Qt::QueuedConnection);
                                  }
                              });
        if (!subscribed) {
            return subscribed.problem();
        }
    }
    const Status online = client->publish(o.willTopic, QByteArrayLiteral("online"), 1, true);
    if (!online) {
        return online.problem();
    }
    // The broker may have restarted without its retained messages.
    if (const Status announced = announceTo(*client); !announced) {
        return announced.problem();
    }
    return client;
}

void MqttBridge::start(const QString& folder, qint64 limitBytes) {
    m_drainer = std::make_unique<Drainer<PublishCodec>>(
        PublishCodec(m_reporter, m_settings.qos, [this] { return connectNow(); }), m_reporter,
        std::make_unique<QtDrainTimer>(this));
    if (const Status connected = m_drainer->codec().reopen(); !connected) {
        m_reporter.toNetwork(ProgramNames::kProgram, kReportType, connected.problem());
    }
    m_drainer->open(folder, limitBytes);
    m_serviceTimer = std::make_unique<QTimer>();
    m_serviceTimer->setInterval(kServiceMs);
    connect(m_serviceTimer.get(), &QTimer::timeout, this, &MqttBridge::service);
    m_serviceTimer->start();
    m_gatherTimer = std::make_unique<QTimer>();
    m_gatherTimer->setSingleShot(true);
    m_gatherTimer->setInterval(kGatherMs);
    connect(m_gatherTimer.get(), &QTimer::timeout, this, &MqttBridge::pump);
    publishCounts();
}

void MqttBridge::gather() {
    if (!m_gatherTimer) {
        pump();
    } else if (!m_gatherTimer->isActive()) {
        m_gatherTimer->start();
    }
}

void MqttBridge::pump() {
    std::vector<Item> items;
    {
        const std::lock_guard hold(m_handLock);
        items.swap(m_handed);
        m_pumpDue = false;
        m_behindSaid = false;
    }
    if (!m_drainer || items.empty()) {
        return;
    }
    confirm();
    // Passes of a bounded size, and as few unconfirmed messages as keep the connection busy: the
    // library walks the list of those it holds unconfirmed for each confirmation.
    for (std::size_t from = 0; from < items.size(); from += kPassItems) {
        if (m_unconfirmed.size() > kPassItems && m_drainer->codec().isOpen()) {
            const Status confirmed =
                m_drainer->codec().client()->flush(PublishCodec::kConfirmMs, kPassItems);
            confirm();
            if (!confirmed && m_drainer->codec().isOpen()) {
                m_drainer->codec().lose(confirmed.problem());
                confirm();
            }
        }
        const std::size_t to = std::min(items.size(), from + kPassItems);
        MqttClient* client = m_drainer->codec().client();
        if (client != nullptr) {
            client->hold(true);
        }
        m_drainer->beginPass();
        for (std::size_t i = from; i < to; ++i) {
            publish(items[i]);
        }
        publishStates();
        m_drainer->endPass();
        if (client == m_drainer->codec().client() && client != nullptr) {
            client->hold(false);
        }
        confirm();
    }
    publishCounts();
}

void MqttBridge::publish(const Item& item) {
    const QString& prefix = m_settings.topicPrefix;
    if (const auto* e = std::get_if<LogEvent>(&item)) {
        if (m_discovery && !m_announced.contains(e->source)) {
            const auto made = m_announced.insert(e->source, {m_discovery->sensor(e->source), {}});
            send({made->sensor.configTopic, made->sensor.config, true});
        }
        QByteArray json = MqttPayloads::eventJson(*e, m_nextId++);
        if (m_discovery) {
            m_passStates.insert(e->source, json);
        }
        send({eventTopic(e->source), std::move(json)});
    } else {
        const auto& m = std::get<LoggedMessage>(item);
        send({MqttPayloads::messageTopic(prefix, m).toUtf8(), MqttPayloads::messageJson(m)});
    }
}

// Only the last event of each source in a pass is retained: the states between would be replaced
// before anyone reads them. Events themselves stay unretained, as a stream.
void MqttBridge::publishStates() {
    for (auto it = m_passStates.cbegin(); it != m_passStates.cend(); ++it) {
        Announced& a = m_announced[it.key()];
        a.state = it.value();
        send({a.sensor.stateTopic, a.state, true});
    }
    m_passStates.clear();
}

// Every source's config, then its last state: what Home Assistant needs to show them all.
std::vector<Publication> MqttBridge::announcements() const {
    std::vector<Publication> out;
    for (const Announced& a : m_announced) {
        out.push_back({a.sensor.configTopic, a.sensor.config, true});
        if (!a.state.isEmpty()) {
            out.push_back({a.sensor.stateTopic, a.state, true});
        }
    }
    return out;
}

// Straight on a new connection, ahead of what waits in the spool: what is spooled carries its
// own configs and states, and the newest state, published last, is the one the broker keeps.
Status MqttBridge::announceTo(MqttClient& client) {
    for (const Publication& p : announcements()) {
        if (Status sent = client.publish(p.topic, p.payload, 1, p.retain); !sent) {
            return sent;
        }
    }
    return {};
}

// Home Assistant started: it reads the configs on the broker, which may have lost them since.
// Without a connection there is nothing to do: the next one announces everything anyway.
void MqttBridge::announceAgain() {
    if (!m_drainer || !m_drainer->codec().isOpen()) {
        return;
    }
    for (const Publication& p : announcements()) {
        send(p);
    }
    publishCounts();
}

// A network has a handful of event sources, each sending many events.
QByteArray MqttBridge::eventTopic(const QString& source) {
    if (const auto known = m_eventTopics.constFind(source); known != m_eventTopics.cend()) {
        return known.value();
    }
    if (m_eventTopics.size() >= kTopicsKept) {
        m_eventTopics.clear();
    }
    const QByteArray topic = MqttPayloads::eventTopic(m_settings.topicPrefix, source).toUtf8();
    m_eventTopics.insert(source, topic);
    return topic;
}

// Straight to the broker while it is there and nothing waits in the spool (the spool, written
// through the drainer, keeps the order otherwise). The broker's confirmations are read between
// passes, without waiting for them.
void MqttBridge::send(const Publication& p) {
    PublishCodec& codec = m_drainer->codec();
    if (!codec.isOpen()) {
        spoolUnconfirmed();
    } else if (m_drainer->waiting() == 0) {
        const Status sent = codec.client()->publish(p.topic, p.payload, m_settings.qos, p.retain);
        if (sent) {
            if (m_settings.qos > 0) {
                m_unconfirmed.push_back(p);
            } else {
                ++m_confirmed;
            }
            return;
        }
        if (sent.problem().passes()) {
            spoolUnconfirmed();
        }
    }
    // Spooled behind what waits, or refused (and said so) by the drainer.
    (void)m_drainer->write(p);
}

// Reads the broker's confirmations and lets go of what it confirmed; the rest goes to the spool
// once the connection is gone.
void MqttBridge::confirm() {
    if (MqttClient* client = m_drainer->codec().client(); client != nullptr) {
        client->service();
        while (m_unconfirmed.size() > std::size_t(client->outstanding())) {
            m_unconfirmed.pop_front();
            ++m_confirmed;
        }
    }
    if (!m_drainer->codec().isOpen()) {
        spoolUnconfirmed();
    }
}

void MqttBridge::spoolUnconfirmed() {
    m_resent += m_unconfirmed.size();
    for (const Publication& p : m_unconfirmed) {
        (void)m_drainer->write(p);
    }
    m_unconfirmed.clear();
}

void MqttBridge::service() {
    confirm();
    PublishCodec& codec = m_drainer->codec();
    if (!codec.isOpen() && m_drainer->waiting() == 0 &&
        QDateTime::currentMSecsSinceEpoch() - m_lastAttemptMs >= kIdleRetryMs) {
        (void)codec.reopen();
    }
    publishCounts();
}

void MqttBridge::stop() {
    if (!m_drainer) {
        return;
    }
    pump();
    m_serviceTimer.reset();
    m_gatherTimer.reset();
    if (MqttClient* client = m_drainer->codec().client(); client && client->isConnected()) {
        // A clean goodbye: the broker drops the will, so the status is said here.
        (void)client->publish(MqttPayloads::statusTopic(m_settings.topicPrefix),
                              QByteArrayLiteral("offline"), 1, true);
        client->disconnect();
    }
    // What the broker did not confirm waits in the spool for the next run.
    confirm();
    m_drainer->stop();
    publishCounts();
    m_drainer.reset();
}

void MqttBridge::command(const QByteArray& payload) {
    Result<OutgoingMessage> message = MqttPayloads::command(payload);
    if (!message) {
        refuseCommand(message.problem().description);
        return;
    }
    const QString& className = message.value().className;
    const bool allowed = std::any_of(
        m_settings.commandClasses.begin(), m_settings.commandClasses.end(),
        [&](const QString& c) { return c.compare(className, Qt::CaseInsensitive) == 0; });
    if (!allowed) {
        refuseCommand(QStringLiteral("class ") + className +
                      QStringLiteral(" is not in CommandClasses (") +
                      m_settings.commandClasses.join(u' ') + u')');
        return;
    }
    m_outgoing.send(std::move(message.value()));
    const std::lock_guard hold(m_countsLock);
    ++m_commandsSent;
}

void MqttBridge::refuseCommand(const QString& why) {
    {
        const std::lock_guard hold(m_countsLock);
        ++m_commandsRefused;
    }
    if (m_refusalsSaid.contains(why)) {
        return;
    }
    m_refusalsSaid.insert(why);
    m_reporter.toNetwork(
        ProgramNames::kProgram, kReportType,
        Problem{ErrorKind::Message, QStringLiteral("a command on ") +
                                        MqttPayloads::commandTopic(m_settings.topicPrefix) +
                                        QStringLiteral(" is not sent: ") + why});
}

void MqttBridge::publishCounts() {
    if (!m_drainer) {
        return;
    }
    const DrainTally t = m_drainer->tally();
    quint64 handDropped = 0;
    {
        const std::lock_guard hold(m_handLock);
        handDropped = m_handDropped;
    }
    const std::lock_guard hold(m_countsLock);
    m_counts.connected = m_drainer->codec().isOpen();
    m_counts.published = t.written + t.earlierWritten + m_confirmed;
    m_counts.waiting = quint64(m_drainer->waiting());
    m_counts.republished = m_drainer->codec().republished() + m_resent;
    m_counts.dropped = t.dropped + handDropped;
}

MqttBridge::Counts MqttBridge::counts() const {
    const std::lock_guard hold(m_countsLock);
    Counts c = m_counts;
    c.commandsSent = m_commandsSent;
    c.commandsRefused = m_commandsRefused;
    return c;
}
