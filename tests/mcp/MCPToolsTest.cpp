#include "mcp/MCPServer.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"
#include "support/FixtureLibrary.h"
#include "support/ReferenceLibrary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using quorvel::Library;
using quorvel::MCPServer;
using Value = MCPServer::Value;

namespace {

struct Outcome {
    bool isError = false;
    std::string text; // the tool result's text
    Value json;       // the text parsed, for successful calls
};

Outcome call(const std::string& tool, const Value& arguments)
{
    const auto reply = MCPServer::handle(
        Value{{"id", 1}, {"method", "tools/call"}, {"params", {{"name", tool}, {"arguments", arguments}}}});
    Outcome out;
    out.isError = reply->at("result").at("isError").get<bool>();
    out.text = reply->at("result").at("content").at(0).at("text").get<std::string>();
    if (!out.isError)
        out.json = *quorvel::Json::parse(out.text);
    return out;
}

Value ok(const std::string& tool, const Value& arguments)
{
    const Outcome out = call(tool, arguments);
    EXPECT_FALSE(out.isError) << out.text;
    return out.json;
}

std::string error(const std::string& tool, const Value& arguments)
{
    const Outcome out = call(tool, arguments);
    EXPECT_TRUE(out.isError) << out.text;
    return out.text;
}

std::vector<std::int64_t> ids(const Value& list, const char* key)
{
    std::vector<std::int64_t> out;
    for (const Value& item : list)
        out.push_back(item.at(key).get<std::int64_t>());
    return out;
}

// One library per suite, installed as the server's library for each test.
class ToolsOn : public ::testing::Test {
protected:
    static std::shared_ptr<Library> open(QTemporaryDir& dir, bool reference)
    {
        const QString path = reference ? quorvel::test::ReferenceLibrary::build(dir.path())
                                       : quorvel::test::FixtureLibrary::build(dir.path());
        EXPECT_FALSE(path.isEmpty());
        return Library::open(path);
    }
    void install(const std::shared_ptr<Library>& lib)
    {
        ASSERT_TRUE(lib);
        quorvel::Settings::setIndicDigits(true);
        MCPServer::setLibrary(lib);
    }
    void TearDown() override { MCPServer::setLibrary(nullptr); }
};

// Builds the reference library (or the tiny corpus) once for all the tests of a suite.
template <bool reference>
class SharedLibraryTools : public ToolsOn {
protected:
    static void SetUpTestSuite()
    {
        dir = std::make_unique<QTemporaryDir>();
        lib = open(*dir, reference);
    }
    static void TearDownTestSuite()
    {
        lib.reset();
        dir.reset();
    }
    void SetUp() override { install(lib); }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline std::shared_ptr<Library> lib;
};

class ReferenceTools : public SharedLibraryTools<true> {};
class CorpusTools : public SharedLibraryTools<false> {};

} // namespace

// ---------------------------------------------------------------------------
// read_page

TEST_F(ReferenceTools, readPageBySequenceSeparatesFootnotesAndNamesTheChapter)
{
    const Value page = ok("read_page", {{"book_id", 10}, {"seq", 3}});
    EXPECT_EQ(page.at("book_id"), 10);
    EXPECT_EQ(page.at("book"), "المدونة الكبرى");
    EXPECT_EQ(page.at("author"), "مالك بن أنس");
    EXPECT_EQ(page.at("volume"), "1");
    EXPECT_EQ(page.at("page"), 3);
    EXPECT_EQ(page.at("citation"), "المدونة الكبرى · مالك بن أنس · ج1 ص3");
    EXPECT_EQ(page.at("footnote"), "(1) في نسخة: يعيد الصلاة أبدا.");
    EXPECT_EQ(page.at("matn").get<std::string>().find("__________"), std::string::npos);
    EXPECT_EQ(page.at("matn").get<std::string>().find("في نسخة"), std::string::npos);
    // The deepest of fourteen nested chapters, and the twelve innermost titles.
    EXPECT_EQ(page.at("chapter"), "باب 14");
    ASSERT_EQ(page.at("chapter_path").size(), 12u);
    EXPECT_EQ(page.at("chapter_path")[0], "باب 3");
    EXPECT_EQ(page.at("chapter_path")[11], "باب 14");
    EXPECT_EQ(page.at("prev_seq"), 2);
    EXPECT_EQ(page.at("next_seq"), 4);
    EXPECT_EQ(page.at("first_seq"), 1);
    EXPECT_EQ(page.at("last_seq"), 10);
    EXPECT_FALSE(page.contains("note"));
}

