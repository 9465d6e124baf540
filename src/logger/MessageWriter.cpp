#include "logger/MessageWriter.h"

#include "report/Reporter.h"
#include "store/Store.h"
#include "support/ProgramNames.h"

bool MessageWriter::write(const LoggedMessage& message) {
    const Status written = m_store.insertMessage(message);
    if (written) {
        ++m_written;
        m_failing = false;
        return true;
    }
    ++m_lost;
    if (!m_failing) {
        m_failing = true;
        Problem said = written.problem();
        said.description += QStringLiteral(
            ". Messages the rules log are not kept until the "
            "database takes them again");
        m_reporter.toNetwork(ProgramNames::kProgram, QStringLiteral("Messages "), said);
    }
    return false;
}
