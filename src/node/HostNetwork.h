#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the node needs of the operating system's network layer beyond the sockets themselves:
// starting and releasing the socket library, the host's name, and the IPv4 addresses that name
// resolves to (in the resolver's order). Tests give the node a fixed host instead.
class HostNetwork {
public:
    struct Startup {
        int result = 0;            // 0 when the library started
        quint16 version = 0x0101;  // granted version: low byte major, high byte minor
    };

    virtual ~HostNetwork() = default;
    virtual Startup startup() { return {}; }
    virtual int cleanup() { return 0; }
    virtual std::optional<QString> hostName() = 0;
    virtual std::optional<QStringList> addresses(const QString& name) = 0;
};

// The running system: gethostname and getaddrinfo. POSIX sockets need no library start-up.
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

    Startup startup() override { return startupResult; }
    int cleanup() override { return cleanupResult; }
    std::optional<QString> hostName() override { return m_name; }
    std::optional<QStringList> addresses(const QString&) override {
        if (m_addresses.isEmpty()) {
            return std::nullopt;
        }
        return m_addresses;
    }

    Startup startupResult;
    int cleanupResult = 0;

private:
    QString m_name;
    QStringList m_addresses;
};
