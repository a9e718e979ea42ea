#include "ui/reader/ReaderTestSupport.h"
#include "support/Wait.h"

#include "core/Arabic.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/FixtureLibrary.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainMenu.h"
#include "ui/shell/MainWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

class QuranViewTest : public ::testing::Test {
protected:
    QuranViewTest()
        : prefs({Settings::indicDigitsKey, Settings::quranUthmaniKey, Settings::readerSizeKey,
                 Settings::restoreSessionKey, Settings::nightReadingKey})
    {
        AppDelegate::prepareApplication();
        if (sample.lib)
            q = QuranText::load(*sample.lib);
    }

    std::unique_ptr<QuranView> view(const QString& position = {})
    {
        if (!position.isNull())
            sample.lib->setKV(QString::fromLatin1(QuranView::positionKey), position);
        return std::make_unique<QuranView>(sample.lib, q);
    }

    static void showAt(QWidget& w, int width = 1200, int height = 760)
    {
        w.resize(width, height);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    // Types into a field and presses Return.
    static void enter(QLineEdit* field, const QString& text)
    {
        field->setText(text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    // Where document position `position` is in the text view.
    static QRect placeOf(QuranView& v, int position)
    {
        QTextCursor cursor(v.textView()->document());
        cursor.setPosition(position);
        return v.textView()->cursorRect(cursor);
    }

    // Whether document position `position` lies in the text view's shown part.
    static bool inView(QuranView& v, int position)
    {
        return v.textView()->viewport()->rect().contains(placeOf(v, position));
    }

    // Clicks the text view at document position `position`.
    static void clickAt(QuranView& v, int position)
    {
        QTest::mouseClick(v.textView()->viewport(), Qt::LeftButton, {}, placeOf(v, position).center() + QPoint(-3, 0));
    }

    // The PNG of a widget in the build folder, checked for size and content;
    // the rightmost inked column of the text's first lines.
    static int grabAndCheck(QuranView& v, const QString& name)
    {
        const QImage shot = v.grab().toImage();
        const QString file = QCoreApplication::applicationDirPath() + u'/' + name;
        EXPECT_TRUE(shot.save(file, "PNG"));
        const QImage back(file);
        EXPECT_EQ(back.size(), v.size() * back.devicePixelRatio());
        QSet<QRgb> colours;
        for (int y = 0; y < back.height(); y += 5)
            for (int x = 0; x < back.width(); x += 5)
                colours.insert(back.pixel(x, y));
        EXPECT_GT(colours.size(), 32);
        const QImage page = v.textView()->viewport()->grab().toImage();
        const QColor paper = Theme::parchment();
        int rightmost = -1;
        for (int y = 0; y < std::min(page.height(), 200); ++y)
            for (int x = page.width() - 1; x > rightmost; --x)
                if (QColor(page.pixel(x, y)) != paper) {
                    rightmost = x;
                    break;
                }
        return page.width() - 1 - rightmost;
    }

    test::PreferenceGuard prefs;
    ScriptedDialogs dialogs;
    test::SampleLib sample;
    std::shared_ptr<const QuranText> q;
    QTemporaryDir dir;
};

} // namespace

TEST_F(QuranViewTest, savedPositionOpensTheVerseOrTheFirstOne)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    auto v = view(QStringLiteral("2:255"));
    EXPECT_EQ(v->position(), std::make_pair(2, 255));
    showAt(*v);
    ASSERT_TRUE(QTest::qWaitFor([&] { return v->textView()->verticalScrollBar()->value() > 0; }, 20000));
    // The verse stands a little below the top of the view.
    const auto ranges = v->renderer().ranges(v->selected());
    ASSERT_FALSE(ranges.isEmpty());
    QTextCursor cursor(v->textView()->document());
    cursor.setPosition(ranges.first().first);
    const int top = v->textView()->cursorRect(cursor).top();
    EXPECT_GT(top, QuranView::scrollMargin - 60);
    EXPECT_LT(top, QuranView::scrollMargin + 60);
    EXPECT_EQ(v->suraPopup()->currentIndex(), 1);
    EXPECT_EQ(v->juzPopup()->currentIndex(), 2);
    EXPECT_EQ(v->ayahField()->text(), QStringLiteral(u"٢٥٥"));
    EXPECT_EQ(v->pageField()->text(), QStringLiteral(u"٤٢"));
    EXPECT_EQ(v->statusText(), QStringLiteral(u"سورة البقرة · الآية ٢٥٥ من ٢٨٦ – الجزء ٣ – الصفحة ٤٢"));

    for (const char* stored : {"115:1", "كلام", "7", ""}) {
        auto other = view(QString::fromUtf8(stored));
        EXPECT_EQ(other->position(), std::make_pair(1, 1)) << stored;
    }
    EXPECT_EQ(view(QStringLiteral("2:999"))->position(), std::make_pair(2, 286));
    // Every change is kept in Latin digits.
    Settings::setIndicDigits(true);
    auto kept = view(QStringLiteral("3:7"));
    kept->show(18, 10, false);
    EXPECT_EQ(sample.lib->kv(QString::fromLatin1(QuranView::positionKey)), QStringLiteral("18:10"));
}

TEST_F(QuranViewTest, verseAndPageFieldsAndHeadingClicks)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    auto v = view(QStringLiteral("2:1"));
    showAt(*v);
    enter(v->ayahField(), QStringLiteral(u"٢٥"));
    EXPECT_EQ(v->position(), std::make_pair(2, 25));
    enter(v->ayahField(), QStringLiteral("0"));
    EXPECT_EQ(v->position(), std::make_pair(2, 1));
    enter(v->ayahField(), QStringLiteral(u"آية"));
    EXPECT_EQ(v->position(), std::make_pair(2, 1));

