#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// The drainer's sense of time: a single-shot timer for its next attempt, and a monotonic clock
// that measures how long an attempt took and how long ago a cause was said. The program's runs
// on the event loop of the thread its owner lives on; tests use one they move by hand.
class DrainTimer {
public:
    virtual ~DrainTimer();

    // Runs `fire` once, `ms` from now, in place of what was due before.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual qint64 nowMs() const = 0;

    void setFire(std::function<void()> fire) { m_fire = std::move(fire); }

protected:
    void fire() {
        if (m_fire) {
            m_fire();
        }
    }

private:
    std::function<void()> m_fire;
};

// A DrainTimer on the event loop. The timer is a child of `owner`, so that it moves to another
// thread with it.
class QtDrainTimer : public DrainTimer {
public:
    explicit QtDrainTimer(QObject* owner);

    void start(int ms) override { m_timer.start(ms); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }
    qint64 nowMs() const override { return m_clock.elapsed(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
};
