#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>

#include "settings/LoggerSettings.h"

// A private PostgreSQL server for one test program (scripts/pg-test-server): started on demand,
// stopped when this object goes, and by the script's watchdog should the test program die first.
// When the server's programs are missing, `missing` says why and the caller skips its cases; with
// QUILLJOT_REQUIRE_POSTGRES set (CI) a missing server is a failure instead.
struct PostgresServer {
    QString socketFolder;
    QString port;
    QString user;
    QString password;
    QString missing;

    bool start() {
        QProcess p;
        p.start(qEnvironmentVariable("QUILLJOT_SCRIPTS") + QStringLiteral("/pg-test-server"),
                {QStringLiteral("start"), QString::number(QCoreApplication::applicationPid()),
                 QStringLiteral("-c"), QStringLiteral("fsync=off")});
        p.waitForFinished(120000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        for (const QString& line : out.split(u'\n')) {
            const QString value = line.section(u'=', 1);
            if (line.startsWith(QStringLiteral("socket="))) {
                socketFolder = value;
            } else if (line.startsWith(QStringLiteral("port="))) {
                port = value;
            } else if (line.startsWith(QStringLiteral("user="))) {
                user = value;
            } else if (line.startsWith(QStringLiteral("password="))) {
                password = value;
            }
        }
        if (p.exitCode() != 0 || socketFolder.isEmpty()) {
            missing = QStringLiteral("no private PostgreSQL server: ") +
                      QString::fromUtf8(p.readAllStandardError()).trimmed();
            socketFolder.clear();
            return false;
        }
        return true;
    }
    bool running() const { return !socketFolder.isEmpty(); }

    // The server stopped (its sessions ended as by an administrator) and started again with the
    // same data, port and password; the destructor still cleans up either way.
    bool stopServer() const { return script(QStringLiteral("down")); }
    bool startAgain() const { return script(QStringLiteral("up")); }
    static bool required() { return qEnvironmentVariableIsSet("QUILLJOT_REQUIRE_POSTGRES"); }

    // The logger's settings for a database on this server: over TCP with the password, or on
    // the socket with this system user's peer sign-in.
    DatabaseSettings settings(const QString& database, const QString& table,
                              bool overSocket = false) const {
        const QString source = overSocket ? QString(socketFolder + u',' + port)
                                          : QString(QStringLiteral("127.0.0.1,") + port +
                                                    QStringLiteral("; User ID=") + user +
                                                    QStringLiteral("; Password=") + password);
        return DatabaseSettings{DatabaseKind::PostgreSql, source, database, table};
    }

    // A command of scripts/pg-test-server on this server's folder.
    bool script(const QString& command) const {
        return running() && QProcess::execute(qEnvironmentVariable("QUILLJOT_SCRIPTS") +
                                                  QStringLiteral("/pg-test-server"),
                                              {command, socketFolder}) == 0;
    }

    ~PostgresServer() { script(QStringLiteral("stop")); }
};

// Starts `pg` for a test case, or skips the case when the server's programs are missing (a
// failure where the server is required).
#define START_POSTGRES(pg)                   \
    if (!(pg).start()) {                     \
        if (PostgresServer::required()) {    \
            QFAIL(qPrintable((pg).missing)); \
        }                                    \
        QSKIP(qPrintable((pg).missing));     \
    }