TEST_F(ReferenceTools, readPageAtTheEdgesOfABook)
{
    const Value first = ok("read_page", {{"book_id", 10}});
    EXPECT_EQ(first.at("seq"), 1);
    EXPECT_FALSE(first.contains("prev_seq"));
    EXPECT_FALSE(first.contains("footnote"));
    // Its only contents entry is paratext: no chapter, no path.
    EXPECT_FALSE(first.contains("chapter"));
    EXPECT_FALSE(first.contains("chapter_path"));

    const Value last = ok("read_page", {{"book_id", 10}, {"seq", 10}});
    EXPECT_FALSE(last.contains("next_seq"));
    EXPECT_EQ(last.at("prev_seq"), 9);
    EXPECT_EQ(last.at("volume"), "2");
}

TEST_F(ReferenceTools, readPageByVolumeAndPrintedPage)
{
    // Volume labels are stored in Arabic-Indic digits and matched in any form.
    for (const Value& volume : {Value("2"), Value("٢"), Value(2)}) {
        const Value page = ok("read_page", {{"book_id", 10}, {"volume", volume}, {"page", 2}});
        EXPECT_EQ(page.at("seq"), 7) << volume;
        EXPECT_FALSE(page.contains("note"));
    }
    EXPECT_EQ(ok("read_page", {{"book_id", 10}, {"volume", "2"}}).at("seq"), 6);

    // Printed page 4 is missing from volume 2: the next page is shown.
    const Value gap = ok("read_page", {{"book_id", 10}, {"volume", "2"}, {"page", 4}});
    EXPECT_EQ(gap.at("seq"), 9);
    EXPECT_EQ(gap.at("page"), 5);
    EXPECT_EQ(gap.at("note"), "الصفحة 4 غير موجودة بعينها، فعرضت أقرب صفحة بعدها.");

    const Value noVolume = ok("read_page", {{"book_id", 10}, {"page", 2}});
    EXPECT_EQ(noVolume.at("seq"), 2);
    EXPECT_EQ(noVolume.at("note"), "الكتاب متعدد الأجزاء ولم يحدد volume، فعرضت أول صفحة بهذا الرقم.");

    // "seq" wins over "page".
    EXPECT_EQ(ok("read_page", {{"book_id", 10}, {"seq", 4}, {"page", 1}}).at("seq"), 4);

    // One volume label is no volume: no "volume", no note.
    const Value single = ok("read_page", {{"book_id", 11}, {"page", 2}});
    EXPECT_FALSE(single.contains("volume"));
    EXPECT_FALSE(single.contains("note"));
    EXPECT_EQ(single.at("citation"), "رسالة في الأصول · الشافعي · ص2");
    EXPECT_EQ(ok("read_page", {{"book_id", 12}}).at("citation"), "كتاب بلا قسم · عروة بن الزبير · تسلسل 1");
}

TEST_F(ReferenceTools, readPageErrorsNameWhatIsAvailable)
{
    EXPECT_EQ(error("read_page", {{"book_id", 999}}), "لا يوجد كتاب بالمعرف 999. استعمل list_books أو find_author.");
    EXPECT_EQ(error("read_page", {{"book_id", 10}, {"volume", "5"}}),
              "لا يوجد الجزء «5» في «المدونة الكبرى». الأجزاء المتاحة: 1، 2.");
    EXPECT_EQ(error("read_page", {{"book_id", 12}, {"volume", "1"}}),
              "لا يوجد الجزء «1» في «كتاب بلا قسم». الأجزاء المتاحة: لا أجزاء.");
    EXPECT_EQ(error("read_page", {{"book_id", 10}, {"page", 99}}), "لا توجد الصفحة 99 في «المدونة الكبرى».");
    EXPECT_EQ(error("read_page", {{"book_id", 10}, {"volume", "٢"}, {"page", 99}}),
              "لا توجد الصفحة 99 في الجزء 2 في «المدونة الكبرى».");
    EXPECT_EQ(error("read_page", {{"book_id", 10}, {"seq", 50}}),
              "لا توجد صفحة بالتسلسل 50 في «المدونة الكبرى». المدى المتاح: 1 إلى 10.");
}

// ---------------------------------------------------------------------------
// get_book

