#include "distribution/NarratorWriter.h"

#include "scholar/Isnad.h"

namespace quorvel {

NarratorWriter::NarratorWriter(SQLiteDB& db)
    : add_(db.prepare(QStringLiteral("INSERT OR IGNORE INTO narrators(name) VALUES(?)"))),
      find_(db.prepare(QStringLiteral("SELECT id FROM narrators WHERE name=?"))),
      edge_(db.prepare(
          QStringLiteral("INSERT INTO isnad_edges(student_id, teacher_id, book_id, page_id) VALUES(?,?,?,?)")))
{
}

bool NarratorWriter::addPage(const QString& content, std::int64_t bookId, std::int64_t pageId)
{
    // There are edges only where `hasIsnad` is true, so one call strips
    // the marks and searches for the opener once.
    for (const auto& [student, teacher] : Isnad::edges(content)) {
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

std::optional<std::int64_t> NarratorWriter::idOf(const QString& name)
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

} // namespace quorvel
