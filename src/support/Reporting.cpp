#include "support/Reporting.h"

#include "support/Failure.h"

void Reporting::setPendingError(int number, const QString& description, int line) {
    m_pending = PendingError{number, description, line};
}

void Reporting::setPendingError(const std::exception& failure, int line) {
    if (const auto* f = dynamic_cast<const Failure*>(&failure)) {
        setPendingError(f->number(), f->description(), line);
    } else {
        setPendingError(ErrorNumber::Generic, QString::fromLocal8Bit(failure.what()), line);
    }
}

PendingError Reporting::takePendingError() {
    PendingError e = m_pending;
    clearPendingError();
    return e;
}

void MemoryReporting::WriteErrorLog(const QString& sSource, const QString& sText) {
    entries.append(Entry{true, sSource, sText, takePendingError()});
}

void MemoryReporting::SendEventLog(const QString& sType, const QString& sText) {
    entries.append(Entry{false, sType, sText, takePendingError()});
}
