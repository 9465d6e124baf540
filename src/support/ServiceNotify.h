#pragma once

#include <QByteArray>

// Tells the service manager that started this process how it is doing (systemd's notify
// protocol: a datagram to the socket named by NOTIFY_SOCKET). A unit of Type=notify counts as
// started only at "READY=1", so units ordered after it start once this process really listens.
// Without NOTIFY_SOCKET, as outside a service, it does nothing.
namespace ServiceNotify {

// Sends STATE (e.g. "READY=1"); false when the manager's socket could not be reached.
bool send(const QByteArray& state);

}  // namespace ServiceNotify
