#include "SearchFixture.h"

#include "support/CorpusText.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// Real words of a chain of narrators, used to fill texts to a given length.
const QStringList filler = Arabic::tokens(
    "حدثنا أبو بكر بن أبي شيبة ثنا وكيع عن الأعمش عن أبي صالح عن أبي هريرة قال قال "
    "حدثنا محمد بن عبد الله بن نمير ثنا زكريا بن عدي عن ابن المبارك عن محمد بن سوقة");

// `count` filler words with the given phrases placed at the given positions.
QStringList textWith(int count, const QList<QPair<int, QString>>& placed)
{
    QStringList words;
    for (int i = 0; i < count; ++i)
        words << filler[i % filler.size()];
    for (const auto& [at, phrase] : placed) {
        const QStringList ws = Arabic::tokens(phrase);
        for (qsizetype k = 0; k < ws.size(); ++k)
            words[at + k] = ws[k];
    }
    return words;
}

bool passes(const SearchQuery& q, const QStringList& words)
{
    return SearchEngine::evaluate(SearchEngine::plan(q), words, nullptr);
}

bool passesText(const SearchQuery& q, const QString& text)
{
    return SearchEngine::evaluate(SearchEngine::plan(q), text);
}

} // namespace

TEST(SearchVerify, positionsOfAPhrase)
{
    const auto plan = SearchEngine::plan(phrases({"رسول الله صلى"}));
    EXPECT_TRUE(SearchEngine::positions(plan.ands.front(), {"رسول", "الله"}, nullptr, plan.q).isEmpty());
    const QStringList words = Arabic::tokens("قال رسول الله صلى الله عليه وسلم ورسول الله صلى رسول2 الله صلى");
    EXPECT_EQ(SearchEngine::positions(plan.ands.front(), words, nullptr, plan.q), (QList<int>{1, 10}));
}

TEST(SearchVerify, orderedPhrasesMustNotOverlap)
{
    // Two words each: A at 5, B at 2.
    EXPECT_FALSE(SearchEngine::orderNear({{5}, {2}}, {2, 2}, true, false));
    EXPECT_TRUE(SearchEngine::orderNear({{5}, {2, 400}}, {2, 2}, true, false));
    // B starting inside A's span does not count.
    EXPECT_FALSE(SearchEngine::orderNear({{3}, {4}}, {3, 1}, true, false));
    EXPECT_TRUE(SearchEngine::orderNear({{3}, {4, 6}}, {3, 1}, true, false));
    // Ordered and near: every later phrase within 12 words of the first one's end.
    EXPECT_TRUE(SearchEngine::orderNear({{8}, {22}}, {2, 1}, true, true));
    EXPECT_FALSE(SearchEngine::orderNear({{8}, {23}}, {2, 1}, true, true));
    EXPECT_TRUE(SearchEngine::orderNear({{0, 30}, {2, 35}, {40}}, {1, 1, 1}, true, true));
    EXPECT_FALSE(SearchEngine::orderNear({{0, 30}, {2, 50}, {40}}, {1, 1, 1}, true, true));
}

TEST(SearchVerify, nearStrategiesAgree)
{
    // 300 × 300 occurrences (past the exhaustive limit) and a 3 × 3 case,
    // each with one close pair only.
    QList<int> a, b;
    for (int i = 0; i < 300; ++i) {
        a << i * 100;
        b << i * 100 + 50;
    }
    EXPECT_FALSE(SearchEngine::orderNear({a, b}, {1, 1}, false, true));
    b[150] = a[150] + 13; // starts 12 after A's end
    EXPECT_TRUE(SearchEngine::orderNear({a, b}, {1, 1}, false, true));
    b[150] = a[150] + 14;
    EXPECT_FALSE(SearchEngine::orderNear({a, b}, {1, 1}, false, true));

    EXPECT_FALSE(SearchEngine::orderNear({{0, 100, 200}, {50, 150, 250}, {90, 190, 290}}, {1, 1, 1}, false, true));
    EXPECT_TRUE(SearchEngine::orderNear({{0, 100, 200}, {50, 150, 205}, {90, 190, 210}}, {1, 1, 1}, false, true));
    // A phrase without occurrences fails either way.
    EXPECT_FALSE(SearchEngine::orderNear({{0}, {}}, {1, 1}, false, true));
    EXPECT_FALSE(SearchEngine::orderNear({a, {}}, {1, 1}, false, true));
}

