#include "support/XapGlobal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <cstdio>

#include "message/TextCodec.h"
#include "support/DateText.h"
#include "support/Failure.h"
#include "support/Hs.h"
#include "support/ItemList.h"
#include "support/PathRules.h"
#include "support/XapSender.h"

namespace {
const QString kProgramName = QStringLiteral("xapzelQuilljot");
}

XapGlobal::XapGlobal()
    : clock([] { return QDateTime::currentDateTime(); }), notice([](const QString& text) {
          std::fprintf(stderr, "quilljot: %s\n", text.toUtf8().constData());
      }) {}

XapGlobal::~XapGlobal() = default;

Hs& XapGlobal::hs() {
    if (!m_hs) {
        throw Failure(ErrorNumber::Settings, QStringLiteral("Settings object not created"));
    }
    return *m_hs;
}

void XapGlobal::releaseHs() {
    m_hs.reset();
}

void XapGlobal::useAppPath(const QString& appPath) {
    AppPath = appPath;
    m_hs = std::make_unique<Hs>(*this);
}

// Steps: 1 computer name, 2 application folder, 3 development location, 4 program path,
// 6 Config and Data folders, 7 UNC to drive form, 8 settings object, 9-10 interface settings,
// 11 computer name again.
void XapGlobal::InitGlobals(const StartupPlace& place) {
    int step = 1;
    try {
        m_hostName = place.hostName;
        ComputerName = LocalComputerName();
        step = 2;
        bool chosen = true;
        QString app = place.appDir;
        if (app.isEmpty()) {
            app = place.homeEnv;
        }
        if (app.isEmpty()) {
            chosen = false;
            app = QFileInfo(place.programFile).absolutePath();
        }
        AppPath = QDir::cleanPath(QDir(app).absolutePath());
        step = 3;
        // A folder the user named explicitly is taken as it is.
        if (!chosen && PathRules::isDevelopmentLocation(AppPath + u'/')) {
            AppPath = PathRules::developmentReplacement(AppPath, ComputerName);
        }
        step = 4;
        ExePath = place.programFile;
        step = 6;
        CreateFolders(PathRules::join(PathRules::join(AppPath, QStringLiteral("Config")),
                                      QStringLiteral("x")));
        // The text log's own folder too, so that a start-up that fails before the logging
        // settings are read still leaves its line.
        CreateFolders(PathRules::join(
            PathRules::join(PathRules::join(AppPath, QStringLiteral("Data")), kProgramName),
            QStringLiteral("x")));
        step = 7;
        ExePath = PathRules::uncToDriveForm(ExePath);
        step = 8;
        m_hs = std::make_unique<Hs>(*this);
        step = 9;
        sInterfaceAddress =
            m_hs->GetINISetting(QStringLiteral("Interface"), QStringLiteral("InterfaceAddress"),
                                QStringLiteral("Default"), QStringLiteral("zelXap.ini"));
        step = 10;
        sBroadcastAddress =
            m_hs->GetINISetting(QStringLiteral("Interface"), QStringLiteral("BroadcastAddress"),
                                QStringLiteral("Default"), QStringLiteral("zelXap.ini"));
        step = 11;
        ComputerName = LocalComputerName();
    } catch (const std::exception& e) {
        setPendingError(e, step);
        WriteErrorLog(kProgramName, QStringLiteral("InitXap"));
    }
}

QString XapGlobal::LocalComputerName() {
    if (m_cachedComputerName.isEmpty()) {
        m_cachedComputerName = m_hostName ? m_hostName() : QSysInfo::machineHostName();
    }
    return m_cachedComputerName;
}

