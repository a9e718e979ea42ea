// The planner and verifier against a slow, plain scan of every page's
// normalised words, for queries cut from the corpus itself.

#include "SearchFixture.h"

#include "core/SQLiteDB.h"
#include "search/PageIndex.h"
#include "support/CorpusText.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct ScannedPage {
    std::int64_t id = 0;
    QStringList words;     // content_norm
    QStringList mainWords; // normal form of the main text only
};

// A page word matches a query word when it is the word or one of its
// spellings, possibly with a number glued to its end; numbers match in any
// digit family.
bool wordMatches(const QString& queryWord, const QString& pageWord)
{
    if (Arabic::isDigits(queryWord))
        return Arabic::isDigits(pageWord) && Arabic::foldDigits(pageWord) == Arabic::foldDigits(queryWord);
    const QStringList spellings = Arabic::spellings(queryWord);
    if (spellings.contains(pageWord))
        return true;
    if (Arabic::hasDigit(queryWord))
        return false;
    const auto stripped = Arabic::stripTrailingDigits(pageWord);
    return stripped && spellings.contains(*stripped);
}

QList<int> occurrences(const QStringList& phrase, const QStringList& words)
{
    QList<int> out;
    for (qsizetype i = 0; i + phrase.size() <= words.size(); ++i) {
        bool all = true;
        for (qsizetype j = 0; j < phrase.size() && all; ++j)
            all = wordMatches(phrase[j], words[i + j]);
        if (all)
            out << int(i);
    }
    return out;
}

enum class Mode { single, both, either, ordered, near, without, mainOnly, mainWithout };

struct Case {
    Mode mode;
    QStringList a;
    QStringList b;
};

bool mainTextOnly(Mode m)
{
    return m == Mode::mainOnly || m == Mode::mainWithout;
}

bool secondExcluded(Mode m)
{
    return m == Mode::without || m == Mode::mainWithout;
}

bool scan(const Case& c, const ScannedPage& page)
{
    const QStringList& words = mainTextOnly(c.mode) ? page.mainWords : page.words;
    const QList<int> oa = occurrences(c.a, words);
    const QList<int> ob = c.b.isEmpty() ? QList<int>{} : occurrences(c.b, words);
    const int la = int(c.a.size()), lb = int(c.b.size());
    switch (c.mode) {
    case Mode::single:
    case Mode::mainOnly:
        return !oa.isEmpty();
    case Mode::both:
        return !oa.isEmpty() && !ob.isEmpty();
    case Mode::either:
        return !oa.isEmpty() || !ob.isEmpty();
    case Mode::without:
    case Mode::mainWithout:
        return !oa.isEmpty() && ob.isEmpty();
    case Mode::ordered:
        for (int p : oa)
            for (int q : ob)
                if (q >= p + la)
                    return true;
        return false;
    case Mode::near:
        for (int p : oa)
            for (int q : ob) {
                const int gap = p <= q ? q - (p + la) : p - (q + lb);
                if (gap <= SearchEngine::nearDistance)
                    return true;
            }
        return false;
    }
    return false;
}

SearchQuery queryOf(const Case& c)
{
    SearchQuery q = phrases({c.a.join(' ')});
    const QString b = c.b.join(' ');
    if (secondExcluded(c.mode))
        q.notPhrases = {b};
    else if (c.mode != Mode::single && c.mode != Mode::mainOnly)
        q.andPhrases << b;
    q.inHawashi = !mainTextOnly(c.mode);
    q.requireAll = c.mode != Mode::either;
    q.ordered = c.mode == Mode::ordered;
    q.near = c.mode == Mode::near;
    return q;
}

// The vocalised Quran, one verse per page, beside the unvocalised hadith
// books: the same words marked in one book and bare in the others.
SearchLibrary markedLibrary()
{
    FixtureBook quran{1, QStringLiteral("القرآن"), {}, {}};
    for (const QuranVerse& v : quranVerses())
        quran.pages << v.text;
    QList<FixtureBook> books{quran};
    for (int id : {2, 3, 4})
        books << FixtureBook{id, {}, bookPages(QStringLiteral("books/%1.json").arg(id - 1, 3, 10, QChar('0'))), {}};
    return customLibrary(books);
}

struct SourceWord {
    QList<Arabic::RichLetter> letters;
    std::int64_t book = 0;
};

