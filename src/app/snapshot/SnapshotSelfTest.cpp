#include "app/snapshot/SnapshotRun.h"

namespace quorvel::snapshot {

// TEMPORARY until this job is built.
int selfTest(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int features(Run&)
{
    Line() << "not built";
    return 3;
}

} // namespace quorvel::snapshot
