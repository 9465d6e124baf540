#include "web/MetricsText.h"

#include <algorithm>

namespace {

class Writer {
public:
    void counter(const char* name, const char* help, quint64 value) {
        head(name, help, "counter");
        line(name, QByteArray::number(value));
    }
    void gauge(const char* name, const char* help, qint64 value) {
        head(name, help, "gauge");
        line(name, QByteArray::number(value));
    }
    // A constant 1 whose labels say something about the program.
    void info(const char* name, const char* help, const QByteArray& labels) {
        head(name, help, "gauge");
        line(QByteArray(name) + '{' + labels + '}', "1");
    }
    const QByteArray& text() const { return m_text; }

private:
    void head(const char* name, const char* help, const char* type) {
        m_text +=
            QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void line(const QByteArray& series, const QByteArray& value) {
        m_text += series + ' ' + value + '\n';
    }
    QByteArray m_text;
};

// A label's value: backslash, double quote and line feed escaped.
QByteArray labelValue(const QString& text) {
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return '"' + value + '"';
}

qint64 secondsSince(const QDateTime& then, const QDateTime& startedAt, const QDateTime& now) {
    const QDateTime from = then.isValid() ? then : startedAt;
    return from.isValid() ? std::max<qint64>(from.secsTo(now), 0) : 0;
}

}  // namespace

namespace MetricsText {

QByteArray format(const LoggerStatus& s, const QDateTime& now, int webSessions) {
    const LoggerStatus::Counts& c = s.counts;
    Writer w;
    w.info("quilljot_build_info", "The running logger's version.",
           "version=" + labelValue(s.version));
    w.gauge("quilljot_start_time_seconds", "When the logger started, in seconds since the epoch.",
            s.startedAt.isValid() ? s.startedAt.toSecsSinceEpoch() : 0);
    w.counter("quilljot_received_total", "Datagrams the logger took off its sockets.", c.received);
    w.counter("quilljot_events_written_total", "Events the database took.", c.written);
    w.counter("quilljot_events_rejected_total",
              "Events the database refused for good (kept in the rejected file).", c.rejected);
    w.counter("quilljot_messages_written_total",
              "Messages the rules log, written to the messages table.", c.messagesWritten);
    w.counter("quilljot_not_stored_total",
              "Datagrams received that are not stored: heartbeats, queries, messages no rule "
              "logs.",
              c.other);
    w.counter("quilljot_dropped_total",
              "Datagrams received and lost: a spool was full or could not be written.", c.dropped);
    w.counter("quilljot_dropped_before_receive_total",
              "Datagrams the system dropped before the logger could receive them, its receive "
              "buffer full.",
              c.droppedBeforeReceive);
    w.counter("quilljot_earlier_written_total",
              "Events an earlier run left in the spool, written by this one.", c.earlierWritten);
    w.counter("quilljot_reports_sent_total",
              "Reports the logger made: xAP events, or lines in its text log.", s.reportsSent);
    w.gauge("quilljot_events_spooled", "Events received by this run that wait in the spool.",
            qint64(c.spooled));
    w.gauge("quilljot_spool_events", "Events waiting in the spool, from earlier runs too.",
            s.spoolWaiting);
    w.gauge("quilljot_spool_messages", "Logged messages waiting in their spool.",
            s.messagesWaiting);
    w.gauge("quilljot_receive_queue_items", "Datagrams received and waiting to be written.",
            qint64(c.waiting));
    w.gauge("quilljot_database_open", "1 while the database is open, else 0.",
            s.databaseOpen ? 1 : 0);
    w.gauge("quilljot_event_silence_seconds",
            "Seconds since the last event came, the logger's own reports left out (since the "
            "start while none has).",
            secondsSince(s.lastEvent, s.startedAt, now));
    w.gauge("quilljot_receive_silence_seconds",
            "Seconds since the last datagram arrived (since the start while none has).",
            secondsSince(s.lastReceived, s.startedAt, now));
    w.gauge("quilljot_quiet_sources",
            "Sources of events heard before and silent now for much longer than their usual "
            "spacing.",
            s.quietSources.size());
    w.gauge("quilljot_web_sessions", "Sessions of the web page open now.", webSessions);
    // The bridge's series only where it runs, or ran in this run and was stopped by a reload.
    if (c.mqtt) {
        w.counter("quilljot_mqtt_published_total",
                  "Events and messages the broker took (confirmed at QoS 1, sent at QoS 0).",
                  c.mqttPublished);
        w.gauge("quilljot_mqtt_waiting", "Publications waiting in the bridge's spool.",
                qint64(c.mqttWaiting));
        w.counter("quilljot_mqtt_republished_total",
                  "Publications sent again after a reconnect: the broker may have them twice.",
                  c.mqttRepublished);
        w.counter("quilljot_mqtt_dropped_total",
                  "Publications lost: the bridge's spool was full or the bridge far behind.",
                  c.mqttDropped);
        w.counter("quilljot_mqtt_commands_sent_total",
                  "Commands from MQTT sent on the xAP network.", c.mqttCommandsSent);
        w.counter("quilljot_mqtt_commands_refused_total",
                  "Commands from MQTT refused: a class not allowed or a message not valid.",
                  c.mqttCommandsRefused);
        w.gauge("quilljot_mqtt_connected", "1 while the bridge is connected to its broker, else 0.",
                s.mqttConnected ? 1 : 0);
    }
    return w.text();
}

}  // namespace MetricsText
