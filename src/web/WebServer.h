#pragma once

#include <QHostAddress>
#include <QThread>
#include <optional>

#include "report/Result.h"
#include "settings/WebSettings.h"

class LoggerControl;
class WebService;

// The logger's web page, served from a thread of its own so that nothing a client does can hold
// the logger's receive path or writer. What it serves is WebService's.
class WebServer {
public:
    WebServer(LoggerControl& logger, WebSettings settings);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on the settings' address and `port` (0: any free one); the port taken, or why not.
    // An address other than loopback is refused while no password is set.
    Result<quint16> start(quint16 port);
    quint16 port() const { return m_port; }
    QString url() const;
    // The warning to give when the page is served off loopback without TLS.
    std::optional<QString> plainOnNetwork() const;
    // The most connections the server keeps open at once.
    int maxConnections() const;

private:
    LoggerControl& m_logger;
    WebSettings m_settings;
    QThread m_thread;
    QObject* m_anchor = nullptr;  // lives in m_thread: what runs there runs in its name
    WebService* m_service = nullptr;
    quint16 m_port = 0;
    QHostAddress m_address;
    int m_maxConnections = 0;
};
