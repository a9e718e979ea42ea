// The writes of the index: the installer's writer, a book's removal, and
// the build of a store made before the index, batch by batch.

#include "search/PageIndex.h"

#include "core/SQLiteDB.h"
#include "search/PageIndexStore.h"
#include "search/PageMap.h"

#include <QHash>
#include <QStringTokenizer>

#include <algorithm>
#include <optional>

namespace quorvel::PageIndex {

namespace {

// The change to each (index term, form) pair's count of pages, a page
// counted once for a pair however often the pair is on it. A pair whose form
// is a word the tokenizer keeps and whose term is that word folded is kept
// by its form alone, the common case looked up without a copy of the word;
// every other pair by both, so that each pair has one place.
class PairCounts {
public:
    // Counts the pairs of one page's index columns, +1 or -1.
    void count(const Columns& row, int sign);
    // The pairs whose count changed, in key order.
    QList<std::pair<Pair, std::int64_t>> changes() const;

private:
    struct Count {
        std::int64_t pages = 0;
        std::uint64_t page = 0; // the last page that counted
    };
    struct FormCount : Count {
        QString term;
    };
    void see(Count& c, int sign) const
    {
        if (c.page != page_) {
            c.page = page_;
            c.pages += sign;
        }
    }
    void see(const QString& term, const QString& form, int sign);
    // A pair known to be kept by its form: `term` is `form` folded.
    void seeByForm(const QString& term, const QString& form, int sign);

    QHash<QString, FormCount> byForm_;
    QHash<Pair, Count> byPair_;
    std::uint64_t page_ = 0;
};

void PairCounts::seeByForm(const QString& term, const QString& form, int sign)
{
    FormCount& c = byForm_[form];
    if (c.term.isNull())
        c.term = term;
    see(c, sign);
}

void PairCounts::see(const QString& term, const QString& form, int sign)
{
    if (plainWord(form) && term == folded(form))
        seeByForm(term, form, sign);
    else
        see(byPair_[Pair{term, form}], sign);
}

void PairCounts::count(const Columns& row, int sign)
{
    ++page_;
    for (const QString* text : {&row.matn, &row.hawashi})
        for (const QStringView view : QStringTokenizer{*text, u' ', Qt::SkipEmptyParts}) {
            if (plainWord(view)) {
                // Only looked up: the text outlives the lookup.
                const auto known = byForm_.find(QString::fromRawData(view.data(), view.size()));
                if (known != byForm_.end()) {
                    see(*known, sign);
                    continue;
                }
            }
            const QString form = view.toString();
            const QString term = folded(form);
            if (plainWord(form) && plainWord(term)) {
                seeByForm(term, form, sign);
                continue;
            }
            const QStringList forms = termsOf(form);
            const QStringList terms = termsOf(term);
            for (qsizetype i = 0; i < forms.size(); ++i)
                see(i < terms.size() && forms.size() == terms.size() ? terms[i] : forms[i], forms[i], sign);
        }
}

QList<std::pair<Pair, std::int64_t>> PairCounts::changes() const
{
    QList<std::pair<Pair, std::int64_t>> out;
    out.reserve(byForm_.size() + byPair_.size());
    for (auto it = byForm_.cbegin(); it != byForm_.cend(); ++it)
        if (it->pages != 0)
            out.append({Pair{it->term, it.key()}, it->pages});
    for (auto it = byPair_.cbegin(); it != byPair_.cend(); ++it)
        if (it->pages != 0)
            out.append({it.key(), it->pages});
    // In key order the writes pass over page_terms once instead of seeking at random.
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}
bool step(Statement& st, const SQLArgs& args)
{
    st.bind(args);
    return st.next() == Statement::Step::Done;
}

class Rows {
public:
    explicit Rows(SQLiteDB& db)
        : db_(db), insert(db.prepare(QStringLiteral("INSERT INTO page_forms(rowid, matn, hawashi, seam) VALUES(?,?,?,?)"))),
          erase(db.prepare(QStringLiteral(
              "INSERT INTO page_forms(page_forms, rowid, matn, hawashi, seam) VALUES('delete',?,?,?,?)"))),
          count(db.prepare(QStringLiteral(
              "INSERT INTO page_terms(term, form, rterm, pages) VALUES(?,?,?,?) "
              "ON CONFLICT(term, form) DO UPDATE SET pages = pages + excluded.pages"))),
          drop(db.prepare(QStringLiteral("DELETE FROM page_terms WHERE term=? AND form=? AND pages <= 0"))),
          mark(db.prepare(QStringLiteral("INSERT OR IGNORE INTO page_marks(term, form, page_id) VALUES(?,?,?)"))),
          unmark(db.prepare(QStringLiteral("DELETE FROM page_marks WHERE term=? AND form=? AND page_id=?")))
    {
    }
    bool ok() const { return insert && erase && count && drop && mark && unmark; }

