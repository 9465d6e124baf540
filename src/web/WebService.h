#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "report/Result.h"
#include "settings/WebSettings.h"
#include "store/EventQuery.h"
#include "store/Store.h"
#include "web/HostCheck.h"
#include "web/SignInGuard.h"
#include "web/WebAccess.h"

class HttpConnection;
class HttpListener;
class LiveFeed;
class LoggerControl;

// What the web page serves, on the web server's thread: the pages from the program's resources
// and the JSON API under /api/ they use (status, history, count, export, settings, live stream,
// session), each route declared once with who may call it. It reads the history through a Store
// of its own, opened for reading beside the logger's; passwords are checked on a worker thread.
class WebService : public QObject {
    Q_OBJECT

public:
    WebService(LoggerControl& logger, WebSettings settings, QHostAddress address);
    ~WebService() override;

    Result<quint16> listen(quint16 port);
    int maxConnections() const;

    // Monitor: signed in, or the web password given in HTTP Basic (any user name), for scrapers
    // that cannot sign in with a form; it is checked through the same guard as sign-ins.
    enum class Who { Anyone, SignedIn, Monitor };
    using Handler = void (WebService::*)(HttpConnection&);
    struct Route {
        const char* method;
        const char* path;
        Who who;
        // Changing requests must come from the page itself and, from a signed-in user, carry the
        // session's CSRF token.
        bool changes;
        Handler handler;
    };

    // The routes' handlers, called once the route's access rules are met.
    void indexPage(HttpConnection& c);
    void scriptFile(HttpConnection& c);
    void styleFile(HttpConnection& c);
    void favicon(HttpConnection& c);
    void signInPage(HttpConnection& c);
    void signIn(HttpConnection& c);
    void signOut(HttpConnection& c);
    void session(HttpConnection& c);
    void status(HttpConnection& c);
    void history(HttpConnection& c);
    void count(HttpConnection& c);
    void activity(HttpConnection& c);
    void exportEvents(HttpConnection& c);
    void live(HttpConnection& c);
    void getSettings(HttpConnection& c);
    void putSettings(HttpConnection& c);
    void metrics(HttpConnection& c);

private:
    void dispatch(HttpConnection& connection);
    bool hostAllowed(const HttpRequest& request) const;
    // Served off loopback without TLS: passwords and cookies cross the network readable.
    bool plainOnNetwork(const HttpRequest& request) const;
    bool fromThisSite(const HttpRequest& request) const;
    void page(HttpConnection& c, const QString& resource, const QByteArray& type);
    // Checks a password `guard` admitted on the worker thread; `answer` runs on this thread with
    // the verdict (a wrong password late), and with null when the client has gone meanwhile.
    using Answer = std::function<void(HttpConnection*, bool passed)>;
    void checkPassword(QPointer<HttpConnection> held, SignInGuard& guard,
                       const SignInGuard::Admission& admitted, const QString& password,
                       Answer answer);
    void refuseForNow(HttpConnection& c, const SignInGuard::Admission& refused);
    void answerSignIn(HttpConnection* c, bool passed);
    void monitorWithPassword(HttpConnection& c, Handler handler);
    void reportBursts();
    // The password of the settings file as the logger reads it again (SIGHUP, a save): a new one
    // ends every session and is asked for from the next request on.
    void takePassword();
    // The reading Store, opened on the logger's current database when it is not yet.
    Status reader();
    std::optional<EventQuery> readableQuery(HttpConnection& c, const QSet<QString>& allowed);

    LoggerControl& m_logger;
    WebSettings m_settings;
    QHostAddress m_address;
    quint16 m_port = 0;
    HostCheck m_hosts;
    WebAccess m_access;
    SignInGuard m_guard;         // the sign-in form
    SignInGuard m_monitorGuard;  // passwords given to /metrics
    QElapsedTimer m_clock;
    QTimer m_burstTimer;
    QThreadPool m_passwordChecks;
    // Digests of Authorization headers whose password matched, so that a scraper's every visit
    // does not cost a password check; a few at most.
    QSet<QByteArray> m_monitorCredentials;
    Store m_reader;
    std::unique_ptr<LiveFeed> m_live;
    QObject m_exports;  // parent of the exports under way
    HttpListener* m_listener;
};
