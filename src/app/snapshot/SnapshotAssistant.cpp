#include "app/snapshot/SnapshotRun.h"

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

// TEMPORARY until this job is built.
int routing(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int reports(Run&)
{
    Line() << "not built";
    return 3;
}

} // namespace quorvel::snapshot
