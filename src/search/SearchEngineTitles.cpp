// The title and note hits of a run, after its page hits.

#include "search/SearchEngine.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/NormalWords.h"

#include <algorithm>
#include <mutex>

namespace quorvel {

namespace {

// A table-of-contents entry, read once per data generation and shared by
// every engine of the process. Its title's normal form (its tokens joined
// by single spaces) lies in the table's one text of all normal forms, so
// that testing every title reads one block in order.
struct TitleRow {
    std::int64_t book = 0;
    std::int64_t seq = 0;
    QString raw;
    qsizetype at = 0;   // where the normal form starts in TitleRows::normals
    qsizetype size = 0; // its length
};
struct TitleRows {
    std::vector<TitleRow> rows;
    QString normals;
    QStringView normal(const TitleRow& row) const { return QStringView(normals).sliced(row.at, row.size); }
};

struct TitleCache {
    std::int64_t gen = -1;
    std::shared_ptr<const TitleRows> rows;
};

std::mutex& titleLock()
{
    static std::mutex lock;
    return lock;
}

TitleCache& titleCache()
{
    static TitleCache cache;
    return cache;
}

// Every table-of-contents row in table order. `complete` is false when the
// read stopped early (a cancel interrupts the run's connection, or the
// database was busy): such rows serve this search but must not be cached.
std::shared_ptr<const TitleRows> readTitles(SQLiteDB& db, bool& complete)
{
    auto rows = std::make_shared<TitleRows>();
    complete = false;
    if (auto st = db.prepare(QStringLiteral("SELECT book_id, page_seq, title FROM toc"))) {
        Statement::Step step;
        while ((step = st->next()) == Statement::Step::Row) {
            TitleRow row;
            row.book = st->integer(0).value_or(0);
            row.seq = st->integer(1).value_or(0);
            row.raw = st->text(2).value_or(QString());
            const QString normal = Arabic::tokens(row.raw).join(u' ');
            row.at = rows->normals.size();
            row.size = normal.size();
            rows->normals += normal;
            rows->rows.push_back(std::move(row));
        }
        complete = step == Statement::Step::Done;
    }
    return rows;
}

} // namespace

// Tests every table-of-contents title against the plan. The titles are read
// once per data generation under the lock and shared; the test runs outside
// it. Hits come in book display order (a book missing from the catalogue
// counts as order 0), then sequence, table order kept on ties.
QList<SearchHit> SearchEngine::searchTitles(const Plan& plan, SQLiteDB& db,
                                            const std::optional<QSet<std::int64_t>>& scope,
                                            std::int64_t generation)
{
    std::shared_ptr<const TitleRows> rows;
    {
        std::lock_guard guard(titleLock());
        TitleCache& cache = titleCache();
        // Without a generation the database's state is unknown: read afresh.
        if (generation >= 0 && cache.rows && cache.gen == generation) {
            rows = cache.rows;
        } else {
            bool complete = false;
            rows = readTitles(db, complete);
            if (generation >= 0 && complete)
                cache = TitleCache{generation, rows};
        }
    }

    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    // The passing titles are sorted as small keys and the hits made once at
    // the end: a hit is many times the size of its key.
    struct Keyed {
        std::int64_t order;
        std::int64_t seq;
        std::size_t row;
    };
    std::vector<Keyed> keys;
    std::size_t seen = 0;
    std::int64_t lastBook = 0;
    std::int64_t lastOrder = 0;
    bool haveBook = false;
    for (std::size_t i = 0; i < rows->rows.size(); ++i) {
        const TitleRow& row = rows->rows[i];
        if (++seen % deadlineCheckRows == 0 ? stopRequested() : cancelled.load())
            continue;
        if (!inScope(scope, row.book))
            continue;
        // The cached words carry no hamza or marks; a query comparing them reads the title again.
        const bool pass = plan.q.hamza || plan.q.tashkeel ? evaluate(plan, row.raw)
                                                          : NormalWords::evaluate(plan, rows->normal(row));
        if (!pass)
            continue;
        // A book's titles come together: its order is looked up once.
        if (!haveBook || row.book != lastBook) {
            const auto book = catalog->bookById.constFind(row.book);
            lastOrder = book != catalog->bookById.constEnd() ? book->order : 0;
            lastBook = row.book;
            haveBook = true;
        }
        keys.push_back({lastOrder, row.seq, i});
    }
    // The row's place in the table keeps ties in table order.
    std::sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
        if (a.order != b.order)
            return a.order < b.order;
        return a.seq != b.seq ? a.seq < b.seq : a.row < b.row;
    });
    QList<SearchHit> out;
    out.reserve(qsizetype(keys.size()));
    for (const Keyed& k : keys)
        out.emplaceBack(SearchHit::Kind::title, 0, rows->rows[k.row].book, k.seq);
    return out;
}

// Tests every user note, newest first, against the plan; a hit carries the
// note's whole text as its snippet.
QList<SearchHit> SearchEngine::searchNotes(const Plan& plan, const std::optional<QSet<std::int64_t>>& scope)
{
    QList<SearchHit> out;
    for (const Note& note : lib.notes(std::nullopt)) {
        if (!inScope(scope, note.bookId))
            continue;
        if (evaluate(plan, note.text))
            out.emplaceBack(SearchHit::Kind::note, 0, note.bookId, note.seq, note.text);
    }
    return out;
}

} // namespace quorvel
