#include "app/snapshot/SnapshotRun.h"

#include "assistant/Intent.h"

namespace quorvel::snapshot {

// TEMPORARY until this job is built.
int smartPanels(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int assistant(Run&)
{
    Line() << "not built";
    return 3;
}

int routing(Run& run)
{
    for (const QString& question : run.value("SNAP_ROUTE").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const auto [mode, topic] = Intent::route(question);
        // Separate items, each joined to the next by a space like every result line.
        Line line;
        line << question << "  →  " << mode.rawValue() << " «" << topic << "»";
        if (const std::optional<QString> continued = Intent::followUp(question))
            line << "  [متابعة: " << *continued << "]";
    }
    return 0;
}

// TEMPORARY until this job is built.
int reports(Run&)
{
    Line() << "not built";
    return 3;
}

} // namespace quorvel::snapshot
