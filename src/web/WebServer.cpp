#include "web/WebServer.h"

#include "support/ThreadPriority.h"
#include "web/WebService.h"

WebServer::WebServer(LoggerControl& logger, WebSettings settings)
    : m_logger(logger), m_settings(std::move(settings)) {}

WebServer::~WebServer() {
    if (m_anchor == nullptr) {
        return;
    }
    // The service's sockets and database connection belong to its thread: they go there.
    QMetaObject::invokeMethod(
        m_anchor, [this] { delete m_service; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_anchor;
}

Result<quint16> WebServer::start(quint16 port) {
    m_address = QHostAddress(m_settings.bind);
    if (const auto wrong = SettingKeys::wrongValue(Setting::WebBind, m_settings.bind)) {
        return Problem{ErrorKind::Settings, *wrong};
    }
    if (!m_address.isLoopback() && m_settings.passwordHash.isEmpty()) {
        return Problem{ErrorKind::Settings,
                       QStringLiteral("The web page binds ") + m_settings.bind +
                           QStringLiteral(", which is not loopback: set a password first with "
                                          "quilljot --set-web-password")};
    }
    if (m_anchor == nullptr) {
        m_thread.setObjectName(QStringLiteral("web"));
        QObject::connect(
            &m_thread, &QThread::started, &m_thread, [] { ThreadPriority::giveWay(); },
            Qt::DirectConnection);
        m_thread.start();
        m_anchor = new QObject;
        m_anchor->moveToThread(&m_thread);
    }
    Result<quint16> listening = quint16(0);
    QMetaObject::invokeMethod(
        m_anchor,
        [&] {
            if (m_service == nullptr) {
                m_service = new WebService(m_logger, m_settings, m_address);
            }
            listening = m_service->listen(port);
            m_maxConnections = m_service->maxConnections();
        },
        Qt::BlockingQueuedConnection);
    if (listening) {
        m_port = listening.value();
    }
    return listening;
}

QString WebServer::url() const {
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + m_address.toString() + u']'
                             : m_address.toString();
    return (m_settings.certFile.isEmpty() ? QStringLiteral("http://")
                                          : QStringLiteral("https://")) +
           host + u':' + QString::number(m_port) + u'/';
}

std::optional<QString> WebServer::plainOnNetwork() const {
    if (m_address.isLoopback() || !m_settings.certFile.isEmpty()) {
        return std::nullopt;
    }
    return QStringLiteral("The web page is served over plain HTTP on ") + m_settings.bind +
           QStringLiteral(
               ", which is not loopback: anyone on the network can read the password "
               "at sign-in and the session cookie. Set WebCertFile and WebKeyFile (quilljot "
               "--make-web-certificate makes a pair) or serve it through a proxy with HTTPS");
}

int WebServer::maxConnections() const {
    return m_maxConnections;
}
