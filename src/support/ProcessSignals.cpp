#include "support/ProcessSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QList>
#include <QSocketNotifier>
#include <csignal>

namespace {

// The handler may only write to a descriptor, which lives as long as the process can be
// signalled.
int g_signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}

}  // namespace

ProcessSignals::ProcessSignals(std::initializer_list<int> watched, std::function<void(int)> handler,
                               QObject* parent)
    : QObject(parent), m_onSignal(std::move(handler)), m_signals(watched) {
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        return;
    }
    ::fcntl(g_signalPipe[0], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(g_signalPipe[1], &byte, 1) == 1 && m_onSignal) {
            m_onSignal(byte);
        }
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : m_signals) {
        sigaction(s, &sa, nullptr);
    }
}

ProcessSignals::~ProcessSignals() {
    for (int s : m_signals) {
        signal(s, SIG_DFL);
    }
}
