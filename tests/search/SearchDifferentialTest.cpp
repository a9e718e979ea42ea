// The planner and verifier against a slow, plain scan of every page's
// normalised words, for queries cut from the corpus itself.

#include "SearchFixture.h"

#include "core/SQLiteDB.h"

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

} // namespace

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
