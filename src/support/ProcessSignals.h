#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>

class QSocketNotifier;

// Turns the signals a program watches (SIGINT and SIGTERM to stop, SIGHUP to reload) into a call
// on the event loop's thread, so that it can run its normal shutdown instead of dying in the
// middle of a write. One instance per process.
class ProcessSignals : public QObject {
    Q_OBJECT

public:
    ProcessSignals(std::initializer_list<int> watched, std::function<void(int)> onSignal,
                   QObject* parent = nullptr);
    ~ProcessSignals() override;

private:
    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_signals;
};
