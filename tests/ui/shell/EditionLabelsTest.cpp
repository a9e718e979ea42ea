// Two editions of one work, in the sample library, read apart in every list
// that names books, by the label a tab gives them.

#include "ui/WindowTestSupport.h"

#include "assistant/AIAnswer.h"
#include "core/BookTitles.h"
#include "core/Settings.h"
#include "scholar/Concordance.h"
#include "scholar/PanelText.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/search/SearchForm.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/WelcomeView.h"

#include <QMenu>
#include <QPushButton>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

constexpr std::int64_t kIbnMajahA = 2;
constexpr std::int64_t kIbnMajahB = 3;
constexpr std::int64_t kTaqribA = 5;
constexpr std::int64_t kTaqribB = 6;

class EditionLabelsTest : public test::WindowTest {
protected:
    EditionLabelsTest() : WindowTest({Settings::indicDigitsKey, Settings::restoreSessionKey}) {}
    void TearDown() override { clearPreferences(); }

    // The label of a book and a check that it tells the book from its twin.
    static QString label(const Library& lib, std::int64_t book, std::int64_t twin)
    {
        const QString mine = BookTitles::label(*lib.catalog(), book);
        EXPECT_NE(mine, BookTitles::label(*lib.catalog(), twin));
        EXPECT_TRUE(mine.contains(QString::fromUtf16(BookTitles::separator))) << mine.toStdString();
        return mine;
    }
};

} // namespace

TEST_F(EditionLabelsTest, oneEditionNamedAloneStillCarriesItsLabel)
{
    QTemporaryDir dir;
    test::SampleLib sample(test::sampleLibraryWithShingles(dir.path(), {kIbnMajahA, kIbnMajahB}));
    REQUIRE_SAMPLE(sample);
    Library& lib = *sample.lib;
    const QString majahA = label(lib, kIbnMajahA, kIbnMajahB);
    const QString majahB = label(lib, kIbnMajahB, kIbnMajahA);
    const QString taqribB = label(lib, kTaqribB, kTaqribA);

    // The welcome view's «متابعة القراءة» buttons, text and tooltip.
    lib.setLastViewed(kTaqribB, 4);
    lib.setLastViewed(kIbnMajahA, 20);
    {
        MainWindowController w(sample.lib);
        w.resize(1400, 860);
        w.show();
        QStringList tips;
        QStringList shown;
        for (QWidget* view : w.welcome()->recentStack()->arrangedSubviews())
            if (auto* button = qobject_cast<QPushButton*>(view)) {
                tips << button->toolTip();
                shown << button->text();
            }
        EXPECT_TRUE(tips.contains(majahA)) << tips.join(u'|').toStdString();
        EXPECT_TRUE(tips.contains(taqribB)) << tips.join(u'|').toStdString();
        // A narrow button gives up the middle of its text, not the end
        // that tells the edition apart.
        const QString end = majahA.right(8);
        ASSERT_NE(end, majahB.right(8));
        EXPECT_TRUE(std::any_of(shown.cbegin(), shown.cend(), [&](const QString& s) { return s.endsWith(end); }))
            << shown.join(u'|').toStdString();

        // The bookmark list of the top bar.
        lib.toggleBookmark(kIbnMajahB, 30);
        std::unique_ptr<QMenu> menu(w.notesMenu());
        QStringList items;
        for (QAction* action : menu->actions())
            items << action->text();
        EXPECT_TRUE(std::any_of(items.cbegin(), items.cend(),
                                [&](const QString& item) { return item.contains(QString(majahB).replace(u'&', QStringLiteral("&&"))); }))
            << items.join(u'|').toStdString();
    }

    // The assistant answer's sources, one edition cited alone.
    const Page page = *lib.page(kIbnMajahA, 20);
    AIAnswer answer(AIMode::answer, QStringLiteral("سؤال"),
                    {Passage::of(lib, *lib.book(kIbnMajahA), page, page.content.left(80), 1)});
    answer.text = QStringLiteral("جواب [1]");
    answer.tier = 1;
    AnswerRenderer::Options options;
    options.catalog = lib.catalog();
    RichTextBuilder out;
    AnswerRenderer::render(out, answer, options);
    const QString rendered = out.take()->toPlainText();
    EXPECT_TRUE(rendered.contains(QStringLiteral("] ") + majahA)) << rendered.toStdString();

    // The collation header names the other edition by its label.
    const QString collated = PanelText::collate(lib, page.id, kIbnMajahB).plain();
    EXPECT_TRUE(collated.contains(QStringLiteral("مقابلة بـ ") + majahB)) << collated.toStdString();

    // The word panel's books holding the word.
    const QString word = QStringLiteral("حدثنا");
    const Concordance::Result found = Concordance::lookup(lib.main(), word, 10);
    const QString panel = PanelText::word(lib, word).plain();
    int twins = 0;
    for (const Concordance::BookCount& top : found.top)
        if (top.bookId == kIbnMajahA || top.bookId == kIbnMajahB) {
            ++twins;
            EXPECT_TRUE(panel.contains(QStringLiteral("  ") + BookTitles::label(*lib.catalog(), top.bookId) + QStringLiteral(": ")))
                << panel.toStdString();
        }
    EXPECT_GT(twins, 0);

    // The phrase tree's books.
    const QString phrase = page.content.simplified().section(u' ', 2, 7);
    const PanelText::Text tree = PanelText::genealogy(lib, phrase);
    int nodes = 0;
    for (const PanelText::Run& run : tree.runs)
        for (const std::int64_t book : {kIbnMajahA, kIbnMajahB})
            if (run.link.startsWith(PanelText::pageURL(book, 0).chopped(1))) {
                ++nodes;
                EXPECT_TRUE(run.text.startsWith(BookTitles::label(*lib.catalog(), book))) << run.text.toStdString();
            }
    EXPECT_GT(nodes, 0) << phrase.toStdString() << "\n" << tree.plain().toStdString();

    // A search scope of one edition.
    SearchForm form;
    form.allBooks = false;
    form.scope = QList<std::int64_t>{kTaqribB};
    const QString scope = form.scopeLabel(lib, {});
    EXPECT_TRUE(scope.contains(taqribB)) << scope.toStdString();
}
