#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Home Assistant's MQTT discovery of the logger's event sources: one device for the logger, and
// one sensor of it per source, whose state is the data of the source's last event (cut to what
// Home Assistant keeps of a state) and whose attributes hold the whole event. Each source's last
// event is retained on a state topic of its own, so that a Home Assistant that starts later
// still finds it. Ids are a readable slug and a short hash of the exact text, of the logger and
// of the source: distinct for sources that differ in letter case or beyond ASCII, distinct for
// two loggers on one broker, and the same in every run.
class HomeAssistantDiscovery {
public:
    // The characters of a state Home Assistant takes; a longer one leaves the sensor unknown.
    static constexpr qsizetype kStateLimit = 255;

    struct Logger {
        QString identity;  // unique among the loggers on a broker: the MQTT client id
        QString name;      // the device's name as Home Assistant shows it
        QString availabilityTopic;
    };
    struct Sensor {
        QByteArray configTopic;
        QByteArray stateTopic;  // retained: the source's last event
        QByteArray config;
    };

    explicit HomeAssistantDiscovery(const Logger& logger);

    // Where Home Assistant says "online" when it starts, asking for the configs again.
    static QString birthTopic();
    static bool isBirth(const QByteArray& payload);

    Sensor sensor(const QString& source) const;

    // `text` as an id Home Assistant takes in topics and entity ids ([a-z0-9_]): its letters and
    // digits in lower case, then a hash of the exact text, so that texts that fold alike differ.
    static QString key(const QString& text);

private:
    QString m_loggerKey;
    QJsonObject m_shared;  // availability, device and origin: the same in every config
};
