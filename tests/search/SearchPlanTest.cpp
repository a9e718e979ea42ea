#include "SearchFixture.h"

#include "core/SQLiteDB.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

SearchEngine::FtsPlan planWithout(const SearchQuery& q)
{
    SearchEngine::Held held;
    return SearchEngine::ftsPlan(SearchEngine::plan(q), nullptr, true, held);
}

QString exprWithout(const SearchQuery& q)
{
    return planWithout(q).expr.value_or(QStringLiteral("<none>"));
}

// Pages made of hadith words with footnote numbers glued to them, as older
// transcriptions print them: رسول1 … and الله1 … up to `glued` forms each.
QList<FixtureBook> gluedBooks(int glued)
{
    FixtureBook book{1, "سنن", {}, {}};
    for (int i = 1; i <= glued; ++i) {
        book.pages << QStringLiteral("قال رسول%1 الله صلى الله عليه وسلم").arg(i);
        book.pages << QStringLiteral("عن النبي قال رسول الله%1 صلى الله عليه وسلم").arg(i);
    }
    book.pages << QStringLiteral("قال رسول الله صلى الله عليه وسلم");
    book.pages << QStringLiteral("رسول3 قال الله");
    book.pages << QStringLiteral("رسول قال الله");
    return {book};
}

// 3000 words كت…م and one more word starting with كت.
QList<FixtureBook> wildBooks()
{
    const QString letters = QStringLiteral("بتثجحخدذرزسشصضط");
    QStringList words;
    for (QChar a : letters)
        for (QChar b : letters)
            for (QChar c : letters)
                if (words.size() < SearchEngine::maxWild)
                    words << QStringLiteral("كت") + a + b + c + QStringLiteral("م");
    FixtureBook book{1, "كتاب", {}, {}};
    for (qsizetype i = 0; i < words.size(); i += 300)
        book.pages << words.mid(i, 300).join(' ');
    book.pages << QStringLiteral("كتابات");
    return {book};
}

} // namespace

TEST(SearchPlanText, expressionsWithoutVocabulary)
{
    EXPECT_EQ(SearchEngine::quote(QStringLiteral("قال \"حدثنا\"")), QStringLiteral("\"قال حدثنا\""));
    SearchQuery morph = phrases({"المسلمون"});
    morph.morph = true; // stem heads are prefixes
    EXPECT_TRUE(exprWithout(morph).startsWith(QStringLiteral("((\"مسلم\"* OR ")));
    // A number has three alternatives, one per digit family.
    SearchQuery q = phrases({"1382"});
    EXPECT_EQ(exprWithout(q), QStringLiteral("((\"1382\" OR \"١٣٨٢\" OR \"۱۳۸۲\"))"));
    // Spelling variants are alternatives of their word.
    EXPECT_EQ(exprWithout(phrases({"إسحاق"})), QStringLiteral("((\"اسحاق\" OR \"اسحق\"))"));

    q = phrases({"رسول الله", "الصبح"});
    EXPECT_EQ(exprWithout(q), QStringLiteral("((\"رسول\" + \"الله\") AND (\"الصبح\"))"));
    EXPECT_FALSE(planWithout(q).verify);

    q.requireAll = false;
    EXPECT_EQ(exprWithout(q), QStringLiteral("((\"رسول\" + \"الله\") OR (\"الصبح\"))"));
    q.requireAll = true;
    q.near = true;
    EXPECT_EQ(exprWithout(q), QStringLiteral("(NEAR(\"رسول\" + \"الله\" \"الصبح\", 12))"));
    EXPECT_FALSE(planWithout(q).verify);
    // The order is settled by token positions beside the MATCH, in NEAR
    // groups or over an AND; the page-checked reference leaves it to the page.
    q.ordered = true;
    EXPECT_FALSE(planWithout(q).verify);
    EXPECT_EQ(planWithout(q).order, QStringLiteral("0;1;2,1;0,1"));
    q.near = false;
    EXPECT_EQ(planWithout(q).order, QStringLiteral("0;0;2,1;0,1"));
    SearchEngine::Plan checked = SearchEngine::plan(q);
    checked.pageChecked = true;
    SearchEngine::Held held;
    EXPECT_TRUE(SearchEngine::ftsPlan(checked, nullptr, true, held).verify);
    EXPECT_FALSE(SearchEngine::ftsPlan(checked, nullptr, true, held).order);

    q = phrases({"الصلاة"});
    q.orPhrases = {"الصبح", "العصر"};
    q.notPhrases = {"الغلس"};
    EXPECT_EQ(exprWithout(q),
              QStringLiteral("((\"الصلاه\")) AND ((\"الصبح\") OR (\"العصر\")) NOT (\"الغلس\")"));
}

