#include "ui/reader/ReaderTestSupport.h"

#include "core/Arabic.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/PageRenderer.h"

#include <QSet>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

using Role = PageRenderer::Role;

class PageRendererTest : public ::testing::Test {
protected:
    PageRendererTest() : prefs({Settings::indicDigitsKey, Settings::nightReadingKey, Settings::readerSizeKey}) {}

    void SetUp() override { REQUIRE_SAMPLE(sample); }

    Page page(std::int64_t book, std::int64_t seq) const
    {
        const std::optional<Page> found = sample.lib->page(book, seq);
        EXPECT_TRUE(found) << "book " << book << " seq " << seq;
        return found.value_or(Page{});
    }

    PageRenderer::State state(std::int64_t book, std::int64_t seq) const
    {
        PageRenderer::State s;
        s.page = page(book, seq);
        s.seq = seq;
        s.roots = sample.lib->toc(book);
        return s;
    }

    static int roleAt(const QTextDocument& doc, qsizetype position)
    {
        return RichText::formatAt(doc, position).intProperty(TextProperty::pageRole);
    }

    // The roles of the characters of [start, start + length), each once;
    // paragraph separators belong to no run.
    static QSet<int> rolesIn(const QTextDocument& doc, qsizetype start, qsizetype length)
    {
        QSet<int> roles;
        for (qsizetype i = start; i < start + length; ++i)
            if (doc.characterAt(int(i)) != QChar::ParagraphSeparator)
                roles.insert(roleAt(doc, i));
        return roles;
    }

    test::PreferenceGuard prefs;
    test::SampleLib sample;
};

} // namespace

TEST_F(PageRendererTest, footnotesFollowAShortRuleInASmallerGreyFace)
{
    const PageRenderer::State s = state(17, 1);
    const auto [mainText, footnotes] = Library::splitFootnotes(s.page->content);
    ASSERT_TRUE(footnotes && !footnotes->isEmpty());
    const PageRenderer::Result r = PageRenderer::render(s);
    const QTextDocument& doc = *r.document;

    const QString rule = QString(12, QChar(u'─'));
    const QString expected = Arabic::digits(mainText) + u'\n' + rule + u'\n' + Arabic::digits(*footnotes) +
                             QStringLiteral("\n[الجزء: ١ - ص: ١]");
    EXPECT_EQ(doc.toPlainText(), expected);

    const qsizetype ruleAt = mainText.size() + 1;
    const qsizetype footnoteAt = ruleAt + rule.size() + 1;
    EXPECT_EQ(rolesIn(doc, 0, mainText.size()), QSet<int>{int(Role::main)});
    EXPECT_EQ(rolesIn(doc, ruleAt, rule.size()), QSet<int>{int(Role::footnoteRule)});
    EXPECT_EQ(rolesIn(doc, footnoteAt, footnotes->size()), QSet<int>{int(Role::footnote)});

    const QTextCharFormat main = RichText::formatAt(doc, 0);
    const QTextCharFormat note = RichText::formatAt(doc, footnoteAt);
    EXPECT_EQ(main.font().pixelSize(), 23);
    EXPECT_EQ(note.font().pixelSize(), qRound(23 * 0.78));
    EXPECT_EQ(note.foreground().color(), Theme::footnoteInk());
    EXPECT_EQ(main.foreground().color(), Theme::ink());

    // The rule and the footnotes open paragraphs of their own, spaced above.
    EXPECT_EQ(doc.findBlock(int(ruleAt)).blockFormat().topMargin(), 8);
    EXPECT_EQ(doc.findBlock(int(footnoteAt)).blockFormat().topMargin(), 4);
    const QTextBlockFormat first = doc.firstBlock().blockFormat();
    EXPECT_EQ(first.layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(first.alignment(), RichText::right);
    EXPECT_EQ(doc.lastBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(roleAt(doc, doc.characterCount() - 2), int(Role::pageLabel));
}

TEST_F(PageRendererTest, aPageWithoutMainTextKeepsItsFootnotesAndANoteLessPageSaysItIsEmpty)
{
    PageRenderer::State s = state(17, 1);
    const auto [mainText, footnotes] = Library::splitFootnotes(s.page->content);
    s.page->content = s.page->content.mid(mainText.size());
    QString text = PageRenderer::render(s).document->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("\n────────────\n"))) << text.left(20).toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("(صفحة فارغة)")));

    s.page->content.clear();
    text = PageRenderer::render(s).document->toPlainText();
    EXPECT_EQ(text, QStringLiteral("(صفحة فارغة)\n[الجزء: ١ - ص: ١]"));
}