TEST(SearchVerify, alternativesOrPhrasesAndExclusions)
{
    const QStringList text = textWith(20, {{4, "رسول الله"}});
    SearchQuery q = phrases({"رسول الله", "الصبح"});
    EXPECT_FALSE(passes(q, text));
    q.requireAll = false;
    EXPECT_TRUE(passes(q, text));
    q.near = true; // nearness needs both again
    EXPECT_FALSE(passes(q, text));

    SearchQuery ors;
    ors.orPhrases = {"الصبح", "رسول الله"};
    EXPECT_TRUE(passes(ors, text));
    ors.notPhrases = {"وكيع"};
    EXPECT_FALSE(passes(ors, text));

    SearchQuery onlyNot;
    onlyNot.notPhrases = {"الصبح"};
    EXPECT_FALSE(passes(onlyNot, text));
}

TEST(SearchVerify, hamzaAndMarksOnVocalisedVerses)
{
    const QString inna = quranVerse(2, 6);  // إِنَّ ٱلَّذِينَ …
    const QString an = quranVerse(2, 27);   // … أَن يُوصَلَ …
    const QString in = quranVerse(4, 62);   // … إِنْ أَرَدْنَآ …
    ASSERT_FALSE(inna.isEmpty());

    struct Row {
        QString phrase;
        bool SearchQuery::*flag; // set on top of the default query, if any
        QString text;
        bool passes;
    };
    const Row rows[] = {
        {"إن", nullptr, inna, true},
        {"إن", nullptr, an, true},
        {"إن", nullptr, in, true},
        {"إن", &SearchQuery::hamza, inna, true},
        {"إن", &SearchQuery::hamza, an, false},
        {"إن", &SearchQuery::hamza, in, true},
        {"أن", &SearchQuery::hamza, inna, false},
        {"أن", &SearchQuery::hamza, an, true},
        {"إِنَّ", &SearchQuery::tashkeel, inna, true},
        {"إِنَّ", &SearchQuery::tashkeel, an, false},
        {"إِنَّ", &SearchQuery::tashkeel, in, false},
        {"إِنْ", &SearchQuery::tashkeel, inna, false},
        {"إِنْ", &SearchQuery::tashkeel, in, true},
        // A plain alef in the query accepts the wasla of the page under hamza.
        {"الله", &SearchQuery::hamza, quranVerse(2, 7), true},
        // A digit token is compared as a number, whatever the marks.
        {"إِنَّ 7", &SearchQuery::tashkeel, QStringLiteral("إِنَّ ٧"), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.phrase + " / " + row.text).toStdString());
        SearchQuery q = phrases({row.phrase});
        if (row.flag)
            q.*row.flag = true;
        EXPECT_EQ(passesText(q, row.text), row.passes);
    }
}

TEST(SearchVerify, sectionText)
{
    const QString page = QStringLiteral("قال أبو يعلى\n__________\n(1) انظر المنتظم");
    SearchQuery q;
    EXPECT_EQ(SearchEngine::sectionText(q, page), page);
    q.inHawashi = false;
    EXPECT_EQ(SearchEngine::sectionText(q, page), QStringLiteral("قال أبو يعلى"));
    q.inHawashi = true;
    q.inMatn = false;
    EXPECT_EQ(SearchEngine::sectionText(q, page), QStringLiteral("(1) انظر المنتظم"));
    EXPECT_EQ(SearchEngine::sectionText(q, QStringLiteral("قال أبو يعلى")), QString());
    q.inHawashi = false;
    EXPECT_EQ(SearchEngine::sectionText(q, page), QString());
}