TEST(SearchPlanText, nearGroupsAreCappedAtTheCombinationLimit)
{
    auto exprWith = [](int combos) {
        SearchEngine::PhraseExpr e;
        QStringList written;
        for (int i = 0; i < combos; ++i)
            written << SearchEngine::quote(QString::number(i));
        e.expr = "(" + written.join(" OR ") + ")";
        e.combos = written;
        return e;
    };
    // 16 × 16 groups are written, earlier phrases varying slowest.
    const auto groups = SearchEngine::nearCombos({exprWith(16), exprWith(16)});
    ASSERT_TRUE(groups);
    EXPECT_EQ(groups->size(), SearchEngine::maxCombos);
    EXPECT_EQ(groups->at(1), QStringLiteral("NEAR(\"0\" \"1\", 12)"));
    EXPECT_EQ(groups->at(16), QStringLiteral("NEAR(\"1\" \"0\", 12)"));
    // 17 × 16 are too many; an inexact phrase or one without written forms
    // cannot stand in a NEAR group at all.
    EXPECT_FALSE(SearchEngine::nearCombos({exprWith(17), exprWith(16)}));
    SearchEngine::PhraseExpr inexact = exprWith(2);
    inexact.exact = false;
    EXPECT_FALSE(SearchEngine::nearCombos({exprWith(2), inexact}));
    SearchEngine::PhraseExpr unwritten = exprWith(2);
    unwritten.combos.reset();
    EXPECT_FALSE(SearchEngine::nearCombos({unwritten, exprWith(2)}));
}

TEST(SearchPlanText, sectionsAndMarksNeedTheCheck)
{
    SearchQuery q = phrases({"الصلاة"});
    EXPECT_FALSE(planWithout(q).verify);
    q.inHawashi = false;
    EXPECT_TRUE(planWithout(q).verify);
    q.inHawashi = true;
    // Marks are compared where the query writes them, and letters where a
    // page may write the word otherwise (الصلوة).
    q.tashkeel = true;
    EXPECT_TRUE(planWithout(q).verify);
    q.andPhrases = {QStringLiteral("الصبح")};
    EXPECT_FALSE(planWithout(q).verify);
    q.andPhrases = {QStringLiteral("الصُّبح")};
    EXPECT_TRUE(planWithout(q).verify);
}

// Every caller goes through plan(), so the bounds hold for all of them: past
// them nothing is split, expanded or searched, and the refusal says why.
TEST(SearchPlanText, oversizedRequestsArePlannedAsNothing)
{
    QStringList words;
    for (int i = 0; i < SearchEngine::maxQueryWords; ++i)
        words << QStringLiteral("الصلاة");
    SearchQuery q;
    q.andPhrases = {words.join(u' ')};
    EXPECT_FALSE(SearchEngine::plan(q).tooLarge);
    EXPECT_FALSE(SearchEngine::refusal(q));

    // One word more, counted across the lists.
    q.notPhrases = {QStringLiteral("الزكاة")};
    const SearchEngine::Plan over = SearchEngine::plan(q);
    EXPECT_TRUE(over.tooLarge);
    EXPECT_FALSE(over.valid());
    EXPECT_EQ(exprWithout(q), QStringLiteral("<none>"));
    EXPECT_EQ(SearchEngine::refusal(q), QStringLiteral("طلب البحث أطول من المقبول: 128 كلمة و4096 حرفا على الأكثر."));

    SearchQuery huge;
    huge.orPhrases = {QString(SearchEngine::maxQueryChars + 1, QChar(u'ب'))};
    EXPECT_TRUE(SearchEngine::plan(huge).tooLarge);
}