TEST_F(ReferenceTools, getBookCardWithVolumesAndPagedContents)
{
    const Value card = ok("get_book", {{"book_id", 10}});
    EXPECT_EQ(card.at("title"), "المدونة الكبرى");
    EXPECT_EQ(card.at("author"), (Value{{"author_id", 1}, {"name", "مالك بن أنس"},
                                        {"full_name", "مالك بن أنس أبو عبد الله الأصبحي"},
                                        {"death_ah", 179}, {"death_text", "179 هـ"}}));
    EXPECT_EQ(card.at("category"), (Value{{"id", 2}, {"name", "الفقه"}}));
    EXPECT_EQ(card.at("edition"), "الطبعة الأولى");
    EXPECT_EQ(card.at("publisher"), "دار الكتب العلمية");
    EXPECT_FALSE(card.contains("source"));
    EXPECT_EQ(card.at("page_count"), 10);
    EXPECT_EQ(card.at("volumes"),
              *quorvel::Json::parse(R"([{"volume":"1","first_seq":1,"last_seq":5,"first_page":1,"last_page":5},
                                        {"volume":"2","first_seq":6,"last_seq":10,"first_page":1,"last_page":6}])"));
    EXPECT_EQ(card.at("toc_total"), 305);
    EXPECT_EQ(card.at("toc_offset"), 0);
    ASSERT_EQ(card.at("toc").size(), 300u);
    // Paratext stays in the contents list; levels and sequences are kept.
    EXPECT_EQ(card.at("toc")[0], (Value{{"title", "PARATEXT غلاف"}, {"level", 1}, {"seq", 1}}));
    EXPECT_EQ(card.at("toc")[14], (Value{{"title", "باب 14"}, {"level", 14}, {"seq", 2}}));
    EXPECT_EQ(card.at("toc_next_offset"), 300);

    const Value rest = ok("get_book", {{"book_id", 10}, {"toc_offset", 300}});
    EXPECT_EQ(rest.at("toc").size(), 5u);
    EXPECT_FALSE(rest.contains("toc_next_offset"));
    const Value beyond = ok("get_book", {{"book_id", 10}, {"toc_offset", 305}});
    EXPECT_TRUE(beyond.at("toc").empty());
    EXPECT_FALSE(beyond.contains("toc_next_offset"));
}

TEST_F(ReferenceTools, getBookAuthorsAndCategoriesAtTheirLimits)
{
    const Value single = ok("get_book", {{"book_id", 11}});
    EXPECT_FALSE(single.contains("volumes"));
    // A death text that only repeats the year is left out.
    EXPECT_EQ(single.at("author"), (Value{{"author_id", 5}, {"name", "الشافعي"},
                                          {"full_name", "محمد بن إدريس الشافعي"}, {"death_ah", 204}}));
    EXPECT_FALSE(single.contains("edition"));

    const Value uncategorised = ok("get_book", {{"book_id", 12}});
    EXPECT_EQ(uncategorised.at("category"), (Value{{"id", -1}, {"name", "غير مصنّف"}}));
    // A full name equal to the name is left out; years before the Hijra count.
    EXPECT_EQ(uncategorised.at("author"),
              (Value{{"author_id", 2}, {"name", "عروة بن الزبير"}, {"death_ah", -5}, {"death_text", "5 ق.هـ"}}));

    EXPECT_EQ(ok("get_book", {{"book_id", 14}}).at("author"), (Value{{"author_id", 4}, {"name", "أبو فلان"}}));
    EXPECT_EQ(error("get_book", {{"book_id", 77}}), "لا يوجد كتاب بالمعرف 77. استعمل list_books أو find_author.");
}

// ---------------------------------------------------------------------------
// cite

TEST_F(ReferenceTools, citeWritesShortAndFullCitations)
{
    const Value c = ok("cite", {{"book_id", 10}, {"seq", 3}});
    EXPECT_EQ(c.at("citation"), "المدونة الكبرى · مالك بن أنس · ج1 ص3");
    EXPECT_EQ(c.at("citation_full"),
              "مالك بن أنس (ت 179 هـ)، المدونة الكبرى، الطبعة الأولى، دار الكتب العلمية، ج1، ص3.");
    EXPECT_EQ(c.at("quote").get<std::string>().rfind("الجزء الأول الصفحة 3 قال مالك", 0), 0u);
    EXPECT_FALSE(c.contains("quote_found"));

    EXPECT_EQ(ok("cite", {{"book_id", 12}, {"seq", 1}}).at("citation_full"),
              "عروة بن الزبير (ت 5 ق.هـ)، كتاب بلا قسم، تسلسل 1.");
    // No author part for a placeholder name or an author dead in "year 1".
    EXPECT_EQ(ok("cite", {{"book_id", 13}, {"seq", 1}}).at("citation_full"), "كتاب المجهول، تسلسل 1.");
    EXPECT_EQ(ok("cite", {{"book_id", 14}, {"seq", 1}}).at("citation_full"), "كتاب أبي فلان، تسلسل 1.");
    EXPECT_FALSE(ok("cite", {{"book_id", 14}, {"seq", 1}}).contains("author"));

    EXPECT_EQ(error("cite", {{"book_id", 11}, {"seq", 9}}),
              "لا توجد صفحة بالتسلسل 9 في «رسالة في الأصول». المدى المتاح: 1 إلى 3.");
}

