#include "logger/db/ConnectionString.h"

#include <QStringList>

ConnectionString ConnectionString::parse(const QString& text) {
    ConnectionString cs;
    for (const QString& part : text.split(u';')) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0) {
            continue;
        }
        const QString key = part.left(eq).trimmed().toLower();
        const QString value = part.mid(eq + 1).trimmed();
        if (key == u"provider") {
            cs.providerName = value;
            if (value.compare(u"Microsoft.Jet.OLEDB.4.0", Qt::CaseInsensitive) == 0) {
                cs.provider = Provider::FileDatabase;
            } else if (value.compare(u"sqloledb", Qt::CaseInsensitive) == 0) {
                cs.provider = Provider::SqlServer;
            }
        } else if (key == u"data source") {
            cs.dataSource = value;
        } else if (key == u"initial catalog") {
            cs.initialCatalog = value;
        } else if (key == u"user id") {
            cs.userId = value;
        } else if (key == u"password") {
            cs.password = value;
        } else if (key == u"integrated security") {
            cs.integratedSecurity = value.compare(u"SSPI", Qt::CaseInsensitive) == 0 ||
                                    value.compare(u"true", Qt::CaseInsensitive) == 0;
        }
    }
    return cs;
}

QString ConnectionString::toOdbc(const QString& driver) const {
    QString server = dataSource;
    QString port;
    // FreeTDS mishandles "host,port" inside SERVER; the port goes into a key of its own.
    if (const qsizetype comma = server.indexOf(u','); comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    }
    QString out = QStringLiteral("DRIVER={") + driver + QStringLiteral("};SERVER=") + server + u';';
    if (!port.isEmpty()) {
        out += QStringLiteral("PORT=") + port + u';';
    }
    if (!initialCatalog.isEmpty()) {
        out += QStringLiteral("DATABASE=") + initialCatalog + u';';
    }
    if (!userId.isEmpty()) {
        out += QStringLiteral("UID=") + userId + QStringLiteral(";PWD=") + password + u';';
    } else if (integratedSecurity) {
        out += QStringLiteral("Trusted_Connection=Yes;");
    }
    out += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
    return out;
}

QString ConnectionString::redact(const QString& text) const {
    if (password.isEmpty()) {
        return text;
    }
    return QString(text).replace(password, QStringLiteral("********"));
}
