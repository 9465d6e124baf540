#pragma once

#include <QObject>
#include <QTimer>
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
};