TEST_F(PageRendererTest, versesAreStyledOnlyOnPagesWithAHemistichSeparator)
{
    // A page of verse: every " ... " and every line-opening number in gold.
    const PageRenderer::State verse = state(12, 12);
    const PageRenderer::Result r = PageRenderer::render(verse);
    const QString text = r.document->toPlainText();
    int separators = 0;
    for (qsizetype at = text.indexOf(QStringLiteral(" ... ")); at >= 0; at = text.indexOf(QStringLiteral(" ... "), at + 5)) {
        EXPECT_EQ(rolesIn(*r.document, at, 5), QSet<int>{int(Role::verseSeparator)});
        EXPECT_EQ(RichText::formatAt(*r.document, at + 2).foreground().color(), Theme::gold());
        ++separators;
    }
    EXPECT_EQ(separators, 3);
    const qsizetype number = text.indexOf(QStringLiteral("\n١٤ ("));
    ASSERT_GT(number, 0);
    EXPECT_EQ(rolesIn(*r.document, number + 1, 3), QSet<int>{int(Role::verseNumber)});
    EXPECT_EQ(roleAt(*r.document, number + 4), int(Role::main));

    // Prose whose lines open with numbers keeps them plain.
    const PageRenderer::State prose = state(7, 1);
    ASSERT_FALSE(prose.page->content.contains(QStringLiteral(" ... ")));
    const PageRenderer::Result p = PageRenderer::render(prose);
    const qsizetype plain = p.document->toPlainText().indexOf(QStringLiteral("\n١ - حدثنا"));
    ASSERT_GT(plain, 0);
    EXPECT_EQ(rolesIn(*p.document, plain + 1, 2), QSet<int>{int(Role::main)});
}

TEST_F(PageRendererTest, theQuransVerseLinesShowTheVerseAndItsMarkNotTheirMarkup)
{
    const auto rows = sample.lib->main().rows(
        QStringLiteral("SELECT seq, content FROM pages WHERE book_id=100 AND content LIKE ?"), {QStringLiteral("%37|154|%")});
    ASSERT_EQ(rows.size(), 1);
    ASSERT_TRUE(rows[0].str(1)->contains(u'|'));
    const PageRenderer::Result r = PageRenderer::render(state(100, *rows[0].integer(0)));
    const QString text = r.document->toPlainText();
    EXPECT_FALSE(text.contains(u'|')) << text.left(200).toStdString();
    const QString verse = QStringLiteral(u"مَا لَكُمْ كَيْفَ تَحْكُمُونَ ﴿١٥٤﴾");
    const qsizetype at = text.indexOf(verse);
    ASSERT_GE(at, 0) << text.left(400).toStdString();
    EXPECT_TRUE(at == 0 || text[at - 1] == u'\n');
    const qsizetype mark = at + verse.size() - 5;
    EXPECT_EQ(rolesIn(*r.document, mark, 5), QSet<int>{int(Role::verseNumber)});
    EXPECT_EQ(RichText::formatAt(*r.document, mark).foreground().color(), Theme::gold());
}

