#include "ui/ViewTestSupport.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Theme.h"
#include "ui/search/BookPicker.h"
#include "ui/search/PickerModel.h"

#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QTreeView>

using namespace quorvel;
using PickPage = BookPicker::Page;

namespace {

class BookPickerTest : public ::testing::Test {
protected:
    BookPickerTest() : prefs({Settings::indicDigitsKey}) { test::preparePanels(); }

    // Authors who died in 1500, 1501, 2000, 2001, 0 and 5 before the Hijra,
    // each with one book; two more books by nobody, one titled with a
    // decomposed hamza and one with the composed letter.
    std::shared_ptr<Library> yearsLibrary()
    {
        const QStringList rows{
            QStringLiteral("INSERT INTO categories(id, name) VALUES(1, 'الحديث'), (2, 'فارغ')"),
            QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(1, 'ألف', 1500), (2, 'باء', 1501), "
                           "(3, 'تاء', 2000), (4, 'ثاء', 2001), (5, 'جيم', 0), (6, 'حاء', -5)"),
            QStringLiteral("INSERT INTO books(id, title, author_id, category_id) VALUES(1, 'كتاب الألف', 1, 1), "
                           "(2, 'كتاب الباء', 2, 1), (3, 'كتاب التاء', 3, 1), (4, 'كتاب الثاء', 4, 1), "
                           "(5, 'كتاب الجيم', 5, 1), (6, 'كتاب الحاء', 6, 1), "
                           "(7, 'بيان', NULL, 1), (8, 'ا' || char(1620) || 'مالي', NULL, 1), (9, 'أمالي', NULL, 1)"),
        };
        const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("years.db"), rows);
        test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        return path.isEmpty() ? nullptr : Library::open(path);
    }

    static QStringList labels(const QList<PickNodePtr>& nodes)
    {
        QStringList out;
        for (const PickNodePtr& n : nodes)
            out << n->label;
        return out;
    }

    test::PreferenceGuard prefs;
    QTemporaryDir dir;
};

TEST_F(BookPickerTest, centuriesOfThePeriodPageStopAtTheYear2000)
{
    EXPECT_EQ(BookPicker::century(1500), 15);
    EXPECT_EQ(BookPicker::century(1501), 16);
    EXPECT_EQ(BookPicker::century(2000), 20);
    EXPECT_EQ(BookPicker::century(2001), BookPicker::unknownCentury);
    EXPECT_EQ(BookPicker::century(0), BookPicker::unknownCentury);
    EXPECT_EQ(BookPicker::century(-5), BookPicker::beforeHijra);

    auto lib = yearsLibrary();
    ASSERT_TRUE(lib);
    BookPicker picker(lib);
    EXPECT_EQ(labels(picker.roots(PickPage::period, {})),
              (QStringList{"قبل الهجرة", "القرن الخامس عشر الهجري", "القرن ١٦ الهجري", "القرن ٢٠ الهجري", "غير محدّد"}));
    // Four roots and no filter: closed; a filter opens them; three or fewer open.
    EXPECT_FALSE(BookPicker::opensRoots(PickPage::period, 5, {}));
    EXPECT_TRUE(BookPicker::opensRoots(PickPage::period, 5, QStringLiteral("كتاب")));
    EXPECT_TRUE(BookPicker::opensRoots(PickPage::period, 3, {}));
    EXPECT_FALSE(BookPicker::opensRoots(PickPage::books, 1, QStringLiteral("كتاب")));
}

