#pragma once

#include <QString>
#include <optional>

#include "report/Result.h"
#include "settings/MqttSettings.h"
#include "settings/SettingKeys.h"

// Which database the logger writes to. For the file database `database` is the file's path; for
// a database server (SQL Server, PostgreSQL) it is the database on the server that `sqlSource`
// names ("host,port", optionally followed by "; User ID=name; Password=secret").
enum class DatabaseKind { File, SqlServer, PostgreSql };

struct DatabaseSettings {
    DatabaseKind kind = DatabaseKind::File;
    QString sqlSource;
    QString database;
    QString table;
    // The table of the other xAP messages that rules choose to log.
    QString messagesTable = SettingKeys::initial(Setting::MessagesTable);
    // Whether the logger keeps a text index of the events' data where the engine has one (and
    // drops it where it is off).
    bool searchIndex = SettingKeys::initial(Setting::SearchIndex) == u"True";

    bool operator==(const DatabaseSettings&) const = default;
};

// What the echo window keeps between runs: its size in twips (1/1440 inch) and its filters.
struct EchoWindowSettings {
    int heightTwips = SettingKeys::initialNumber(Setting::WindowHeight);
    int widthTwips = SettingKeys::initialNumber(Setting::WindowWidth);
    QString sourceFilter;
    QString typeFilter;
    QString dataFilter;

    bool operator==(const EchoWindowSettings&) const = default;
};

// The logger's settings, section "Quilljot" of Config/zelXapQuilljot.ini.
struct LoggerSettings {
    DatabaseSettings database;
    EchoWindowSettings echoWindow;
    // The most the spool may hold, in MiB, while the database cannot take events.
    int spoolLimitMiB = SettingKeys::initialNumber(Setting::SpoolLimit);
    MqttSettings mqtt;

    bool operator==(const LoggerSettings&) const = default;
};

// The settings shared by the xAP applications of the host, section "Interface" of
// Config/zelXap.ini: which of the host's addresses to send from ("Default": the first), and where
// to send ("Default": 255.255.255.255).
struct NetworkSettings {
    QString interfaceAddress = QStringLiteral("Default");
    QString broadcastAddress = QStringLiteral("Default");
};

namespace SettingRules {

// A name that can stand in a statement as it is: a letter or "_", then letters, digits and "_",
// at most 128 characters. Table names and the database names of servers must be plain.
bool isPlainName(const QString& name);

// The settings' name of an engine ("file", "sqlserver", "postgresql"), and the engine a name
// stands for, in any letter case.
QString engineName(DatabaseKind kind);
std::optional<DatabaseKind> engineNamed(const QString& name);

// The one check of where the events go, for the settings file, the setup dialog and the web page:
// a database named, a server's database by a plain name (checkCatalog), and a plain table name.
Status checkCatalog(const DatabaseSettings& database);
Status checkDatabase(const DatabaseSettings& database);

// "0" and "False" are false; "True" and any other number true; anything else is no boolean.
std::optional<bool> readBoolean(const QString& text);

}  // namespace SettingRules