    bool add(std::int64_t pid, const PageRow& row, PairCounts& counts)
    {
        counts.count(row, +1);
        bool ok = step(*insert, {pid, row.matn, row.hawashi, row.seam});
        for (const Pair& p : row.marked) {
            ok = step(*mark, {p.first, p.second, pid}) && ok;
            markRows_ += db_.changes();
        }
        return ok;
    }
    bool remove(std::int64_t pid, const QString& content, PairCounts& counts)
    {
        const PageRow row = pageRow(content);
        counts.count(row, -1);
        bool ok = step(*erase, {pid, row.matn, row.hawashi, row.seam});
        for (const Pair& p : row.marked) {
            ok = step(*unmark, {p.first, p.second, pid}) && ok;
            markRows_ -= db_.changes();
        }
        return ok;
    }
    // Writes the counts and adds what they and the marks changed to the
    // totals kept in meta (a store without them keeps none).
    bool writeCounts(const PairCounts& counts)
    {
        bool ok = true;
        for (const auto& [pair, pages] : counts.changes()) {
            ok = step(*count, {pair.first, pair.second, reversedKey(pair.first), pages}) && ok;
            termPages_ += pages;
            if (pages < 0)
                ok = step(*drop, {pair.first, pair.second}) && ok;
        }
        const QString add = QStringLiteral("UPDATE meta SET value = value + ? WHERE key=?");
        // No trigger sees the full-text rows written beside the counts.
        ok = ok && db_.run(add, {termPages_, kTermPagesKey}) && db_.run(add, {markRows_, kMarkRowsKey})
            && countChange(db_);
        termPages_ = markRows_ = 0;
        return ok;
    }

private:
    SQLiteDB& db_;
    std::optional<Statement> insert, erase, count, drop, mark, unmark;
    std::int64_t termPages_ = 0; // written since the totals were last brought up to date
    std::int64_t markRows_ = 0;
};

} // namespace

struct Writer::State {
    SQLiteDB& db;
    std::int64_t upTo = 0;
    std::optional<Rows> rows;
    PairCounts counts;
    bool writing = false;
};

Writer::Writer(SQLiteDB& db) : d(new State{db, 0, std::nullopt, {}, false})
{
    if (!tablesExist(db))
        return;
    d->writing = setMeta(db, kWritingKey, QStringLiteral("1"));
    if (const auto upTo = indexedUpTo(db)) {
        d->upTo = *upTo;
        d->rows.emplace(db);
    }
}

Writer::~Writer() = default;

bool Writer::keeps(std::int64_t pageId) const
{
    return d->rows && pageId <= d->upTo;
}

bool Writer::add(std::int64_t pageId, const PageRow& row)
{
    if (!keeps(pageId))
        return true;
    return d->rows->ok() && d->rows->add(pageId, row, d->counts);
}

bool Writer::remove(std::int64_t pageId, const QString& content)
{
    if (!d->rows || pageId > d->upTo)
        return true;
    return d->rows->ok() && d->rows->remove(pageId, content, d->counts);
}

bool Writer::finish()
{
    bool ok = !d->rows || (d->rows->ok() && d->rows->writeCounts(d->counts));
    d->counts = {};
    if (d->writing)
        ok = d->db.run(QStringLiteral("UPDATE meta SET value = value + 1 WHERE key=?"),
                       {QString::fromLatin1(PageMap::changesKey)})
            && ok;
    if (d->writing)
        ok = d->db.run(QStringLiteral("DELETE FROM meta WHERE key=?"), {kWritingKey}) && ok;
    d->writing = false;
    return ok;
}

bool removeBook(SQLiteDB& db, std::int64_t bookId)
{
    const auto upTo = indexedUpTo(db);
    if (!upTo)
        return true;
    Rows rows(db);
    auto pages = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE book_id=? AND id<=?"));
    if (!rows.ok() || !pages)
        return false;
    pages->bind({bookId, *upTo});
    PairCounts counts;
    bool ok = true;
    Statement::Step step;
    while ((step = pages->next()) == Statement::Step::Row)
        ok = rows.remove(pages->rowid(0), pages->text(1).value_or(QString()), counts) && ok;
    pages.reset();
    // A read cut short would leave the rest of the book's postings behind.
    return step == Statement::Step::Done && rows.writeCounts(counts) && ok;
}


namespace {

// Empties the index and sets the cursor to the start, for a build that
// starts over; inside the caller's transaction. The tables are made anew,
// so that rows another version or a damage left cannot survive.
bool startOver(SQLiteDB& db)
{
    return db.exec(QStringLiteral("DROP TABLE IF EXISTS page_forms; DROP TABLE IF EXISTS page_terms; "
                                  "DROP TABLE IF EXISTS page_marks;")
                   + kTables)
        && createTriggers(db) && setMeta(db, kCursorKey, QStringLiteral("0"))
        && setMeta(db, kCursorKey + QStringLiteral("_version"), QString::number(version))
        && setMeta(db, kTermPagesKey, QStringLiteral("0")) && setMeta(db, kMarkRowsKey, QStringLiteral("0"))
        && db.run(QStringLiteral("DELETE FROM meta WHERE key=?"), {kCheckedKey});
}

// The pages up to the cursor, counted by the small index: a count over the
// table itself would read every page's text.
std::int64_t pagesUpTo(SQLiteDB& db, std::int64_t cursor)
{
    return db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book WHERE id<=?"), {cursor})
        .value_or(0);
}

} // namespace

Build build(SQLiteDB& db, const Progress& progress, int batchPages, std::optional<SQLFailure>* why)
{
    // The reason of the failing call, kept before a rollback replaces it.
    auto failed = [&](std::optional<SQLFailure> failure) {
        if (why)
            *why = failure ? failure : db.failure();
        return Build::failed;
    };
    if (!createSchema(db))
        return failed(db.lastFailure());
    if (ready(db))
        return Build::complete;
    const std::int64_t total =
        db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages INDEXED BY idx_pages_book")).value_or(0);
    // The cursor this build last wrote, checked against the stored one before
    // every batch: a page written outside the installer drops the state, and
    // going on from a guess would index pages twice.
    std::optional<std::int64_t> cursor;
    std::int64_t done = 0;
    for (;;) {
        Transaction batch(db);
        if (!batch.begun())
            return failed(db.lastFailure());
        const auto stored = indexedUpTo(db);
        if (stored == kComplete)
            return Build::complete; // another builder finished it
        if (!stored) {
            if (!startOver(db))
                return failed(db.lastFailure());
            cursor = 0;
            done = 0;
        } else if (stored != cursor) {
            // Resumed, or moved on by another builder.
            cursor = stored;
            done = pagesUpTo(db, *cursor);
        }
        auto pages = db.prepare(QStringLiteral("SELECT id, content FROM pages WHERE id>? ORDER BY id LIMIT ?"));
        Rows rows(db);
        if (!pages || !rows.ok())
            return failed(db.lastFailure());
        pages->bind({*cursor, batchPages});
        PairCounts counts;
        std::int64_t last = *cursor;
        bool ok = true;
        Statement::Step step;
        while ((step = pages->next()) == Statement::Step::Row) {
            ++done;
            last = pages->rowid(0);
            ok = rows.add(last, pageRow(pages->text(1).value_or(QString())), counts) && ok;
        }
        pages.reset();
        // Only a read that reached its end may call the index complete.
        ok = ok && step == Statement::Step::Done && rows.writeCounts(counts);
        const bool finished = last == *cursor;
        ok = ok
            && (finished ? setMeta(db, kStateKey, QString::number(version))
                               && db.run(QStringLiteral("DELETE FROM meta WHERE key IN (?, ?)"),
                                         {kCursorKey, kCursorKey + QStringLiteral("_version")})
                         : setMeta(db, kCursorKey, QString::number(last)));
        if (!ok)
            return failed(db.lastFailure());
        if (!batch.commit())
            return failed(batch.failure());
        if (finished)
            return Build::complete;
        cursor = last;
        // Pages installed meanwhile may take the count past the first total.
        if (progress && !progress(done, std::max(total, done)))
            return Build::stopped;
    }
}

} // namespace quorvel::PageIndex
