#pragma once

#include <QString>

#include <cstdint>

namespace quorvel {

// A user note on a page; `ts` is the Unix time in seconds of its last change.
struct Note {
    std::int64_t id = 0;
    std::int64_t bookId = 0;
    std::int64_t seq = 0;
    QString text;
    std::int64_t ts = 0;
};

} // namespace quorvel