void XapGlobal::CreateFolders(const QString& sPath) {
    for (const QString& folder : PathRules::foldersFor(sPath)) {
        if (QFileInfo(folder).isDir()) {
            m_unmakeableFolders.remove(folder);
            continue;
        }
        if (!QDir().mkdir(folder)) {
            // Start-up and every settings reload ask for the same folders: one report each
            // until the folder can be made.
            if (m_unmakeableFolders.contains(folder)) {
                return;
            }
            m_unmakeableFolders.insert(folder);
            const QString why = QFileInfo(folder).exists()
                                    ? QStringLiteral(" (a file of that name is in the way)")
                                    : QString();
            setPendingError(
                ErrorNumber::FileSystem,
                QStringLiteral("Path/File access error: cannot create folder ") + folder + why, 4);
            SendEventLog(kProgramName, QStringLiteral(" CreateFolders ") + folder);
            return;
        }
    }
}

void XapGlobal::sendOne(const QString& sTarget, const QString& sClass, const QString& sSection,
                        const QString& sData) {
    if (m_sender == nullptr) {
        throw Failure(ErrorNumber::Socket, QStringLiteral("No xAP node to send through"));
    }
    const QString error = m_sender->SendXap(sTarget, sClass, sSection, sData);
    if (!error.isEmpty()) {
        throw Failure(ErrorNumber::Socket, error);
    }
}

// Steps: 1 flush of the queue, 2 the new message, 3 queueing.
void XapGlobal::SendXapQueued(const QString& sTarget, const QString& sClass,
                              const QString& sSection, const QString& sData) {
    int step = 1;
    try {
        if (bXapReady) {
            for (const xapQueuedMessage& q : colPendingXap) {
                sendOne(q.msgTarget(), q.msgClass(), q.msgSection(), q.MsgData());
            }
            colPendingXap.clear();
            step = 2;
            sendOne(sTarget, sClass, sSection, sData);
        } else {
            step = 3;
            xapQueuedMessage q;
            q.setMsgTarget(sTarget);
            q.setMsgClass(sClass);
            q.setMsgSection(sSection);
            q.setMsgData(sData);
            colPendingXap.append(q);
        }
    } catch (const std::exception& e) {
        setPendingError(e, step);
        WriteErrorLog(kProgramName, QStringLiteral("SendXap  ") + sData);
    }
}

QString XapGlobal::textLogPath() const {
    return PathRules::join(
        PathRules::join(PathRules::join(AppPath, QStringLiteral("Data")), kProgramName),
        kProgramName + QStringLiteral(".txt"));
}

void XapGlobal::WriteErrorLog(const QString& sSource, const QString& sText) {
    const PendingError error = takePendingError();
    if (AppPath.isEmpty()) {
        return;
    }
    const QString line = sSource + u' ' + sText + u' ' + QString::number(error.line) + u' ' +
                         error.description + QStringLiteral("\r\n");
    // Append mode creates a missing file but never a missing folder; any failure drops the line.
    // The operator hears of it once, until a line gets through again.
    QFile file(textLogPath());
    const QByteArray bytes = bytesFromText(line);
    // A pipe in its place would block the program on open.
    const QFileInfo info(file.fileName());
    const bool usable = !info.exists() || info.isFile();
    if (usable && file.open(QIODevice::WriteOnly | QIODevice::Append) &&
        file.write(bytes) == bytes.size() && file.flush()) {
        m_textLogProblem.clear();
        return;
    }
    const QString problem = usable ? file.errorString() : QStringLiteral("not a regular file");
    if (problem != m_textLogProblem) {
        m_textLogProblem = problem;
        if (notice) {
            notice(QStringLiteral("cannot write the text log ") + file.fileName() +
                   QStringLiteral(": ") + problem +
                   QStringLiteral("; its lines are lost until it can be written"));
        }
    }
}

void XapGlobal::SendEventLog(const QString& sType, const QString& sText) {
    const PendingError error = takePendingError();
    QString data = sText;
    if (error.isSet()) {
        data += QStringLiteral(" Line ") + QString::number(error.line) + u' ' + error.description;
    }
    const QString body = ItemList::join({
        ItemList::item(QStringLiteral("Time"), DateText::isoText(clock())),
        ItemList::item(QStringLiteral("Type"), sType),
        ItemList::item(QStringLiteral("Data"), data),
    });
    SendXapQueued(QString(), QStringLiteral("Homeseer.Event"), QStringLiteral("Event.Log"), body);
}
