#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "logger/LoggerCore.h"
#include "node/MessageReceiver.h"
#include "node/XapNode.h"
#include "support/XapGlobal.h"

class Frontend;

// The program's start-up object: owns the process-wide state, the xAP node and the logger core,
// runs start-up and shutdown in their order, and is the one receiver the node tells that
// messages wait.
class xapQuilljot : public QObject, public MessageReceiver {
    Q_OBJECT

public:
    struct Options {
        StartupPlace place;
        quint16 xapPort = XapNode::kXapPort;
        std::unique_ptr<HostNetwork> network;  // the system's when empty
        // Asked between two messages of a pass: true ends the pass early, so that a shutdown
        // asked for during a long burst is not kept waiting until the queue is empty.
        std::function<bool()> stopRequested;
    };

    // What the program did in its run, taken when the node is released at shutdown.
    struct RunTally {
        quint64 received = 0;     // datagrams the node took off its sockets
        quint64 rowsWritten = 0;  // event rows the database took
        quint64 rowsRefused = 0;  // events whose row was refused
        quint64 other = 0;        // datagrams that were no event to write (heartbeats, queries)
        quint64 dropped = 0;      // still queued at shutdown, dropped unread
    };

    static constexpr int kHeartbeatInterval = 60;
    // Rows of one receive pass committed together at most; bounds what a crash can cost.
    static constexpr int kRowsPerCommit = 2000;

    xapQuilljot(Frontend& frontend, Options options, QObject* parent = nullptr);
    ~xapQuilljot() override;

    // Start-up. False when the node could not start: the program must end (status 1).
    bool Form_Load();
    void onMessage() override;
    void Timer1_timer();
    void Form_unload();
    void SwapIcons();
    // Reads the logging settings again and reopens the database, as closing the setup dialog
    // does; a headless program runs it on SIGHUP.
    void reloadSettings();
    const RunTally& runTally() const { return m_runTally; }

    XapGlobal& global() { return m_g; }
    LoggerCore& logger() { return *m_logger; }
    XapNode* node() { return m_node.get(); }
    int initResult() const { return m_initResult; }
    bool unloaded() const { return m_unloaded; }

    // The signed number text: a blank before a positive number, a minus before a negative one.
    static QString signedNumber(int n);

private:
    Frontend& m_frontend;
    Options m_options;
    XapGlobal m_g;
    std::unique_ptr<XapNode> m_node;
    std::unique_ptr<LoggerCore> m_logger;
    QTimer m_timer1;
    bool m_bBusy = false;
    bool m_alternateIcon = false;
    bool m_unloaded = false;
    int m_initResult = 0;
    RunTally m_runTally;
};
