#include "SearchFixture.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "distribution/LocalStore.h"
#include "distribution/ReleaseWriter.h"
#include "search/PageIndex.h"
#include "support/CorpusText.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// A word as a reader types it from the page: canonically composed, its
// marks and tatweel left out.
QString typed(const QString& written)
{
    QString word = written.normalized(QString::NormalizationForm_C);
    word.removeIf([](QChar c) { return Arabic::isMark(c.unicode()) || c.unicode() == 0x0640; });
    return word;
}

bool writtenWithSeatMark(const QString& word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) { return Arabic::isSeatMark(c.unicode()); });
}

QSet<std::int64_t> pageIds(const QList<SearchHit>& hits)
{
    QSet<std::int64_t> ids;
    for (const SearchHit& h : hits)
        ids.insert(h.pageId);
    return ids;
}

} // namespace

// The Quran book as the sample release pages it writes the madda and the
// hamza as marks on most pages. Each of its forty commonest words so written
// is found, typed plainly, on every page that holds it.
TEST(SearchSpelling, markedQuranWordsAreFoundOnEveryPageThatHoldsThem)
{
    const auto quran = ReleaseWriter::fromQuranText(dataPath(QStringLiteral("quran/quran-uthmani.txt")),
                                                    Json::Value{{"id", 100}, {"title", "القرآن الكريم"}},
                                                    dataPath(QStringLiteral("quran/mushaf-pages.txt")));
    ASSERT_TRUE(quran);
    FixtureBook book{100, QStringLiteral("القرآن الكريم"), {}, {}};
    for (const auto& page : quran->pages)
        book.pages << page.content.value_or(QString());
    ASSERT_GT(book.pages.size(), 600);
    SearchLibrary lib = customLibrary({book});
    ASSERT_TRUE(lib.lib);

    QHash<QString, int> count;                 // typed word → occurrences written with a mark
    QHash<QString, QSet<qsizetype>> holding;   // typed word → pages (by position) holding it
    for (qsizetype p = 0; p < book.pages.size(); ++p)
        for (const QString& written : book.pages[p].split(QRegularExpression(QStringLiteral("[\\s|]+")),
                                                          Qt::SkipEmptyParts)) {
            const QString word = typed(written);
            holding[word].insert(p);
            if (writtenWithSeatMark(written))
                ++count[word];
        }
    QList<QString> commonest = count.keys();
    std::sort(commonest.begin(), commonest.end(), [&](const QString& a, const QString& b) {
        return count[a] != count[b] ? count[a] > count[b] : a < b;
    });
    ASSERT_GE(commonest.size(), 40);
    commonest.resize(40);

    SearchEngine engine(*lib.lib);
    for (const QString& word : commonest) {
        const QSet<std::int64_t> found = pageIds(runQuery(engine, phrases({word}), 100000).pages);
        qsizetype missed = 0;
        for (const qsizetype p : holding[word]) {
            const auto page = lib.lib->page(100, p + 1);
            ASSERT_TRUE(page);
            missed += found.contains(page->id) ? 0 : 1;
        }
        EXPECT_EQ(missed, 0) << word.toStdString() << ": " << missed << " of " << holding[word].size()
                             << " pages missed";
    }
}

// A query typed with combining marks is the word written precomposed, and
// the hamza-respecting search reads it as such.
TEST(SearchSpelling, aQueryTypedWithCombiningMarksFindsThePrecomposedWord)
{
    auto corpus = corpusLibrary();
    ASSERT_TRUE(corpus.lib);
    SearchEngine engine(*corpus.lib);
    const QString combined = QString(QChar(0x0627)) + QChar(0x0654) + QStringLiteral("حمد");
    for (const bool hamza : {false, true}) {
        SearchQuery precomposed = phrases({QStringLiteral("أحمد")});
        SearchQuery marked = phrases({combined});
        precomposed.hamza = marked.hamza = hamza;
        const QList<SearchHit> expected = runQuery(engine, precomposed).pages;
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(runQuery(engine, marked).pages, expected) << "hamza " << hamza;
    }
    // The page index keeps the alef form a page writes with marks as the
    // one it writes precomposed; a hamza on a tatweel leaves the alef plain.
    const QString page = combined + QStringLiteral(" و") + QChar(0x0627) + QChar(0x064E) + QChar(0x0653)
        + QStringLiteral("من بـ") + QChar(0x064E) + QChar(0x0654) + QStringLiteral("ايات");
    EXPECT_EQ(PageIndex::formsOf(page), QStringLiteral("أحمد وآمن بايات"));
}

