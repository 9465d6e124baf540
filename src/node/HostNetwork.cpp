#include "node/HostNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

QStringList SystemHostNetwork::interfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    QStringList out;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        // Up and running: an interface without carrier (a bridge with nothing attached, an
        // unplugged cable) would take the datagrams nowhere.
        const unsigned flags = a->ifa_flags;
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (flags & IFF_UP) == 0 ||
            (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const in_addr address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
        // A 127.x address put on another interface is loopback all the same.
        if ((ntohl(address.s_addr) >> 24) == 127) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof(text)) != nullptr) {
            const QString s = QString::fromLatin1(text);
            if (!out.contains(s)) {
                out.append(s);
            }
        }
    }
    freeifaddrs(list);
    return out;
}
