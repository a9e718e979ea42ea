#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "ui/search/SearchForm.h"

using namespace quorvel;
using test::SmallLib;

namespace {

class SearchFormTest : public ::testing::Test {
protected:
    SearchFormTest() : prefs({Settings::indicDigitsKey}) { test::preparePanels(); }

    static QStringList lines(const SearchForm& form, const QSet<std::int64_t>& checked = {})
    {
        return SearchForm::explanation(form.buildQuery(checked)).split(u'\n');
    }

    test::PreferenceGuard prefs;
};

constexpr char kEmptyLine[] = "اكتب عبارات البحث في الحقول المرقّمة. كل حقل عبارة متّصلة.";
constexpr char kDefaultPlaces[] = "في: المتن، الحواشي، تعليقاتك";

TEST_F(SearchFormTest, blankFieldsAndNotPhrasesAloneAskForNothing)
{
    SearchForm form;
    // Spaces, a tab and a no-break space count as nothing.
    form.phrases[SearchForm::andTab] = {QStringLiteral("   "), QStringLiteral("\t"), QString(QChar(0x00A0)), {}, {}};
    SearchQuery q = form.buildQuery({});
    EXPECT_TRUE(q.isEmpty());
    EXPECT_TRUE(q.andPhrases.isEmpty());
    EXPECT_EQ(lines(form), (QStringList{kEmptyLine, kDefaultPlaces}));

    form.phrases[SearchForm::notTab] = {QStringLiteral(" الربا "), QStringLiteral("الميسر"), {}, {}, {}};
    q = form.buildQuery({});
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.notPhrases, (QStringList{"الربا", "الميسر"}));
    EXPECT_EQ(lines(form), (QStringList{kEmptyLine, "ولا تحتوي على: «الربا»، «الميسر»", kDefaultPlaces}));

    // Line breaks are not trimmed away: they are part of what was typed.
    EXPECT_EQ(SearchForm::trimmed(QStringLiteral("\u2003صلاة\n\t")), QStringLiteral("صلاة\n"));
}

TEST_F(SearchFormTest, twoPhrasesReadBackWithTheRequireAllOption)
{
    SearchForm form;
    form.phrases[SearchForm::andTab] = {QStringLiteral("الصلاة"), QStringLiteral(" الزكاة"), {}, {}, {}};
    QStringList text = lines(form);
    ASSERT_EQ(text.size(), 2);
    EXPECT_EQ(text[0], QStringLiteral("تحتوي الصفحة على كلّ من: «الصلاة» و«الزكاة»"));
    EXPECT_EQ(text[1], QString::fromUtf8(kDefaultPlaces));
    EXPECT_EQ(form.allButtonTitle(), QStringLiteral("[كلها]"));

    form.boxes[SearchForm::requireAll] = false;
    EXPECT_EQ(lines(form)[0], QStringLiteral("تحتوي على أيٍّ من: «الصلاة» و«الزكاة»"));
    EXPECT_EQ(form.allButtonTitle(), QStringLiteral("[أيّها]"));

    // Every other line in its order, the twelve in the user's digits.
    Preferences::standard().set(QString::fromLatin1(Settings::indicDigitsKey), false);
    form.boxes[SearchForm::ordered] = form.boxes[SearchForm::near] = true;
    form.boxes[SearchForm::matn] = form.boxes[SearchForm::hawashi] = form.boxes[SearchForm::notes] = false;
    form.boxes[SearchForm::hamza] = form.boxes[SearchForm::semantic] = form.boxes[SearchForm::morph] = true;
    form.phrases[SearchForm::orTab] = {QStringLiteral("الصوم"), QStringLiteral("الحج"), {}, {}, {}};
    EXPECT_EQ(lines(form), (QStringList{"تحتوي على أيٍّ من: «الصلاة» و«الزكاة»", "بالترتيب نفسه",
                                        "متقاربة (في حدود 12 كلمة)", "وعلى واحدة على الأقل من: «الصوم» أو «الحج»",
                                        "في: ", "البحث: صرفي، بمراعاة الهمزات، بالمعنى"}));
    const SearchQuery q = form.buildQuery({});
    EXPECT_TRUE(q.ordered && q.near && q.hamza && q.semantic && q.morph);
    EXPECT_FALSE(q.inMatn || q.inHawashi || q.inNotes || q.inTitles || q.requireAll || q.affix);
}

