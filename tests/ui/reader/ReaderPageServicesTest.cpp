#include "ui/reader/ReaderViewFixture.h"

#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Notifier.h"
#include "core/SQLiteDB.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "support/FixtureLibrary.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/TocModel.h"
#include "ui/shell/AppDelegate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <thread>

using namespace quorvel;

namespace {

constexpr std::int64_t kMuwatta = 1;
constexpr std::int64_t kQuduri = 8; // its last page has no printed number
constexpr std::int64_t kSiffin = 17;
constexpr std::int64_t kQuran = 100;
constexpr std::int64_t kBare = 903;

class ReaderPageServicesTest : public test::ReaderViewFixture {
protected:
    ReaderPageServicesTest()
        : ReaderViewFixture({Settings::indicDigitsKey, Settings::nightReadingKey, Settings::copyNoTashkeelKey,
                             Settings::copyNoFootnoteRefsKey})
    {
    }

    // The text of the one alert asked for since the last clear.
    QList<Dialogs::Request> alerts() const { return dialogs.requestsOf(Dialogs::Kind::Alert); }

    // The node selected in the contents pane; nullptr when none is.
    static const TocNode* selected(ReaderView& r)
    {
        const QModelIndexList rows = r.outline()->selectionModel()->selectedRows();
        return rows.size() == 1 ? TocModel::node(rows.first()) : nullptr;
    }

    QList<std::int64_t> corrections(Library& lib) const
    {
        QList<std::int64_t> seqs;
        for (const auto& row : lib.user().rows(QStringLiteral("SELECT seq FROM corrections ORDER BY id")))
            seqs << row.integer(0).value_or(-1);
        return seqs;
    }
};

// Every index of a model under `parent`, depth first.
void collect(const QAbstractItemModel& model, const QModelIndex& parent, QList<QModelIndex>& out)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        out << index;
        collect(model, index, out);
    }
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(13, 13)).toImage();
}

} // namespace

// ---- The contents pane ------------------------------------------------------

TEST_F(ReaderPageServicesTest, theContentsTreeHoldsEveryStoredEntryNestedWithItsSymbol)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 2);
    const QAbstractItemModel& model = *r->outline()->model();
    QList<QModelIndex> all;
    collect(model, {}, all);
    EXPECT_EQ(all.size(), sample.lib->tocEntries(kMuwatta).size());
    EXPECT_EQ(model.rowCount(), r->roots().size());

    const QImage branch = iconImage(Theme::symbol(QStringLiteral("doc.text"), 13, {Theme::goldInk().resolve()}));
    const QImage leaf = iconImage(Theme::symbol(QStringLiteral("doc.plaintext"), 13, {Theme::goldInk().resolve()}));
    ASSERT_FALSE(branch.isNull());
    ASSERT_NE(branch, leaf);
    int branches = 0;
    for (const QModelIndex& index : all) {
        const TocNode* node = TocModel::node(index);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(TocModel::node(index.parent()), node->parent.lock().get());
        EXPECT_EQ(model.rowCount(index), node->children.size());
        EXPECT_EQ(index.data(Qt::ToolTipRole).toString(), Arabic::digits(node->title));
        const QImage icon = iconImage(index.data(Qt::DecorationRole).value<QIcon>());
        EXPECT_EQ(icon, node->children.isEmpty() ? leaf : branch) << node->title.toStdString();
        branches += node->children.isEmpty() ? 0 : 1;
    }
    EXPECT_GT(branches, 10);

    // A title too long for the pane keeps it whole in its tool tip.
    const QString longTitle = QStringLiteral("١٩ باب وضوء الجنب إذا أراد أن ينام أو يطعم قبل أن يغتسل");
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const QModelIndex& i) { return i.data(Qt::DisplayRole).toString() == longTitle; });
    ASSERT_NE(it, all.end());
    EXPECT_EQ(it->data(Qt::ToolTipRole).toString(), longTitle);
    EXPECT_EQ(r->outline()->textElideMode(), Qt::ElideRight);
}