TEST_F(BookPickerTest, theFilterWantsEveryWordAnywhereInTitleAndAuthor)
{
    auto lib = yearsLibrary();
    ASSERT_TRUE(lib);
    BookPicker picker(lib);
    EXPECT_EQ(picker.roots(PickPage::books, QStringLiteral("   ")).size(), 9);
    // Both words, in either order, inside longer words, one from the author.
    QList<std::int64_t> found;
    for (const PickNodePtr& n : picker.roots(PickPage::books, QStringLiteral("باء  تاب")))
        found << n->id;
    EXPECT_EQ(found, QList<std::int64_t>{2});
    EXPECT_TRUE(picker.matchesFilter(1, QStringLiteral("ألف الالف")));
    EXPECT_FALSE(picker.matchesFilter(1, QStringLiteral("ألف باء")));
    // A filter that empties a group drops it; the empty category never shows.
    EXPECT_EQ(labels(picker.roots(PickPage::categories, {})), QStringList{"الحديث"});
    EXPECT_TRUE(picker.roots(PickPage::categories, QStringLiteral("ظظظ")).isEmpty());
}

TEST_F(BookPickerTest, titleOrderComparesCanonicallyComposedText)
{
    auto lib = yearsLibrary();
    ASSERT_TRUE(lib);
    BookPicker picker(lib);
    picker.sortAlpha = true;
    // The decomposed and the composed hamza are one letter: their order stays.
    EXPECT_EQ(picker.sorted({8, 9, 7, 999}), (QList<std::int64_t>{8, 9, 7}));
    EXPECT_EQ(picker.sorted({9, 8, 7}), (QList<std::int64_t>{9, 8, 7}));
    // Otherwise the catalogue's display order decides, duplicates kept.
    picker.sortAlpha = false;
    QList<std::int64_t> byOrder{9, 7, 8, 7};
    std::stable_sort(byOrder.begin(), byOrder.end(),
                     [&](std::int64_t a, std::int64_t b) { return lib->book(a)->order < lib->book(b)->order; });
    EXPECT_EQ(picker.sorted({9, 7, 8, 7}), byOrder);
}

TEST_F(BookPickerTest, foldersScopesAndLogsShowWhatTheUserKept)
{
    auto lib = yearsLibrary();
    ASSERT_TRUE(lib);
    lib->addFolder(QStringLiteral("مراجع"));
    lib->setFavorite(1, true);
    lib->saveScope(QStringLiteral("مجال"), {3, 3, 777});
    lib->saveScope(QStringLiteral("مجال فارغ"), {777});
    for (int i = 0; i < 250; ++i)
        lib->addHistory(QStringLiteral("بحث %1").arg(i), i == 249 ? QStringLiteral("{") : SearchQuery().json(), i);
    ASSERT_TRUE(lib->saveResults(QStringLiteral("محفوظة"), QStringLiteral("{}"), {1, 2}));
    BookPicker picker(lib);

    const QList<PickNodePtr> folders = picker.roots(PickPage::favorites, {});
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[0]->bookIds(), QList<std::int64_t>{1});
    EXPECT_TRUE(folders[1]->children.isEmpty());
    EXPECT_FALSE(folders[1]->isExpandable());

    const QList<PickNodePtr> scopes = picker.roots(PickPage::scopes, {});
    ASSERT_EQ(scopes.size(), 2);
    const PickNodePtr twice = scopes[0]->label == QStringLiteral("مجال") ? scopes[0] : scopes[1];
    const PickNodePtr empty = scopes[0] == twice ? scopes[1] : scopes[0];
    EXPECT_EQ(twice->bookIds(), (QList<std::int64_t>{3, 3}));
    EXPECT_TRUE(empty->children.isEmpty());
    EXPECT_EQ(BookPicker::groupState(*empty, {3}), Qt::Unchecked);

    const QList<PickNodePtr> logs = picker.roots(PickPage::logs, {});
    ASSERT_EQ(logs.size(), 2);
    EXPECT_EQ(logs[0]->children.size(), 1);
    EXPECT_EQ(logs[1]->children.size(), BookPicker::historyRows);

    PickerModel model(picker);
    model.setRoots(logs);
    const QModelIndex newest = model.index(0, 0, model.index(1, 0));
    EXPECT_EQ(model.data(newest).toString(), QStringLiteral("بحث"));
    EXPECT_FALSE(model.flags(newest) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(model.data(model.index(0, PickerModel::authorColumn, model.index(0, 0))).toString(),
              QStringLiteral("نتيجتان محفوظتان"));
    EXPECT_TRUE(model.data(model.index(0, PickerModel::authorColumn, model.index(1, 0)))
                    .toString()
                    .startsWith(QStringLiteral("٢٤٩ نتيجة – ")));
    // The groups count the searches they hold, not the books below them (none).
    EXPECT_EQ(model.data(model.index(0, PickerModel::authorColumn)).toString(), QStringLiteral("مجموعة محفوظة واحدة"));
    EXPECT_EQ(model.data(model.index(1, PickerModel::authorColumn)).toString(),
              CountedNoun(QStringLiteral("عملية بحث"), QStringLiteral("عمليتا بحث"), QStringLiteral("عمليات بحث"),
                          QStringLiteral("عملية بحث"))
                  .count(BookPicker::historyRows));
}

