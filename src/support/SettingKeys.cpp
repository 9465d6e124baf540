#include "support/SettingKeys.h"

#include <QList>

#include "support/IniFile.h"

namespace {

constexpr QStringView kLogger = u"Quilljot";
constexpr QStringView kRules = u"Rules";

// clang-format off
constexpr SettingKey kKeys[] = {
    {kLogger, u"Engine", u"", u"The database: file (a SQLite file), sqlserver or postgresql; empty: UseSQL chooses."},
    {kLogger, u"UseSQL", u"False", u"Read only when Engine is empty: True writes to SQL Server, False to the file."},
    {kLogger, u"SQLSource", u"", u"The server of sqlserver and postgresql: host,port[; User ID=name; Password=secret], or the socket folder of a local PostgreSQL."},
    {kLogger, u"Database", u"Data/xapzelQuilljot.mdb", u"The database file (relative to the application folder), or the database's name on the server."},
    {kLogger, u"DatabaseTable", u"tblQuilljot", u"The table the events go into (letters, digits, _); made when missing."},
    {kLogger, u"SpoolLimit", u"256", u"The most MiB of events kept on disk while the database cannot take them."},
    {kLogger, u"WindowHeight", u"5000", u"The echo window's height in twips (1440 to the inch)."},
    {kLogger, u"WindowWidth", u"11000", u"The echo window's width in twips."},
    {kLogger, u"SourceFilter", u"", u"The echo window's history filter on the source (empty: any)."},
    {kLogger, u"CategoryFilter", u"", u"The echo window's history filter on the event type (empty: any)."},
    {kLogger, u"DataFilter", u"", u"The echo window's history filter on the event's text (empty: any)."},
    {kLogger, u"KeepDays", u"0", u"Days of events kept in DatabaseTable; older ones are deleted at start and hourly (0: keep all)."},
    {kLogger, u"MessagesTable", u"tblQuilljotMessages", u"The table the messages the rules log go into (letters, digits, _); made when missing."},
    {kLogger, u"MessagesKeepDays", u"0", u"Days of messages kept in MessagesTable (0: keep all)."},
    {kRules, u"Include1", u"", u"Other xAP messages to log into MessagesTable: class [source [target]], xAP wildcards * and >, e.g. xAPBSC.> acme.lights.>; Include2, ... for more."},
    {kRules, u"Exclude1", u"", u"Messages never logged, controller events too, in the same form; an exclude wins over an include. Exclude2, ... for more."},
    {kRules, u"ExcludeOwnReports", u"False", u"True keeps the logger's own reports out of DatabaseTable."},
    {kLogger, u"WebPort", u"0", u"The web page's TCP port (quilljot --web PORT for one run); 0: no web page."},
    {kLogger, u"WebBind", u"127.0.0.1", u"The address the web page listens on; any but loopback needs a password (quilljot --set-web-password)."},
    {kLogger, u"WebPasswordHash", u"", u"Written by quilljot --set-web-password: a salted hash of the web page's password, never the password."},
};
// clang-format on

}  // namespace

namespace SettingKeys {

std::span<const SettingKey> all() {
    return kKeys;
}

QString initial(QStringView section, QStringView name) {
    for (const SettingKey& k : kKeys) {
        if (k.section.compare(section, Qt::CaseInsensitive) == 0 &&
            k.name.compare(name, Qt::CaseInsensitive) == 0) {
            return k.initial.toString();
        }
    }
    return {};
}

QString firstFileText() {
    const QString end = IniFile::kPlatformLineEnd.toString();
    QString text =
        u"; Settings of the Quilljot xAP event logger, read at start and on reload (SIGHUP)."_qs +
        end +
        u"; Lines starting with ; or # are comments; blanks around = do not count. The program"_qs +
        end + u"; keeps comments, the order and keys it does not know when it saves this file."_qs +
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
                text += u"; "_qs + k.comment + end + k.name + u'=' + k.initial + end;
            }
        }
    }
    return text;
}

}  // namespace SettingKeys
