// The tables' layout of StoreProvider: finding the layout a database has, running the steps
// after it, and recording the new one.
#include <QSqlError>
#include <QSqlQuery>

#include "report/ReportSteps.h"
#include "store/StoreProvider.h"

namespace {

const QString kRecordTable = QStringLiteral("tblQuilljotLayout");

Problem newerLayout(const QString& where, int found) {
    return Problem{ErrorKind::Database,
                   QStringLiteral("The tables of ") + where + QStringLiteral(" have layout ") +
                       QString::number(found) +
                       QStringLiteral(", made by a newer version of Quilljot; this one knows "
                                      "layouts up to ") +
                       QString::number(StoreProvider::kLayoutVersion) +
                       QStringLiteral(" and writes nothing to it. Run the newer version, or "
                                      "name another database or table.")};
}

QString upgradeReport(const QString& where, int from, QStringList done) {
    done.append(QStringLiteral("the layout recorded"));
    return QStringLiteral("The tables of ") + where + QStringLiteral(" had the layout of ") +
           (from == 0 ? QStringLiteral("an earlier version")
                      : QStringLiteral("version ") + QString::number(from)) +
           QStringLiteral(" and were upgraded to layout ") +
           QString::number(StoreProvider::kLayoutVersion) + QStringLiteral(", every row kept: ") +
           done.join(QStringLiteral(", ")) + u'.';
}

}  // namespace

Result<QString> StoreProvider::ensureLayout() {
    namespace Part = ReportStep::CreateDatabase;
    if (const Status begun = beginLayoutChange(); !begun) {
        return begun.problem().atStep(Part::Layout);
    }
    const auto undo = [this](const Problem& p) -> Result<QString> {
        (void)endLayoutChange(false);
        return p;
    };
    const Result<bool> existed = hasEventTable();
    if (!existed) {
        return undo(existed.problem().atStep(Part::Table));
    }
    // A record of a table that is gone counts for nothing: the tables are made anew.
    const Result<int> found = existed.value() ? recordedLayout() : Result<int>(0);
    if (!found) {
        return undo(found.problem().atStep(Part::Layout));
    }
    const int from = found.value();
    if (from > kLayoutVersion) {
        return undo(newerLayout(where(), from));
    }
    const Result<QStringList> done = upgradeLayout(from);
    if (!done) {
        return undo(done.problem());
    }
    if (from >= 3) {
        if (const Result<QStringList> kept = keepSearchIndex(); !kept) {
            return undo(kept.problem().atStep(Part::IndexesAndMessages));
        }
    }
    // A summary made just now is filled from the rows that are there (its first step; the
    // writer takes the rest, see rollUpActivity).
    if (const Result<bool> summed = rollUpInTransaction(); !summed) {
        return undo(summed.problem().atStep(Part::IndexesAndMessages));
    }
    if (from < kLayoutVersion) {
        if (const Status recorded = recordLayout(); !recorded) {
            return undo(recorded.problem().atStep(Part::Layout));
        }
    }
    if (const Status committed = endLayoutChange(true); !committed) {
        return committed.problem().atStep(Part::Layout);
    }
    if (from == kLayoutVersion || !existed.value()) {
        return QString();
    }
    return upgradeReport(where(), from, done.value());
}

Result<QStringList> StoreProvider::upgradeLayout(int from) {
    const QList<LayoutStep> steps = layoutSteps();
    // A step missing from an engine's list would leave its tables behind: every test of the
    // engine fails at open rather.
    bool numbered = steps.size() == kLayoutVersion;
    for (qsizetype i = 0; numbered && i < steps.size(); ++i) {
        numbered = steps[i].layout == i + 1;
    }
    if (!numbered) {
        return Problem{ErrorKind::Database, QStringLiteral("The layout steps for ") + where() +
                                                QStringLiteral(" are not numbered 1 to ") +
                                                QString::number(kLayoutVersion)};
    }
    QStringList done;
    for (const LayoutStep& step : steps) {
        if (const Status ran = runLayoutStep(step, step.layout <= from, done); !ran) {
            return ran.problem();
        }
    }
    return done;
}

Status StoreProvider::runLayoutStep(const LayoutStep& step, bool remadeOnly, QStringList& done) {
    if (step.run && !remadeOnly) {
        const Result<QStringList> changed = step.run();
        if (!changed) {
            return changed.problem();
        }
        done += changed.value();
    }
    for (const LayoutStatement& statement : step.statements) {
        if (remadeOnly && !statement.remade) {
            continue;
        }
        if (!statement.makes.isEmpty()) {
            const Result<bool> there = layoutHas(statement.makes);
            if (!there) {
                return there.problem().atStep(statement.part);
            }
            if (there.value()) {
                continue;
            }
        }
        if (const Status ran = layoutQuery(statement.sql).status(); !ran) {
            return ran.problem().atStep(statement.part);
        }
        if (!statement.done.isEmpty()) {
            done.append(statement.done);
        }
    }
    return {};
}

Result<bool> StoreProvider::layoutHas(const QString& name) {
    const Result<QVariant> there = layoutQuery(layoutDialect().isThere, {name});
    if (!there) {
        return there.problem();
    }
    return there.value().toInt() != 0 || there.value().toBool();
}

Result<bool> StoreProvider::hasEventTable() {
    return layoutHas(m_settings.table);
}

Result<std::optional<int>> StoreProvider::layoutRecord() {
    const Result<bool> kept = layoutHas(kRecordTable);
    if (!kept) {
        return kept.problem();
    }
    if (!kept.value()) {
        return std::optional<int>();
    }
    const Result<QVariant> version =
        layoutQuery(QStringLiteral("SELECT Version FROM ") + kRecordTable +
                        QStringLiteral(" WHERE TableName = ?"),
                    {layoutDialect().recordKey});
    if (!version) {
        return version.problem();
    }
    return version.value().isNull() ? std::optional<int>()
                                    : std::optional<int>(version.value().toInt());
}

Result<int> StoreProvider::recordedLayout() {
    const Result<std::optional<int>> recorded = layoutRecord();
    if (!recorded) {
        return recorded.problem();
    }
    return recorded.value().value_or(0);
}

Status StoreProvider::recordLayout() {
    const LayoutDialect dialect = layoutDialect();
    const Result<bool> kept = layoutHas(kRecordTable);
    if (!kept) {
        return kept.problem();
    }
    if (!kept.value()) {
        if (const Status made = layoutQuery(dialect.makeRecord.arg(kRecordTable)).status(); !made) {
            return made;
        }
    }
    const Status gone = layoutQuery(QStringLiteral("DELETE FROM ") + kRecordTable +
                                        QStringLiteral(" WHERE TableName = ?"),
                                    {dialect.recordKey})
                            .status();
    if (!gone) {
        return gone;
    }
    return layoutQuery(QStringLiteral("INSERT INTO ") + kRecordTable +
                           QStringLiteral(" (TableName, Version) VALUES (?, ?)"),
                       {dialect.recordKey, kLayoutVersion})
        .status();
}

Result<QVariant> StoreProvider::layoutQuery(const QString& sql, const QVariantList& values) {
    QSqlQuery q(m_db);
    if (!execLayout(q, sql, values)) {
        return failure(q.lastError().text());
    }
    return q.next() ? q.value(0) : QVariant();
}
