#pragma once

// Stores the narrators and chain edges of pages, as the install of a book and
// the reading of a store's chains under new rules both do. It keeps the ids
// of the names it has stored within the transaction it writes in, so it
// lives no longer than that transaction. One thread, the store's writer.

#include "core/SQLiteDB.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class NarratorWriter {
public:
    explicit NarratorWriter(SQLiteDB& db);
    // False when a statement could not be prepared.
    bool ready() const { return add_ && find_ && edge_; }

    // Stores the chain edges of one page; false when a statement failed (a
    // constraint only skips the row).
    bool addPage(const QString& content, std::int64_t bookId, std::int64_t pageId);

private:
    std::optional<std::int64_t> idOf(const QString& name);

    std::optional<Statement> add_, find_, edge_;
    QHash<QString, std::int64_t> ids_;
    bool ok_ = true;
};

} // namespace quorvel