TEST_F(ReaderPageServicesTest, thePaneFollowsThePageAndAClickOpensAnEntryOnce)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 1);
    showAt(*r, 1200);
    int changes = 0;
    r->onChange = [&changes] { ++changes; };

    // Before the first entry nothing is selected.
    EXPECT_EQ(selected(*r), nullptr);

    // Two entries on page 2: the deeper is selected, both are its titles.
    r->go(2);
    ASSERT_NE(selected(*r), nullptr);
    EXPECT_EQ(selected(*r)->title, QStringLiteral("1 باب وقوت الصلاة"));
    EXPECT_EQ(r->tocTitles(2), QStringList({Arabic::normalize(QStringLiteral("1 - كتاب وقوت الصلاة"), true),
                                            Arabic::normalize(QStringLiteral("1 باب وقوت الصلاة"), true)}));
    // Inside the chapter the row stays; one page change each.
    r->go(5);
    EXPECT_EQ(selected(*r)->title, QStringLiteral("1 باب وقوت الصلاة"));
    r->go(8);
    EXPECT_EQ(selected(*r)->title, QStringLiteral("2 باب وقت الجمعة"));
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(r->seq(), 8);

    // Into the next book of the work: its path is expanded.
    r->go(20);
    const TocNode* chapter = selected(*r);
    ASSERT_NE(chapter, nullptr);
    EXPECT_EQ(chapter->title, QStringLiteral("2 باب وضوء النائم إذا قام إلى الصلاة"));
    auto* model = static_cast<TocModel*>(r->outline()->model());
    EXPECT_TRUE(r->outline()->isExpanded(model->indexOf(chapter->parent.lock().get())));
    EXPECT_EQ(changes, 4);

    // Going back before the first entry leaves the selection as it was.
    r->go(1);
    EXPECT_EQ(selected(*r), chapter);

    // A click opens the entry's page and records the page left.
    r->go(20);
    const QModelIndex target = model->indexOf(r->roots()[0]->children[6].get()); // "7 باب النهي عن الصلاة بالهاجرة"
    r->outline()->scrollTo(target);
    const QRect rect = r->outline()->visualRect(target);
    ASSERT_TRUE(rect.isValid());
    changes = 0;
    QTest::mouseClick(r->outline()->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(r->seq(), 14);
    EXPECT_EQ(r->backHistory().last(), 20);
    EXPECT_EQ(changes, 1);
    // The same entry again: nothing happens.
    const auto history = r->backHistory();
    QTest::mouseClick(r->outline()->viewport(), Qt::LeftButton, {}, r->outline()->visualRect(target).center());
    EXPECT_EQ(r->seq(), 14);
    EXPECT_EQ(r->backHistory(), history);
    EXPECT_EQ(changes, 1);
}

// ---- Card, references and cited copy -------------------------------------------------

