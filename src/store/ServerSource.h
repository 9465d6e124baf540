#pragma once

#include <QString>

// The server part of the settings of a database server: "host,port" or "host", then optional
// "; Name = value" parts (User ID, Password, Integrated Security). A value may be written in
// braces, {like;this}, to hold a ";".
struct ServerSource {
    QString host;
    QString port;
    QString userId;
    QString password;

    static ServerSource parse(const QString& text);

    // The text with every occurrence of the password masked: driver messages can quote what
    // they were given, and no message may show the password.
    QString redact(const QString& text) const;
    // The source as the settings hold it, with the password masked.
    static QString redactedSource(const QString& text);
    // The source a form sends back (`shown`) for the stored one: unchanged, or with the mask on
    // the same host, it keeps the stored password; on another host the mask stands for nothing,
    // so that a stored password never goes to a host it was not typed for.
    static QString chosenSource(const QString& shown, const QString& stored);
    static bool sameHost(const QString& a, const QString& b);
};
