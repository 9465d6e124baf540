#include "settings/SettingKeys.h"

#include <arpa/inet.h>
#include <QList>
#include <QRegularExpression>
#include <algorithm>

#include "settings/IniFile.h"
#include "settings/LoggerSettings.h"
#include "settings/RuleSettings.h"

namespace {

constexpr QStringView kLogger = u"Quilljot";
constexpr QStringView kRules = u"Rules";
constexpr QStringView kMqtt = u"Mqtt";

// clang-format off
constexpr SettingKey kKeys[] = {
    {Setting::Engine, kLogger, u"Engine", u"", SettingValue::Engine, u"The database: file (a SQLite file), sqlserver or postgresql; empty: UseSQL chooses."},
    {Setting::UseSql, kLogger, u"UseSQL", u"False", SettingValue::Boolean, u"Read only when Engine is empty: True writes to SQL Server, False to the file."},
    {Setting::SqlSource, kLogger, u"SQLSource", u"", SettingValue::Text, u"The server of sqlserver and postgresql: host,port[; User ID=name; Password=secret], or the socket folder of a local PostgreSQL."},
    {Setting::Database, kLogger, u"Database", u"Data/xapzelQuilljot.mdb", SettingValue::Text, u"The database file (relative to the application folder), or the database's name on the server."},
    {Setting::DatabaseTable, kLogger, u"DatabaseTable", u"tblQuilljot", SettingValue::PlainName, u"The table the events go into (letters, digits, _); made when missing."},
    {Setting::SpoolLimit, kLogger, u"SpoolLimit", u"256", SettingValue::MiB, u"The most MiB of events kept on disk while the database cannot take them."},
    {Setting::WindowHeight, kLogger, u"WindowHeight", u"5000", SettingValue::Twips, u"The echo window's height in twips (1440 to the inch)."},
    {Setting::WindowWidth, kLogger, u"WindowWidth", u"11000", SettingValue::Twips, u"The echo window's width in twips."},
    {Setting::SourceFilter, kLogger, u"SourceFilter", u"", SettingValue::Text, u"The echo window's history filter on the source (empty: any)."},
    {Setting::CategoryFilter, kLogger, u"CategoryFilter", u"", SettingValue::Text, u"The echo window's history filter on the event type (empty: any)."},
    {Setting::DataFilter, kLogger, u"DataFilter", u"", SettingValue::Text, u"The echo window's history filter on the event's text (empty: any)."},
    {Setting::KeepDays, kLogger, u"KeepDays", u"0", SettingValue::Days, u"Days of events kept in DatabaseTable; older ones are deleted at start and hourly (0: keep all)."},
    {Setting::MessagesTable, kLogger, u"MessagesTable", u"tblQuilljotMessages", SettingValue::PlainName, u"The table the messages the rules log go into (letters, digits, _); made when missing."},
    {Setting::SearchIndex, kLogger, u"SearchIndex", u"True", SettingValue::Boolean, u"True keeps a text index of the events' Data (file and postgresql), so that a Data filter of 3 or more characters answers at once; False drops it, for a disk short of room (about 65 MB per million events in a file, 225 MB on PostgreSQL)."},
    {Setting::MessagesKeepDays, kLogger, u"MessagesKeepDays", u"0", SettingValue::Days, u"Days of messages kept in MessagesTable (0: keep all)."},
    {Setting::Include, kRules, u"Include", u"", SettingValue::Rule, u"Other xAP messages to log into MessagesTable: class [source [target]], xAP wildcards * and >, e.g. xAPBSC.> acme.lights.>; Include2, ... for more."},
    {Setting::Exclude, kRules, u"Exclude", u"", SettingValue::Rule, u"Messages never logged, controller events too, in the same form; an exclude wins over an include. Exclude2, ... for more."},
    {Setting::ExcludeOwnReports, kRules, u"ExcludeOwnReports", u"False", SettingValue::Boolean, u"True keeps the logger's own reports out of DatabaseTable."},
    {Setting::WebPort, kLogger, u"WebPort", u"0", SettingValue::Port, u"The web page's TCP port (quilljot --web PORT for one run); 0: no web page."},
    {Setting::WebBind, kLogger, u"WebBind", u"127.0.0.1", SettingValue::Address, u"The address the web page listens on; any but loopback needs a password (quilljot --set-web-password)."},
    {Setting::WebPasswordHash, kLogger, u"WebPasswordHash", u"", SettingValue::Text, u"Written by quilljot --set-web-password: a salted hash of the web page's password, never the password."},
    {Setting::WebCertFile, kLogger, u"WebCertFile", u"", SettingValue::Text, u"A PEM certificate (chain) the web page is served with over HTTPS, made for instance by quilljot --make-web-certificate; empty: plain HTTP."},
    {Setting::WebKeyFile, kLogger, u"WebKeyFile", u"", SettingValue::Text, u"The PEM private key of WebCertFile."},
    {Setting::WebHostNames, kLogger, u"WebHostNames", u"", SettingValue::Text, u"More names the web page is opened under (a DNS name, a proxy's), apart by blanks; the bound address and this computer's name are taken anyway."},
    {Setting::WebTrustedProxies, kLogger, u"WebTrustedProxies", u"", SettingValue::Addresses, u"Addresses of reverse proxies in front of the web page whose X-Forwarded-For and X-Forwarded-Proto are believed; nobody else's are."},
    {Setting::MqttHost, kMqtt, u"Host", u"", SettingValue::Text, u"The MQTT broker the events are published to (a name or an address); empty: no MQTT bridge."},
    {Setting::MqttPort, kMqtt, u"Port", u"1883", SettingValue::Port, u"The broker's TCP port (8883 is usual with TLS)."},
    {Setting::MqttClientId, kMqtt, u"ClientId", u"", SettingValue::Text, u"The client id the bridge connects with; empty: quilljot- and the computer's name."},
    {Setting::MqttUsername, kMqtt, u"Username", u"", SettingValue::Text, u"The user name the broker asks for; empty: none."},
    {Setting::MqttPassword, kMqtt, u"Password", u"", SettingValue::Text, u"That user's password; never written to a log or shown."},
    {Setting::MqttCaFile, kMqtt, u"CaFile", u"", SettingValue::Text, u"A PEM file of the CA that signed the broker's certificate: set, the bridge speaks TLS and checks the broker by it."},
    {Setting::MqttCertFile, kMqtt, u"CertFile", u"", SettingValue::Text, u"With TLS, a PEM client certificate the broker asks for; empty: none."},
    {Setting::MqttKeyFile, kMqtt, u"KeyFile", u"", SettingValue::Text, u"The client certificate's PEM key file."},
    {Setting::MqttTopicPrefix, kMqtt, u"TopicPrefix", u"xap", SettingValue::Topic, u"The first levels of every topic the bridge publishes to and listens on."},
    {Setting::MqttQos, kMqtt, u"Qos", u"1", SettingValue::Qos, u"0: each message sent once; 1: sent until the broker confirms it (at least once)."},
    {Setting::MqttDiscovery, kMqtt, u"Discovery", u"False", SettingValue::Boolean, u"True announces a Home Assistant sensor for each event source seen."},
    {Setting::MqttCommands, kMqtt, u"Commands", u"False", SettingValue::Boolean, u"True sends the messages published to <TopicPrefix>/send on the xAP network, for the classes CommandClasses lists."},
    {Setting::MqttCommandClasses, kMqtt, u"CommandClasses", u"xAPBSC.cmd", SettingValue::Text, u"The classes a message on <TopicPrefix>/send may have, separated by blanks or commas."},
};
// clang-format on

}  // namespace

