#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

#include "web/HttpRequest.h"

class QTcpSocket;

// One client connection of the web server: takes requests in one at a time within the limits
// of HttpLimits (a request over them is answered and the connection closed before the rest is
// read), hands each on whole, and writes its answer, either at once with a length or as a stream
// of chunks that the answerer produces as the client reads. While a request is being answered
// nothing more is read, so a client that sends without end only fills its own TCP window.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;
    using Handler = std::function<void(HttpConnection&)>;

    // Takes over `socket` (connected); `handler` gets every request taken in whole.
    HttpConnection(QTcpSocket* socket, Handler handler, QObject* parent = nullptr);
    ~HttpConnection() override;

    const HttpRequest& request() const { return m_request; }
    const QHostAddress& peer() const { return m_request.peer; }

    // The whole answer; the connection then waits for the next request (or closes).
    void respond(int status, const Headers& headers, const QByteArray& body);
    // An answer of unknown length in chunks: writeChunk() while unsent() is low (drained() says
    // when it is again), then endStream(). abort() resets the connection without the last chunk,
    // so that the client sees the answer broke off rather than a short one.
    void beginStream(int status, const Headers& headers);
    void writeChunk(const QByteArray& data);
    void endStream();
    void abort();
    qint64 unsent() const;

    // No request is under way: the connection only waits for (the rest of) one.
    bool waiting() const { return m_state == State::Idle || m_state == State::Receiving; }
    // Since when the connection has been waiting, for choosing which to close to make room.
    qint64 waitingSinceMs() const { return m_waitingSince; }
    // Closes a connection that is waiting, to make room for another.
    void close();

signals:
    // Unsent bytes fell low during a stream: time to produce more.
    void drained();
    // The connection is gone; the object deletes itself next.
    void closed();

private:
    enum class State { Idle, Receiving, Handling, Streaming, Closing };
    void onReadyRead();
    void parse();
    bool parseHead(qsizetype end);
    bool takeChunked();
    void refuse(int status, const QString& reason);
    void deliver();
    void startWaiting();
    void writeHead(int status, const Headers& headers, const QByteArray& framing);
    void finishAnswer();
    void gone();

    QTcpSocket* m_socket;
    Handler m_handler;
    State m_state = State::Idle;
    QByteArray m_buffer;
    HttpRequest m_request;
    // Body framing of the request being received.
    bool m_chunked = false;
    qint64 m_contentLength = 0;
    bool m_headComplete = false;
    bool m_closeAfter = false;
    bool m_gone = false;
    bool m_draining = false;  // refused: reading only to drop, until closed
    QTimer m_deadline;
    qint64 m_waitingSince = 0;
    QElapsedTimer m_clock;
};