TEST_F(ReaderPageServicesTest, theBookCardShowsOnlyTheLinesItHasDataFor)
{
    REQUIRE_SAMPLE(sample);
    auto card = [this](std::int64_t book, std::shared_ptr<Library> lib = {}) {
        dialogs.clear();
        auto r = reader(book, std::nullopt, lib);
        QTest::mouseClick(r->cardButton(), Qt::LeftButton);
        const auto shown = alerts();
        EXPECT_EQ(shown.size(), 1);
        EXPECT_EQ(shown.value(0).title, r->book().title);
        return shown.value(0).text.split(QLatin1Char('\n'));
    };
    const QStringList muwatta = card(kMuwatta);
    EXPECT_EQ(muwatta.value(0), QStringLiteral("المؤلّف: مالك بن أنس (ت ١٧٩)"));
    EXPECT_TRUE(muwatta.contains(QStringLiteral("عدد الأجزاء: ٢")));
    EXPECT_TRUE(muwatta.contains(QStringLiteral("عدد الصفحات: ٩٨٧")));
    EXPECT_TRUE(muwatta.contains(QStringLiteral("الناشر: دار إحياء التراث العربي")));

    const QStringList siffin = card(kSiffin);
    EXPECT_FALSE(siffin.join(QLatin1Char('\n')).contains(QStringLiteral("عدد الأجزاء")));

    const QStringList quran = card(kQuran);
    EXPECT_EQ(quran.value(0), QStringLiteral("المؤلّف: غير معروف"));
    EXPECT_FALSE(quran.join(QLatin1Char('\n')).contains(QStringLiteral("الناشر")));

    // A book without pages counts none.
    const QString path = test::FixtureLibrary::custom(
        dir.path(), QStringLiteral("bare.db"),
        {QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب بلا صفحات')").arg(kBare)});
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    const QStringList bare = card(kBare, Library::open(path));
    EXPECT_EQ(bare, QStringList({QStringLiteral("المؤلّف: غير معروف"), QStringLiteral("عدد الصفحات: ٠")}));
}

TEST_F(ReaderPageServicesTest, referencesNameVolumeAndPrintedPageOrTheSeq)
{
    REQUIRE_SAMPLE(sample);
    auto muwatta = reader(kMuwatta, 426);
    EXPECT_EQ(muwatta->pageRef(), QStringLiteral("ج٢ ص٤٤٣"));
    EXPECT_EQ(muwatta->citation(), QStringLiteral("[موطأ الإمام مالك · مالك بن أنس · الجزء: ٢ – الصفحة: ٤٤٣]"));

    auto quduri = reader(kQuduri, 239);
    ASSERT_TRUE(quduri->page());
    ASSERT_FALSE(quduri->page()->num);
    EXPECT_EQ(quduri->pageRef(), QStringLiteral("ج١ ص٢٣٩"));
    EXPECT_TRUE(quduri->citation().endsWith(QStringLiteral("الجزء: ١ – الصفحة: ٢٣٩]")));

    auto quran = reader(kQuran, 1);
    EXPECT_TRUE(quran->citation().startsWith(QStringLiteral("[القرآن الكريم · ")));
    EXPECT_EQ(quran->citation().count(QStringLiteral(" · ")), 1);

    Settings::setIndicDigits(false);
    EXPECT_EQ(muwatta->pageRef(), QStringLiteral("ج2 ص443"));
}

TEST_F(ReaderPageServicesTest, citedCopyTakesTheSelectionOrThePagesBodyWithItsCitation)
{
    REQUIRE_SAMPLE(sample);
    QClipboard* clipboard = QApplication::clipboard();
    auto r = reader(kSiffin, 1);
    const QString cite = QStringLiteral("[وقعة صفين · نصر بن مزاحم · الجزء: ١ – الصفحة: ١]");
    ASSERT_EQ(r->citation(), cite);

    // A selection, as rendered.
    QTextCursor cursor(r->textView()->document());
    cursor.setPosition(0);
    cursor.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor, 2);
    r->textView()->setTextCursor(cursor);
    const QString selection = cursor.selectedText().trimmed();
    QTest::mouseClick(r->copyButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard->text(), selection + QLatin1Char('\n') + cite);

    // No selection, diacritics hidden: the body alone, footnotes left out.
    cursor.clearSelection();
    r->textView()->setTextCursor(cursor);
    r->setTashkeelVisible(false);
    r->copyCited();
    const QString copied = clipboard->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("وقعة صفين لنصر بن مزاحم")));
    EXPECT_TRUE(copied.endsWith(QStringLiteral("\n") + cite));
    EXPECT_FALSE(copied.contains(QStringLiteral("كان أبو البركات محدث بغداد")));
    EXPECT_TRUE(copied.contains(QStringLiteral("الأنماطي (1)")));

    // The copy preferences apply: the footnote markers go.
    Settings::setCopyNoFootnoteRefs(true);
    r->copyCited();
    EXPECT_FALSE(clipboard->text().contains(QStringLiteral("(1)")));
    EXPECT_TRUE(clipboard->text().endsWith(cite));

    // Marks go with the page's diacritics hidden, and stay when shown.
    auto muwatta = reader(kMuwatta, 2);
    const QString body = Library::splitFootnotes(muwatta->page()->content).first;
    muwatta->copyCited();
    EXPECT_EQ(Arabic::stripMarks(clipboard->text()) == clipboard->text(), Arabic::stripMarks(body) == body);
    muwatta->setTashkeelVisible(false);
    muwatta->copyCited();
    EXPECT_EQ(Arabic::stripMarks(clipboard->text()), clipboard->text());
}

// ---- Notes, reports and the star ---------------------------------------------------------