TEST_F(BookPickerTest, aGroupCheckBoxChecksAllThenNoneAndCountsRepeatedBooks)
{
    auto lib = yearsLibrary();
    ASSERT_TRUE(lib);
    lib->saveScope(QStringLiteral("مجال"), {3, 3, 4});
    BookPicker picker(lib);
    PickerModel model(picker);
    int told = 0;
    model.onChecked = [&] { ++told; };
    model.setRoots(picker.roots(PickPage::scopes, {}));
    const QModelIndex scope = model.index(0, 0);
    ASSERT_TRUE(scope.isValid());
    EXPECT_EQ(model.rowCount(scope), 3);

    model.checked() = {4};
    EXPECT_EQ(model.data(scope, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    model.checked() = {3};
    // Book 3 is named twice: two of three entries checked.
    EXPECT_EQ(model.data(scope, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    ASSERT_TRUE(model.setData(scope, Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(model.checked(), (QSet<std::int64_t>{3, 4}));
    EXPECT_EQ(model.data(scope, Qt::CheckStateRole).toInt(), Qt::Checked);
    ASSERT_TRUE(model.setData(scope, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_TRUE(model.checked().isEmpty());
    EXPECT_EQ(told, 2);
    EXPECT_EQ(model.data(model.index(0, PickerModel::authorColumn)).toString(), QStringLiteral("٣ كتب"));

    // An empty group changes nothing.
    lib->saveScope(QStringLiteral("لا شيء"), {});
    model.setRoots(picker.roots(PickPage::scopes, {}));
    model.checked() = {9};
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.rowCount(model.index(row, 0)) == 0)
            model.setData(model.index(row, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(model.checked(), QSet<std::int64_t>{9});

    // A book row checks its book; its author shows beside it.
    model.setRoots(picker.roots(PickPage::books, {}));
    model.setData(model.index(0, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_TRUE(model.checked().contains(model.node(model.index(0, 0))->id));
}

TEST_F(BookPickerTest, booksOfOneTitleShowWhatTellsThemApartAndOthersTheirTitle)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    BookPicker picker(sample.lib);
    PickerModel model(picker);
    const QString majahA = QStringLiteral(u"سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ)");
    const QString majahB = QStringLiteral(u"سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب)");
    const QString taqribAwwama = QStringLiteral(u"تقريب التهذيب — تحقيق محمد عوامة، الطبعة الأولى ١٤٠٦ هـ");
    const QString taqribPakistani = QStringLiteral(u"تقريب التهذيب — تحقيق أبي الأشبال صغير أحمد شاغف الباكستاني");
    const struct {
        const char16_t* filter;
        QStringList titles;
    } rows[] = {
        {u"سنن ابن ماجه", {majahA, majahB}},
        {u"تقريب التهذيب", {taqribAwwama, taqribPakistani}},
        {u"سنن أبي داود", {QStringLiteral(u"سنن أبي داود")}},
        // An edition is found by its edition label, its year typed in either digits.
        {u"تقريب الباكستاني", {taqribPakistani}},
        {u"تقريب 1406", {taqribAwwama}},
        {u"تقريب ١٤٠٦", {taqribAwwama}},
        // Both editions hold «ب» (in «الباقي»); the one that holds the typed
        // words together comes first, whichever it is.
        {u"نشرة ب", {majahB, majahA}},
        {u"نشرة أ", {majahA, majahB}},
    };
    QTreeView view;
    view.setModel(&model);
    view.setLayoutDirection(Qt::RightToLeft);
    view.header()->hide();
    view.resize(700, 120);
    for (const auto& row : rows) {
        model.setRoots(picker.roots(PickPage::books, QString::fromUtf16(row.filter)));
        QStringList titles;
        for (int r = 0; r < model.rowCount(); ++r)
            titles << model.data(model.index(r, PickerModel::titleColumn)).toString();
        EXPECT_EQ(titles, row.titles) << titles.join(u'|').toStdString();
    }

    model.setRoots(picker.roots(PickPage::books, QString::fromUtf16(rows[0].filter)));
    view.header()->resizeSection(0, 450);
    view.show();
    QCoreApplication::processEvents();
    const QImage shot = view.grab().toImage();
    ASSERT_TRUE(shot.save(QCoreApplication::applicationDirPath() + QStringLiteral("/picker-same-titles.png"), "PNG"));
}

TEST_F(BookPickerTest, sampleLibraryPagesAndTheAuthorsPicture)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    BookPicker picker(sample.lib);
    const QList<PickNodePtr> authors = picker.roots(PickPage::authors, {});
    ASSERT_FALSE(authors.isEmpty());
    EXPECT_TRUE(authors[0]->label.startsWith(QStringLiteral("مالك بن أنس"))) << authors[0]->label.toStdString();
    EXPECT_TRUE(authors[0]->label.contains(Arabic::num(179)));
    const QStringList centuries = labels(picker.roots(PickPage::period, {}));
    ASSERT_FALSE(centuries.isEmpty());
    EXPECT_EQ(centuries.first(), QStringLiteral("القرن الثاني الهجري"));
    EXPECT_EQ(centuries.last(), QStringLiteral("غير محدّد"));
    EXPECT_EQ(picker.roots(PickPage::books, {}).size(), sample.lib->books().size());
    EXPECT_FALSE(picker.roots(PickPage::categories, {}).isEmpty());
    EXPECT_EQ(picker.roots(PickPage::logs, {}).size(), 2);

    // The authors page with a filter typed, its groups open.
    PickerModel model(picker);
    QTreeView view;
    view.setModel(&model);
    view.setLayoutDirection(Qt::RightToLeft);
    view.setUniformRowHeights(true);
    view.setIndentation(16);
    view.header()->hide();
    view.setStyleSheet(QStringLiteral("QTreeView::item { height: 28px; }"));
    const QString filter = QStringLiteral("الشافعي");
    model.setRoots(picker.roots(PickPage::authors, filter));
    ASSERT_FALSE(model.roots().isEmpty());
    if (BookPicker::opensRoots(PickPage::authors, model.roots().size(), filter))
        view.expandToDepth(0);
    view.resize(700, 300);
    view.header()->resizeSection(0, 450);
    view.show();
    QCoreApplication::processEvents();
    const QImage shot = view.grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/picker-authors.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    EXPECT_EQ(QImage(file).size(), view.size() * shot.devicePixelRatio());
    EXPECT_GE(model.rowCount(model.index(0, 0)), 1);

    // Every row of every page has its symbol in the application's set.
    for (PickPage page : {PickPage::books, PickPage::categories, PickPage::authors, PickPage::period,
                          PickPage::favorites, PickPage::scopes, PickPage::logs}) {
        model.setRoots(picker.roots(page, {}));
        for (int row = 0; row < model.rowCount(); ++row) {
            const QModelIndex index = model.index(row, 0);
            EXPECT_FALSE(model.data(index, Qt::DecorationRole).value<QIcon>().isNull())
                << int(page) << " " << model.data(index).toString().toStdString();
        }
    }
}

} // namespace