namespace {

QString keyName(const SettingKey& k, int number) {
    return number > 0 ? k.name + QString::number(number) : k.name.toString();
}

bool isWholeNumber(const QString& text, qint64 least, qint64 most) {
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    return ok && n >= least && n <= most;
}

bool isAddress(const QString& text) {
    const QByteArray a = text.trimmed().toLatin1();
    in6_addr out{};
    return inet_pton(AF_INET, a.constData(), &out) == 1 ||
           inet_pton(AF_INET6, a.constData(), &out) == 1;
}

// What a value of the kind must be, or nothing when every value is one.
std::optional<QString> rule(SettingValue kind, const QString& v) {
    switch (kind) {
        case SettingValue::Text:
        case SettingValue::Twips:
            return std::nullopt;
        case SettingValue::Engine:
            if (v.trimmed().isEmpty() || SettingRules::engineNamed(v)) {
                return std::nullopt;
            }
            return QStringLiteral("file, sqlserver or postgresql");
        case SettingValue::Boolean:
            if (SettingRules::readBoolean(v)) {
                return std::nullopt;
            }
            return QStringLiteral("True or False (or a number)");
        case SettingValue::PlainName:
            if (SettingRules::isPlainName(v)) {
                return std::nullopt;
            }
            return QStringLiteral("a plain name (letters, digits, _)");
        case SettingValue::Days:
            if (isWholeNumber(v, 0, 1000000)) {
                return std::nullopt;
            }
            return QStringLiteral("a number of days, 0 or more");
        case SettingValue::MiB:
            if (isWholeNumber(v, 1, 1 << 20)) {
                return std::nullopt;
            }
            return QStringLiteral("a number of MiB above 0");
        case SettingValue::Port:
            if (isWholeNumber(v, 0, 65535)) {
                return std::nullopt;
            }
            return QStringLiteral("a TCP port from 0 (off) to 65535");
        case SettingValue::Address:
            if (isAddress(v)) {
                return std::nullopt;
            }
            return QStringLiteral("an IP address");
        case SettingValue::Addresses:
            if (std::ranges::all_of(SettingKeys::splitList(v), isAddress)) {
                return std::nullopt;
            }
            return QStringLiteral("IP addresses apart by blanks or commas");
        case SettingValue::Rule:
            if (v.trimmed().isEmpty() || RuleSettings::parseRule(v)) {
                return std::nullopt;
            }
            return QStringLiteral("\"class [source [target]]\"");
        case SettingValue::Qos:
            if (isWholeNumber(v, 0, 1)) {
                return std::nullopt;
            }
            return QStringLiteral("0 or 1");
        case SettingValue::Topic:
            if (!v.contains(u'+') && !v.contains(u'#')) {
                return std::nullopt;
            }
            return QStringLiteral("a topic without wildcards (+, #)");
    }
    return std::nullopt;
}

}  // namespace