TEST_F(ReferenceTools, citeQuotes)
{
    // Exactly forty words: no ellipsis, marks stripped.
    QStringList forty;
    for (int i = 0; i < 40; ++i)
        forty << QStringLiteral("كلمة");
    EXPECT_EQ(ok("cite", {{"book_id", 11}, {"seq", 2}}).at("quote"), forty.join(' ').toStdString());

    // The word only occurs with a clitic: found on the affix-tolerant try.
    const Value around = ok("cite", {{"book_id", 11}, {"seq", 3}, {"around", "الصلوات"}});
    EXPECT_EQ(around.at("quote_found"), true);
    EXPECT_NE(around.at("quote").get<std::string>().find("والصلوات"), std::string::npos);

    const Value missing = ok("cite", {{"book_id", 11}, {"seq", 3}, {"around", "الزكاة"}});
    EXPECT_EQ(missing.at("quote_found"), false);
}

TEST_F(CorpusTools, citeQuotesTheOpeningWordsOfALongPage)
{
    const auto page = lib->page(1, 2);
    ASSERT_TRUE(page);
    const QString quote = QString::fromStdString(ok("cite", {{"book_id", 1}, {"seq", 2}}).at("quote"));
    ASSERT_TRUE(quote.endsWith(QStringLiteral(" …"))) << quote.toStdString();
    const QString words = quote.chopped(2);
    // Forty words joined by single spaces, whatever white space stood between them.
    EXPECT_EQ(words.split(QLatin1Char(' ')).size(), 40);
    EXPECT_EQ(words.simplified(), words);
    EXPECT_EQ(quorvel::Arabic::stripMarks(words), words);
    const QString matn = Library::splitFootnotes(page->content).first;
    EXPECT_TRUE(quorvel::Arabic::stripMarks(matn).simplified().startsWith(words + QLatin1Char(' ')));
}

// ---------------------------------------------------------------------------
// list_books, list_categories, find_author, library_data

TEST_F(ReferenceTools, listBooksFilters)
{
    const Value all = ok("list_books", Value::object());
    EXPECT_EQ(all.at("total"), 6);
    EXPECT_EQ(all.at("count"), 6);
    EXPECT_FALSE(all.contains("next_offset"));
    // Display order puts the author who died before the Hijra first.
    EXPECT_EQ(all.at("books")[0], (Value{{"book_id", 12}, {"title", "كتاب بلا قسم"}, {"author", "عروة بن الزبير"},
                                         {"death_ah", -5}, {"category", "غير مصنّف"}}));

    using V = std::vector<std::int64_t>;
    EXPECT_EQ(ids(ok("list_books", {{"category", "2"}}).at("books"), "book_id"), (V{10, 15}));
    EXPECT_EQ(ids(ok("list_books", {{"category", "٢"}}).at("books"), "book_id"), (V{10, 15}));
    EXPECT_EQ(ids(ok("list_books", {{"category", 2}}).at("books"), "book_id"), (V{10, 15}));
    EXPECT_EQ(ids(ok("list_books", {{"category", "+2"}}).at("books"), "book_id"), (V{10, 15}));
    // A name matches every category holding it: الفقه and أصول الفقه.
    EXPECT_EQ(ids(ok("list_books", {{"category", "الفقه"}}).at("books"), "book_id"), (V{10, 11, 15}));
    EXPECT_EQ(ids(ok("list_books", {{"category", "-1"}}).at("books"), "book_id"), (V{12}));
    EXPECT_EQ(error("list_books", {{"category", "12a"}}), "لا يوجد قسم يطابق «12a». استعمل list_categories.");
    EXPECT_EQ(error("list_books", {{"category", "12"}}), "لا يوجد قسم بالمعرف 12. استعمل list_categories.");

    // Authors match on the full name too, with hamza folded.
    EXPECT_EQ(ids(ok("list_books", {{"author", "الاصبحي"}}).at("books"), "book_id"), (V{10}));
    EXPECT_EQ(ids(ok("list_books", {{"title_contains", "المدونه"}}).at("books"), "book_id"), (V{10}));

    // Years are inclusive; a book with neither a usable year nor a date drops out.
    EXPECT_EQ(ids(ok("list_books", {{"death_before", 179}}).at("books"), "book_id"), (V{12, 10}));
    EXPECT_EQ(ids(ok("list_books", {{"death_after", 300}}).at("books"), "book_id"), (V{13, 15}));
    const Value span = ok("list_books", {{"death_after", -500}, {"death_before", 2000}});
    EXPECT_EQ(span.at("total"), 5);

    const Value paged = ok("list_books", {{"limit", 2}, {"offset", 1}});
    EXPECT_EQ(paged.at("count"), 2);
    EXPECT_EQ(paged.at("next_offset"), 3);
    const Value past = ok("list_books", {{"offset", 10}});
    EXPECT_EQ(past.at("count"), 0);
    EXPECT_TRUE(past.at("books").empty());
    EXPECT_FALSE(past.contains("next_offset"));
}

