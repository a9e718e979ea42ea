#pragma once

// The installer's writer of a book's text-reuse shingles, into the table and
// into the newest run of its lookup copy. Internal to the installer's files.

#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"
#include "distribution/BookInstallSteps.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quorvel::BookInstall {

// The shingles a book sorts in memory at once (24 bytes each).
inline constexpr std::size_t kShingleBlock = std::size_t(1) << 19;

// The book's text-reuse shingles. Each goes into the table as its page is
// read, under the rowid SQLite would give it, so that the table and its
// indexes by page and by book grow at their ends; its lookup copy goes into
// the newest run (ShingleRuns.h) a block at a time in hash order. In page
// order every copy lands on another leaf of that run; in hash order the
// block passes over it once.
class ShingleWriter {
public:
    ShingleWriter(SQLiteDB& db, std::int64_t bookId)
        : db_(db), bookId_(bookId),
          insert_(db.prepare(QStringLiteral("INSERT INTO shingles(rowid, hash, page_id, book_id) VALUES(?,?,?,?)")))
    {
    }
    bool ready() const { return insert_.has_value(); }

    void add(std::int64_t hash, std::int64_t pageId)
    {
        ++added_;
        if (!lastRowid_)
            openRun();
        // Past the largest rowid SQLite picks free ones at random: no order to keep.
        if (*lastRowid_ == std::numeric_limits<std::int64_t>::max()) {
            auto bare = db_.prepare(QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(?,?,?)"));
            must(db_, bare.has_value());
            if (write(db_, *bare, {hash, pageId, bookId_}) == Statement::Step::Done)
                copyToRun({hash, db_.lastInsertId(), pageId});
            return;
        }
        const std::int64_t rowid = ++*lastRowid_;
        if (write(db_, *insert_, {rowid, hash, pageId, bookId_}) != Statement::Step::Done)
            return;
        pending_.push_back({hash, rowid, pageId});
        if (pending_.size() >= kShingleBlock)
            flush();
    }

    // Copies the block still held into the run, in hash order.
    void flush()
    {
        std::sort(pending_.begin(), pending_.end(), [](const Shingle& a, const Shingle& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.rowid < b.rowid;
        });
        for (const Shingle& s : pending_)
            copyToRun(s);
        pending_.clear();
    }

    // Lets the runs merge as the shingles added call for (ShingleRuns::settle).
    void settle() { must(db_, ShingleRuns::settle(db_, added_)); }

private:
    struct Shingle {
        std::int64_t hash, rowid, pageId;
    };

    void openRun()
    {
        // SQLite gives a row without a rowid the largest one plus one;
        // the rows of a replaced version are gone by now.
        lastRowid_ = db_.scalarInt(QStringLiteral("SELECT IFNULL(MAX(rowid), 0) FROM shingles"));
        run_ = ShingleRuns::openRun(db_);
        const auto table = ShingleRuns::openTable(db_);
        must(db_, lastRowid_ && run_ && table);
        insertRun_ = db_.prepare(
            QStringLiteral("INSERT INTO %1(run, hash, sid, page_id, book_id) VALUES(?,?,?,?,?)").arg(*table));
        must(db_, insertRun_.has_value());
    }
    void copyToRun(const Shingle& s) { write(db_, *insertRun_, {*run_, s.hash, s.rowid, s.pageId, bookId_}); }

    SQLiteDB& db_;
    const std::int64_t bookId_;
    std::optional<Statement> insert_;
    std::optional<Statement> insertRun_; // into the open run's table, once it is known
    std::vector<Shingle> pending_;
    std::int64_t added_ = 0;
    std::optional<std::int64_t> lastRowid_; // the largest rowid in the table
    std::optional<std::int64_t> run_;       // the run taking the book's lookup copies
};

} // namespace quorvel::BookInstall