namespace SettingKeys {

QStringList splitList(const QString& value) {
    return value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
}

std::span<const SettingKey> all() {
    return kKeys;
}

const SettingKey& of(Setting id) {
    return *std::find_if(std::begin(kKeys), std::end(kKeys),
                         [id](const SettingKey& k) { return k.id == id; });
}

QString name(Setting id) {
    return of(id).name.toString();
}

QString initial(Setting id) {
    return of(id).initial.toString();
}

int initialNumber(Setting id) {
    return of(id).initial.toInt();
}

QString read(const IniFile& ini, Setting id, int number) {
    const SettingKey& k = of(id);
    return ini.read(k.section.toString(), keyName(k, number), k.initial.toString());
}

void write(IniFile& ini, Setting id, const QString& value, int number) {
    const SettingKey& k = of(id);
    ini.write(k.section.toString(), keyName(k, number), value);
}

void remove(IniFile& ini, Setting id, int number) {
    const SettingKey& k = of(id);
    ini.remove(k.section.toString(), keyName(k, number));
}

QList<std::pair<int, QString>> numbered(const IniFile& ini, Setting id) {
    const SettingKey& k = of(id);
    const QString section = k.section.toString();
    QList<std::pair<int, QString>> found;
    for (const QString& key : ini.keys(section)) {
        if (key.size() <= k.name.size() || !key.startsWith(k.name, Qt::CaseInsensitive)) {
            continue;
        }
        const QStringView digits = QStringView(key).sliced(k.name.size());
        if (std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); })) {
            found.append({digits.toInt(), ini.read(section, key, QString())});
        }
    }
    return found;
}

std::optional<QString> wrongValue(Setting id, const QString& value, int number) {
    const SettingKey& k = of(id);
    if (const auto must = rule(k.value, value)) {
        return keyName(k, number) + QStringLiteral(" must be ") + *must +
               QStringLiteral(", not '") + value + u'\'';
    }
    return std::nullopt;
}

QString firstFileText() {
    const QString end = IniFile::kPlatformLineEnd.toString();
    QString text =
        QStringLiteral(
            "; Settings of the Quilljot xAP event logger, read at start and on reload (SIGHUP).") +
        end +
        QStringLiteral(
            "; Lines starting with ; or # are comments; blanks around = do not count. The "
            "program") +
        end +
        QStringLiteral(
            "; keeps comments, the order and keys it does not know when it saves this file.") +
        end;
    // Each section once, with all its keys, wherever the table lists them.
    QList<QStringView> sections;
    for (const SettingKey& k : kKeys) {
        if (!sections.contains(k.section)) {
            sections.append(k.section);
        }
    }
    for (const QStringView section : sections) {
        text += end + u'[' + section + u']' + end;
        for (const SettingKey& k : kKeys) {
            if (k.section == section) {
                const int number = k.value == SettingValue::Rule ? 1 : 0;
                text += QStringLiteral("; ") + k.comment + end + keyName(k, number) + u'=' +
                        k.initial + end;
            }
        }
    }
    return text;
}

}  // namespace SettingKeys