// A store whose pages were normalised by the older rules, which split a word
// at a hamza or madda mark, is brought to the current ones in batches that a
// stop interrupts and a later call goes on from. Meanwhile each page is
// found by the form it holds, its full-text row agreeing with it.
TEST(SearchSpelling, aStoreOfTheOlderFormIsBroughtUpInStoppableBatches)
{
    FixtureBook book{1, QStringLiteral("القرآن الكريم"), {}, {}};
    for (const QuranVerse& v : quranVerses())
        book.pages << v.text;
    SearchLibrary lib = customLibrary({book});
    ASSERT_TRUE(lib.lib);
    {
        auto db = SQLiteDB::open(lib.path, false);
        ASSERT_TRUE(db);
        Transaction transaction(*db);
        for (const auto& row : db->rows(QStringLiteral("SELECT id, content FROM pages"))) {
            QString content = row.str(1).value_or(QString());
            for (QChar& c : content)
                if (Arabic::isSeatMark(c.unicode()))
                    c = u' ';
            const QString older = Arabic::normalize(content);
            const std::int64_t id = row.integer(0).value_or(0);
            ASSERT_TRUE(db->run(QStringLiteral("UPDATE pages SET content_norm=? WHERE id=?"), {older, id}));
            ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM pages_fts WHERE rowid=?"), {id}));
            ASSERT_TRUE(db->run(QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) "
                                               "VALUES(?,?,?,1)"),
                                {id, older, id}));
        }
        // The page index of that store was made under its own older version.
        ASSERT_TRUE(db->run(QStringLiteral("DELETE FROM meta WHERE key IN ('norm_version', 'page_index')")));
        ASSERT_TRUE(transaction.commit());
    }
    const auto found = [&] {
        SearchEngine engine(*lib.lib);
        return runQuery(engine, phrases({QStringLiteral("السماء")}), 100000).pages.size();
    };
    const auto formsAgree = [&] {
        auto db = SQLiteDB::open(lib.path, true);
        qsizetype rewritten = 0;
        for (const auto& row : db->rows(QStringLiteral("SELECT p.content, p.content_norm, f.content_norm FROM pages p "
                                                       "JOIN pages_fts f ON f.rowid = p.id"))) {
            EXPECT_EQ(row.str(1), row.str(2));
            rewritten += row.str(1) == Arabic::normalize(Library::searchedContent(row.str(0).value_or(QString()))) ? 1 : 0;
        }
        return rewritten;
    };
    EXPECT_EQ(found(), 0);
    const qsizetype pages = book.pages.size();
    const qsizetype olderForms = pages - formsAgree();
    ASSERT_GT(olderForms, 1000);

    auto store = LocalStore::open(lib.path);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->normalFormOutdated());
    int batches = 0;
    EXPECT_EQ(store->refreshNormalForm([&] { return batches++ < 2; }), LocalStore::FormRefresh::stopped);
    EXPECT_TRUE(store->normalFormOutdated());
    const qsizetype halfway = found();
    EXPECT_GT(halfway, 0);
    EXPECT_LT(pages - formsAgree(), olderForms);

    store = LocalStore::open(lib.path);
    EXPECT_EQ(store->refreshNormalForm(), LocalStore::FormRefresh::done);
    EXPECT_FALSE(store->normalFormOutdated());
    EXPECT_EQ(formsAgree(), pages);
    EXPECT_GT(found(), halfway);
    EXPECT_EQ(store->refreshNormalForm(), LocalStore::FormRefresh::upToDate);
}
