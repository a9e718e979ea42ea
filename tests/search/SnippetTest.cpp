#include "search/SearchEngine.h"

#include "core/Characters.h"
#include "core/Settings.h"
#include "support/CorpusText.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

QList<SearchQuery::Term> termsOf(const QStringList& words)
{
    SearchQuery q;
    q.andPhrases = words;
    return q.highlightTerms();
}

QString cut(const QString& text, const Arabic::Range& r)
{
    return text.mid(r.location, r.length);
}

// "… وسلم ليصلي الصبح فينصرف …" and the rest of the page's last hadith.
const QString& page()
{
    static const QString text = bookPages("books/001.json").value(3);
    return text;
}

struct IndicDigits {
    explicit IndicDigits(bool on) : was(Settings::indicDigits()) { Settings::setIndicDigits(on); }
    ~IndicDigits() { Settings::setIndicDigits(was); }
    bool was;
};

} // namespace

TEST(Snippet, excerptAroundTheMatchWithDigitsForDisplay)
{
    ASSERT_TRUE(page().contains(QStringLiteral("ليصلي الصبح")));
    IndicDigits indic(true);
    const auto s = SearchEngine::snippet(page(), termsOf({"الصبح"}));
    EXPECT_EQ(s.text, QStringLiteral("… عليه وسلم ليصلي الصبح فينصرف النساء متلفعات بمروطهن ما يعرفن من "
                                     "الغلس س ١ - ٣٨ ت ٣ - ٣٨٥"));
    ASSERT_EQ(s.ranges.size(), 1);
    EXPECT_EQ(cut(s.text, s.ranges.first()), QStringLiteral("الصبح"));

    IndicDigits latin(false);
    EXPECT_TRUE(SearchEngine::snippet(page(), termsOf({"الصبح"})).text.endsWith(QStringLiteral("ت 3 - 385")));
}

TEST(Snippet, radiusBoundsTheExcerpt)
{
    IndicDigits latin(false);
    auto s = SearchEngine::snippet(page(), termsOf({"الصبح"}), 0);
    EXPECT_EQ(s.text, QStringLiteral("… الصبح …"));
    ASSERT_EQ(s.ranges.size(), 1);
    EXPECT_EQ(cut(s.text, s.ranges.first()), QStringLiteral("الصبح"));

    // Radius 1 reaches one space either way, which holds no whole word;
    // radius 2 reaches one word either way.
    s = SearchEngine::snippet(page(), termsOf({"الصبح"}), 1);
    EXPECT_EQ(s.text, QStringLiteral("… الصبح …"));
    s = SearchEngine::snippet(page(), termsOf({"الصبح"}), 2);
    EXPECT_EQ(s.text, QStringLiteral("… ليصلي الصبح فينصرف …"));
}

TEST(Snippet, earliestTermAnchorsWhileRangesKeepTermOrder)
{
    const auto s = SearchEngine::snippet(page(), termsOf({"عائشة", "يحيى"}));
    EXPECT_FALSE(s.text.startsWith(QStringLiteral("…"))); // the anchor is near the start
    EXPECT_TRUE(s.text.endsWith(QStringLiteral(" …")));
    ASSERT_EQ(s.ranges.size(), 3);
    EXPECT_EQ(cut(s.text, s.ranges[0]), QStringLiteral("عائشة"));
    EXPECT_EQ(cut(s.text, s.ranges[1]), QStringLiteral("يحيى"));
    EXPECT_EQ(cut(s.text, s.ranges[2]), QStringLiteral("يحيى"));
    EXPECT_GT(s.ranges[0].location, s.ranges[2].location);
}