TEST(SearchPlanText, nothingToSearch)
{
    SearchQuery onlyNot;
    onlyNot.notPhrases = {"الغلس"};
    EXPECT_FALSE(planWithout(onlyNot).expr);
    EXPECT_FALSE(SearchEngine::plan(onlyNot).valid());
    // A wildcard word has no alternative without a vocabulary, so a required
    // phrase holding one leaves nothing; as an alternative it is skipped.
    SearchQuery q = phrases({"كت*", "الصلاة"});
    EXPECT_FALSE(planWithout(q).expr);
    q.requireAll = false;
    EXPECT_EQ(exprWithout(q), QStringLiteral("((\"الصلاه\"))"));
}

TEST(SearchPlanText, badlyTypedQueriesStayValidFts)
{
    auto lib = corpusLibrary();
    ASSERT_TRUE(lib.lib);
    auto db = lib.lib->newSearchConnection();
    auto vocab = SearchEngine::Vocab::make(db);
    ASSERT_TRUE(vocab);
    QStringList thousands;
    for (int i = 0; i < 2000; ++i)
        thousands << (i % 2 ? "الله" : "رسول");
    const QStringList typed = {"\"رسول الله", "رسول\" AND (الله", "NEAR(الصلاة, 3)", "-الصلاة", "ص",
                               "* ? ؟", "من في عن", "الصلاة*)", "\"\"", "^الصلاه", thousands.join(' ')};
    for (const QString& text : typed) {
        SearchQuery q = phrases({text});
        const auto parts = SearchEngine::ftsParts(SearchEngine::plan(q), vocab.get());
        for (const auto& part : parts) {
            auto st = db->prepare(QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"));
            ASSERT_TRUE(st);
            st->bind({part.expr});
            EXPECT_TRUE(st->step()) << text.left(60).toStdString() << " -> " << db->lastError().toStdString();
        }
    }
}

TEST(SearchPlanVocab, affixWordFoundOnlyWithItsPrefix)
{
    auto lib = corpusLibrary();
    auto vocab = SearchEngine::Vocab::make(lib.lib->newSearchConnection());
    ASSERT_TRUE(vocab);
    // مدينة occurs in the corpus only as المدينة.
    EXPECT_FALSE(vocab->terms("مدينه").contains("مدينه"));
    EXPECT_TRUE(vocab->terms("المدينه").contains("المدينه"));

    SearchQuery q = phrases({"مدينة"});
    q.affix = true;
    SearchEngine::Held held;
    const auto plan = SearchEngine::plan(q);
    const auto alts = SearchEngine::alts(plan.ands.front().toks.front(), vocab.get(), true, held);
    EXPECT_EQ(alts.kind, SearchEngine::Alts::Kind::terms);
    EXPECT_TRUE(alts.list.contains("المدينه"));
    for (const QString& term : alts.list)
        EXPECT_TRUE(term.contains("مدين")) << term.toStdString();

    SearchEngine engine(*lib.lib);
    EXPECT_GT(runQuery(engine, q).pages.size(), 0);
    q.affix = false;
    EXPECT_EQ(runQuery(engine, q).pages.size(), 0);
}

TEST(SearchPlanVocab, wildcardLimits)
{
    auto lib = customLibrary(wildBooks());
    ASSERT_TRUE(lib.lib);
    auto vocab = SearchEngine::Vocab::make(lib.lib->newSearchConnection());
    ASSERT_TRUE(vocab);
    auto expand = [&](const QString& word) {
        SearchEngine::Held held;
        const auto plan = SearchEngine::plan(phrases({word}));
        return SearchEngine::alts(plan.ands.front().toks.front(), vocab.get(), true, held).list;
    };
    const QStringList exactly = expand("كت*م");
    EXPECT_EQ(exactly.size(), SearchEngine::maxWild);
    EXPECT_TRUE(std::is_sorted(exactly.begin(), exactly.end(),
                               [](const QString& a, const QString& b) { return Arabic::codePointLess(a, b); }));
    EXPECT_TRUE(vocab->tooBroad.isEmpty());

    EXPECT_TRUE(expand("كت*").isEmpty()); // 3001 terms
    EXPECT_TRUE(expand("ك*").isEmpty());  // one letter
    EXPECT_EQ(vocab->tooBroad, (QStringList{"كت*", "ك*"}));
    EXPECT_EQ(expand("*ابات"), QStringList{"كتابات"});

    // Over the run: the pattern finds nothing and is reported once.
    SearchEngine engine(*lib.lib);
    SearchQuery q = phrases({"ك*", "كت*"});
    q.requireAll = false;
    q.orPhrases = {"ك*"};
    EXPECT_TRUE(runQuery(engine, q).pages.isEmpty());
    EXPECT_EQ(engine.tooBroad(), (QStringList{"ك*", "كت*"}));
    EXPECT_EQ(runQuery(engine, phrases({"كتب?ثم"})).pages.size(), 1);
    EXPECT_TRUE(engine.tooBroad().isEmpty());
}

TEST(SearchPlanVocab, combinationCapDecidesExactness)
{
    // 16 alternatives per word: 256 combinations are still written out.
    auto small = customLibrary(gluedBooks(15));
    auto vocab16 = SearchEngine::Vocab::make(small.lib->newSearchConnection());
    ASSERT_TRUE(vocab16);
    const auto plan = SearchEngine::plan(phrases({"رسول الله"}));
    SearchEngine::Held held;
    auto e = SearchEngine::phraseExpr(plan.ands.front(), vocab16.get(), true, held);
    EXPECT_TRUE(e.exact);
    ASSERT_TRUE(e.combos);
    EXPECT_EQ(e.combos->size(), SearchEngine::maxCombos);
    EXPECT_EQ(SearchEngine::ftsParts(plan, vocab16.get()).size(), 1);
    EXPECT_FALSE(SearchEngine::ftsParts(plan, vocab16.get()).first().verify);

    // 20 per word: the AND fallback, which needs the check.
    auto large = customLibrary(gluedBooks(19));
    auto vocab20 = SearchEngine::Vocab::make(large.lib->newSearchConnection());
    ASSERT_TRUE(vocab20);
    e = SearchEngine::phraseExpr(plan.ands.front(), vocab20.get(), true, held);
    EXPECT_FALSE(e.exact);
    EXPECT_FALSE(e.combos);
    EXPECT_TRUE(e.expr->contains(" AND "));
    EXPECT_TRUE(held.isEmpty());

    // Split: an unchecked exact part without glued forms and a checked one
    // that takes exactly the pages holding a glued form.
    const auto parts = SearchEngine::ftsParts(plan, vocab20.get());
    ASSERT_EQ(parts.size(), 2);
    EXPECT_FALSE(parts[0].verify);
    EXPECT_TRUE(parts[0].expr.startsWith(QStringLiteral("(((\"رسول\" + \"الله\"))) NOT (")));
    EXPECT_TRUE(parts[1].verify);
    EXPECT_TRUE(parts[1].expr.contains(") AND (\"الله1\" OR "));

    SearchEngine engine(*large.lib);
    const auto r = runQuery(engine, phrases({"رسول الله"}));
    // Every page but the last two, whose words are not adjacent.
    EXPECT_EQ(r.pages.size(), 2 * 19 + 1);
    for (const auto& hit : r.pages)
        EXPECT_LE(hit.seq, 2 * 19 + 1);
    EXPECT_TRUE(engine.needsVerify(phrases({"رسول الله"})));
    EXPECT_FALSE(SearchEngine(*small.lib).needsVerify(phrases({"رسول الله"})));
}

TEST(SearchPlanVocab, inexactNotPhraseIsLeftToTheCheck)
{
    auto large = customLibrary(gluedBooks(19));
    auto vocab = SearchEngine::Vocab::make(large.lib->newSearchConnection());
    SearchQuery q = phrases({"صلى"});
    q.notPhrases = {"رسول الله"};
    SearchEngine::Held held;
    const auto planned = SearchEngine::ftsPlan(SearchEngine::plan(q), vocab.get(), true, held);
    EXPECT_FALSE(planned.expr->contains("NOT"));
    EXPECT_TRUE(planned.verify);
    SearchEngine engine(*large.lib);
    // Only the two pages without the adjacent phrase remain... and they lack صلى.
    EXPECT_TRUE(runQuery(engine, q).pages.isEmpty());
    q.andPhrases = {"قال"};
    const auto r = runQuery(engine, q);
    ASSERT_EQ(r.pages.size(), 2);
    EXPECT_EQ(r.pages[0].seq, 2 * 19 + 2);
}
