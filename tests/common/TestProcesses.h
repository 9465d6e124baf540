#pragma once

#include <signal.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <algorithm>

// The project's programs (QUILLJOT_BIN is set for every test) and free loopback ports.
inline QString tool(const char* name) {
    return qEnvironmentVariable("QUILLJOT_BIN") + u'/' + QString::fromLatin1(name);
}

// One of the project's programs run to its end (at most 20 s); status -1 when it crashed or hung.
struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline Run runProgram(const char* name, const QStringList& args,
                      const QProcessEnvironment& env = {}) {
    QProcess p;
    if (!env.isEmpty()) {
        p.setProcessEnvironment(env);
    }
    p.start(tool(name), args);
    Run r;
    if (p.waitForFinished(20000)) {
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    } else {
        p.kill();
        p.waitForFinished();
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

inline quint16 freeTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.serverPort();
}

// quilljot in a network namespace of its own with loopback alone up, where nothing it sends can
// leave the namespace.
inline void startWithLoopbackOnly(QProcess& p, const QStringList& args) {
    p.start(QStringLiteral("unshare"),
            QStringList{QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("ip link set lo up 2>/dev/null; exec \"$0\" \"$@\""),
                        tool("quilljot")} +
                args);
}

// A hub bound to 127.0.0.1 on a free port; what it prints is kept for said().
struct HubProcess {
    QProcess process;
    quint16 port = freeUdpPort();
    QByteArray out;

    bool start() {
        process.start(tool("xap-hub"), {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("--port"), QString::number(port)});
        QElapsedTimer t;
        t.start();
        while (!said("listening") && t.elapsed() < 5000 &&
               process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
        }
        return said("listening");
    }
    bool said(const QByteArray& text) {
        out += process.readAllStandardOutput();
        return out.contains(text);
    }
    ~HubProcess() {
        process.terminate();
        process.waitForFinished();
    }
};

// xap-snoop on a hub's port; start() waits until the hub has echoed its first heartbeat, stop()
// ends it as Ctrl-C does.
struct SnoopProcess {
    QProcess process;

    bool start(quint16 hubPort, const QStringList& args) {
        process.start(tool("xap-snoop"),
                      QStringList{QStringLiteral("--hub-port"), QString::number(hubPort)} + args);
        QElapsedTimer t;
        t.start();
        bool registered = false;
        process.setReadChannel(QProcess::StandardError);
        while (!registered && t.elapsed() < 5000 && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            registered = process.peek(1 << 16).contains("receiving through the hub");
        }
        process.setReadChannel(QProcess::StandardOutput);
        return registered;
    }
    int stop() {
        ::kill(pid_t(process.processId()), SIGINT);
        return process.waitForFinished(5000) ? process.exitCode() : -1;
    }
    ~SnoopProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// A fresh application folder whose shared settings send to loopback only.
struct AppFolder {
    QTemporaryDir dir;
    AppFolder() {
        QDir().mkpath(path(QStringLiteral("Config")));
        QFile shared(path(QStringLiteral("Config/zelXap.ini")));
        if (shared.open(QIODevice::WriteOnly)) {
            shared.write(
                "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
        }
    }
    QString path(const QString& relative) const { return dir.path() + u'/' + relative; }
    QString database() const { return path(QStringLiteral("Data/xapzelQuilljot.mdb")); }
};

// The logger, headless, as a process; knows the loopback port it listens on.
struct LoggerProcess {
    QProcess process;
    QByteArray err;
    quint16 port = 0;

    bool start(const AppFolder& app, quint16 xapPort, const QStringList& more = {}) {
        process.start(
            tool("quilljot"),
            QStringList{QStringLiteral("--headless"), QStringLiteral("--app-dir"), app.dir.path(),
                        QStringLiteral("--xap-port"), QString::number(xapPort)} +
                more);
        const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            const auto m = listening.match(QString::fromUtf8(stderrText()));
            if (m.hasMatch()) {
                port = quint16(m.captured(1).toUInt());
                return true;
            }
        }
        return false;
    }
    const QByteArray& stderrText() {
        err += process.readAllStandardError();
        return err;
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    ~LoggerProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// A hub, and a client of it on loopback that keeps everything the hub forwards.
struct ListeningHub : HubProcess {
    QUdpSocket listener;
    QList<QByteArray> heard;

    bool start() {
        if (!HubProcess::start()) {
            return false;
        }
        listener.bind(QHostAddress(QHostAddress::LocalHost), 0);
        listener.writeDatagram(
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF.1234:00\nclass=xap-hbeat.alive\nsource=test."
            "listener.host\ninterval=60\nport=" +
                QByteArray::number(listener.localPort()) + "\n}\n",
            QHostAddress(QHostAddress::LocalHost), port);
        return true;
    }
    // Event reports of the logger whose data contains `text`.
    int reports(const QByteArray& text) {
        while (listener.hasPendingDatagrams()) {
            QByteArray d(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(d.data(), d.size());
            heard.append(d);
        }
        return int(std::count_if(heard.begin(), heard.end(), [&](const QByteArray& d) {
            return d.contains("class=Homeseer.Event") && d.contains("source=zel.Quilljot.") &&
                   d.contains("Type=xapzelQuilljot") && d.contains(text);
        }));
    }
    // The logger's reports of write failures, each shown when there is more than one.
    int failureReports() {
        const int n = reports("Data=Readmessage");
        for (const QByteArray& d : std::as_const(heard)) {
            if (n > 1 && d.contains("Data=Readmessage")) {
                qWarning("%s", d.constData());
            }
        }
        return n;
    }
};

// A logger in a fresh application folder, started behind a hub with a listener.
struct LoggerBehindHub {
    AppFolder app;
    ListeningHub hub;
    LoggerProcess logger;
    bool start() { return hub.start() && logger.start(app, hub.port); }
};

// The numbers of `count` of loadgen's events from `first`, as they are logged in order.
inline QList<int> numbers(int first, int count) {
    QList<int> out;
    for (int i = 0; i < count; ++i) {
        out.append(first + i);
    }
    return out;
}

// loadgen's events, numbered from `start` in their Data, to a port; `rate` per second, or at once.
inline bool sendEvents(quint16 port, int count, int start, int rate = 0) {
    QProcess gen;
    gen.start(tool("loadgen"),
              {QStringLiteral("--port"), QString::number(port), QStringLiteral("--count"),
               QString::number(count), QStringLiteral("--start"), QString::number(start),
               QStringLiteral("--rate"), QString::number(rate)});
    return gen.waitForFinished(60000) && gen.exitCode() == 0;
}