TEST_F(PageRendererTest, headingsAreThisPagesTableOfContentsTitlesWithAtMostThreeCharactersMore)
{
    // Two chapters begin on this page; their titles carry Latin digits while
    // the page shows Arabic-Indic ones.
    const PageRenderer::Result r = PageRenderer::render(state(4, 766));
    const QTextDocument& doc = *r.document;
    QStringList headings;
    for (QTextBlock block = doc.firstBlock(); block.isValid(); block = block.next()) {
        if (block.length() > 1 && roleAt(doc, block.position()) == int(Role::heading)) {
            headings << block.text();
            EXPECT_EQ(rolesIn(doc, block.position(), block.length() - 1), QSet<int>{int(Role::heading)});
        }
    }
    EXPECT_EQ(headings, QStringList({QStringLiteral("٩ باب ميراث بن الملاعنة"), QStringLiteral("١٠ باب هل يرث المسلم الكافر")}));
    const QTextCharFormat heading = RichText::formatAt(doc, 0);
    EXPECT_EQ(heading.foreground().color(), Theme::titleRed());
    EXPECT_EQ(heading.font().pixelSize(), qRound(23 * 1.05));
    EXPECT_EQ(heading.font().weight(), QFont::Bold);

    // On the next page: a title of the page before is plain text; this
    // page's own title with a colon and a number (three characters more in
    // its normal form) is a heading, with four more it is not.
    PageRenderer::State next = state(4, 767);
    const QString own = QStringLiteral("11 باب فيمن أسلم على ميراث");
    ASSERT_TRUE(next.page->content.contains(QStringLiteral("\n") + own + QStringLiteral("\n")));
    next.page->content.replace(own, own + QStringLiteral(": 12"));
    next.page->content += QStringLiteral("\n9 باب ميراث بن الملاعنة\n12 باب في الولاء 1234");
    const PageRenderer::Result n = PageRenderer::render(next);
    const QString text = n.document->toPlainText();
    const qsizetype ownAt = text.indexOf(QStringLiteral("١١ باب فيمن"));
    const qsizetype otherAt = text.indexOf(QStringLiteral("٩ باب ميراث"));
    const qsizetype longAt = text.indexOf(QStringLiteral("١٢ باب في الولاء ١٢٣٤"));
    ASSERT_TRUE(ownAt > 0 && otherAt > 0 && longAt > 0);
    EXPECT_EQ(roleAt(*n.document, ownAt), int(Role::heading));
    EXPECT_EQ(roleAt(*n.document, otherAt), int(Role::main));
    EXPECT_EQ(roleAt(*n.document, longAt), int(Role::main));
}

TEST_F(PageRendererTest, pageLabelNamesVolumeAndPrintedPageInTheChosenDigits)
{
    PageRenderer::State s = state(4, 766);
    EXPECT_TRUE(PageRenderer::render(s).document->toPlainText().endsWith(QStringLiteral("\n[الجزء: ٣ - ص: ١٢٥]")));
    Settings::setIndicDigits(false);
    EXPECT_TRUE(PageRenderer::render(s).document->toPlainText().endsWith(QStringLiteral("\n[الجزء: 3 - ص: 125]")));
    Settings::setIndicDigits(true);

    // Without a printed number the label gives the sequence; without a
    // volume it names none.
    s.page->num.reset();
    s.page->vol.reset();
    EXPECT_TRUE(PageRenderer::render(s).document->toPlainText().endsWith(QStringLiteral("\n[تسلسل: ٧٦٦]")));
}

