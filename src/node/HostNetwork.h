#pragma once

#include <QString>
#include <QStringList>

// The host addresses the node may send from: the IPv4 addresses of the network interfaces that
// are up and running, loopback left out, in the system's order. Tests give the node a fixed list instead.
class HostNetwork {
public:
    virtual ~HostNetwork() = default;
    virtual QStringList interfaceAddresses() = 0;
};

// The running system's interfaces (getifaddrs).
class SystemHostNetwork : public HostNetwork {
public:
    QStringList interfaceAddresses() override;
};

// A host with a given address list. 127.0.0.1 in it stands for a host that is meant to use
// loopback only; an empty list for one with no interface up.
class FixedHostNetwork : public HostNetwork {
public:
    explicit FixedHostNetwork(QStringList addresses) : m_addresses(std::move(addresses)) {}
    QStringList interfaceAddresses() override { return m_addresses; }

private:
    QStringList m_addresses;
};
