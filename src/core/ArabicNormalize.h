#pragma once

// The normaliser's portable code path, for tests that hold it against the
// vector path `Arabic::normalize` takes on processors that have one. Both
// give exactly `Arabic::normalize`'s result.

#include <QString>

namespace quorvel::Arabic::detail {

QString normalizePortable(const QString& s, bool rasm);

} // namespace quorvel::Arabic::detail