    ASSERT_TRUE(v->pageField()->isEnabled());
    enter(v->pageField(), QStringLiteral("42"));
    EXPECT_EQ(v->position(), std::make_pair(2, 253));
    enter(v->pageField(), QStringLiteral("605"));
    EXPECT_EQ(v->position(), std::make_pair(2, 253));
    enter(v->pageField(), QStringLiteral("1"));
    EXPECT_EQ(v->position(), std::make_pair(1, 1));

    v->juzPopup()->setCurrentIndex(29);
    emit v->juzPopup()->activated(29);
    EXPECT_EQ(v->position(), std::make_pair(78, 1));
    v->suraPopup()->setCurrentIndex(113);
    emit v->suraPopup()->activated(113);
    EXPECT_EQ(v->position(), std::make_pair(114, 1));

    // A click on the heading changes nothing; one on a verse selects it
    // without rendering the sura again.
    v->show(2, 5, false);
    ASSERT_EVENTUALLY(inView(*v, 2) && inView(*v, v->renderer().ranges(q->index(2, 3)).first().first + 4), 2000);
    QTextDocument* document = v->textView()->document();
    clickAt(*v, 2);
    EXPECT_EQ(v->position(), std::make_pair(2, 5));
    const int third = q->index(2, 3);
    clickAt(*v, v->renderer().ranges(third).first().first + 4);
    EXPECT_EQ(v->position(), std::make_pair(2, 3));
    EXPECT_EQ(v->textView()->document(), document);
    EXPECT_EQ(sample.lib->kv(QString::fromLatin1(QuranView::positionKey)), QStringLiteral("2:3"));
}

TEST_F(QuranViewTest, verseSearchFindsWordsInAnyOrderAndClearingReturns)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    auto v = view(QStringLiteral("2:255"));
    showAt(*v);
    v->searchField()->setText(QStringLiteral(u"القيوم الحي"));
    ASSERT_TRUE(v->results());
    EXPECT_TRUE(v->results()->contains(q->index(2, 255)));
    EXPECT_TRUE(v->results()->contains(q->index(3, 2)));
    for (const int i : *v->results())
        EXPECT_TRUE(q->ayat[i].norm.contains(QStringLiteral(u"الحي")));
    EXPECT_TRUE(v->statusText().contains(QStringLiteral(u"تطابق «القيوم الحي»")));
    const int shown = grabAndCheck(*v, QStringLiteral("quran-search.png"));
    EXPECT_LT(shown, 48 + 16);

    v->searchField()->setText(QStringLiteral("  "));
    EXPECT_FALSE(v->results());
    EXPECT_EQ(v->position(), std::make_pair(2, 255));
    EXPECT_TRUE(QTest::qWaitFor([&] { return v->textView()->verticalScrollBar()->value() > 0; }, 20000));

    // A click on a result shows its verse in its sura.
    v->setSearch(QStringLiteral(u"الرحمن الرحيم"));
    ASSERT_TRUE(v->results());
    EXPECT_GE(v->results()->size(), 2);
    const int first = v->results()->first();
    ASSERT_EVENTUALLY(inView(*v, v->renderer().ranges(first).first().first + 3), 2000);
    clickAt(*v, v->renderer().ranges(first).first().first + 3);
    EXPECT_FALSE(v->results());
    EXPECT_EQ(v->selected(), first);
}