// A query word of the source's letters with marks on one letter: the
// source's own marks there when it has some and `own`, else `mark` (with
// the letter's own shadda when `mark` is a vowel after one).
QString markedWord(const SourceWord& w, qsizetype at, char16_t mark, bool own)
{
    QList<Arabic::RichLetter> letters;
    for (const Arabic::RichLetter& l : w.letters)
        letters << Arabic::RichLetter{l.norm, l.alif, 0, 0};
    const Arabic::RichLetter& source = w.letters[at];
    if (own && (source.m1 != 0 || source.m2 != 0)) {
        letters[at].m1 = source.m1;
        letters[at].m2 = source.m2;
    } else {
        Arabic::addMark(letters[at], mark);
    }
    return PageIndex::markedForm(letters);
}

struct Agreement {
    QStringList differences; // the queries on which the two paths differ
    int found = 0;           // queries that find pages
    int answered = 0;        // queries the page index answered without a page check
};

Agreement compareWithThePageCheck(Library& lib, const QList<SearchQuery>& queries)
{
    Agreement out;
    for (const SearchQuery& q : queries) {
        SearchEngine checked(lib);
        checked.setPageCheckedPath(true);
        const QList<SearchHit> expected = runQuery(checked, q).pages;
        SearchEngine indexed(lib);
        if (runQuery(indexed, q).pages != expected)
            out.differences << q.json();
        out.found += expected.isEmpty() ? 0 : 1;
        out.answered += indexed.pagesChecked() == 0 ? 1 : 0;
    }
    return out;
}

} // namespace

// Queries that write marks, made from the corpus's own words with a mark on
// the first, a middle or the last letter (vowels, sukun, shadda, tanwin),
// alone or with hamza, a scope, an exclusion or a second word: the page
// index answers as the page check does.
TEST(SearchDifferential, markedQueriesOverThePageIndexAgreeWithThePageCheck)
{
    const SearchLibrary lib = markedLibrary();
    ASSERT_TRUE(lib.lib);
    QList<SourceWord> marked, bare;
    for (const auto& row : lib.lib->main().rows("SELECT book_id, content FROM pages ORDER BY id")) {
        const std::int64_t book = row.integer(0).value_or(0);
        for (const Arabic::RichWord& w : Arabic::richWords(row.str(1).value_or(QString()))) {
            if (w.letters.size() < 2 || PageIndex::foreign(w.word) || Arabic::hasDigit(w.word))
                continue;
            const bool hasMarks = std::any_of(w.letters.begin(), w.letters.end(),
                                              [](const Arabic::RichLetter& l) { return l.m1 != 0 || l.m2 != 0; });
            (hasMarks ? marked : bare) << SourceWord{w.letters, book};
        }
    }
    ASSERT_GT(marked.size(), 1000);
    ASSERT_GT(bare.size(), 1000);

    const char16_t vowels[] = {0x064E, 0x064F, 0x0650, 0x0652, 0x0651};
    const char16_t tanwin[] = {0x064B, 0x064C, 0x064D};
    QRandomGenerator rng(20261209);
    auto word = [&](const SourceWord& w, int place) {
        const qsizetype n = w.letters.size();
        const qsizetype at = place == 0 ? 0 : place == 1 ? std::max<qsizetype>(1, n / 2) : n - 1;
        const bool last = at == n - 1;
        const char16_t mark = last && rng.bounded(3) == 0 ? tanwin[rng.bounded(3)] : vowels[rng.bounded(5)];
        return markedWord(w, std::min(at, n - 1), mark, rng.bounded(2) == 0);
    };
    auto pick = [&](const QList<SourceWord>& from) -> const SourceWord& {
        return from[rng.bounded(int(from.size()))];
    };

    // The words the issue of a final mark turned on, then generated ones.
    QList<SearchQuery> queries;
    for (const char* w : {"اللهُ", "اللهِ", "اللهَ", "الرحمنِ", "قالَ", "رسولُ", "ربِّ"}) {
        SearchQuery q = phrases({QString::fromUtf8(w)});
        q.tashkeel = true;
        queries << q;
    }
    for (int i = 0; i < 320; ++i) {
        const SourceWord& source = pick(i % 2 == 0 ? marked : bare);
        SearchQuery q = phrases({word(source, i / 2 % 3)});
        q.tashkeel = true;
        q.hamza = i / 6 % 2 == 1;
        switch (i / 12 % 5) {
        case 1:
            q.scope = QList<std::int64_t>{source.book};
            break;
        case 2:
            q.notPhrases = {Arabic::stripMarks(PageIndex::markedForm(pick(bare).letters))};
            break;
        case 3:
            q.andPhrases << word(pick(rng.bounded(2) == 0 ? marked : bare), rng.bounded(3));
            break;
        case 4:
            q.andPhrases << Arabic::stripMarks(PageIndex::markedForm(pick(marked).letters));
            break;
        default:
            break;
        }
        queries << q;
    }

    const Agreement agreement = compareWithThePageCheck(*lib.lib, queries);
    EXPECT_EQ(agreement.differences.size(), 0) << agreement.differences.mid(0, 10).join(u'\n').toStdString();
    // The comparison means something only if the queries find pages and
    // many are answered by the index without reading a page.
    EXPECT_GT(agreement.found, queries.size() / 4);
    EXPECT_GT(agreement.answered, queries.size() / 3);
}

