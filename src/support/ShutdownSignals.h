#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a call on the event loop's thread, so that a program can run its
// normal shutdown instead of dying in the middle of a write. One instance per process.
class ShutdownSignals : public QObject {
    Q_OBJECT

public:
    explicit ShutdownSignals(std::function<void(int)> onSignal, QObject* parent = nullptr);
    ~ShutdownSignals() override;

private:
    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