TEST_F(QuranViewTest, citedCopyOfTheVerseOfARangeAndOfResultsApart)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    Settings::setQuranUthmani(true);
    auto v = view(QStringLiteral("2:255"));
    showAt(*v);
    v->copyCited();
    const QString verse = QuranText::uthmani().value(2255);
    ASSERT_FALSE(verse.isEmpty());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(u"﴿") + verse + QStringLiteral(u"﴾ [البقرة: ٢٥٥]"));
    EXPECT_EQ(v->statusText(), QStringLiteral(u"نسخ: [البقرة: ٢٥٥]"));

    // From the middle of verse 3 to the middle of verse 5.
    const auto three = v->renderer().ranges(q->index(2, 3)).first();
    const auto five = v->renderer().ranges(q->index(2, 5)).first();
    QTextCursor cursor(v->textView()->document());
    cursor.setPosition(three.first + three.second / 2);
    cursor.setPosition(five.first + five.second / 2, QTextCursor::KeepAnchor);
    v->textView()->setTextCursor(cursor);
    v->copyCited();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral(u"﴿") + cursor.selectedText().trimmed().left(10)));
    EXPECT_TRUE(copied.endsWith(QStringLiteral(u"﴾ [البقرة: ٣-٥]"))) << qPrintable(copied.right(30));

    // Results listed apart are cited apart.
    v->setSearch(QStringLiteral(u"القيوم"));
    ASSERT_TRUE(v->results());
    ASSERT_EQ(*v->results(), QList<int>({q->index(2, 255), q->index(3, 2), q->index(20, 111)}));
    v->textView()->selectAll();
    v->copyCited();
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(
        QStringLiteral(u"﴾ [البقرة: ٢٥٥] [آل عمران: ٢] [طه: ١١١]")));
}

