#pragma once

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include "TestProcesses.h"

// A private MQTT broker (Debian's mosquitto) for one test: a configuration written here, a free
// loopback port, started as an unprivileged system user ("qjmqtt", made when missing) when the
// test runs as root. When mosquitto is missing, `missing` says so and the caller skips; with
// QUILLJOT_REQUIRE_MQTT set (CI) that is a failure instead.
struct MosquittoBroker {
    QTemporaryDir dir;
    quint16 port = 0;
    QProcess process;
    QString missing;

    static bool required() { return qEnvironmentVariableIsSet("QUILLJOT_REQUIRE_MQTT"); }

    QString path(const QString& name) const { return dir.path() + u'/' + name; }

    // A file of the broker's folder, readable by the broker's user.
    bool write(const QString& name, const QByteArray& text) const {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            return false;
        }
        f.close();
        return QFile::setPermissions(
            path(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    static QString brokerUser() {
        if (::geteuid() != 0) {
            return {};
        }
        QProcess id;
        id.start(QStringLiteral("id"), {QStringLiteral("-u"), QStringLiteral("qjmqtt")});
        if (!id.waitForFinished() || id.exitCode() != 0) {
            QProcess::execute(QStringLiteral("useradd"),
                              {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                               QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                               QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                               QStringLiteral("qjmqtt")});
        }
        return QStringLiteral("qjmqtt");
    }

    // `lines`: the rest of mosquitto.conf, after "listener PORT 127.0.0.1"; a second listener may
    // follow with "listener" lines of its own.
    bool start(const QString& lines = QStringLiteral("allow_anonymous true\n")) {
        const QString program = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        if (program.isEmpty()) {
            missing = QStringLiteral("no MQTT broker: mosquitto is not installed");
            return false;
        }
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther |
                                              QFile::ReadGroup | QFile::ExeGroup);
        port = freeTcpPort();
        // Sessions and queued messages outlive a stop(), as on a broker that restarts.
        QDir(dir.path()).mkdir(QStringLiteral("data"));
        QFile::setPermissions(path(QStringLiteral("data")), QFileDevice::Permissions(0x7777));
        if (!write(QStringLiteral("mosquitto.conf"),
                   (QStringLiteral("per_listener_settings true\nlog_dest file ") +
                    path(QStringLiteral("data/broker.log")) +
                    QStringLiteral("\npersistence true\npersistence_location ") +
                    path(QStringLiteral("data/")) + QStringLiteral("\nlistener ") +
                    QString::number(port) + QStringLiteral(" 127.0.0.1\n") + lines)
                       .toUtf8())) {
            missing = QStringLiteral("the broker's configuration could not be written");
            return false;
        }
        return startAgain();
    }

    // Starts the broker stopped by stop() again, on the same port.
    bool startAgain() {
        const QString user = brokerUser();
        const QStringList args{QStringLiteral("-c"), path(QStringLiteral("mosquitto.conf"))};
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (user.isEmpty()) {
            process.start(QStringLiteral("mosquitto"), args);
        } else {
            // setpriv execs the broker itself, so that stop()'s signal reaches it and it saves
            // its sessions.
            process.start(
                QStringLiteral("setpriv"),
                QStringList{QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                            QStringLiteral("--init-groups"), QStringLiteral("mosquitto")} +
                    args);
        }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
            if (probe.waitForConnected(200)) {
                return true;
            }
            QThread::msleep(50);
        }
        missing = QStringLiteral("mosquitto did not start on port ") + QString::number(port);
        return false;
    }

    void stop() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }

    ~MosquittoBroker() {
        stop();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// mosquitto_sub on a broker's plain listener: each message it prints is "topic payload", one a
// line; the subscription is made once it said so.
struct Subscriber {
    QProcess process;
    QByteArray out;

    bool start(quint16 port, const QStringList& topics, const QStringList& more = {}) {
        QStringList args{QStringLiteral("-h"),  QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                         QString::number(port), QStringLiteral("-v"),        QStringLiteral("-q"),
                         QStringLiteral("1"),   QStringLiteral("-d")};
        for (const QString& t : topics) {
            args << QStringLiteral("-t") << t;
        }
        // Line-buffered, so that each line is seen as it is printed.
        process.start(
            QStringLiteral("stdbuf"),
            QStringList{QStringLiteral("-oL"), QStringLiteral("mosquitto_sub")} + args + more);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && !out.contains("SUBACK")) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        return out.contains("SUBACK");
    }

    // The messages printed so far: "topic payload" lines (mosquitto_sub's -d lines left out).
    // One the broker delivered again to this subscriber (its DUP flag set: the broker's own
    // retry after its restart) is left out: it says nothing of the publisher.
    QList<QByteArray> messages() {
        process.waitForReadyRead(10);
        out += process.readAllStandardOutput();
        QList<QByteArray> lines;
        bool again = false;
        for (const QByteArray& line : out.first(out.lastIndexOf('\n') + 1).split('\n')) {
            if (line.startsWith("Client ")) {
                again = line.contains("received PUBLISH (d1,");
            } else if (!line.isEmpty() && !line.startsWith("Subscribed") && !again) {
                lines.append(line);
            }
        }
        return lines;
    }

    ~Subscriber() {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished();
        }
    }
};
