#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <optional>

#include "report/Result.h"
#include "settings/LoggerSettings.h"
#include "status/LoggerStatus.h"
#include "store/ActivityQuery.h"
#include "store/LogEvent.h"
#include "support/AppFolders.h"

class Reporter;

// What the windows and the web page see of the running logger and may ask of it, and nothing
// more: they never reach the receive path or the writer's database connection. Every method may
// be called from any thread and returns at once; the signals come from the logger's own threads,
// so receivers on other threads get them queued.
class LoggerControl : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The settings in effect, taken at one moment.
    virtual LoggerSettings settings() const = 0;
    virtual const AppFolders& folders() const = 0;
    virtual LoggerStatus status() const = 0;
    virtual QDateTime now() const = 0;
    // The chart of `query` from the counts of about the last day the logger keeps in memory,
    // without reading the database: when they can answer it (by minute, no filter or split,
    // within what they hold). A problem while they are being counted, or could not be.
    virtual std::optional<Result<ActivityChart>> recentActivity(
        const ActivityQuery& query) const = 0;
    // Where the windows and the page report what went wrong (sign-ins, failed saves).
    virtual Reporter& reporter() = 0;

    // Saves a new database choice; the logger opens it in the background (a server that does
    // not answer never holds the caller), and statusChanged() says when it is open. Fails only
    // when the settings could not be saved.
    virtual Status applyDatabaseSettings(const DatabaseSettings& database) = 0;
    // Saves the MQTT bridge's settings; the logger restarts the bridge with them in the
    // background. Fails only when the settings could not be saved.
    virtual Status applyMqttSettings(const MqttSettings& mqtt) = 0;
    virtual Status saveEchoWindowSettings(const EchoWindowSettings& window) = 0;

signals:
    // Events written or spooled, in the order they arrived; a batch at a time, so that a fast
    // network costs one signal per batch.
    void eventsLogged(const QList<LogEvent>& events);
    void settingsReloaded(const LoggerSettings& settings);
    // Something in status() changed; said at most once a second.
    void statusChanged();
};
