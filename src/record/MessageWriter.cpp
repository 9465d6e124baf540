#include "record/MessageWriter.h"

#include <utility>

MessageWriter::MessageWriter(Store& store, Reporter& reporter, QObject* parent)
    : QObject(parent),
      m_drainer(MessageCodec(store, reporter), reporter, std::make_unique<QtDrainTimer>(this)) {}

MessageWriter::~MessageWriter() = default;

void MessageWriter::open(const QString& folder, qint64 limitBytes) {
    m_drainer.open(folder, limitBytes);
}

bool MessageWriter::write(const LoggedMessage& message) {
    if (m_inPass) {
        m_held.append(message);
        return true;
    }
    return isLogged(m_drainer.write(message));
}

void MessageWriter::endPass() {
    m_inPass = false;
    if (m_held.isEmpty()) {
        return;
    }
    m_drainer.beginPass();
    for (const LoggedMessage& message : std::exchange(m_held, {})) {
        (void)m_drainer.write(message);
    }
    m_drainer.endPass();
}

quint64 MessageWriter::written() const {
    const DrainTally t = m_drainer.tally();
    return t.written + t.earlierWritten;
}

quint64 MessageWriter::lost() const {
    const DrainTally t = m_drainer.tally();
    return t.rejected + t.dropped;
}