TEST_F(SearchFormTest, theScopeAndItsLabel)
{
    SmallLib small;
    ASSERT_TRUE(small.lib);
    SearchForm form;
    QSet<std::int64_t> checked;
    const auto byId = [](const QList<std::int64_t>& ids) {
        QList<std::int64_t> out = ids;
        std::sort(out.begin(), out.end());
        return out;
    };

    // "Some books" with nothing checked or applied is still every book.
    form.allBooks = false;
    EXPECT_FALSE(form.buildQuery(checked).scope.has_value());
    EXPECT_EQ(form.scopeLabel(*small.lib, checked), QStringLiteral("مجال البحث الحالي: جميع الكتب"));
    EXPECT_FALSE(form.applyChecked(checked, byId));

    checked = {SmallLib::fiqh};
    ASSERT_TRUE(form.applyChecked(checked, byId));
    EXPECT_EQ(form.scopeLabel(*small.lib, checked), QStringLiteral("مجال البحث الحالي: ١ كتاب (المختصر)"));
    EXPECT_EQ(form.buildQuery(checked).scope, (QList<std::int64_t>{SmallLib::fiqh}));

    // Checked but not applied books are the scope only while none is applied.
    checked = {SmallLib::hadithB, SmallLib::hadithA};
    EXPECT_EQ(form.buildQuery(checked).scope, (QList<std::int64_t>{SmallLib::fiqh}));
    form.applyChecked(checked, byId);
    EXPECT_EQ(form.buildQuery(checked).scope, (QList<std::int64_t>{SmallLib::hadithA, SmallLib::hadithB}));
    EXPECT_EQ(form.scopeLabel(*small.lib, checked), QStringLiteral("مجال البحث الحالي: كتابان محددان"));

    small.lib->setIgnoredBooks({SmallLib::noCategory});
    EXPECT_EQ(form.scopeLabel(*small.lib, checked), QStringLiteral("مجال البحث الحالي: كتابان محددان · عدا ١ كتاب متجاهل"));
    small.lib->setIgnoredBooks({SmallLib::noCategory, SmallLib::lostCategory});
    EXPECT_TRUE(form.scopeLabel(*small.lib, checked).endsWith(QStringLiteral(" · عدا كتابين متجاهلين")));

    // All books again: the scope stays for later but is not searched.
    form.allBooks = true;
    EXPECT_FALSE(form.buildQuery(checked).scope.has_value());
    form.clearChecked(checked);
    EXPECT_TRUE(checked.isEmpty());
    EXPECT_FALSE(form.scope.has_value());
}

TEST_F(SearchFormTest, fillingFromAStoredQuery)
{
    SearchForm form;
    QSet<std::int64_t> checked{SmallLib::hadithA};
    SearchQuery q;
    for (int i = 1; i <= 7; ++i)
        q.andPhrases << QStringLiteral("عبارة") + QString::number(i);
    q.orPhrases = {QStringLiteral("أو")};
    q.requireAll = false;
    q.inTitles = true;
    q.digitsExact = true;
    form.curTab = SearchForm::notTab;
    form.allBooks = false;
    form.fill(q, checked);
    EXPECT_EQ(form.phrases[SearchForm::andTab][4], QStringLiteral("عبارة5"));
    EXPECT_EQ(form.buildQuery(checked).andPhrases.size(), SearchForm::fieldsPerTab);
    EXPECT_EQ(form.phrases[SearchForm::orTab][0], QStringLiteral("أو"));
    EXPECT_TRUE(form.phrases[SearchForm::notTab][0].isEmpty());
    EXPECT_EQ(form.curTab, SearchForm::andTab);
    EXPECT_FALSE(form.boxes[SearchForm::requireAll]);
    EXPECT_TRUE(form.boxes[SearchForm::titles] && form.boxes[SearchForm::digits]);
    // Without a scope: every book, the check marks kept.
    EXPECT_TRUE(form.allBooks);
    EXPECT_EQ(checked, (QSet<std::int64_t>{SmallLib::hadithA}));

    q.scope = QList<std::int64_t>{SmallLib::fiqh, SmallLib::hadithB};
    form.fill(q, checked);
    EXPECT_FALSE(form.allBooks);
    EXPECT_EQ(checked, (QSet<std::int64_t>{SmallLib::fiqh, SmallLib::hadithB}));
    EXPECT_EQ(form.buildQuery(checked).scope, q.scope);

    // A query round-trips through the form.
    q.andPhrases = q.andPhrases.mid(0, 5);
    EXPECT_EQ(form.buildQuery(checked), q);

    form.clearPhrases();
    EXPECT_TRUE(form.buildQuery(checked).andPhrases.isEmpty());
    EXPECT_TRUE(form.boxes[SearchForm::titles]);
    EXPECT_FALSE(form.allBooks);
}

TEST_F(SearchFormTest, theRecentListIsCappedAndShowsEachTitleOnce)
{
    SmallLib small;
    ASSERT_TRUE(small.lib);
    EXPECT_TRUE(SearchForm::recent(*small.lib).isEmpty());
    // Oldest first: 40 searches, the same one run three times among them.
    for (int i = 0; i < 37; ++i) {
        const SearchQuery q = test::wordsQuery(QStringLiteral("كلمة") + QString::number(i));
        small.lib->addHistory(q.title(), q.json(), i);
    }
    const SearchQuery repeated = test::wordsQuery(QStringLiteral("الصلاة"));
    for (int count : {3, 5, 8})
        small.lib->addHistory(repeated.title(), repeated.json(), count);

    const QList<SearchForm::Recent> recent = SearchForm::recent(*small.lib);
    // The newest 30 rows, of which three share one title.
    ASSERT_EQ(recent.size(), 28);
    EXPECT_EQ(recent[0].title, repeated.title() + QStringLiteral("  (٨)"));
    EXPECT_EQ(recent[0].json, repeated.json());
    EXPECT_EQ(recent[1].title, QStringLiteral("كلمة36  (") + Arabic::num(36) + u')');
    EXPECT_EQ(recent.last().title, QStringLiteral("كلمة10  (") + Arabic::num(10) + u')');
}

} // namespace
