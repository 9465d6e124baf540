#include "logger/xapQuilljot.h"

#include "logger/Frontend.h"
#include "support/Hs.h"

namespace {
const QString kProgramName = QStringLiteral("xapzelQuilljot");
}

xapQuilljot::xapQuilljot(Frontend& frontend, Options options, QObject* parent)
    : QObject(parent), m_frontend(frontend), m_options(std::move(options)) {
    m_logger = std::make_unique<LoggerCore>(m_g);
    m_timer1.setInterval(0);
    connect(&m_timer1, &QTimer::timeout, this, &xapQuilljot::Timer1_timer);
}

xapQuilljot::~xapQuilljot() {
    if (!m_unloaded) {
        Form_unload();
    }
}

QString xapQuilljot::signedNumber(int n) {
    return n < 0 ? QString::number(n) : u' ' + QString::number(n);
}

// Steps: 2 globals, 3 the node, 4 identity, 5 binding, 6 first heartbeat and report,
// 8 logging settings and database, 9 echo window, 11-12 tray icon.
bool xapQuilljot::Form_Load() {
    m_g.bXapReady = false;
    m_g.bAppClosing = false;
    m_bBusy = false;
    int step = 2;
    try {
        m_g.InitGlobals(m_options.place);
        step = 3;
        auto network = m_options.network ? std::move(m_options.network)
                                         : std::make_unique<SystemHostNetwork>();
        m_node = std::make_unique<XapNode>(m_g, std::move(network), m_options.xapPort);
        m_node->RegisterNewMessageCallback(this);
        m_g.setSender(m_node.get());
        step = 4;
        m_node->setXapSource(QStringLiteral("zel.Quilljot.") + m_g.ComputerName);
        m_node->setXapUID(QStringLiteral("FF.000A:00"));
        m_node->setBroadcastAddress(m_g.sBroadcastAddress);
        m_node->setInterfaceAddress(m_g.sInterfaceAddress);
        m_logger->setOwnSource(m_node->XapSource());
        step = 5;
        m_initResult = m_node->Init();
        if (m_initResult > 0) {
            step = 6;
            m_node->SendHeartbeat(kHeartbeatInterval);
            m_g.bXapReady = true;
            m_g.SendEventLog(kProgramName,
                             QStringLiteral("Using xAP port ") + signedNumber(m_initResult));
        } else {
            m_g.WriteErrorLog(kProgramName, QStringLiteral("xAP Init Error ") +
                                                signedNumber(m_initResult) +
                                                QStringLiteral(" occurred"));
            m_unloaded = true;  // the program ends here: no shutdown step runs
            return false;
        }
        step = 8;
        m_logger->InitXap();
        step = 9;
        m_frontend.loadEchoWindow();
        step = 11;
        Timer1_timer();
    } catch (const std::exception& e) {
        m_g.setPendingError(e, step);
        m_g.WriteErrorLog(kProgramName, QStringLiteral("Main Load"));
    }
    return true;
}

void xapQuilljot::onMessage() {
    const auto& stop = m_options.stopRequested;
    if (m_bBusy || !m_node || (stop && stop())) {
        return;
    }
    m_bBusy = true;
    int step = 3;
    try {
        DbConnection* db = m_logger->dbConnection();
        auto begin = [db] {
            if (db != nullptr) {
                db->beginBatch();
            }
        };
        auto end = [db] {
            if (db != nullptr) {
                db->endBatch();
            }
        };
        begin();
        int handled = 0;
        while (!stop || !stop()) {
            QString s = m_node->GetMessage();
            if (s.isEmpty()) {
                // Whatever arrived during the pass is taken by the same pass.
                m_node->drainSockets();
                s = m_node->GetMessage();
                if (s.isEmpty()) {
                    break;
                }
            }
            m_logger->Readmessage(s);
            // Datagrams keep arriving during a long pass; taking them off the socket here keeps
            // the system from dropping them, and committing in steps bounds a crash's loss.
            if (++handled % kRowsPerCommit == 0) {
                end();
                begin();
            }
            if (handled % 256 == 0) {
                m_node->drainSockets();
            }
        }
        end();
    } catch (const std::exception& e) {
        m_g.setPendingError(e, step);
        m_g.WriteErrorLog(kProgramName, QStringLiteral("Main OnMessage"));
    }
    m_bBusy = false;
}

void xapQuilljot::Timer1_timer() {
    m_alternateIcon = false;
    m_frontend.trayUpdate(true, false);
    m_timer1.stop();
}

void xapQuilljot::SwapIcons() {
    m_timer1.setInterval(200);
    m_timer1.start();
    m_alternateIcon = true;
    m_frontend.trayUpdate(true, true);
}

void xapQuilljot::reloadSettings() {
    if (m_logger && !m_unloaded) {
        m_logger->InitXap();
    }
}

void xapQuilljot::Form_unload() {
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    m_frontend.trayUpdate(false, false);
    m_g.bAppClosing = true;
    m_frontend.unloadEchoWindow();
    m_g.setSender(nullptr);
    if (m_node) {
        m_runTally.received = m_node->datagramsReceived();
        m_runTally.dropped = m_node->queuedCount();
        m_runTally.other = m_node->datagramsIgnored();
    }
    if (m_logger) {
        const LoggerCore::Tally& t = m_logger->tally();
        m_runTally.rowsWritten = t.rowsWritten;
        m_runTally.rowsRefused = t.rowsRefused;
        m_runTally.other += t.messages - t.rowsWritten - t.rowsRefused;
    }
    m_node.reset();
    m_logger.reset();
    m_g.releaseHs();
}
