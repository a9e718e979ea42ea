#include "scholar/TextReuse.h"

#include "core/Arabic.h"
#include "core/CRC32.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "core/ShingleRuns.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>

#include <map>

namespace quorvel::TextReuse {

namespace {

// The words of text in the normal form: split on the space character, empty
// pieces dropped.
QStringList normalWords(const QString& normalized)
{
    return normalized.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Integer column 0 of every row, nulls left out.
QList<std::int64_t> integers(const QList<Statement::Row>& rows)
{
    QList<std::int64_t> values;
    values.reserve(rows.size());
    for (const auto& row : rows) {
        if (const auto v = row.integer(0))
            values.append(*v);
    }
    return values;
}

// Up to `editionSample` of the book's distinct hashes, spread evenly over the
// whole book in page order: the first pages alone are often an editor's
// introduction or a title page that another edition of the work lacks, so a
// sample taken from them would miss the edition.
QList<std::int64_t> bookSample(SQLiteDB& db, std::int64_t bookId)
{
    QList<std::int64_t> distinct;
    QSet<std::int64_t> seen;
    if (auto rows = db.prepare(QStringLiteral("SELECT hash FROM shingles WHERE book_id=? ORDER BY page_id"))) {
        rows->bind({bookId});
        while (rows->step()) {
            const auto hash = rows->integer(0);
            if (hash && !seen.contains(*hash)) {
                seen.insert(*hash);
                distinct.append(*hash);
            }
        }
    }
    if (distinct.size() <= editionSample)
        return distinct;
    QList<std::int64_t> sample;
    sample.reserve(editionSample);
    for (qsizetype i = 0; i < editionSample; ++i)
        sample.append(distinct[i * distinct.size() / editionSample]);
    return sample;
}

struct PageCount
{
    std::int64_t pageId = 0;
    std::optional<std::int64_t> bookId;
    std::optional<std::int64_t> shared;
};

// Pages of other books holding at least `minShared` of `rare`, most shared
// first, at most `limit` (a negative limit is none, as in SQL). One grouped
// query when the hashes fit in one statement; otherwise the counts of slices
// of the hash list are added up here, ties then going to the lower page id.
QList<PageCount> sharingPages(SQLiteDB& db, const QList<std::int64_t>& rare, std::int64_t bookId,
                              int minShared, int limit)
{
    QList<PageCount> pages;
    const qsizetype parameters = db.maxParameters();
    const QString from = QStringLiteral("FROM %1 s\nWHERE s.hash IN (").arg(ShingleRuns::lookup(db));
    if (rare.size() + 3 <= parameters) {
        const QString sql = QStringLiteral("SELECT s.page_id, s.book_id, COUNT(*) AS shared\n") + from
            + SQLiteDB::marks(rare.size())
            + QStringLiteral(") AND s.book_id <> ?\n"
                             "GROUP BY s.page_id\n"
                             "HAVING shared >= ?\n"
                             "ORDER BY shared DESC\n"
                             "LIMIT ?");
        SQLArgs args = argsOf(rare);
        args << bookId << minShared << limit;
        for (const auto& row : db.rows(sql, args)) {
            const auto pageId = row.integer(0);
            if (pageId)
                pages.append(PageCount{*pageId, row.integer(1), row.integer(2)});
        }
        return pages;
    }

    // Each slice binds its hashes and the book id; at least one hash per
    // slice, so that even an absurdly low limit cannot stall the loop.
    const qsizetype slice = qMax<qsizetype>(1, parameters - 1);
    std::map<std::int64_t, PageCount> byPage;
    for (qsizetype first = 0; first < rare.size(); first += slice) {
        const QList<std::int64_t> part = rare.mid(first, slice);
        const QString sql = QStringLiteral("SELECT s.page_id, s.book_id, COUNT(*)\n") + from
            + SQLiteDB::marks(part.size()) + QStringLiteral(") AND s.book_id <> ?\nGROUP BY s.page_id");
        SQLArgs args = argsOf(part);
        args << bookId;
        for (const auto& row : db.rows(sql, args)) {
            const auto pageId = row.integer(0);
            if (!pageId)
                continue;
            PageCount& entry = byPage[*pageId];
            entry.pageId = *pageId;
            if (!entry.bookId)
                entry.bookId = row.integer(1);
            entry.shared = entry.shared.value_or(0) + row.integer(2).value_or(0);
        }
    }
    for (const auto& [pageId, entry] : byPage) {
        if (entry.shared.value_or(0) >= minShared)
            pages.append(entry);
    }
    pages = Py::stableSorted(pages, [](const PageCount& a, const PageCount& b) {
        return a.shared.value_or(0) > b.shared.value_or(0);
    });
    if (limit >= 0 && pages.size() > limit)
        pages.resize(limit);
    return pages;
}

} // namespace

QList<std::int64_t> windowHashes(const QString& normalized, int n)
{
    const QStringList words = normalWords(normalized);
    if (n <= 0 || words.size() < n)
        return {};
    QList<QByteArray> utf8;
    utf8.reserve(words.size());
    for (const QString& word : words)
        utf8.append(word.toUtf8());

    QList<std::int64_t> hashes;
    hashes.reserve(words.size() - n + 1);
    QByteArray shingle;
    for (qsizetype i = 0; i + n <= utf8.size(); ++i) {
        shingle.clear();
        for (qsizetype j = i; j < i + n; ++j) {
            if (j > i)
                shingle.append(' ');
            shingle.append(utf8[j]);
        }
        hashes.append(CRC32::ofUtf8(shingle.constData(), shingle.size()));
    }
    return hashes;
}

QList<std::int64_t> shingleHashesOfNormalized(const QString& normalized)
{
    QList<std::int64_t> distinct;
    QSet<std::int64_t> seen;
    for (std::int64_t hash : windowHashes(normalized, n)) {
        if (!seen.contains(hash)) {
            seen.insert(hash);
            distinct.append(hash);
        }
    }
    return distinct;
}

QList<std::int64_t> shingleHashes(const QString& pageText)
{
    return shingleHashesOfNormalized(Arabic::normalize(pageText, true));
}

bool installed(SQLiteDB& db)
{
    // Asked of the catalogue first, so that a store without the table logs no failed statement.
    if (db.scalarInt(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='shingles'")).value_or(0) == 0)
        return false;
    return db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM shingles)")).value_or(0) != 0;
}

QList<std::int64_t> pageHashes(SQLiteDB& db, std::int64_t pageId)
{
    return integers(db.rows(QStringLiteral("SELECT DISTINCT hash FROM shingles WHERE page_id=?"),
                            {pageId}));
}

QSet<std::int64_t> commonHashes(SQLiteDB& db, const QList<std::int64_t>& hashes)
{
    QSet<std::int64_t> common;
    auto statement = db.prepare(QStringLiteral("SELECT book_id FROM %1 WHERE hash=?").arg(ShingleRuns::lookup(db)));
    if (!statement)
        return common;
    for (std::int64_t hash : hashes) {
        statement->bind({hash});
        QSet<std::int64_t> books;
        // Counting stops at the first book past the limit: the rest of a very
        // common hash's rows are never read.
        while (books.size() <= maxDF && statement->step()) {
            if (const auto book = statement->integer(0))
                books.insert(*book);
        }
        if (books.size() > maxDF)
            common.insert(hash);
    }
    return common;
}

QList<ReuseHit> sources(SQLiteDB& db, std::int64_t pageId, int minShared, int limit)
{
    const auto bookId = db.scalarInt(QStringLiteral("SELECT book_id FROM pages WHERE id=?"), {pageId});
    if (!bookId)
        return {};
    const QList<std::int64_t> hashes = pageHashes(db, pageId);
    if (hashes.isEmpty())
        return {};
    const QSet<std::int64_t> common = commonHashes(db, hashes);
    QList<std::int64_t> rare;
    for (std::int64_t hash : hashes) {
        if (!common.contains(hash))
            rare.append(hash);
    }
    if (rare.isEmpty())
        return {};
    const QSet<std::int64_t> rareSet(rare.cbegin(), rare.cend());

    const QList<PageCount> pages = sharingPages(db, rare, *bookId, minShared, limit);
    auto lookup = db.prepare(QStringLiteral(
        "SELECT b.title AS book_title, a.name AS author, p.seq, p.vol, p.page_num, p.content\n"
        "FROM pages p JOIN books b ON b.id=p.book_id\n"
        "LEFT JOIN authors a ON a.id=b.author_id WHERE p.id=?"));
    if (!lookup)
        return {};

    QList<ReuseHit> hits;
    for (const PageCount& page : pages) {
        lookup->bind({page.pageId});
        if (!lookup->step())
            continue;
        ReuseHit hit;
        hit.pageId = page.pageId;
        hit.bookId = page.bookId.value_or(0);
        hit.seq = lookup->integer(2).value_or(0);
        hit.vol = lookup->text(3);
        hit.pageNum = lookup->integer(4);
        hit.bookTitle = lookup->text(0).value_or(QString());
        hit.author = lookup->text(1);
        hit.shared = page.shared.value_or(0);
        hit.phrase = sharedPhrase(lookup->text(5).value_or(QString()), rareSet, n);
        hits.append(hit);
    }
    return hits;
}

QString sharedPhrase(const QString& stored, const QSet<std::int64_t>& hashes, int n)
{
    // The Quran book's lines open with "sura|verse|": the reader sees the
    // verse, never that markup (a passage shared with another book never
    // holds it).
    static const QRegularExpression verseMarkup(QStringLiteral("\\|?[0-9\u0660-\u0669]*\\|[0-9\u0660-\u0669]+\\|"));
    const QString text = QString(stored).remove(verseMarkup);
    const QString normalized = Arabic::normalize(text, true);
    const QStringList words = normalWords(normalized);
    if (n <= 0 || words.size() < n)
        return {};
    const QList<std::int64_t> windows = windowHashes(normalized, n);

    qsizetype bestStart = 0, bestEnd = 0;
    qsizetype i = 0;
    while (i < windows.size()) {
        if (!hashes.contains(windows[i])) {
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < windows.size() && hashes.contains(windows[j]))
            ++j;
        // Windows i..j-1 are shared; the run ends with the last word of j-1.
        const qsizetype end = j - 1 + n;
        if (end - i > bestEnd - bestStart) {
            bestStart = i;
            bestEnd = end;
        }
        i = j;
    }
    if (bestEnd == bestStart)
        return {};

    // The stored words line up with the normal form unless normalisation
    // split a word (marks between letters, punctuation inside a word); when
    // the stored text has too few words, the normal form is shown instead.
    const QStringList display = Py::split(text);
    const QStringList& source = display.size() >= bestEnd ? display : words;
    return source.mid(bestStart, bestEnd - bestStart).join(QLatin1Char(' '));
}

bool hasShingles(SQLiteDB& db, std::int64_t bookId)
{
    return !db.rows(QStringLiteral("SELECT 1 FROM shingles WHERE book_id=? LIMIT 1"), {bookId}).isEmpty();
}

QList<EditionHit> editions(SQLiteDB& db, std::int64_t bookId, double minFrac, int limit)
{
    if (limit <= 0)
        return {};
    const QList<std::int64_t> sample = bookSample(db, bookId);
    if (sample.isEmpty())
        return {};
    const auto need = std::int64_t(minFrac * double(sample.size()));

    auto book = db.prepare(QStringLiteral(
        "SELECT b.title, a.name AS author FROM books b LEFT JOIN authors a ON a.id=b.author_id WHERE b.id=?"));
    QList<EditionHit> hits;
    for (const auto& [otherId, count] : sharedCounts(db, bookId, sample, need)) {
        EditionHit hit;
        hit.bookId = otherId;
        if (book) {
            book->bind({otherId});
            if (book->step()) {
                hit.title = book->text(0).value_or(QString());
                hit.author = book->text(1);
            }
        }
        hit.pct = Py::round((double(count) / double(sample.size())) * 100.0);
        hits.append(hit);
    }
    hits = Py::stableSorted(hits, [](const EditionHit& a, const EditionHit& b) { return a.pct > b.pct; });
    if (hits.size() > limit)
        hits.resize(limit);
    return hits;
}

QList<std::pair<std::int64_t, std::int64_t>> sharedCounts(SQLiteDB& db, std::int64_t bookId,
                                              const QList<std::int64_t>& sample, std::int64_t need)
{
    // Document frequency of each sampled hash.
    struct Frequency
    {
        std::int64_t hash;
        std::int64_t rows;
    };
    QList<Frequency> heavy;
    const QString lookup = ShingleRuns::lookup(db);
    if (auto df = db.prepare(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE hash=?").arg(lookup))) {
        for (std::int64_t hash : sample) {
            df->bind({hash});
            const std::int64_t rows = df->step() ? df->integer(0).value_or(0) : 0;
            if (rows > heavyHashRows)
                heavy.append(Frequency{hash, rows});
        }
    }
    heavy = Py::stableSorted(heavy, [](const Frequency& a, const Frequency& b) { return a.rows > b.rows; });

    // The heaviest hashes, as many as a book could miss and still qualify, are
    // not read in full; each candidate book is checked for them instead.
    QSet<std::int64_t> skipped;
    if (need > 1) {
        for (qsizetype i = 0; i < heavy.size() && i < need - 1; ++i)
            skipped.insert(heavy[i].hash);
    }

    std::map<std::int64_t, std::int64_t> counts;
    if (auto books = db.prepare(QStringLiteral("SELECT book_id FROM %1 WHERE hash=?").arg(lookup))) {
        for (std::int64_t hash : sample) {
            if (skipped.contains(hash))
                continue;
            books->bind({hash});
            QSet<std::int64_t> seen;
            while (books->step()) {
                const auto other = books->integer(0);
                if (other && *other != bookId && !seen.contains(*other)) {
                    seen.insert(*other);
                    ++counts[*other];
                }
            }
        }
    }

    QList<std::pair<std::int64_t, std::int64_t>> result;
    std::optional<Statement> bookHashes;
    if (!skipped.isEmpty())
        bookHashes = db.prepare(QStringLiteral("SELECT hash FROM shingles WHERE book_id=?"));
    for (const auto& [otherId, count] : counts) {
        if (count + skipped.size() < need)
            continue;
        std::int64_t found = 0;
        if (!skipped.isEmpty() && bookHashes) {
            QSet<std::int64_t> seen;
            bookHashes->bind({otherId});
            while (seen.size() < skipped.size() && bookHashes->step()) {
                const auto hash = bookHashes->integer(0);
                if (hash && skipped.contains(*hash))
                    seen.insert(*hash);
            }
            found = seen.size();
        }
        if (count + found >= need)
            result.append({otherId, count + found});
    }
    return result;
}

} // namespace quorvel::TextReuse