TEST_F(ReferenceTools, listCategoriesAndFindAuthor)
{
    const Value categories = ok("list_categories", Value::object());
    EXPECT_EQ(categories.at("count"), 4);
    EXPECT_EQ(categories.at("total_books"), 6);
    EXPECT_EQ(categories.at("categories").back(), (Value{{"id", -1}, {"name", "غير مصنّف"}, {"book_count", 1}}));

    // Dated authors first, by year; "أبو" reaches one through the full name.
    const Value found = ok("find_author", {{"name", "أبو"}});
    EXPECT_EQ(found.at("total"), 2);
    EXPECT_EQ(ids(found.at("authors"), "author_id"), (std::vector<std::int64_t>{1, 4}));
    EXPECT_EQ(found.at("authors")[0].at("book_count"), 1);
    EXPECT_EQ(found.at("authors")[0].at("books"), *quorvel::Json::parse(R"([{"book_id":10,"title":"المدونة الكبرى"}])"));
    EXPECT_EQ(ids(ok("find_author", {{"name", "ادريس"}}).at("authors"), "author_id"),
              (std::vector<std::int64_t>{5}));

    const Value limited = ok("find_author", {{"name", "بن"}, {"limit", 1}});
    EXPECT_EQ(limited.at("total"), 3);
    EXPECT_EQ(limited.at("count"), 1);
    EXPECT_EQ(limited.at("authors")[0].at("author_id"), 2);
    EXPECT_EQ(error("find_author", {{"name", "؟!"}}), "الاسم «؟!» لا يحوي حروفا قابلة للبحث.");
}

// ---------------------------------------------------------------------------
// search_library

TEST_F(CorpusTools, searchReturnsMarkedCitedPagesAndATotal)
{
    const Value found = ok("search_library", {{"query", "الصلاة"}, {"limit", 5}});
    EXPECT_EQ(found.at("query"), "الصلاة");
    EXPECT_EQ(found.at("count"), 5);
    ASSERT_EQ(found.at("results").size(), 5u);
    EXPECT_GE(found.at("total_matches").get<int>(), 5);
    EXPECT_EQ(found.at("note"),
              "بلغت النتائج الحد limit وقد توجد غيرها؛ ضيق بـ book_ids أو category_id أو all_of، أو زد limit.");
    for (const Value& hit : found.at("results")) {
        const std::string snippet = hit.at("snippet");
        EXPECT_NE(snippet.find("«"), std::string::npos) << snippet;
        EXPECT_NE(snippet.find("»"), std::string::npos) << snippet;
        EXPECT_EQ(hit.at("citation").get<std::string>().rfind(hit.at("book").get<std::string>(), 0), 0u);
    }
    // Hits come in the books' display order, then by sequence.
    const Value wide = ok("search_library", {{"query", "الصلاة"}, {"limit", 100}});
    const Value& r = wide.at("results");
    ASSERT_GE(r.size(), 2u);
    auto order = [](const Value& hit) { return lib->book(hit.at("book_id").get<std::int64_t>())->order; };
    EXPECT_NE(r.front().at("book_id"), r.back().at("book_id")) << "the hits should span several books";
    for (size_t i = 1; i < r.size(); ++i) {
        if (r[i].at("book_id") == r[i - 1].at("book_id"))
            EXPECT_GT(r[i].at("seq"), r[i - 1].at("seq"));
        else
            EXPECT_GT(order(r[i]), order(r[i - 1]));
    }
}

TEST_F(CorpusTools, searchScopesByBooksAndCategory)
{
    EXPECT_EQ(error("search_library", {{"query", "الصلاة"}, {"book_ids", {999999}}}),
              "لا يوجد أي كتاب بالمعرفات المعطاة. استعمل list_books أو find_author.");
    const Value scoped = ok("search_library", {{"query", "الصلاة"}, {"book_ids", {1, 999999, 999999}}});
    EXPECT_EQ(scoped.at("unknown_book_ids"), Value::array({999999, 999999}));
    EXPECT_FALSE(scoped.contains("total_matches"));
    EXPECT_GT(scoped.at("count").get<int>(), 0);
    for (const Value& hit : scoped.at("results"))
        EXPECT_EQ(hit.at("book_id"), 1);

    const Value category = ok("search_library", {{"query", "الصلاة"}, {"category_id", 1}, {"limit", 3}});
    EXPECT_FALSE(category.contains("total_matches"));
    EXPECT_EQ(category.at("count"), 3);
    EXPECT_EQ(error("search_library", {{"query", "الصلاة"}, {"category_id", 5}}),
              "لا يوجد قسم بالمعرف 5. استعمل list_categories.");
}