TEST(SearchVerify, orderAndNearOverTheIndex)
{
    FixtureBook book{1, "سنن", {}, {}};
    book.pages << textWith(40, {{8, "رسول الله"}, {22, "الصبح"}}).join(' ')  // 12 apart
               << textWith(40, {{8, "رسول الله"}, {23, "الصبح"}}).join(' ')  // 13 apart
               << textWith(40, {{20, "رسول الله"}, {12, "الصبح"}}).join(' '); // reversed, near
    auto lib = customLibrary({book});
    SearchEngine engine(*lib.lib);
    auto seqs = [&](const SearchQuery& q) {
        QList<std::int64_t> out;
        for (const auto& h : runQuery(engine, q).pages)
            out << h.seq;
        return out;
    };
    SearchQuery q = phrases({"رسول الله", "الصبح"});
    EXPECT_EQ(seqs(q), (QList<std::int64_t>{1, 2, 3}));
    q.near = true;
    EXPECT_EQ(seqs(q), (QList<std::int64_t>{1, 3}));
    q.ordered = true;
    EXPECT_EQ(seqs(q), QList<std::int64_t>{1});
    q.near = false;
    EXPECT_EQ(seqs(q), (QList<std::int64_t>{1, 2}));
}

TEST(SearchVerify, wordsReadInPlaceMatchAsCopiedWordsDo)
{
    // Real pages, and a made-up one with numbers glued to words, standing
    // alone in every digit family and inside a word.
    QStringList texts = bookPages("books/001.json").mid(0, 40);
    texts << QStringLiteral("حدثنا12 عن مالك٣ باب 12 ١٢ ۱۲ صلاة والصلاة الصلوات رسول الله3 حد3ثنا 7 المسلمون ثنا");
    const auto query = [](const QStringList& ands, std::initializer_list<bool SearchQuery::*> flags = {}) {
        SearchQuery q = phrases(ands);
        for (bool SearchQuery::*flag : flags)
            q.*flag = true;
        return q;
    };
    const QList<SearchQuery> queries = {
        query({"حدثنا"}),
        query({"مالك"}),
        query({"رسول الله"}),
        query({"12"}),
        query({"12"}, {&SearchQuery::digitsExact}),
        query({"١٢"}),
        query({"باب 12"}),
        query({"صلاة"}, {&SearchQuery::affix}),
        query({"المسلمون"}, {&SearchQuery::morph}),
        query({"حد*"}),
        query({"*ثنا"}),
        query({"?دثنا"}),
        query({"أبي هريرة"}),
        query({"ابو"}),
        query({"حدثنا", "مالك"}, {&SearchQuery::near}),
        query({"عن", "قال"}, {&SearchQuery::ordered}),
    };
    int passed = 0;
    for (const SearchQuery& q : queries) {
        const SearchEngine::Plan plan = SearchEngine::plan(q);
        for (const QString& text : texts) {
            const bool inPlace = SearchEngine::evaluate(plan, text);
            EXPECT_EQ(inPlace, SearchEngine::evaluate(plan, Arabic::tokens(text), nullptr))
                << q.andPhrases.join(u'|').toStdString() << " on " << text.left(40).toStdString();
            passed += inPlace ? 1 : 0;
        }
    }
    // Both outcomes occur, so the comparison is not of two constant answers.
    EXPECT_GT(passed, 0);
    EXPECT_LT(passed, queries.size() * texts.size());
    // The glued and the standalone numbers on the made-up page.
    EXPECT_TRUE(passesText(query({"حدثنا"}), texts.last().left(8)));
    EXPECT_TRUE(passesText(query({"12"}), QStringLiteral("باب ١٢")));
    EXPECT_FALSE(passesText(query({"12"}, {&SearchQuery::digitsExact}), QStringLiteral("باب ١٢")));
}
