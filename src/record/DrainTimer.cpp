#include "record/DrainTimer.h"

DrainTimer::~DrainTimer() = default;

QtDrainTimer::QtDrainTimer(QObject* owner) : m_timer(owner) {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { fire(); });
    m_clock.start();
}