TEST_F(CorpusTools, searchPhrasesMustMayAndMustNotOccur)
{
    auto pageText = [](const Value& hit) {
        const auto page = lib->page(hit.at("book_id").get<std::int64_t>(), hit.at("seq").get<std::int64_t>());
        EXPECT_TRUE(page);
        return page ? quorvel::Arabic::normalize(page->content, true) : QString();
    };
    const QString phrase = quorvel::Arabic::normalize(QStringLiteral("رسول الله"), true);
    const Value found = ok("search_library", {{"query", "رسول الله"}, {"limit", 100}});
    ASSERT_GT(found.at("count").get<int>(), 0);
    for (const Value& hit : found.at("results")) {
        EXPECT_TRUE(pageText(hit).contains(phrase));
        EXPECT_NE(hit.at("snippet").get<std::string>().find("«رسول الله»"), std::string::npos)
            << hit.at("snippet");
    }

    const QString aisha = quorvel::Arabic::normalize(QStringLiteral("عائشة"), true);
    const Value without = ok("search_library", {{"query", "رسول الله"}, {"none_of", {"عائشة"}}, {"limit", 100}});
    EXPECT_GT(without.at("count").get<int>(), 0);
    for (const Value& hit : without.at("results"))
        EXPECT_FALSE(pageText(hit).contains(aisha));

    const Value together = ok("search_library", {{"query", "رسول الله"}, {"all_of", {"عائشة"}}, {"limit", 100}});
    EXPECT_GT(together.at("count").get<int>(), 0);
    for (const Value& hit : together.at("results"))
        EXPECT_TRUE(pageText(hit).contains(aisha) && pageText(hit).contains(phrase));
    EXPECT_EQ(together.at("query"), "رسول الله عائشة");

    const Value either = ok("search_library", {{"query", "رسول الله"}, {"any_of", {"عائشة", "أنس"}}, {"limit", 100}});
    EXPECT_GE(either.at("count").get<int>(), together.at("count").get<int>());
    EXPECT_EQ(either.at("query"), "رسول الله (عائشة أو أنس)");
}

TEST_F(CorpusTools, searchQueriesWithoutWordsOrHits)
{
    EXPECT_EQ(error("search_library", {{"query", " ... "}}), "الاستعلام «...» لا يحوي كلمات قابلة للبحث.");

    // A phrase without words is dropped, not an error.
    const Value dropped = ok("search_library", {{"query", "الصلاة"}, {"all_of", {"!!"}}, {"limit", 1}});
    EXPECT_EQ(dropped.at("query"), "الصلاة");

    const Value none = ok("search_library", {{"query", "زرزرزر"}});
    EXPECT_EQ(none.at("count"), 0);
    EXPECT_TRUE(none.at("results").empty());
    EXPECT_EQ(none.at("note"), "لا نتائج. جرب affix=true (الكلمة بلواصقها) أو morph=true (بحث صرفي).");
    EXPECT_EQ(ok("search_library", {{"query", "زرزرزر"}, {"affix", true}}).at("note"),
              "لا نتائج. جرب صيغة أخرى للكلمة أو أزل all_of وnone_of.");

    // A wildcard that reaches too much of the index is said to be too broad,
    // not answered as if the books lacked it.
    const Value broad = ok("search_library", {{"query", "ص*"}});
    EXPECT_EQ(broad.at("count"), 0);
    EXPECT_EQ(broad.at("note"), "النمط «ص*» واسع جدا فلم يُبحث به: أضف إليه حروفا.");
    const Value partly = ok("search_library", {{"query", "الصلاة"}, {"none_of", {"*ل*"}}, {"limit", 1}});
    EXPECT_EQ(partly.at("count"), 1);
    EXPECT_EQ(partly.at("note"), "النمط «*ل*» واسع جدا فلم يُبحث به: أضف إليه حروفا. "
                                 "بلغت النتائج الحد limit وقد توجد غيرها؛ ضيق بـ book_ids أو category_id أو all_of، أو زد limit.");
}

