#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QStringList>

// The names the web page is served under, against which each request's Host header is checked:
// a page of another site that a DNS name turned to this computer's address names that other
// site as the host, and is refused. Served under: the bound address; on loopback "localhost";
// off loopback this computer's name and its .local form; bound to every address, each of this
// computer's addresses; and the names of the settings. A port, when given, must be the page's.
class HostCheck {
public:
    HostCheck() = default;
    // `machine`: this computer's name; `addresses`: its interfaces' addresses (both only read
    // when the page is bound to every address or off loopback).
    HostCheck(const QHostAddress& bound, quint16 port, const QStringList& more,
              const QString& machine, const QList<QHostAddress>& addresses);
    // The check for the page as this computer serves it (its name and interfaces).
    static HostCheck thisComputer(const QHostAddress& bound, quint16 port, const QStringList& more);

    bool allows(QByteArrayView host) const;

private:
    void add(const QString& name);
    void add(const QHostAddress& address);

    QSet<QByteArray> m_names;  // lower case, IPv6 addresses in brackets
    quint16 m_port = 0;
};
