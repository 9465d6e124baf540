#pragma once

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QSet>
#include <memory>
#include <optional>

#include "report/Result.h"
#include "store/EventQuery.h"
#include "store/Store.h"
#include "support/WebSettings.h"
#include "web/WebAccess.h"

class Logger;
class LiveFeed;
class QHttpServerResponder;

// The logger's web page: the pages from the program's resources and the JSON API under /api/
// they use (status, history, count, export, settings, live stream, session). It reads the
// history through a Store of its own, opened for reading beside the logger's, on the logger's
// thread, one page at a time.
class WebServer : public QAbstractHttpServer {
public:
    // The largest request body taken.
    static constexpr qsizetype kMaxBody = 64 * 1024;

    WebServer(Logger& logger, WebSettings settings, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on the settings' address and `port` (0: any free one); the port taken, or why not.
    // An address other than loopback is refused while no password is set.
    Result<quint16> start(quint16 port);
    quint16 port() const { return m_port; }
    QString url() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void route(const QHttpServerRequest& request, QHttpServerResponder& responder);
    bool hostAllowed(const QHttpServerRequest& request) const;
    bool sameOrigin(const QHttpServerRequest& request) const;
    void page(const QHttpServerRequest& request, QHttpServerResponder& responder,
              const QString& resource, const QByteArray& type);
    void signIn(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void session(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void history(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void count(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void exportEvents(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void status(QHttpServerResponder& responder);
    void getSettings(QHttpServerResponder& responder);
    void putSettings(const QHttpServerRequest& request, QHttpServerResponder& responder);
    // The reading Store, opened on the logger's current database when it is not yet.
    Status reader();
    // The event query a history, count or export request asks for, with the reader open; or
    // nothing, the error already answered.
    std::optional<EventQuery> readableQuery(const QHttpServerRequest& request,
                                            QHttpServerResponder& responder,
                                            const QSet<QString>& allowed);

    Logger& m_logger;
    WebSettings m_settings;
    WebAccess m_access;
    Store m_reader;
    std::unique_ptr<LiveFeed> m_live;
    quint16 m_port = 0;
    QHostAddress m_address;
};
