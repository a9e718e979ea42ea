#pragma once

// Why a write to the user's data failed, in words the user can act on: a
// full disk, a file that takes no writes, a damaged file, another program
// writing, or the system's own reason.

#include "core/SQLiteDB.h"

#include <QString>

namespace quorvel::WriteFailure {

QString reason(const SQLFailure& failure);

} // namespace quorvel::WriteFailure
