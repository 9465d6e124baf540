#include "node/HostNetwork.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::optional<QString> SystemHostNetwork::hostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof(buffer) - 1) != 0) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(buffer);
}

std::optional<QStringList> SystemHostNetwork::addresses(const QString& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.toLocal8Bit().constData(), nullptr, &hints, &list) != 0 ||
        list == nullptr) {
        return std::nullopt;
    }
    QStringList out;
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr) {
            const QString address = QString::fromLatin1(text);
            if (!out.contains(address)) {
                out.append(address);
            }
        }
    }
    freeaddrinfo(list);
    if (out.isEmpty()) {
        return std::nullopt;
    }
    return out;
}
