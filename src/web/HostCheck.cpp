#include "web/HostCheck.h"

#include <QHostInfo>
#include <QNetworkInterface>

HostCheck::HostCheck(const QHostAddress& bound, quint16 port, const QStringList& more,
                     const QString& machine, const QList<QHostAddress>& addresses)
    : m_port(port) {
    const bool everyAddress = bound == QHostAddress::AnyIPv4 || bound == QHostAddress::AnyIPv6 ||
                              bound == QHostAddress::Any;
    if (!everyAddress) {
        add(bound);
    }
    if (bound.isLoopback() || everyAddress) {
        add(QStringLiteral("localhost"));
    }
    if (!bound.isLoopback() && !machine.isEmpty()) {
        add(machine);
        add(machine + QStringLiteral(".local"));
    }
    if (everyAddress) {
        for (const QHostAddress& address : addresses) {
            add(address);
        }
    }
    for (const QString& name : more) {
        add(name);
    }
}

HostCheck HostCheck::thisComputer(const QHostAddress& bound, quint16 port,
                                  const QStringList& more) {
    return HostCheck(bound, port, more, QHostInfo::localHostName(),
                     QNetworkInterface::allAddresses());
}

void HostCheck::add(const QString& name) {
    QByteArray lower = name.trimmed().toLower().toUtf8();
    if (lower.endsWith('.')) {
        lower.chop(1);
    }
    if (!lower.isEmpty()) {
        m_names.insert(lower);
    }
}

void HostCheck::add(const QHostAddress& address) {
    QHostAddress plain = address;
    plain.setScopeId(QString());
    const QString text = plain.toString();
    add(plain.protocol() == QAbstractSocket::IPv6Protocol ? QString(u'[' + text + u']') : text);
}

bool HostCheck::allows(QByteArrayView host) const {
    QByteArray name = host.toByteArray().toLower();
    // The port follows the last colon after the name (after "]" for an IPv6 address).
    const qsizetype close = name.lastIndexOf(']');
    const qsizetype colon = name.lastIndexOf(':');
    if (colon > close && (close >= 0 || name.indexOf(':') == colon)) {
        const QByteArray port = name.mid(colon + 1);
        bool ok = !port.isEmpty() && port.size() <= 5;
        for (const char c : port) {
            ok = ok && c >= '0' && c <= '9';
        }
        if (!ok || port.toUInt() != m_port) {
            return false;
        }
        name.truncate(colon);
    }
    if (name.endsWith('.')) {
        name.chop(1);
    }
    return !name.isEmpty() && m_names.contains(name);
}
