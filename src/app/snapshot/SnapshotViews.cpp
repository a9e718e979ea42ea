#include "app/snapshot/SnapshotRun.h"

namespace quorvel::snapshot {

// TEMPORARY until this job is built.
int updateAlert(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int downloads(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int hitNavigation(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int quran(Run&)
{
    Line() << "not built";
    return 3;
}

// TEMPORARY until this job is built.
int restore(Run&)
{
    Line() << "not built";
    return 3;
}

} // namespace quorvel::snapshot
