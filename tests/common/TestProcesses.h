#pragma once

#include <signal.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>
#include <QUdpSocket>

// The project's programs (QUILLJOT_BIN is set for every test) and free loopback ports.
inline QString tool(const char* name) {
    return qEnvironmentVariable("QUILLJOT_BIN") + u'/' + QString::fromLatin1(name);
}

inline quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

// A hub bound to 127.0.0.1 on a free port; what it prints is kept for said().
struct HubProcess {
    QProcess process;
    quint16 port = freeUdpPort();
    QByteArray out;

    bool start() {
        process.start(tool("xap-hub"),
                      {u"--bind"_qs, u"127.0.0.1"_qs, u"--port"_qs, QString::number(port)});
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
                      QStringList{u"--hub-port"_qs, QString::number(hubPort)} + args);
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
        QDir().mkpath(path(u"Config"_qs));
        QFile shared(path(u"Config/zelXap.ini"_qs));
        if (shared.open(QIODevice::WriteOnly)) {
            shared.write(
                "[Interface]\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
        }
    }
    QString path(const QString& relative) const { return dir.path() + u'/' + relative; }
    QString database() const { return path(u"Data/xapzelQuilljot.mdb"_qs); }
};

// The logger, headless, as a process; knows the loopback port it listens on.
struct LoggerProcess {
    QProcess process;
    QByteArray err;
    quint16 port = 0;

    bool start(const AppFolder& app, quint16 xapPort, const QStringList& more = {}) {
        process.start(tool("quilljot"),
                      QStringList{u"--headless"_qs, u"--app-dir"_qs, app.dir.path(),
                                  u"--xap-port"_qs, QString::number(xapPort)} +
                          more);
        const QRegularExpression listening(u"listening on 127\\.0\\.0\\.1:(\\d+)"_qs);
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