TEST(Snippet, marksLineBreaksAndTheFootnoteRuleAreCleaned)
{
    auto s = SearchEngine::snippet(QStringLiteral("خَتَمَ اللَّهُ عَلَى قُلُوبِهِمْ\n__________\n(1) حاشية"),
                                   termsOf({"قلوبهم"}));
    EXPECT_TRUE(s.text.startsWith(QStringLiteral("ختم الله على قلوبهم"))) << s.text.toStdString();
    EXPECT_FALSE(s.text.contains(u'\n'));
    EXPECT_FALSE(s.text.contains(u'_'));
    ASSERT_EQ(s.ranges.size(), 1);
    EXPECT_EQ(cut(s.text, s.ranges.first()), QStringLiteral("قلوبهم"));

    // A verse in the mushaf's spelling keeps its marks, by which its words
    // are found also as a reader types them.
    const QString verse = quranVerse(2, 2); // ذَٰلِكَ ٱلْكِتَـٰبُ لَا رَيْبَ ۛ فِيهِ …
    s = SearchEngine::snippet(verse + "\n__________\n(1) حاشية", termsOf({"الكتاب"}));
    EXPECT_TRUE(s.text.startsWith(verse.section(u' ', 0, 1))) << s.text.toStdString();
    ASSERT_EQ(s.ranges.size(), 1);
    EXPECT_EQ(cut(s.text, s.ranges.first()), verse.section(u' ', 1, 1));

    // The line breaks and the rule are three spaces: the fourth space back
    // stands among them.
    IndicDigits latin(false);
    const QString footnotes = QStringLiteral("أبو يعلى\n__________\n(1) انظر المنتظم");
    s = SearchEngine::snippet(footnotes, termsOf({"المنتظم"}));
    EXPECT_EQ(s.text, QStringLiteral("… (1) انظر المنتظم"));
}

TEST(Snippet, noMatchGivesTheStartOfThePage)
{
    IndicDigits indic(true);
    const QString text = bookPages("books/002.json").value(3);
    ASSERT_GT(text.size(), 200);
    const auto s = SearchEngine::snippet(text, termsOf({"الزكاة"}));
    EXPECT_TRUE(s.ranges.isEmpty());
    EXPECT_EQ(s.text, Arabic::digits(text.left(SearchEngine::fallbackCharacters)));
    EXPECT_TRUE(s.text.startsWith(QStringLiteral("٧ حدثنا")));
    EXPECT_EQ(SearchEngine::snippet(text, {}).text, s.text);
    // Characters, not code units: a letter outside the first plane is one
    // character of two units.
    QString wide;
    for (int i = 0; i < 200; ++i)
        wide += QString::fromUcs4(U"\U0001D400", 1);
    EXPECT_EQ(SearchEngine::snippet(wide, {}).text.size(), 2 * SearchEngine::fallbackCharacters);
}

TEST(Snippet, hamzaSearchMarksOnlyTheFormsAskedFor)
{
    // A page with one ألا and two إلا, which share a normal form.
    const QString text = bookPages("books/002.json").value(34);
    ASSERT_EQ(text.count(QStringLiteral("ألا")), 1);
    ASSERT_EQ(text.count(QStringLiteral("إلا")), 2);
    SearchQuery q;
    q.andPhrases = {QStringLiteral("ألا")};
    const QList<SearchQuery::Term> terms = q.highlightTerms();
    const Arabic::Index idx = Arabic::index(text);
    const QList<Arabic::Range> every = Arabic::ranges(terms.front().first, idx, terms.front().second);
    ASSERT_EQ(every.size(), 3);

    // Without the option every spelling is marked, and so it stays.
    EXPECT_EQ(SearchEngine::writtenAsAsked(SearchEngine::plan(q), text, every, true), every);

    q.hamza = true;
    const SearchEngine::Plan plan = SearchEngine::plan(q);
    const QList<Arabic::Range> asked = SearchEngine::writtenAsAsked(plan, text, every, true);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(cut(text, asked.front()), QStringLiteral("ألا"));

    const auto s = SearchEngine::snippet(text, terms, SearchEngine::defaultRadius, &plan);
    ASSERT_EQ(s.ranges.size(), 1);
    EXPECT_EQ(cut(s.text, s.ranges.front()), QStringLiteral("ألا"));
}