TEST_F(ReferenceTools, searchInFootnotesAndEmptyScopes)
{
    // "أبدا" occurs only in a footnote.
    const Value withNotes = ok("search_library", {{"query", "أبدا"}});
    ASSERT_EQ(withNotes.at("count"), 1);
    EXPECT_EQ(withNotes.at("results")[0].at("seq"), 3);
    EXPECT_EQ(ok("search_library", {{"query", "أبدا"}, {"in_footnotes", false}}).at("count"), 0);

    // Books outside the category leave nothing to search.
    const Value empty = ok("search_library", {{"query", "الصلاة"}, {"book_ids", {10}}, {"category_id", 1}});
    EXPECT_EQ(empty.at("count"), 0);
    EXPECT_TRUE(empty.at("results").empty());
    EXPECT_FALSE(empty.contains("total_matches"));
    EXPECT_EQ(empty.at("note"), "لا نتائج. جرب affix=true (الكلمة بلواصقها) أو morph=true (بحث صرفي).");
}

// ---------------------------------------------------------------------------
// One version of the library per call, while another connection writes

namespace {

// A library of its own for each test, with a second connection that writes
// to it as an installer would.
class ChangingLibrary : public ToolsOn {
protected:
    void SetUp() override
    {
        path = quorvel::test::FixtureLibrary::build(dir.path());
        ASSERT_FALSE(path.isEmpty());
        lib = Library::open(path);
        install(lib);
        writer = quorvel::SQLiteDB::open(path, false);
        ASSERT_TRUE(writer);
    }
    void TearDown() override
    {
        lib->main().setProgressCheck(0, {});
        MCPServer::betweenReads() = nullptr;
        ToolsOn::TearDown();
    }

    QTemporaryDir dir;
    QString path;
    std::shared_ptr<Library> lib;
    std::shared_ptr<quorvel::SQLiteDB> writer;
};

} // namespace

TEST_F(ChangingLibrary, aCallReadsOneVersionWhileChangesCommitBetweenItsStatements)
{
    // Book 1's last page goes and comes back at every turn of the library
    // connection's statements, for as long as the calls run.
    const auto last = writer->rows(QStringLiteral("SELECT id, book_id, seq, content FROM pages WHERE id=40"));
    ASSERT_EQ(last.size(), 1);
    int changes = 0;
    lib->main().setProgressCheck(20, [&] {
        const bool ok = changes % 2 == 0
                            ? writer->run(QStringLiteral("DELETE FROM pages WHERE id=40"))
                            : writer->run(QStringLiteral("INSERT INTO pages(id, book_id, seq, content) VALUES(?,?,?,?)"),
                                          {last[0].integer(0), last[0].integer(1), last[0].integer(2), last[0].str(3)});
        changes += ok ? 1 : 0;
        return false;
    });
    const Value card = ok("get_book", {{"book_id", 1}});
    const Value page = ok("read_page", {{"book_id", 1}, {"seq", 1}});
    lib->main().setProgressCheck(0, {});
    ASSERT_GT(changes, 2) << "the library should have changed during the calls";

    const std::int64_t count = card.at("page_count");
    EXPECT_EQ(card.at("last_seq").get<std::int64_t>() - card.at("first_seq").get<std::int64_t>() + 1, count);
    EXPECT_EQ(page.at("next_seq"), 2);
    EXPECT_FALSE(page.contains("prev_seq"));
}

