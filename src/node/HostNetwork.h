#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the node needs to know of the host: its name, and the IPv4 addresses that name resolves
// to (in the resolver's order). Tests give the node a fixed host instead.
class HostNetwork {
public:
    virtual ~HostNetwork() = default;
    virtual std::optional<QString> hostName() = 0;
    virtual std::optional<QStringList> addresses(const QString& name) = 0;
};

// The running system: gethostname and getaddrinfo.
class SystemHostNetwork : public HostNetwork {
public:
    std::optional<QString> hostName() override;
    std::optional<QStringList> addresses(const QString& name) override;
};

// A host with a given name and address list, for tests and for loopback-only setups.
class FixedHostNetwork : public HostNetwork {
public:
    FixedHostNetwork(QString name, QStringList addresses)
        : m_name(std::move(name)), m_addresses(std::move(addresses)) {}

    std::optional<QString> hostName() override { return m_name; }
    std::optional<QStringList> addresses(const QString&) override {
        if (m_addresses.isEmpty()) {
            return std::nullopt;
        }
        return m_addresses;
    }

private:
    QString m_name;
    QStringList m_addresses;
};