TEST_F(QuranViewTest, placesSearchTheBooksForTheVerse)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    auto v = view(QStringLiteral("1:1"));
    QList<SearchQuery> asked;
    QList<QList<QuranView::Fallback>> fallbacks;
    v->onSearch = [&](const SearchQuery& query, const QList<QuranView::Fallback>& fallback) {
        asked.append(query);
        fallbacks.append(fallback);
    };

    int nine = -1;
    int ten = -1;
    for (int i = 0; i < q->ayat.size() && (nine < 0 || ten < 0); ++i) {
        const qsizetype words = q->ayat[i].plain.split(u' ', Qt::SkipEmptyParts).size();
        if (words == 9 && nine < 0)
            nine = i;
        if (words == 10 && ten < 0)
            ten = i;
    }
    ASSERT_GE(nine, 0);
    ASSERT_GE(ten, 0);
    v->show(q->ayat[nine].sura, q->ayat[nine].n, false);
    v->searchCited(true);
    v->show(q->ayat[ten].sura, q->ayat[ten].n, false);
    v->searchCited(false);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].andPhrases, QStringList{q->ayat[nine].plain});
    EXPECT_EQ(asked[0].scope, (QList<std::int64_t>{7, 15}));
    EXPECT_FALSE(asked[0].inNotes);
    // Shorter openings follow, longest first, down to the shortest searched.
    ASSERT_EQ(fallbacks[0].size(), 9 - QuranView::shortestOpening);
    EXPECT_EQ(fallbacks[0].last().query.andPhrases.first().split(u' ').size(), QuranView::shortestOpening);
    EXPECT_EQ(fallbacks[0].first().query.scope, asked[0].scope);
    EXPECT_EQ(asked[1].andPhrases.first().split(u' ').size(), QuranView::leadingWords);
    EXPECT_TRUE(q->ayat[ten].plain.startsWith(asked[1].andPhrases.first() + u' '));
    QList<std::int64_t> others;
    for (const Book& book : sample.lib->books())
        if (book.id != 100)
            others.append(book.id);
    EXPECT_EQ(asked[1].scope, others);

    std::unique_ptr<QMenu> menu(v->citedMenu());
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral(u"مواضع ") + q->cite(ten) + QStringLiteral(u" في:"));
    EXPECT_FALSE(items[0]->isEnabled());
    items[1]->trigger();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_EQ(asked[2].scope, (QList<std::int64_t>{7, 15}));

    // A verse opening with a vocative is searched as the books write it.
    v->show(2, 183, false);
    v->searchCited(false);
    ASSERT_EQ(asked.size(), 4);
    EXPECT_EQ(asked[3].andPhrases.first(), QStringLiteral(u"يا ايها الذين امنوا كتب عليكم الصيام"));

    // The Throne Verse opens with the words of Al Imran 2: its places are
    // looked for by words that verse does not hold, then, failing those, by
    // its opening words, naming the verse that shares them.
    v->show(2, 255, false);
    v->searchCited(true);
    ASSERT_EQ(asked.size(), 5);
    const QString throne = asked[4].andPhrases.first();
    EXPECT_TRUE(q->ayat[7 + 254].plain.startsWith(throne)) << throne.toStdString();
    EXPECT_GT(throne.split(u' ').size(), QuranView::leadingWords);
    for (int i = 0; i < q->ayat.size(); ++i)
        if (i != 7 + 254) {
            EXPECT_FALSE(q->ayat[i].plain.contains(throne)) << q->cite(i).toStdString();
        }
    ASSERT_FALSE(fallbacks[4].isEmpty());
    const QuranView::Fallback& opening = fallbacks[4].first();
    EXPECT_EQ(opening.query.andPhrases, QStringList{QStringLiteral(u"الله لا اله الا هو الحي القيوم")});
    EXPECT_EQ(opening.query.scope, asked[4].scope);
    EXPECT_TRUE(opening.note.contains(QStringLiteral(u"[آل عمران: ٢]"))) << opening.note.toStdString();
}

// Through the window, as a reader asks: the places of a verse the books quote
// are found, and the Throne Verse's opening words find its places.
TEST_F(QuranViewTest, versePlacesFindTheBooksThatQuoteTheVerse)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    MainWindowController w(sample.lib);
    w.resize(1300, 820);
    w.show();
    w.openQuran(2, 183);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.activeQuran() != nullptr; }, 20000));
    const struct {
        int ayah;
        bool tafsir;
        bool note;
    } cases[] = {{183, false, false}, {255, true, true}};
    for (const auto& c : cases) {
        w.openQuran(2, c.ayah);
        w.activeQuran()->searchCited(c.tafsir);
        auto* tab = qobject_cast<SearchTabView*>(w.tabs().last()->content());
        ASSERT_TRUE(tab);
        ASSERT_TRUE(QTest::qWaitFor([&] { return tab->isDone(); }, 30000));
        EXPECT_GT(tab->resultCount(), 0) << c.ayah;
        EXPECT_EQ(tab->noteLabel()->isVisible(), c.note) << c.ayah;
        for (const bool night : {false, true}) {
            Settings::setNightReading(night);
            Notifier::postReaderSettingsChanged();
            QApplication::processEvents();
            EXPECT_TRUE(w.grab().save(QCoreApplication::applicationDirPath() +
                                      QStringLiteral("/verse-places-2-%1-%2.png").arg(c.ayah).arg(night ? "night" : "day")));
        }
        Settings::setNightReading(false);
        Notifier::postReaderSettingsChanged();
    }
}