TEST_F(ReaderPageServicesTest, aPageNoteIsSavedShownAndDeletedThroughThePrompt)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    const QImage plain = iconImage(r->noteButton()->icon());
    const auto history = r->backHistory();

    dialogs.answer(QStringLiteral("يراجع الإسناد في الطبعة الأخرى"));
    QTest::mouseClick(r->noteButton(), Qt::LeftButton);
    const auto asked = dialogs.requestsOf(Dialogs::Kind::Prompt);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].title, QStringLiteral("تعليق على الصفحة"));
    EXPECT_EQ(asked[0].text, QStringLiteral("موطأ الإمام مالك · ج١ ص٩"));
    EXPECT_TRUE(asked[0].multiline);
    EXPECT_TRUE(asked[0].initial.isEmpty());
    ASSERT_TRUE(sample.lib->note(kMuwatta, 8));
    EXPECT_TRUE(r->textView()->toPlainText().contains(QStringLiteral("تعليقي: يراجع الإسناد في الطبعة الأخرى")));
    EXPECT_NE(iconImage(r->noteButton()->icon()), plain);
    EXPECT_EQ(r->backHistory(), history);

    // Cancelled: nothing changes; the prompt opened on the note as it was.
    dialogs.clear();
    dialogs.answer(std::nullopt);
    r->editNote();
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Prompt).value(0).initial,
              QStringLiteral("يراجع الإسناد في الطبعة الأخرى"));
    EXPECT_TRUE(sample.lib->note(kMuwatta, 8));

    // Emptied: deleted, and the page shows it no more.
    dialogs.answer(QStringLiteral("  \n"));
    r->editNote();
    EXPECT_FALSE(sample.lib->note(kMuwatta, 8));
    EXPECT_FALSE(r->textView()->toPlainText().contains(QStringLiteral("تعليقي:")));
    EXPECT_EQ(iconImage(r->noteButton()->icon()), plain);
}

// The reader's note editor open while an import on another thread merges a
// note into the same page: saved, the note keeps what was typed and what
// the import added meanwhile.
TEST_F(ReaderPageServicesTest, aNoteTypedWhileAnImportMergesIntoItsPageKeepsBoth)
{
    REQUIRE_SAMPLE(sample);
    const QString old = QStringLiteral("ملاحظة قديمة");
    const QString imported = QStringLiteral("ملاحظة رقم 5");
    ASSERT_TRUE(sample.lib->saveNote(kMuwatta, 8, old));
    auto r = reader(kMuwatta, 8);
    showAt(*r, 900);
    const QByteArray file = Json::dumpBytes(
        {{"format", "quorvel-notes"},
         {"version", 1},
         {"notes", Json::Value::array({{{"book_id", kMuwatta}, {"seq", 8}, {"text", Json::utf8(imported)}}})}});

    // While the editor is open on the page (without a display the prompt
    // is answered here, between its opening and its saving), an import on
    // another thread merges into that page; then the reader types on.
    std::optional<Library::ImportCounts> counts;
    QString opened;
    const Dialogs::Responder scripted = Dialogs::setResponder([&](const Dialogs::Request& request) -> std::optional<QString> {
        opened = request.initial;
        std::thread import([&] { counts = sample.lib->importUserNotes(file); });
        import.join();
        return request.initial + QStringLiteral(" ومزيد");
    });
    r->editNote();
    Dialogs::setResponder(scripted);
    EXPECT_EQ(opened, old);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->notes, 1);
    EXPECT_EQ(sample.lib->note(kMuwatta, 8).value_or(Note{}).text, old + QStringLiteral(" ومزيد\n") + imported);
    EXPECT_TRUE(r->textView()->toPlainText().contains(imported));
}

// A save that fails (another program holds the user data's write lock)
// opens the editor again on what was typed, saying why; saved then, the
// note is what was typed.
TEST_F(ReaderPageServicesTest, aNoteNotSavedReopensTheEditorOnItsTextSayingWhy)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    const auto other = SQLiteDB::open(sample.lib->user().path(), false);
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->exec(QStringLiteral("BEGIN IMMEDIATE")));
    const QString typed = QStringLiteral("يراجع الإسناد");
    QList<Dialogs::Request> asked;
    const Dialogs::Responder scripted = Dialogs::setResponder([&](const Dialogs::Request& request) -> std::optional<QString> {
        asked << request;
        if (asked.size() == 1)
            return typed;
        other->exec(QStringLiteral("ROLLBACK"));
        return request.initial;
    });
    r->editNote();
    Dialogs::setResponder(scripted);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].initial, typed);
    EXPECT_EQ(asked[1].text, QStringLiteral("موطأ الإمام مالك · ج١ ص٩\nلم يُحفظ التعليق: برنامج آخر يكتب في ملف بيانات المستخدم. "
                                            "نصه باقٍ هنا، فاحفظه ثانية أو ألغِه."));
    EXPECT_EQ(sample.lib->note(kMuwatta, 8).value_or(Note{}).text, typed);
}

