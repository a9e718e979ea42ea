#include "search/SearchQuery.h"

#include "core/Json.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

SearchQuery sample()
{
    SearchQuery q;
    q.andPhrases = {"الصلاة", "رسول الله"};
    q.orPhrases = {"الصبح"};
    q.notPhrases = {"الغلس"};
    q.requireAll = false;
    q.near = true;
    q.inHawashi = false;
    q.affix = true;
    q.digitsExact = true;
    q.scope = QList<std::int64_t>{3, 1};
    return q;
}

Json::Value parsed(const SearchQuery& q)
{
    return *Json::parse(q.json().toUtf8());
}

QString withMember(const SearchQuery& q, const char* key, const Json::Value& value)
{
    Json::Value object = parsed(q);
    object[key] = value;
    return QString::fromStdString(Json::dump(object));
}

QString without(const SearchQuery& q, const char* key)
{
    Json::Value object = parsed(q);
    object.erase(key);
    return QString::fromStdString(Json::dump(object));
}

QStringList termTexts(const QList<SearchQuery::Term>& terms)
{
    QStringList out;
    for (const auto& t : terms)
        out << t.first;
    return out;
}

} // namespace

TEST(SearchQueryJson, roundTripsAndWritesScopeOnlyWhenSet)
{
    for (const SearchQuery& q : {SearchQuery(), sample()}) {
        const auto back = SearchQuery::from(q.json());
        ASSERT_TRUE(back.has_value()) << q.json().toStdString();
        EXPECT_EQ(*back, q);
    }
    const Json::Value plain = parsed(SearchQuery());
    EXPECT_EQ(plain.size(), 16u);
    EXPECT_FALSE(plain.contains("scope"));
    EXPECT_EQ(plain["requireAll"], true);
    EXPECT_EQ(parsed(sample())["scope"], Json::Value::array({3, 1}));

    SearchQuery emptyScope;
    emptyScope.scope = QList<std::int64_t>{};
    EXPECT_EQ(parsed(emptyScope)["scope"], Json::Value::array());
    EXPECT_EQ(SearchQuery::from(emptyScope.json())->scope, QList<std::int64_t>{});
    // Missing or null: no scope. Unknown keys are ignored.
    EXPECT_EQ(SearchQuery::from(without(sample(), "scope"))->scope, std::nullopt);
    EXPECT_EQ(SearchQuery::from(withMember(sample(), "scope", nullptr))->scope, std::nullopt);
    EXPECT_TRUE(SearchQuery::from(withMember(sample(), "extra", 5)).has_value());
}

TEST(SearchQueryJson, refusesWrongTypesWithoutApplyingAnything)
{
    const SearchQuery q = sample();
    QString error;
    EXPECT_FALSE(SearchQuery::from("{}", &error));
    EXPECT_TRUE(error.contains("andPhrases"));

    EXPECT_FALSE(SearchQuery::from(withMember(q, "requireAll", 1), &error));
    EXPECT_TRUE(error.contains("requireAll")) << error.toStdString();
    EXPECT_FALSE(SearchQuery::from(withMember(q, "near", "true")));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "semantic", nullptr)));
    EXPECT_FALSE(SearchQuery::from(without(q, "semantic"), &error));
    EXPECT_TRUE(error.contains("semantic"));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "andPhrases", "الصلاة")));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "orPhrases", Json::Value::array({1}))));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "scope", Json::Value::array({1.5}))));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "scope", Json::Value::array({true}))));
    EXPECT_FALSE(SearchQuery::from(withMember(q, "scope", 4)));

    const QString text = q.json();
    EXPECT_FALSE(SearchQuery::from(text.left(text.size() - 3), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(SearchQuery::from("[]"));
    EXPECT_FALSE(SearchQuery::from("true"));
}

TEST(SearchQueryText, titleAndEmptiness)
{
    SearchQuery q;
    q.andPhrases = {"أ", "", "ب"};
    q.orPhrases = {"ج", "د"};
    q.notPhrases = {"هـ"};
    EXPECT_EQ(q.title(), QStringLiteral("أ ب (ج أو د) ليس هـ"));
    EXPECT_EQ(SearchQuery().title(), QString());

    SearchQuery onlyNot;
    onlyNot.notPhrases = {"الغلس"};
    EXPECT_TRUE(onlyNot.isEmpty());
    onlyNot.orPhrases = {"الصبح"};
    EXPECT_FALSE(onlyNot.isEmpty());
}

TEST(SearchQueryHighlight, numbersAreMarkedInEveryDigitFamily)
{
    SearchQuery q;
    q.andPhrases = {"سنة 1382"};
    const auto terms = q.highlightTerms();
    EXPECT_EQ(termTexts(terms), (QStringList{"سنه 1382", "سنه ١٣٨٢", "سنه ۱۳۸۲"}));
    for (const auto& t : terms)
        EXPECT_EQ(t.second, Arabic::Match::word);

    q.digitsExact = true;
    EXPECT_EQ(termTexts(q.highlightTerms()), QStringList{"سنه 1382"});
}

TEST(SearchQueryHighlight, combinationsAreCappedAndDeduplicated)
{
    SearchQuery q;
    q.andPhrases = {"1 2 3 4"};
    const auto terms = q.highlightTerms();
    ASSERT_EQ(terms.size(), SearchQuery::maxHighlightCombos);
    EXPECT_EQ(terms.first().first, "1 2 3 4");
    // The first 27 of 81 vary the third word slowest after the first two.
    EXPECT_EQ(terms[1].first, "1 2 3 ٤");
    EXPECT_EQ(terms[26].first, "1 ۲ ۳ ۴");

    SearchQuery twice;
    twice.andPhrases = {"رسول الله"};
    twice.orPhrases = {"رسول الله", "الصبح"};
    twice.notPhrases = {"الغلس"};
    EXPECT_EQ(termTexts(twice.highlightTerms()), (QStringList{"رسول الله", "الصبح"}));
}

TEST(SearchQueryHighlight, modeFollowsMorphThenAffix)
{
    SearchQuery q;
    q.andPhrases = {"والمسلمون ك*ب"};
    q.affix = true;
    EXPECT_EQ(q.highlightTerms().first().second, Arabic::Match::affix);
    q.morph = true;
    const auto terms = q.highlightTerms();
    ASSERT_EQ(terms.size(), 1);
    // Words become stems, a wildcard stays as typed.
    EXPECT_EQ(terms.first().first, "مسلم ك*ب");
    EXPECT_EQ(terms.first().second, Arabic::Match::stem);
    EXPECT_TRUE(SearchQuery().highlightTerms().isEmpty());
}
