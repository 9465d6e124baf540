#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

#include "message/XapQueuedMessage.h"
#include "support/Reporting.h"

class Hs;
class XapSender;

// Where the program lives and what it is called, as the start-up code learns it.
struct StartupPlace {
    QString appDir;                     // --app-dir; empty when not given
    QString homeEnv;                    // QUILLJOT_HOME; empty when not set
    QString programFile;                // full path of the running program
    std::function<QString()> hostName;  // the computer's name; the system's when empty
};

// The process-wide state of the program's support layer: folders, identity of the host, the
// shared interface settings, the settings object, the outgoing queue, and the two reporting
// channels. One instance per process, created by the program's controller; a test makes its own.
class XapGlobal : public Reporting {
public:
    XapGlobal();
    ~XapGlobal() override;
    XapGlobal(const XapGlobal&) = delete;
    XapGlobal& operator=(const XapGlobal&) = delete;

    QString AppPath;
    QString ExePath;
    QString ComputerName;
    QString sInterfaceAddress;
    QString sBroadcastAddress;
    bool bXapReady = false;
    bool bAppClosing = false;
    bool bEchoHistory = false;
    QList<xapQueuedMessage> colPendingXap;

    void InitGlobals(const StartupPlace& place);
    QString LocalComputerName();
    void CreateFolders(const QString& sPath);
    void SendXapQueued(const QString& sTarget, const QString& sClass, const QString& sSection,
                       const QString& sData);

    // The settings object; exists once InitGlobals has reached its creation (or after useAppPath).
    Hs& hs();
    bool hasHs() const { return m_hs != nullptr; }
    void releaseHs();

    // Sets AppPath and creates the settings object without the rest of the start-up; for tools
    // and tests that work on one application folder.
    void useAppPath(const QString& appPath);

    void setSender(XapSender* sender) { m_sender = sender; }

    QString textLogPath() const;

    // Reporting
    void WriteErrorLog(const QString& sSource, const QString& sText) override;
    void SendEventLog(const QString& sType, const QString& sText) override;

    // The text form of "now" used in event reports.
    std::function<QDateTime()> clock;
    // Where the program says what it cannot report any other way (a text log it cannot write);
    // standard error unless replaced.
    std::function<void(const QString&)> notice;

private:
    void sendOne(const QString& sTarget, const QString& sClass, const QString& sSection,
                 const QString& sData);

    QString m_cachedComputerName;
    std::function<QString()> m_hostName;
    std::unique_ptr<Hs> m_hs;
    XapSender* m_sender = nullptr;
    QString m_textLogProblem;
    QSet<QString> m_unmakeableFolders;
};
