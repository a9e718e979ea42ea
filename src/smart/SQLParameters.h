#pragma once

// Binding long id lists: the connection's parameter ceiling, for queries that
// slice such lists into IN (...) groups, and the lists as arguments.

#include "core/SQLiteDB.h"

#include <QList>
#include <QtGlobal>

namespace quorvel {

// The most parameters one statement of this connection may bind (at least 1).
inline qsizetype maxParameters(SQLiteDB& db)
{
    return db.maxParameters();
}

// The values as statement arguments, in order.
inline SQLArgs argsOf(const QList<std::int64_t>& values)
{
    SQLArgs args;
    args.reserve(values.size());
    for (std::int64_t v : values)
        args.append(v);
    return args;
}

} // namespace quorvel
