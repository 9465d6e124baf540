#pragma once

#include <sys/types.h>
#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <functional>

#include "web/HttpRequest.h"

struct MHD_Connection;
struct MHD_Response;
class HttpListener;

// One request to the web server and its answer, over a connection libmicrohttpd holds. The
// request is handed on whole; the answer goes out either at once with a length, or as a stream
// that the answerer produces as the client reads (libmicrohttpd pulls it, and the connection is
// suspended while nothing is ready). Nothing more is read from the connection until the answer
// is out, so a client that sends without end only fills its own TCP window. Answers may come
// later than the handler's return (a password check): the connection waits suspended meanwhile.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;
    using Handler = std::function<void(HttpConnection&)>;

    HttpConnection(HttpListener& listener, MHD_Connection* connection, QByteArray target);
    ~HttpConnection() override;

    const HttpRequest& request() const { return m_request; }
    const QHostAddress& peer() const { return m_request.peer; }

    // The whole answer.
    void respond(int status, const Headers& headers, const QByteArray& body);
    // An answer of unknown length in chunks: writeChunk() while unsent() is low (drained() says
    // when it is again), then endStream(). abort() breaks the connection off without the last
    // chunk, so that the client sees the answer broke off rather than a short one.
    void beginStream(int status, const Headers& headers);
    void writeChunk(const QByteArray& data);
    void endStream();
    void abort();
    qint64 unsent() const { return m_unsent.size(); }

signals:
    // Unsent bytes fell low during a stream: time to produce more.
    void drained();
    // The request is over (answered or the client gone); the object deletes itself next.
    void closed();

private:
    friend class HttpListener;
    friend struct HttpListenerCalls;
    enum class State { Head, Body, Handling, Waiting, Answered, Done };
    // libmicrohttpd's calls, from the listener's access handler.
    bool takeHead();
    // False when the connection is to be closed.
    bool takeBody(const char* data, size_t size);
    void takeEnd(const Handler& handler);
    void queuePending();
    void refuse(int status, const QString& reason);
    void resume();
    void finish();
    static ssize_t readStream(void* self, uint64_t position, char* buffer, size_t max);

    HttpListener& m_listener;
    MHD_Connection* m_connection;
    QByteArray m_target;  // as sent, before any decoding
    HttpRequest m_request;
    State m_state = State::Head;
    bool m_suspended = false;
    qsizetype m_dropped = 0;  // body bytes over the limit
    MHD_Response* m_pending = nullptr;
    int m_pendingStatus = 0;
    // The stream's bytes not yet taken by libmicrohttpd; how it ends.
    QByteArray m_unsent;
    bool m_streaming = false;
    bool m_streamEnded = false;
    bool m_streamBroken = false;
    bool m_drainedDue = false;
};
