#pragma once

// The writer of the narrators and edges of pages' chains, shared by the
// installs and by the re-reading of a store under new chain rules.

#include "core/SQLiteDB.h"
#include "scholar/Isnad.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

// The meta key of the chain rules the stored narrators were read with.
inline const QString kIsnadRulesKey = QStringLiteral("isnad_rules");

// Stores the narrators and edges of pages' chains, keeping the ids of the
// names it has stored within the transaction it writes in.
class NarratorWriter {
public:
    explicit NarratorWriter(SQLiteDB& db)
        : add_(db.prepare(QStringLiteral("INSERT OR IGNORE INTO narrators(name) VALUES(?)"))),
          find_(db.prepare(QStringLiteral("SELECT id FROM narrators WHERE name=?"))),
          edge_(db.prepare(
              QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES(?,?,?,?)")))
    {
    }
    bool ready() const { return add_ && find_ && edge_; }

    // False when a statement failed (a constraint only skips the row).
    bool addPage(const QString& content, std::int64_t bookId, std::int64_t pageId)
    {
        // There are edges only where `hasIsnad` is true, so one call strips
        // the marks and searches for the opener once.
        return addEdges(Isnad::edges(content), bookId, pageId);
    }
    // The same with the page's chains read already (Isnad::edges), in page order.
    bool addEdges(const QList<std::pair<QString, QString>>& edges, std::int64_t bookId, std::int64_t pageId)
    {
        for (const auto& [student, teacher] : edges) {
            const auto studentId = idOf(student);
            const auto teacherId = idOf(teacher);
            if (!ok_)
                return false;
            // Two spellings may share one stored name; nobody is his own teacher.
            if (studentId && teacherId && *studentId != *teacherId) {
                edge_->bind({*studentId, *teacherId, bookId, pageId});
                if (edge_->next() == Statement::Step::Error)
                    return false;
            }
        }
        return true;
    }

private:
    std::optional<std::int64_t> idOf(const QString& name)
    {
        // A name stored earlier in this transaction keeps its id.
        if (const auto known = ids_.constFind(name); known != ids_.cend())
            return *known;
        add_->bind({name});
        if (add_->next() == Statement::Step::Error) {
            ok_ = false;
            return std::nullopt;
        }
        find_->bind({name});
        if (find_->step())
            if (const auto id = find_->integer(0)) {
                ids_.insert(name, *id);
                return id;
            }
        return std::nullopt;
    }

    std::optional<Statement> add_, find_, edge_;
    QHash<QString, std::int64_t> ids_;
    bool ok_ = true;
};

} // namespace quorvel