TEST_F(ChangingLibrary, volumesStoredAsNumbersAreListedAndReached)
{
    // A library file made elsewhere whose volume column has no type keeps
    // book 1's volumes 1 (pages 1-20) and 2 (21-40) as numbers.
    ASSERT_TRUE(writer->exec(QStringLiteral(
        "ALTER TABLE pages RENAME COLUMN vol TO vol_text; ALTER TABLE pages ADD COLUMN vol; "
        "UPDATE pages SET vol = CASE WHEN seq <= 20 THEN 1 ELSE 2 END WHERE book_id = 1;")));
    ASSERT_EQ(writer->scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE typeof(vol) = 'integer'")), 40);
    const Value card = ok("get_book", {{"book_id", 1}});
    ASSERT_TRUE(card.contains("volumes"));
    ASSERT_EQ(card.at("volumes").size(), 2u);
    EXPECT_EQ(card.at("volumes")[1].at("volume"), "2");
    EXPECT_EQ(card.at("volumes")[1].at("first_seq"), 21);
    const Value page = ok("read_page", {{"book_id", 1}, {"volume", "2"}});
    EXPECT_EQ(page.at("seq"), 21);
    EXPECT_EQ(page.at("volume"), "2");
}

TEST_F(ChangingLibrary, aSearchIsAnsweredFromTheVersionItsPagesComeFrom)
{
    // A page rewritten to hold a word no other page holds, committed after
    // the call has pinned its version and before the search reads.
    const QString text = QStringLiteral("باب في ذكر القرطاسية والمداد");
    const QString norm = quorvel::Arabic::normalize(text, true);
    const Value before = ok("search_library", {{"query", "القرطاسية"}});
    ASSERT_EQ(before.at("count"), 0);
    bool written = false;
    MCPServer::betweenReads() = [&] {
        if (written)
            return;
        written = writer->run(QStringLiteral("UPDATE pages SET content=?, content_norm=? WHERE id=5"), {text, norm})
                  && writer->run(QStringLiteral("UPDATE pages_fts SET content_norm=? WHERE rowid=5"), {norm});
    };
    const Value during = ok("search_library", {{"query", "القرطاسية"}});
    MCPServer::betweenReads() = nullptr;
    ASSERT_TRUE(written);

    ASSERT_EQ(during.at("count"), 1) << during.dump();
    EXPECT_EQ(during.value("total_matches", -1), 1);
    EXPECT_NE(during.at("results")[0].at("snippet").get<std::string>().find("«القرطاسية»"), std::string::npos)
        << during.dump();
    EXPECT_EQ(during, ok("search_library", {{"query", "القرطاسية"}}));
}

TEST_F(ChangingLibrary, aCallThatNeverReadsOneVersionSaysSo)
{
    // A writer that commits during every attempt: the call gives up and
    // answers, but not as if the library had held still.
    const QString texts[] = {QStringLiteral("باب في ذكر القرطاسية"), QStringLiteral("باب في ذكر المداد")};
    int commits = 0;
    MCPServer::betweenReads() = [&] {
        const QString& text = texts[commits % 2];
        commits += writer->run(QStringLiteral("UPDATE pages SET content=? WHERE id=5"), {text}) ? 1 : 0;
    };
    const Value page = ok("read_page", {{"book_id", 1}, {"seq", 1}});
    MCPServer::betweenReads() = nullptr;
    ASSERT_GT(commits, 1) << "the call should have been tried again";

    EXPECT_EQ(page.value("library_changed", false), true) << page.dump();
    EXPECT_EQ(page.at("seq"), 1);
    // Once the writer stops, the same call reads one version and says nothing of it.
    EXPECT_FALSE(ok("read_page", {{"book_id", 1}, {"seq", 1}}).contains("library_changed"));
}

TEST_F(ChangingLibrary, aTotalNeverCountsPagesTheResultsLeaveOut)
{
    // Book 3's pages stay in the index without its catalogue entry.
    ASSERT_TRUE(writer->run(QStringLiteral("DELETE FROM books WHERE id=3")));
    const Value found = ok("search_library", {{"query", "الصلاة"}, {"limit", 100}});
    ASSERT_GT(found.at("count").get<int>(), 0);
    for (const Value& hit : found.at("results"))
        EXPECT_NE(hit.at("book_id"), 3);
    if (found.contains("total_matches")) {
        EXPECT_EQ(found.at("total_matches"), found.at("count"));
    }
}

TEST(MCPServerRefs, marksAndNames)
{
    EXPECT_EQ(MCPServer::deathLabel(-5), "5 ق.هـ");
    EXPECT_EQ(MCPServer::deathLabel(179), "179 هـ");
    EXPECT_FALSE(MCPServer::matchesAll(MCPServer::norm("أي نص"), "   "));
    EXPECT_TRUE(MCPServer::matchesAll(MCPServer::norm("الاستصحاب"), "صحا"));
    EXPECT_TRUE(MCPServer::matchesAll(MCPServer::norm("Malik ibn Anas"), "ANAS malik"));
    EXPECT_EQ(MCPServer::cleanTitle(QStringLiteral(" \tباب الطهارة\t")), QStringLiteral("باب الطهارة"));
    EXPECT_EQ(MCPServer::cleanTitle(QStringLiteral("PARATEXT 3")), std::nullopt);
    EXPECT_EQ(MCPServer::cleanTitle(QStringLiteral("  ")), std::nullopt);
}

TEST(MCPServerRefs, overlappingMatchesMarkOnlyTheLaterOne)
{
    auto terms = [](const QStringList& phrases) {
        quorvel::SearchQuery query;
        query.andPhrases = phrases;
        return query.highlightTerms();
    };
    const QString text = QStringLiteral("قال في الصلاة الزكاة هنا");
    EXPECT_EQ(MCPServer::marked(text, terms({QStringLiteral("الزكاة")})),
              QStringLiteral("قال في الصلاة «الزكاة» هنا"));
    // The phrase starts first and the word starts inside it: only the word,
    // which starts later, is wrapped.
    const auto both = terms({QStringLiteral("الصلاة الزكاة"), QStringLiteral("الزكاة")});
    ASSERT_EQ(quorvel::SearchEngine::snippet(text, both, 11).ranges.size(), 2);
    EXPECT_EQ(MCPServer::marked(text, both),
              QStringLiteral("قال في الصلاة «الزكاة» هنا"));
}