// Ordered and near pairs with hamza compared, cut from the hamza-keeping
// words of pages with footnotes: the page index answers them, across the
// footnote line too, as the page check does.
TEST(SearchDifferential, orderedHamzaQueriesOverThePageIndexAgreeWithThePageCheck)
{
    const SearchLibrary corpus = footnotedLibrary();
    ASSERT_TRUE(corpus.lib);
    QList<QStringList> pages;
    QList<qsizetype> lines; // where the footnotes start, in words
    for (const auto& row : corpus.lib->main().rows("SELECT content FROM pages ORDER BY id")) {
        const PageIndex::Columns columns = PageIndex::columnsOf(row.str(0).value_or(QString()));
        pages << (columns.matn + u' ' + columns.hawashi).split(u' ', Qt::SkipEmptyParts);
        lines << (columns.hawashi.isEmpty() ? -1 : columns.matn.count(u' ') + 1);
    }
    QList<int> footnoted;
    for (int i = 0; i < int(pages.size()); ++i)
        if (lines[i] > 0)
            footnoted << i;
    ASSERT_GT(footnoted.size(), 5);
    QRandomGenerator rng(20261210);
    // Words close together on one page, so that order and nearness decide,
    // mostly around a footnote line.
    auto pair = [&](int maxWords) {
        const bool aroundTheLine = rng.bounded(3) != 0;
        const int page = aroundTheLine ? footnoted[rng.bounded(int(footnoted.size()))] : rng.bounded(int(pages.size()));
        const QStringList& words = pages[page];
        const int n = 1 + rng.bounded(maxWords);
        const int gap = rng.bounded(16);
        const int room = int(std::max<qsizetype>(1, words.size() - 2 * n - gap));
        const int at = aroundTheLine ? int(std::clamp<qsizetype>(lines[page] - n - rng.bounded(n + gap + 1), 0, room - 1))
                                     : rng.bounded(room);
        return QStringList{words.mid(at, n).join(u' '), words.mid(at + n + gap, n).join(u' ')};
    };
    QList<SearchQuery> queries;
    for (int i = 0; i < 160; ++i) {
        QStringList ands = pair(i % 3 == 2 ? 2 : 1);
        if (i % 5 == 4)
            std::swap(ands[0], ands[1]);
        SearchQuery q = phrases(ands);
        q.hamza = true;
        q.ordered = i % 4 != 2;
        q.near = i % 2 == 1 || i % 4 == 2;
        q.inHawashi = i % 9 != 8;
        queries << q;
    }
    const Agreement agreement = compareWithThePageCheck(*corpus.lib, queries);
    EXPECT_EQ(agreement.differences.size(), 0) << agreement.differences.mid(0, 10).join(u'\n').toStdString();
    EXPECT_GT(agreement.found, queries.size() / 2);
    EXPECT_GT(agreement.answered, queries.size() / 2);
}

