#pragma once

#include <QList>
#include <QString>

#include <cstdint>

namespace quorvel {

// A catalogue category with its books in catalogue display order. The
// uncategorised group has the id -1.
struct Category {
    std::int64_t id = 0;
    QString name;
    QList<std::int64_t> bookIds;
};

} // namespace quorvel
