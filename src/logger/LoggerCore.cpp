#include "logger/LoggerCore.h"

#include <QFileInfo>
#include <QSet>

#include "logger/SqlTexts.h"
#include "message/XapMessage.h"
#include "support/DateText.h"
#include "support/Failure.h"
#include "support/Hs.h"
#include "support/ItemList.h"
#include "support/PathRules.h"
#include "support/XapGlobal.h"

namespace {
const QString kProgramName = QStringLiteral("xapzelQuilljot");
const QString kIniFile = QStringLiteral("zelXapQuilljot.ini");
const QString kGroup = QStringLiteral("Quilljot");
}  // namespace

LoggerCore::LoggerCore(XapGlobal& global, QObject* parent) : QObject(parent), m_g(global) {}

LoggerCore::~LoggerCore() = default;

QString LoggerCore::fileDatabasePrefix() {
    return QStringLiteral("Provider = Microsoft.Jet.OLEDB.4.0; Data Source=");
}

QString LoggerCore::sqlServerPrefix(const QString& sqlSource) {
    return QStringLiteral("Provider = sqloledb; Integrated Security=SSPI; Data Source =") +
           sqlSource + QStringLiteral("; Initial Catalog=");
}

bool LoggerCore::readBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(u"true", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (t.compare(u"false", Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (!ok) {
        throw Failure(ErrorNumber::Settings,
                      QStringLiteral("Type mismatch: '") + text +
                          QStringLiteral("' is not True, False or a number"));
    }
    return n != 0;
}

// Steps as numbered below; a failing step is reported and the next one runs.
void LoggerCore::InitXap() {
    // A settings file that cannot be read fails every read of it the same way: said once a run.
    QSet<QString> reported;
    auto attempt = [this, &reported](int step, auto&& work) {
        try {
            work();
        } catch (const std::exception& e) {
            const QString what = QString::fromUtf8(e.what());
            if (reported.contains(what)) {
                return;
            }
            reported.insert(what);
            m_g.setPendingError(e, step);
            m_g.SendEventLog(kProgramName, QStringLiteral("InitXap "));
        }
    };
    const QString dataFolder = PathRules::join(m_g.AppPath, QStringLiteral("Data"));
    attempt(1, [&] {
        bUseSQL = readBoolean(m_g.hs().GetINISetting(kGroup, QStringLiteral("UseSQL"),
                                                     QStringLiteral("0"), kIniFile));
    });
    attempt(2, [&] {
        sSQLSource =
            m_g.hs().GetINISetting(kGroup, QStringLiteral("SQLSource"), QString(), kIniFile);
    });
    attempt(3, [&] {
        const QString database = m_g.hs().GetINISetting(
            kGroup, QStringLiteral("Database"),
            PathRules::join(dataFolder, kProgramName + QStringLiteral(".mdb")), kIniFile);
        // A catalog name goes into CREATE DATABASE and the connection string as it is.
        if (bUseSQL && !SqlTexts::isPlainName(database)) {
            throw Failure(ErrorNumber::Settings,
                          QStringLiteral("Database must be a plain SQL Server catalog name "
                                         "(letters, digits, _), not '") +
                              database + u'\'');
        }
        sDatabase = database;
    });
    attempt(4, [&] {
        const QString table = m_g.hs().GetINISetting(kGroup, QStringLiteral("DatabaseTable"),
                                                     QStringLiteral("tblQuilljot"), kIniFile);
        // The table name stands in every statement as it is.
        if (!SqlTexts::isPlainName(table)) {
            throw Failure(ErrorNumber::Settings,
                          QStringLiteral("DatabaseTable must be a plain name (letters, digits, "
                                         "_), not '") +
                              table + u'\'');
        }
        sDatabaseTable = table;
    });
    m_g.bEchoHistory = false;
    attempt(6, [&] {
        if (sDatabase.contains(u'.')) {
            m_g.CreateFolders(sDatabase);
        }
    });
    attempt(7, [&] {
        m_g.CreateFolders(
            PathRules::join(PathRules::join(dataFolder, kProgramName), QStringLiteral("x")));
    });
    if (bUseSQL) {
        sDateDelimiter = QStringLiteral("'");
        sWildcard = QStringLiteral("%");
        sConnectPrefix = sqlServerPrefix(sSQLSource);
    } else {
        sDateDelimiter = QStringLiteral("#");
        sWildcard = QStringLiteral("%");
        sConnectPrefix = fileDatabasePrefix();
    }
    m_connection.reset();  // the earlier connection is closed with it
    m_connection = std::make_unique<DbConnection>();
    attempt(10, [&] { OpenDatabase(); });
}

void LoggerCore::OpenDatabase() {
    CreateDatabase();
    m_connection->Open(sConnectPrefix + sDatabase);
    CreateMovementTable(sDatabaseTable);
}

// Steps: 2 test open of the catalog, 3 creating it, 4 creating the database file.
void LoggerCore::CreateDatabase() {
    if (sDatabase.isEmpty() || sDatabaseTable.isEmpty()) {
        return;
    }
    int step = 2;
    try {
        if (bUseSQL) {
            bool exists = true;
            try {
                DbConnection probe;
                probe.Open(sConnectPrefix + sDatabase);
            } catch (const std::exception&) {
                exists = false;
            }
            if (!exists) {
                step = 3;
                // A connection to the instance that does not name the missing catalog.
                DbConnection server;
                server.Open(sConnectPrefix + QStringLiteral("master"));
                server.execute(SqlTexts::createDatabase(sDatabase));
            }
        } else if (!QFileInfo::exists(sDatabase)) {
            step = 4;
            Catalog::Create(sConnectPrefix + sDatabase);
        }
    } catch (const std::exception& e) {
        m_g.setPendingError(e, step);
        m_g.SendEventLog(kProgramName, QStringLiteral("CreateDatabase "));
    }
}

// Every step runs with failures ignored: a step that fails is skipped without a report.
void LoggerCore::CreateMovementTable(const QString& sTable) {
    const QString connectionString = sConnectPrefix + sDatabase;
    try {
        for (const QString& name : Catalog::Tables(connectionString)) {
            if (name.toUpper() == sTable.toUpper()) {
                return;
            }
        }
    } catch (const std::exception&) {
    }
    if (bUseSQL) {
        DbConnection c;
        try {
            c.Open(connectionString);
        } catch (const std::exception&) {
        }
        try {
            c.execute(SqlTexts::createTable(sTable));
        } catch (const std::exception&) {
        }
        try {
            c.execute(SqlTexts::addPrimaryKey(sTable));
        } catch (const std::exception&) {
        }
    } else {
        try {
            Catalog::AppendLogTable(connectionString, sTable);
        } catch (const std::exception&) {
        }
    }
    m_g.clearPendingError();
}

QString LoggerCore::StdTime(const QString& sTime) {
    try {
        const auto read = DateText::normalize(sTime);
        QString result = read ? *read : DateText::isoText(m_g.clock());
        // A value at exactly midnight is written as the date alone.
        if (result.endsWith(u" 00:00:00")) {
            result.truncate(10);
        }
        return result;
    } catch (const std::exception& e) {
        m_g.setPendingError(e, 1);
        m_g.SendEventLog(kProgramName, QStringLiteral("StdTime "));
        return QString();
    }
}

// Steps: 1 parsing, 2 reading the event, 3 building the row, 4 writing it, 5 the echo line,
// 6 the echo reply, 7 the role reply.
void LoggerCore::Readmessage(const QString& sRaw) {
    int step = 1;
    QString source;
    ++m_tally.messages;
    try {
        XapMessage m(m_g);
        m.FromXap(sRaw);
        source = m.msgSource();
        if (m.CompareClass(QStringLiteral("Homeseer.Event"))) {
            step = 2;
            const QString t = m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Time"));
            if (t == u"Unknown") {
                return;
            }
            const QString ty = m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Type"));
            const QString d = m.GetItem(QStringLiteral("Event.Log"), QStringLiteral("Data"));
            step = 3;
            const QString sql = SqlTexts::insertEvent(bUseSQL, sDatabaseTable, sDateDelimiter,
                                                      StdTime(t), source, ty, d);
            step = 4;
            if (!m_connection) {
                throw Failure(ErrorNumber::Database,
                              QStringLiteral("Operation is not allowed when the object is closed"));
            }
            m_connection->execute(sql);
            ++m_tally.rowsWritten;
            step = 5;
            emit echo(source, t, ty, d);
            return;
        }
        const bool addressed =
            m.CompareTarget(m_ownSource) || m.CompareTarget(QStringLiteral("Unknown"));
        if (m.CompareClass(QStringLiteral("VOZ.Echo"))) {
            step = 6;
            if (!addressed) {
                return;
            }
            const QString q = m.GetItem(QStringLiteral("Echo.Query"), QStringLiteral("Query"));
            if (q == u"Unknown") {
                return;
            }
            m_g.SendXapQueued(source, QStringLiteral("VOZ.Echo"), QStringLiteral("Echo.Response"),
                              ItemList::item(QStringLiteral("Response"), q.toLower()));
        } else if (m.CompareClass(QStringLiteral("Homeseer.Role"))) {
            step = 7;
            if (!addressed) {
                return;
            }
            const QString r =
                m.GetItem(QStringLiteral("Role.Query"), QStringLiteral("Role")).toLower();
            if (r != u"application" && r != u"any") {
                return;
            }
            m_g.SendXapQueued(
                QString(), QStringLiteral("Homeseer.Role"), QStringLiteral("Role.Notification"),
                ItemList::join({
                    ItemList::item(QStringLiteral("Role"), QStringLiteral("Application")),
                    ItemList::item(QStringLiteral("Path"), m_g.ExePath),
                    ItemList::item(QStringLiteral("Form"), QStringLiteral("SetupForm")),
                }));
        }
    } catch (const std::exception& e) {
        if (step == 3 || step == 4) {
            ++m_tally.rowsRefused;
        }
        // Our own reports come back through the hub; reporting their failed write again would
        // feed the failure to itself for as long as the database stays unreachable.
        if (!m_ownSource.isEmpty() && source.compare(m_ownSource, Qt::CaseInsensitive) == 0) {
            m_g.clearPendingError();
            return;
        }
        m_g.setPendingError(e, step);
        m_g.SendEventLog(kProgramName, QStringLiteral("Readmessage"));
    }
}