TEST_F(PageRendererTest, hiddenDiacriticsLeaveTheLabelAndTheNoteAlone)
{
    // The Quran is the sample's vowelled text.
    PageRenderer::State s = state(100, 2);
    ASSERT_NE(Arabic::stripMarks(s.page->content), s.page->content);
    s.note = Note{1, 100, 2, QStringLiteral("قَالَ: انْظُرْ"), 0};
    const QString vowelled = PageRenderer::render(s).document->toPlainText();
    s.tashkeel = false;
    const QString text = PageRenderer::render(s).document->toPlainText();
    // The sample's second page is the first page of the Mushaf.
    const QString noteLabel = QStringLiteral("\n[ص: ١]\nتعليقي: ");
    const qsizetype label = text.lastIndexOf(noteLabel);
    ASSERT_GT(label, 0);
    const qsizetype vowelledLabel = vowelled.lastIndexOf(noteLabel);
    ASSERT_GT(vowelledLabel, 0);
    EXPECT_NE(text.left(label), vowelled.left(vowelledLabel));
    EXPECT_EQ(text.left(label), Arabic::stripMarks(vowelled.left(vowelledLabel)));
    EXPECT_TRUE(text.endsWith(QStringLiteral("تعليقي: قَالَ: انْظُرْ")));
}

TEST_F(PageRendererTest, hitsAreMarkedInFootnotesLabelAndNoteAndCountedThere)
{
    PageRenderer::State s = state(17, 1);
    s.note = Note{1, 17, 1, QStringLiteral("راجع نسب الأنماطي"), 0};
    // In the footnotes, in the page label ("ص"), in the note only.
    s.highlight = {{QStringLiteral("الحنابله"), Arabic::Match::word},
                   {QStringLiteral("ص"), Arabic::Match::word},
                   {QStringLiteral("نسب"), Arabic::Match::word}};
    const PageRenderer::Result r = PageRenderer::render(s);
    ASSERT_EQ(r.hitRanges.size(), 3);
    QList<int> roles;
    for (const Arabic::Range& range : r.hitRanges)
        roles << roleAt(*r.document, range.location);
    EXPECT_EQ(roles, QList<int>({int(Role::footnote), int(Role::pageLabel), int(Role::userNote)}));
    for (int i = 0; i < 3; ++i) {
        const QTextCharFormat f = RichText::formatAt(*r.document, r.hitRanges[i].location);
        EXPECT_EQ(f.intProperty(TextProperty::hitIndex), i);
        EXPECT_EQ(f.background().color(), i == 0 ? Theme::hitCurrent() : Theme::hitMark());
        EXPECT_EQ(f.foreground().color(), Theme::hitInk());
    }
    const QString text = r.document->toPlainText();
    EXPECT_EQ(text.mid(r.hitRanges[0].location, r.hitRanges[0].length), QStringLiteral("الحنابلة"));
    EXPECT_EQ(text.mid(r.hitRanges[2].location, r.hitRanges[2].length), QStringLiteral("نسب"));
}

TEST_F(PageRendererTest, findTextReplacesTheHighlightTermsUntilItIsCleared)
{
    PageRenderer::State s = state(17, 1);
    s.highlight = {{QStringLiteral("الحنابله"), Arabic::Match::word}};
    const QList<Arabic::Range> marked = PageRenderer::render(s).hitRanges;
    ASSERT_EQ(marked.size(), 1);

    // Typed text matches anywhere in a word, in its normal form.
    s.findText = QStringLiteral("  أخبرن \n");
    const PageRenderer::Result found = PageRenderer::render(s);
    ASSERT_GE(found.hitRanges.size(), 3);
    for (const Arabic::Range& range : found.hitRanges) {
        const QString word = found.document->toPlainText().mid(range.location, range.length);
        EXPECT_TRUE(word.contains(QStringLiteral("أخبرن"))) << word.toStdString();
    }
    EXPECT_FALSE(found.hitRanges.contains(marked.first()));

    s.findText = QStringLiteral(" ");
    EXPECT_EQ(PageRenderer::render(s).hitRanges, marked);
}