TEST(SearchDifferential, runAgreesWithAPlainScan)
{
    // Both catalogues: hadith collections, and a book with footnotes.
    for (const QString& catalogName : {QStringLiteral("catalog.json"), QStringLiteral("reading/catalog.json")}) {
        auto corpus = corpusLibrary(catalogName);
        ASSERT_TRUE(corpus.lib);
        QList<ScannedPage> pages;
        for (const auto& row : corpus.lib->main().rows("SELECT id, content, content_norm FROM pages ORDER BY id")) {
            ScannedPage p;
            p.id = *row.integer(0);
            p.words = row.str(2).value_or(QString()).split(u' ', Qt::SkipEmptyParts);
            p.mainWords = Arabic::tokens(Library::splitFootnotes(row.str(1).value_or(QString())).first);
            pages << p;
        }
        ASSERT_GT(pages.size(), 5);

        QRandomGenerator rng(20241207);
        auto cut = [&](int maxWords) {
            const ScannedPage& p = pages[rng.bounded(int(pages.size()))];
            if (p.words.isEmpty())
                return QStringList{"حدثنا"};
            const int n = 1 + rng.bounded(maxWords);
            const int at = rng.bounded(int(std::max<qsizetype>(1, p.words.size() - n + 1)));
            return p.words.mid(at, n);
        };
        QList<Case> cases;
        const Mode modes[] = {Mode::single, Mode::both,    Mode::either,   Mode::ordered,
                              Mode::near,   Mode::without, Mode::mainOnly, Mode::mainWithout};
        for (int i = 0; i < 48; ++i) {
            const Mode m = modes[i % 8];
            const bool pair = m != Mode::single && m != Mode::mainOnly;
            cases << Case{m, cut(3), pair ? cut(2) : QStringList{}};
        }

        SearchEngine engine(*corpus.lib);
        int nonEmpty = 0;
        for (const Case& c : cases) {
            const SearchQuery q = queryOf(c);
            QSet<std::int64_t> expected;
            for (const ScannedPage& p : pages)
                if (scan(c, p))
                    expected.insert(p.id);
            QSet<std::int64_t> found;
            for (const SearchHit& h : runQuery(engine, q).pages)
                found.insert(h.pageId);
            EXPECT_EQ(found, expected) << q.json().toStdString();
            nonEmpty += expected.isEmpty() ? 0 : 1;
        }
        EXPECT_GT(nonEmpty, 20); // the cases really find pages
    }
}

TEST(SearchDifferential, exclusionInTheFootnotesKeepsAMainTextMatch)
{
    auto reading = corpusLibrary("reading/catalog.json");
    SearchEngine engine(*reading.lib);
    // Page 1 of the book says أخبرنا in its main text and names المنتظم
    // only in a footnote; page 2 never names it.
    SearchQuery q = phrases({"أخبرنا"});
    q.notPhrases = {"المنتظم"};
    q.scope = QList<std::int64_t>{17};
    auto seqs = [&] {
        QList<std::int64_t> out;
        for (const auto& h : runQuery(engine, q).pages)
            out << h.seq;
        return out;
    };
    EXPECT_EQ(seqs(), QList<std::int64_t>{2});
    q.inHawashi = false;
    EXPECT_EQ(seqs(), (QList<std::int64_t>{1, 2}));
}

// A scope of a few books is read over those books' stretches of page ids
// alone: its hits are the whole library's hits of those books, in order,
// whether the books' stretches touch or not, and a page written later far
// from its book's stretch is still found.
TEST(SearchDifferential, aScopeReadOverItsBooksStretchesGivesTheWholeRunsHitsOfThoseBooks)
{
    // Books 70 and 71 lie side by side in page-id order, book 5 apart.
    const SearchLibrary spread = corpusLibraryWithBookIds({{1, 70}, {2, 5}, {3, 71}});
    ASSERT_TRUE(spread.lib);
    SearchEngine engine(*spread.lib);
    for (const QStringList& words : {QStringList{"رسول الله"}, QStringList{"حدثنا"}, QStringList{"عن*"}}) {
        const QList<SearchHit> all = runQuery(engine, phrases(words)).pages;
        for (const QList<std::int64_t>& books : {QList<std::int64_t>{70, 71}, QList<std::int64_t>{5, 71},
                                                 QList<std::int64_t>{71}, QList<std::int64_t>{}}) {
            SearchQuery q = phrases(words);
            q.scope = books;
            QList<SearchHit> expected;
            for (const SearchHit& hit : all)
                if (books.contains(hit.bookId))
                    expected << hit;
            EXPECT_EQ(runQuery(engine, q).pages, expected) << words.join(u' ').toStdString() << " " << books.size();
            if (books.size() == 2) {
                EXPECT_FALSE(expected.isEmpty());
            }
        }
    }

    auto writer = SQLiteDB::open(spread.path, false);
    ASSERT_TRUE(writer);
    const QString text = QStringLiteral("قال رسول الله صلى الله عليه وسلم");
    const QString norm = Arabic::normalize(text, true);
    const std::int64_t far = 9'000'000'001;
    ASSERT_TRUE(writer->run("INSERT INTO pages(id, book_id, seq, content, content_norm) VALUES(?,?,?,?,?)",
                            {far, 71, 9999, text, norm}));
    ASSERT_TRUE(writer->run("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(?,?,?,?)",
                            {far, norm, far, 71}));
    SearchQuery q = phrases({"رسول الله"});
    q.scope = QList<std::int64_t>{71};
    const QList<SearchHit> pages = runQuery(engine, q).pages;
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_EQ(pages.last().pageId, far);
}