TEST_F(ReaderPageServicesTest, reportsAreStoredAsTypedAndAFailedStoreIsSaid)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);

    dialogs.answer(QStringLiteral("   "));
    r->reportError();
    EXPECT_EQ(corrections(*sample.lib), QList<std::int64_t>{8});
    ASSERT_EQ(alerts().size(), 1);
    EXPECT_EQ(alerts()[0].title, QStringLiteral("شكراً لك"));
    EXPECT_EQ(alerts()[0].text, QStringLiteral("حُفظ البلاغ في سجلّ التصحيحات."));
    const auto prompt = dialogs.requestsOf(Dialogs::Kind::Prompt).value(0);
    EXPECT_EQ(prompt.title, QStringLiteral("الإبلاغ عن خطأ"));
    EXPECT_EQ(prompt.text, QStringLiteral("موطأ الإمام مالك · ج١ ص٩\nصِف الخطأ (تصحيف، سقط، ترقيم…)"));

    // Empty or cancelled: nothing stored, nothing shown.
    dialogs.clear();
    dialogs.answer(QString());
    r->reportError();
    dialogs.answer(std::nullopt);
    r->reportError();
    EXPECT_EQ(corrections(*sample.lib).size(), 1);
    EXPECT_TRUE(alerts().isEmpty());

    // The log cannot take it: no thanks, but the failure.
    ASSERT_TRUE(sample.lib->user().run(QStringLiteral("DROP TABLE corrections")));
    dialogs.clear();
    dialogs.answer(QStringLiteral("سقط في السند"));
    r->reportError();
    ASSERT_EQ(alerts().size(), 1);
    EXPECT_EQ(alerts()[0].title, QStringLiteral("تعذر الحفظ"));
}

TEST_F(ReaderPageServicesTest, theStarTogglesTheFavouriteWithOneNotice)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kSiffin, 1);
    const QImage empty = iconImage(r->favButton()->icon());
    EXPECT_FALSE(sample.lib->isFavorite(kSiffin));
    QSignalSpy notices(&Notifier::shared(), &Notifier::userDataChanged);
    QTest::mouseClick(r->favButton(), Qt::LeftButton);
    EXPECT_TRUE(sample.lib->isFavorite(kSiffin));
    EXPECT_EQ(notices.count(), 1);
    EXPECT_EQ(iconImage(r->favButton()->icon()),
              iconImage(Theme::symbol(QStringLiteral("star.fill"), 16, {Theme::goldInk().resolve()})));
    // A new reader of the book shows it starred from the start.
    EXPECT_EQ(iconImage(reader(kSiffin, 1)->favButton()->icon()), iconImage(r->favButton()->icon()));
    QTest::mouseClick(r->favButton(), Qt::LeftButton);
    EXPECT_FALSE(sample.lib->isFavorite(kSiffin));
    EXPECT_EQ(iconImage(r->favButton()->icon()), empty);
    EXPECT_EQ(notices.count(), 2);
}

TEST_F(ReaderPageServicesTest, contentsPictureShowsThePaneRightOfThePageWithANote)
{
    REQUIRE_SAMPLE(sample);
    sample.lib->saveNote(kMuwatta, 20, QStringLiteral("حديث الوضوء من النوم: يقارن بروايتي ابن ماجه"));
    auto r = reader(kMuwatta, 20);
    showAt(*r, 1200, 800);
    ASSERT_NE(selected(*r), nullptr);
    ASSERT_NE(selected(*r)->parent.lock(), nullptr); // a nested chapter
    const QImage shot = r->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/reader-toc.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    EXPECT_EQ(shot.size(), r->size() * shot.devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 5)
        for (int x = 0; x < shot.width(); x += 5)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 32);
    const QPoint pane = r->outline()->mapTo(r.get(), QPoint(0, 0));
    const QPoint text = r->textView()->mapTo(r.get(), QPoint(0, 0));
    EXPECT_GT(pane.x(), text.x() + r->textView()->width() / 2);
    EXPECT_TRUE(r->textView()->toPlainText().contains(QStringLiteral("تعليقي:")));
}