TEST_F(PageRendererTest, theLastHitMarkerAndOutOfRangeIndicesLandOnTheLastHit)
{
    PageRenderer::State s = state(17, 1);
    s.findText = QStringLiteral("أخبرنا");
    s.hitIndex = PageRenderer::lastHit;
    const PageRenderer::Result last = PageRenderer::render(s);
    const int count = int(last.hitRanges.size());
    ASSERT_GE(count, 2);
    EXPECT_EQ(last.hitIndex, count - 1);
    EXPECT_EQ(RichText::formatAt(*last.document, last.hitRanges.last().location).background().color(),
              Theme::hitCurrent());
    EXPECT_EQ(RichText::formatAt(*last.document, last.hitRanges.first().location).background().color(),
              Theme::hitMark());

    s.hitIndex = count + 5;
    EXPECT_EQ(PageRenderer::render(s).hitIndex, count - 1);
    s.hitIndex = 1;
    EXPECT_EQ(PageRenderer::render(s).hitIndex, 1);
    s.findText = QStringLiteral("لاشيءهنا");
    s.hitIndex = PageRenderer::lastHit;
    const PageRenderer::Result none = PageRenderer::render(s);
    EXPECT_TRUE(none.hitRanges.isEmpty());
    EXPECT_EQ(none.hitIndex, 0);
}

TEST_F(PageRendererTest, overlappingAndTouchingHitsBecomeOne)
{
    const QString text = Library::splitFootnotes(page(17, 1).content).first;
    // "بن مزاحم" and "مزاحم المنقرى" share a word.
    const QList<Arabic::Range> overlapping = PageRenderer::hitRanges(
        text, {{QStringLiteral("مزاحم المنقري"), Arabic::Match::word}, {QStringLiteral("بن مزاحم"), Arabic::Match::word}}, {});
    ASSERT_EQ(overlapping.size(), 1);
    EXPECT_EQ(text.mid(overlapping[0].location, overlapping[0].length), QStringLiteral("بن مزاحم المنقرى"));

    using R = Arabic::Range;
    EXPECT_EQ(PageRenderer::merge({{10, 4}, {2, 3}, {5, 2}, {14, 1}, {20, 1}}), QList<R>({{2, 5}, {10, 5}, {20, 1}}));
    EXPECT_EQ(PageRenderer::merge({{0, 10}, {2, 3}}), QList<R>({{0, 10}}));
    EXPECT_TRUE(PageRenderer::merge({}).isEmpty());
}

TEST_F(PageRendererTest, aBookWithoutAPageHereShowsTheNoticeAndNoHitsOfThePageBefore)
{
    PageRenderer::State s = state(17, 1);
    s.highlight = {{QStringLiteral("الحنابله"), Arabic::Match::word}};
    s.hitIndex = 0;
    ASSERT_EQ(PageRenderer::render(s).hitRanges.size(), 1);
    s.page.reset();
    s.hitIndex = 3;
    const PageRenderer::Result r = PageRenderer::render(s);
    EXPECT_EQ(r.document->toPlainText(), QStringLiteral("لا توجد صفحات في هذا الكتاب."));
    EXPECT_TRUE(r.hitRanges.isEmpty());
    EXPECT_EQ(r.hitIndex, 0);
}

TEST_F(PageRendererTest, tocTitlesAreNormalisedInTreeOrderDuplicatesKept)
{
    const QList<TocNodePtr> roots = sample.lib->toc(4);
    EXPECT_EQ(PageRenderer::tocTitles(roots, 766),
              QStringList({QStringLiteral("9 باب ميراث بن الملاعنه"), QStringLiteral("10 باب هل يرث المسلم الكافر")}));
    EXPECT_TRUE(PageRenderer::tocTitles(roots, 765).isEmpty());

    auto parent = std::make_shared<TocNode>(1, QStringLiteral("كتاب الصلاة"), 5, 1);
    auto child = std::make_shared<TocNode>(2, QStringLiteral("باب الصلاة"), 5, 2);
    auto twin = std::make_shared<TocNode>(3, QStringLiteral("كتاب الصلاة"), 5, 1);
    child->parent = parent;
    parent->children = {child};
    EXPECT_EQ(PageRenderer::tocTitles({parent, twin}, 5),
              QStringList({QStringLiteral("كتاب الصلاه"), QStringLiteral("باب الصلاه"), QStringLiteral("كتاب الصلاه")}));
}