namespace {

// The snippet as made from the whole page at once: the page cleaned and
// indexed in full, the anchor the earliest first match of any term.
SearchEngine::Snippet wholePageSnippet(const QString& content, const QList<SearchQuery::Term>& terms, int radius)
{
    const int before = std::min(radius, 4);
    const int after = std::max(2 * radius - before, radius);
    QString clean = Arabic::stripMarks(content);
    clean.replace(QChar('\n'), QChar(' '));
    clean.replace(QStringLiteral("__________"), QStringLiteral(" "));
    const Arabic::Index idx = Arabic::index(clean);
    std::optional<Arabic::Range> anchor;
    for (const SearchQuery::Term& term : terms) {
        const QList<Arabic::Range> found = Arabic::ranges(term.first, idx, term.second);
        if (!found.isEmpty() && (!anchor || found.first().location < anchor->location))
            anchor = found.first();
    }
    if (!anchor)
        return {Arabic::digits(clean.left(Characters::endOfFirst(clean, SearchEngine::fallbackCharacters))), {}};
    qsizetype s = anchor->location, e = anchor->location + anchor->length;
    for (int spaces = 0; radius >= 1 && s > 0 && spaces < before;)
        spaces += clean[--s] == u' ';
    for (int spaces = 0; radius >= 1 && e < clean.size() && spaces < after;)
        spaces += clean[e++] == u' ';
    QString excerpt = Characters::trimSpacesAndTabs(QStringView(clean).mid(s, e - s)).toString();
    if (s > 0)
        excerpt = QStringLiteral("… ") + excerpt;
    if (e < clean.size())
        excerpt += QStringLiteral(" …");
    const Arabic::Index excerptIdx = Arabic::index(excerpt);
    QList<Arabic::Range> ranges;
    for (const SearchQuery::Term& term : terms)
        ranges << Arabic::ranges(term.first, excerptIdx, term.second);
    return {Arabic::digits(excerpt), ranges};
}

} // namespace

// Only as much of a page is read as its first match and excerpt need; the
// snippet is still the one the whole page gives, wherever the match falls:
// every page of the test books, and runs of pages joined so that matches lie
// thousands of units in, met by terms of every kind.
TEST(Snippet, sameAsFromTheWholePageWhereverTheMatchFalls)
{
    QStringList texts;
    for (const char* book : {"books/001.json", "books/002.json", "books/003.json"}) {
        const QStringList pages = bookPages(QString::fromUtf8(book));
        ASSERT_FALSE(pages.isEmpty());
        for (qsizetype i = 0; i < pages.size(); ++i) {
            texts << pages[i];
            if (i + 5 <= pages.size())
                texts << pages.mid(i, 5).join(QStringLiteral("\n__________\n"));
        }
    }
    struct Kind {
        const char* name;
        QStringList words;
        bool affix = false;
        bool morph = false;
    };
    const QList<Kind> kinds = {
        {"word", {"الله"}},
        {"rare word", {"القزويني"}},
        {"phrase", {"رسول الله"}},
        {"long phrase", {"صلى الله عليه وسلم"}},
        {"two terms", {"عائشة", "يحيى"}},
        {"phrase and word", {"عن ابن عمر", "مالك"}},
        {"affix", {"صلاة"}, true},
        {"morph", {"المسلمون"}, false, true},
        {"wildcard", {"حد*"}},
        {"leading wildcard", {"*ثنا"}},
        {"digits", {"3"}},
        {"absent", {"الزكاتين"}},
    };
    for (const Kind& kind : kinds) {
        SearchQuery q;
        q.andPhrases = kind.words;
        q.affix = kind.affix;
        q.morph = kind.morph;
        const QList<SearchQuery::Term> terms = q.highlightTerms();
        for (const int radius : {0, 2, SearchEngine::defaultRadius, 40}) {
            int differing = 0;
            for (const QString& text : texts) {
                const SearchEngine::Snippet got = SearchEngine::snippet(text, terms, radius);
                const SearchEngine::Snippet want = wholePageSnippet(text, terms, radius);
                if (got.text != want.text || got.ranges != want.ranges) {
                    if (++differing == 1)
                        ADD_FAILURE() << kind.name << ", radius " << radius << ": " << got.text.toStdString()
                                      << "\n  whole page: " << want.text.toStdString();
                }
            }
            EXPECT_EQ(differing, 0) << kind.name << ", radius " << radius;
        }
    }
}