TEST_F(QuranViewTest, theMainWindowOpensOneQuranTabAndKeepsItInTheSession)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    w.openQuran(2);
    ASSERT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(w.tabs()[0]->title(), QStringLiteral(u"القرآن الكريم"));
    // The text loads off the GUI thread; the view fills the tab once it is in.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.activeQuran() != nullptr; }, 20000));
    QuranView* quran = w.activeQuran();
    EXPECT_EQ(quran->position(), std::make_pair(2, 1));
    EXPECT_EQ(w.tabs()[0]->title(), QStringLiteral(u"القرآن الكريم"));
    w.openQuran(36, 58, true);
    ASSERT_EQ(w.tabs().size(), 1);
    EXPECT_EQ(quran->position(), std::make_pair(36, 58));

    // The Mushaf button opens the verse's page in the book.
    quran->openInMushaf();
    ASSERT_EQ(w.tabs().size(), 2);
    ASSERT_TRUE(w.tabs()[1]->reader());
    EXPECT_EQ(w.tabs()[1]->reader()->book().id, 100);
    EXPECT_EQ(w.tabs()[1]->reader()->page()->num, q->ayat[q->index(36, 58)].page);

    // The places search opens a search tab.
    quran->searchCited(false);
    EXPECT_EQ(w.tabs().size(), 3);

    const QString session = w.sessionJSON();
    MainWindowController again(sample.lib);
    ASSERT_TRUE(again.restoreSession(session));
    ASSERT_EQ(again.tabs().size(), 3);
    again.select(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.activeQuran() != nullptr; }, 20000));
    auto* restored = qobject_cast<QuranView*>(again.tabs()[0]->content());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->position(), std::make_pair(36, 58));
}

TEST_F(QuranViewTest, thePageCommandsTurnTheMushafPagesOfTheQuranTab)
{
    REQUIRE_SAMPLE(sample);
    MainWindowController w(sample.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    w.resize(1300, 860);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.openQuran(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.activeQuran() != nullptr; }, 20000));
    QuranView* quran = w.activeQuran();
    const auto page = [&] { return q->ayat[q->index(quran->position().first, quran->position().second)].page; };
    ASSERT_EQ(page(), 1);
    int beeps = 0;
    const auto previousBeep = Beep::setHook([&] { ++beeps; });
    // The key of «انتقال ← الصفحة التالية», with the keyboard in the text.
    QWidget* text = quran->findChild<AyahTextView*>();
    ASSERT_NE(text, nullptr);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(page(), 2);
    EXPECT_EQ(quran->position(), std::make_pair(2, 1));
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        EXPECT_EVENTUALLY(QApplication::palette() == Theme::palette(night), 5000);
        EXPECT_TRUE(w.grab().save(QCoreApplication::applicationDirPath()
                                  + (night ? QStringLiteral("/quran-next-page-night.png") : QStringLiteral("/quran-next-page.png"))));
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    text->setFocus();
    // The left arrow in the text turns forward too, the right one back.
    QTest::keyClick(text, Qt::Key_Left);
    EXPECT_EQ(page(), 3);
    QTest::keyClick(text, Qt::Key_Right);
    QTest::keyClick(text, Qt::Key_Right);
    EXPECT_EQ(page(), 1);
    // Before the first page there is none: a beep, and nothing moves.
    QTest::keyClick(text, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(page(), 1);
    EXPECT_EQ(beeps, 1);
    QTest::keyClick(text, Qt::Key_Down, Qt::ControlModifier);
    int last = 0;
    for (const Ayah& v : q->ayat)
        last = std::max(last, v.page.value_or(0));
    EXPECT_EQ(page(), last);

    // With the keyboard in the search field, as the tab opens, Down and Up
    // scroll the text by a line, PageDown by a screen and, at the end of the
    // sura, on to the page after it; PageUp at its start back to the page before.
    quran->show(2, 1, true);
    // Its scroll to the verse is posted: it runs before the keys below move the text.
    QCoreApplication::processEvents();
    QScrollBar* bar = quran->textView()->verticalScrollBar();
    ASSERT_EVENTUALLY(bar->maximum() > bar->pageStep(), 2000);
    ASSERT_GT(bar->maximum(), bar->pageStep());
    bar->setValue(0);
    quran->searchField()->setFocus();
    QTest::keyClick(quran->searchField(), Qt::Key_Down);
    EXPECT_EQ(bar->value(), bar->singleStep());
    QTest::keyClick(quran->searchField(), Qt::Key_Up);
    EXPECT_EQ(bar->value(), 0);
    QTest::keyClick(quran->searchField(), Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), bar->pageStep());
    text->setFocus();
    QTest::keyClick(text, Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), 2 * bar->pageStep());
    bar->setValue(bar->maximum());
    QTest::keyClick(text, Qt::Key_PageDown);
    EXPECT_EQ(quran->position(), std::make_pair(3, 1));
    EXPECT_EQ(page(), q->ayat[q->index(2, 286)].page.value_or(0) + 1);
    // The next sura's posted scroll to its first verse runs, and its text is laid out.
    QCoreApplication::processEvents();
    ASSERT_EVENTUALLY(bar->maximum() > bar->pageStep(), 2000);
    bar->setValue(0);
    QTest::keyClick(text, Qt::Key_PageUp);
    EXPECT_EQ(quran->position(), std::make_pair(2, 286));
    EXPECT_EQ(beeps, 1);
    Beep::setHook(previousBeep);

    // Tab walks every control of the bar a click reaches; of the script
    // switch, the segment in force, as in a group of radio buttons.
    quran->searchField()->setFocus(Qt::TabFocusReason);
    QList<QWidget*> stops;
    for (int i = 0; i < 60 && QApplication::focusWidget(); ++i) {
        stops << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QList<QWidget*> controls{quran->searchField(), quran->scriptSwitch()->checkedButton(), quran->suraPopup(),
                             quran->ayahField(), quran->juzPopup()};
    for (QAbstractButton* button : quran->findChildren<QAbstractButton*>())
        if (!button->toolTip().isEmpty() && button->isVisible() && !controls.contains(button))
            controls << button;
    if (quran->pageField()->isEnabled())
        controls << quran->pageField();
    for (QWidget* control : controls)
        EXPECT_TRUE(stops.contains(control)) << control->metaObject()->className() << ' ' << control->toolTip().toStdString();
    QAbstractButton* script = quran->scriptSwitch()->checkedButton();
    script->setFocus(Qt::TabFocusReason);
    EXPECT_EVENTUALLY(script->hasFocus(), 5000);
    const QImage focused = script->grab().toImage();
    text->setFocus(Qt::TabFocusReason);
    EXPECT_EVENTUALLY(text->hasFocus(), 5000);
    EXPECT_NE(focused, script->grab().toImage());
}

TEST_F(QuranViewTest, aLibraryWithoutTheQuranSaysSoAndOpensNoTab)
{
    const QString path = test::FixtureLibrary::build(dir.path());
    ASSERT_FALSE(path.isEmpty());
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    auto lib = Library::open(path);
    ASSERT_TRUE(lib);
    MainWindowController w(lib);
    w.openQuran();
    EXPECT_TRUE(w.tabs().isEmpty());
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral(u"لا يوجد مصحف في المكتبة"));
    // A session's Quran tab is left out quietly.
    EXPECT_TRUE(w.restoreSession(QStringLiteral(R"({"tabs":[{"k":"quran","sura":2,"ayah":3}],"active":0})")));
    EXPECT_TRUE(w.tabs().isEmpty());
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
}

TEST_F(QuranViewTest, picturesOfTheSuraAndTheScriptSwitch)
{
    REQUIRE_SAMPLE(sample);
    ASSERT_TRUE(q);
    Settings::setQuranUthmani(true);
    auto v = view(QStringLiteral("2:255"));
    showAt(*v);
    ASSERT_TRUE(QTest::qWaitFor([&] { return v->textView()->verticalScrollBar()->value() > 0; }, 20000));
    const int margin = grabAndCheck(*v, QStringLiteral("quran.png"));
    EXPECT_GT(margin, 48 - 12);
    EXPECT_LT(margin, 48 + 16);
    ASSERT_TRUE(v->scriptSwitch()->button(0)->isEnabled());
    EXPECT_TRUE(v->scriptSwitch()->button(0)->isChecked());

    // The plain script: the verse's own letters, and the choice is kept.
    v->scriptSwitch()->button(1)->click();
    EXPECT_FALSE(Settings::quranUthmani());
    EXPECT_EQ(v->position(), std::make_pair(2, 255));
    EXPECT_TRUE(v->textView()->document()->toPlainText().contains(QStringLiteral(u" ﴿٢٥٥﴾ ")));
    EXPECT_EVENTUALLY(v->textView()->verticalScrollBar()->value() > 0, 5000);
    grabAndCheck(*v, QStringLiteral("quran-plain.png"));
}
