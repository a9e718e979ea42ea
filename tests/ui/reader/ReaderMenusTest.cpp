#include "ReaderMenusFixture.h"

#include "ui/kit/Beep.h"

using namespace quorvel;
using namespace quorvel::test;

// ---- Links and labels -----------------------------------------------------------

TEST_F(ReaderMenusTest, linksKeepArabicRawAndEncodeTheRest)
{
    EXPECT_EQ(PanelText::searchURL(QStringLiteral("حدثنا مالك")), QStringLiteral("quorvel://search/حدثنا%20مالك"));
    EXPECT_EQ(PanelText::searchURL(QStringLiteral("و/أو")), QStringLiteral("quorvel://search/و%2Fأو"));
    // Marks and digits of any script stay; a hyphen does not.
    EXPECT_EQ(PanelText::searchURL(QStringLiteral("قَالَ ١٢-3")), QStringLiteral("quorvel://search/قَالَ%20١٢%2D3"));
    EXPECT_EQ(PanelText::decodeSearch(QStringLiteral("حدثنا%20مالك")), QStringLiteral("حدثنا مالك"));
    EXPECT_FALSE(PanelText::decodeSearch(QStringLiteral("%FF%FE")));
    EXPECT_FALSE(PanelText::decodeSearch(QStringLiteral("%2")));
    EXPECT_EQ(PanelText::pageURL(12, 3), QStringLiteral("quorvel://page/12/3"));
    EXPECT_EQ(PanelText::pageLabel(std::nullopt, std::nullopt, 7), QStringLiteral("ص٧"));
    EXPECT_EQ(PanelText::pageLabel(QStringLiteral("2"), 15, 1), QStringLiteral("ج٢ ص١٥"));
    // Truncation counts a letter with its marks as one.
    EXPECT_EQ(PanelText::leftCharacters(QStringLiteral("قَالَ مالك"), 3), QStringLiteral("قَالَ"));
}

// ---- Menus ------------------------------------------------------------------------------

TEST_F(ReaderMenusTest, authorMenuAndBiography)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kIbnMajahA, 1);
    std::unique_ptr<QMenu> books(r->authorBooksMenu());
    ASSERT_NE(books, nullptr);
    ASSERT_EQ(books->actions().size(), 2);
    EXPECT_TRUE(books->actions()[0]->isChecked());
    EXPECT_FALSE(books->actions()[1]->isChecked());
    std::optional<std::int64_t> opened;
    r->onOpenBook = [&opened](std::int64_t id, std::optional<std::int64_t> seq) {
        opened = id;
        EXPECT_FALSE(seq);
    };
    books->actions()[1]->trigger();
    EXPECT_EQ(opened, kIbnMajahB);
    // The two editions of the work read apart.
    EXPECT_EQ(books->actions()[0]->text(), QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة أ)"));
    EXPECT_EQ(books->actions()[1]->text(), QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب)"));

    // From Malik's entry on p.516 of one Taqrib, the other edition opens at
    // his entry; the tab, the citation and the note's header name the edition.
    {
        test::SampleLib shared(test::sampleLibraryWithShingles(dir.path(), {kTaqribA, kTaqribB}));
        REQUIRE_SAMPLE(shared);
        auto taqrib = reader(kTaqribA, 444, shared.lib);
        const QString edition = QStringLiteral("تقريب التهذيب — تحقيق محمد عوامة، الطبعة الأولى ١٤٠٦ هـ");
        EXPECT_EQ(taqrib->title(), edition);
        // The book card gives the edition's year in the same digits.
        EXPECT_TRUE(taqrib->bookCard().contains(QStringLiteral("الطبعة: تحقيق محمد عوامة، الطبعة الأولى ١٤٠٦ هـ")))
            << taqrib->bookCard().toStdString();
        EXPECT_TRUE(taqrib->citation().startsWith(QLatin1Char('[') + edition)) << taqrib->citation().toStdString();
        std::unique_ptr<QMenu> works(taqrib->authorBooksMenu());
        std::optional<std::pair<std::int64_t, std::optional<std::int64_t>>> chosen;
        taqrib->onOpenBook = [&chosen](std::int64_t id, std::optional<std::int64_t> seq) { chosen = {id, seq}; };
        QAction* other = nullptr;
        for (QAction* item : works->actions())
            if (item->text() == QStringLiteral("تقريب التهذيب — تحقيق أبي الأشبال صغير أحمد شاغف الباكستاني"))
                other = item;
        ASSERT_NE(other, nullptr);
        other->trigger();
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->first, kTaqribB);
        EXPECT_EQ(chosen->second, 829);
        dialogs.clear();
        taqrib->editNote();
        EXPECT_TRUE(dialogs.requestsOf(Dialogs::Kind::Prompt).value(0).text.startsWith(edition));
        dialogs.clear();
    }

    // One book by its author: one checked item and "١ كتاب".
    auto muwatta = reader(kMuwatta, 1);
    std::unique_ptr<QMenu> one(muwatta->authorBooksMenu());
    ASSERT_EQ(one->actions().size(), 1);
    EXPECT_TRUE(one->actions()[0]->isChecked());
    muwatta->showAuthorBio();
    auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("مالك بن أنس"));
    EXPECT_TRUE(alerts[0].text.startsWith(QStringLiteral("مالك بن أنس أبو عبد الله الأصبحي\nالوفاة: ١٧٩هـ")));
    EXPECT_TRUE(alerts[0].text.endsWith(QStringLiteral("\n\nله في المكتبة: كتاب واحد")));

    // A full name and a biography where the library has them.
    dialogs.clear();
    const QString path = test::FixtureLibrary::custom(
        dir.path(), QStringLiteral("bio.db"),
        {QStringLiteral("INSERT INTO authors(id, name, full_name, death_year, bio) VALUES(77, 'الشافعي', "
                        "'محمد بن إدريس الشافعي', 204, 'إمام المذهب.')"),
         QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(%1, 'الأم', 77)").arg(kBare)});
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    reader(kBare, 1, Library::open(path))->showAuthorBio();
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).value(0).text,
              QStringLiteral("محمد بن إدريس الشافعي\nالوفاة: ٢٠٤هـ\n\nإمام المذهب.\n\nله في المكتبة: كتاب واحد"));

    // No author: no menu, and a biography that says so.
    dialogs.clear();
    auto quran = reader(kQuran, 1);
    EXPECT_EQ(quran->authorBooksMenu(), nullptr);
    quran->showAuthorBio();
    alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, QStringLiteral("لا توجد ترجمة للمؤلّف"));
    EXPECT_TRUE(alerts[0].text.isEmpty());
}

// The other editions and the collation are reached by keys the menus show,
// and the collation follows the page as the keys turn it.
TEST_F(ReaderMenusTest, editionsAndCollationByKeyboardAndTheCollationFollowsThePage)
{
    test::SampleLib shared(test::sampleLibraryWithShingles(dir.path(), {kIbnMajahA, kIbnMajahB}));
    REQUIRE_SAMPLE(shared);
    MainWindowController w(shared.lib);
    QPointer<MainWindowController> main(&w);
    w.setMenuBar(MainMenu::build([main] { return main.data(); }));
    w.openBook(kIbnMajahA, 20);
    showAt(w, 1300, 820);
    ReaderView* r = w.activeReader();
    ASSERT_TRUE(r);
    std::unique_ptr<QMenu> tools(r->smartToolsMenu());
    const auto action = [](const QList<QAction*>& actions, const char16_t* title) -> QAction* {
        for (QAction* a : actions)
            if (a->text() == QString::fromUtf16(title))
                return a;
        return nullptr;
    };
    const QList<QAction*> bar = w.menuBar()->findChildren<QAction*>();
    // Each command is in the main menu and the tools menu under its keys,
    // and the keys open its pop-up.
    const auto byKeys = [&](const char16_t* title, Qt::Key key, const char16_t* popover) {
        QAction* item = action(bar, title);
        QAction* tool = action(tools->actions(), title);
        ASSERT_TRUE(item && tool) << QString::fromUtf16(title).toStdString();
        EXPECT_EQ(item->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | key));
        EXPECT_EQ(tool->shortcut(), item->shortcut());
        // The press alone: its release would go to the pop-up it opened.
        QTest::keyPress(r->textView(), key, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(SmartPopover::current());
        EXPECT_EQ(SmartPopover::current()->title(), QString::fromUtf16(popover));
    };
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    byKeys(u"قابل هذه الصفحة بطبعة أخرى", Qt::Key_M, u"مقابلة");
    const auto collation = r->collation();
    ASSERT_TRUE(collation);
    // The collation names the other edition's page that it compares.
    const auto counterpart = [&](std::int64_t seq) {
        const auto found = Collate::run(shared.lib->main(), shared.lib->page(kIbnMajahA, seq)->id, kIbnMajahB);
        return found ? QStringLiteral(" · ص") + Arabic::num(found->otherPageNum.value_or(found->otherSeq)) : QString();
    };
    ASSERT_NE(counterpart(20), counterpart(21));
    const auto shows = [&](std::int64_t seq) {
        return collation->isBuilt() && collation->textView() &&
               collation->textView()->toPlainText().section(u'\n', 1, 1).contains(counterpart(seq));
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(20); }, 20000));
    // Ctrl+Left turns the page: the open collation is of the new page.
    QAction* next = action(bar, u"الصفحة التالية");
    ASSERT_TRUE(next);
    next->trigger();
    ASSERT_EQ(r->seq(), 21);
    EXPECT_TRUE(collation->isOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return shows(21); }, 20000));
    for (const bool night : {false, true}) {
        Settings::setNightReading(night);
        Notifier::postReaderSettingsChanged();
        ASSERT_TRUE(QTest::qWaitFor([&] { return collation->isBuilt(); }, 20000));
        EXPECT_TRUE(collation->frame()->grab().save(QCoreApplication::applicationDirPath() +
                                                    (night ? QStringLiteral("/collation-follows-night.png")
                                                           : QStringLiteral("/collation-follows-day.png"))));
    }
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
    collation->close();
    byKeys(u"طبعات أخرى من الكتاب ومقابلتها", Qt::Key_E, u"الطبعات");
}

TEST_F(ReaderMenusTest, smartToolsFollowTheSelectionAndThePage)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    const QStringList pageItems{QStringLiteral("مصادر هذا النصّ ونقوله (العزو الحيّ)"),
                                QStringLiteral("الإسناد والرواة في هذه الصفحة"),
                                QStringLiteral("طبعات أخرى من الكتاب ومقابلتها"),
                                QStringLiteral("قابل هذه الصفحة بطبعة أخرى")};
    std::unique_ptr<QMenu> none(r->smartToolsMenu());
    EXPECT_EQ(titles(*none), pageItems + QStringList{QStringLiteral("شجرة المسألة (حدّد عبارة أولاً)")});
    EXPECT_FALSE(none->actions().last()->isEnabled());
    // The sample store was installed without text-reuse data: the sources
    // panel says so and how to get it, not that nothing was found.
    showAt(*r, 1100);
    none->actions()[0]->trigger();
    ASSERT_TRUE(SmartPopover::current());
    ASSERT_TRUE(QTest::qWaitFor([&] { return SmartPopover::current()->isBuilt(); }, 20000));
    const QString sources = SmartPopover::current()->textView()->toPlainText();
    EXPECT_TRUE(sources.contains(QStringLiteral("غير مثبّتة"))) << sources.toStdString();
    EXPECT_TRUE(sources.contains(QStringLiteral("نافذة التنزيلات"))) << sources.toStdString();
    EXPECT_FALSE(sources.contains(QStringLiteral("لم يُعثر على نصوص مشتركة")));

    const QString text = r->textView()->toPlainText();
    const int word = int(text.indexOf(QStringLiteral("مالك")));
    select(*r, word, 4);
    std::unique_ptr<QMenu> one(r->smartToolsMenu());
    EXPECT_EQ(titles(*one).mid(4), QStringList({QStringLiteral("شجرة المسألة: «مالك»"),
                                                QStringLiteral("تحليل الكلمة: «مالك»")}));
    EXPECT_TRUE(one->actions().last()->isEnabled());
    // The phrase tree of the selection opens under the header.
    ASSERT_TRUE(one->actions()[4]->isEnabled());
    showAt(*r, 1100);
    one->actions()[4]->trigger();
    ASSERT_TRUE(SmartPopover::current());
    EXPECT_EQ(SmartPopover::current()->title(), QStringLiteral("شجرة المسألة"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return SmartPopover::current()->isBuilt(); }, 20000));
    EXPECT_TRUE(SmartPopover::current()->textView()->toPlainText().startsWith(QStringLiteral("شجرة المسألة: «مالك»")));

    select(*r, 0, 60);
    std::unique_ptr<QMenu> several(r->smartToolsMenu());
    ASSERT_EQ(several->actions().size(), 5);
    EXPECT_TRUE(several->actions()[4]->text().startsWith(QStringLiteral("شجرة المسألة: «")));
    EXPECT_EQ(Characters::count(several->actions()[4]->text()),
              Characters::count(QStringLiteral("شجرة المسألة: «»")) + 30);

    // A reader without a page has only the phrase item.
    const QString path = test::FixtureLibrary::custom(
        dir.path(), QStringLiteral("bare.db"),
        {QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب بلا صفحات')").arg(kBare)});
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    auto bare = reader(kBare, 1, Library::open(path));
    std::unique_ptr<QMenu> empty(bare->smartToolsMenu());
    EXPECT_EQ(titles(*empty), QStringList{QStringLiteral("شجرة المسألة (حدّد عبارة أولاً)")});
}

TEST_F(ReaderMenusTest, notesMenuListsTheBooksNotesCutAtSixtyCharacters)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    std::unique_ptr<QMenu> empty(r->notesMenu());
    EXPECT_EQ(titles(*empty), QStringList({QStringLiteral("لا توجد تعليقات في هذا الكتاب"), QStringLiteral("—"),
                                           QStringLiteral("تعليق جديد على هذه الصفحة")}));
    EXPECT_FALSE(empty->actions()[0]->isEnabled());

    const QString longNote = QString(70, QChar(u'م'));
    sample.lib->saveNote(kMuwatta, 12, longNote);
    sample.lib->saveNote(kMuwatta, 30, QStringLiteral("قصير"));
    std::unique_ptr<QMenu> menu(r->notesMenu());
    // By the page the reader shows: sequences 12 and 30 are printed pages 13 and 31.
    EXPECT_EQ(titles(*menu).mid(0, 2), QStringList({QStringLiteral("ج١ ص١٣: ") + longNote.left(60),
                                                    QStringLiteral("ج١ ص٣١: قصير")}));
    menu->adjustSize();
    EXPECT_TRUE(menu->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/reader-notes-menu.png")));
    menu->actions()[1]->trigger();
    EXPECT_EQ(r->seq(), 30);
    EXPECT_EQ(r->backHistory().last(), 8);

    // A note past the book's last page is listed as set aside, opening nothing.
    const std::int64_t past = sample.lib->seqRange(kMuwatta).second + 1;
    sample.lib->saveNote(kMuwatta, past, QStringLiteral("بعد الآخر"));
    menu.reset(r->notesMenu());
    QAction* aside = menu->actions()[2];
    EXPECT_TRUE(aside->text().endsWith(QStringLiteral(": بعد الآخر — محفوظ جانبا، بعد آخر صفحات الكتاب"))) << aside->text().toStdString();
    EXPECT_FALSE(aside->isEnabled());
    sample.lib->saveNote(kMuwatta, past, QString());

    // With 305 annotated pages, the reader's and the main window's notes
    // menus keep to the screen's height, every note one click further on.
    for (std::int64_t seq = 100; seq < 403; ++seq)
        sample.lib->saveNote(kMuwatta, seq, QStringLiteral("تعليق"));
    const int screen = QGuiApplication::primaryScreen()->availableGeometry().height();
    // The notes a menu and the pages behind its last item hold.
    const std::function<int(QMenu&)> reachable = [&](QMenu& m) {
        EXPECT_LE(m.sizeHint().height(), screen) << m.actions().size();
        // One column: a menu taller than the screen would lay out more.
        QSet<int> columns;
        for (QAction* a : m.actions())
            columns.insert(m.actionGeometry(a).left());
        EXPECT_EQ(columns.size(), 1) << m.actions().size();
        int found = 0;
        for (QAction* a : m.actions())
            found += a->menu() ? reachable(*a->menu()) : a->isSeparator() ? 0 : 1;
        return found;
    };
    std::unique_ptr<QMenu> many(r->notesMenu());
    EXPECT_EQ(reachable(*many), 305 + 1); // and the new note's item
    MainWindowController w(sample.lib);
    std::unique_ptr<QMenu> all(w.notesMenu());
    EXPECT_GE(reachable(*all), 40);
    all->adjustSize();
    EXPECT_TRUE(all->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/notes-menu-many.png")));
}

TEST_F(ReaderMenusTest, contextMenuPutsPhraseWordAndPageItemsAboveTheStandardOnes)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    showAt(*r, 1100);
    const QString text = r->textView()->toPlainText();
    int hookCalls = 0;
    r->extraMenuHook = [&hookCalls](QMenu* menu, const QPoint&) {
        ++hookCalls;
        menu->addAction(QStringLiteral("بند المالك"));
    };

    // On a word: its two items, the three page items, then the standard ones.
    const int word = int(text.indexOf(QStringLiteral("وحدثني")));
    std::unique_ptr<QMenu> menu(r->textView()->menuFor(pointOf(*r, word, 6)));
    QStringList seen = titles(*menu);
    ASSERT_GE(seen.size(), 7);
    EXPECT_EQ(seen.mid(0, 6), QStringList({QStringLiteral("تحليل «وحدثني»: الصرف والورود والمعنى"),
                                           QStringLiteral("بحث عن «وحدثني» في المكتبة"),
                                           QStringLiteral("نسخ مع العزو"), QStringLiteral("تعليق على هذه الصفحة"),
                                           QStringLiteral("الإبلاغ عن خطأ في هذه الصفحة"), QStringLiteral("—")}));
    EXPECT_EQ(seen.last(), QStringLiteral("بند المالك"));
    EXPECT_EQ(hookCalls, 1);

    // Past the end of the text: no word items.
    menu.reset(r->textView()->menuFor(QPoint(20, r->textView()->viewport()->height() - 4)));
    EXPECT_EQ(titles(*menu).first(), QStringLiteral("نسخ مع العزو"));

    // A phrase of 7 characters with a blank gets the phrase-tree item; 6 do not.
    const int phrase = int(text.indexOf(QStringLiteral("عن مالك")));
    select(*r, phrase, 7);
    menu.reset(r->textView()->menuFor(QPoint(20, r->textView()->viewport()->height() - 4)));
    EXPECT_EQ(titles(*menu).first(), QStringLiteral("شجرة المسألة لهذه العبارة"));
    EXPECT_TRUE(menu->actions().first()->isEnabled());
    menu->actions().first()->trigger();
    ASSERT_TRUE(SmartPopover::current());
    EXPECT_EQ(SmartPopover::current()->title(), QStringLiteral("شجرة المسألة"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return SmartPopover::current()->isBuilt(); }, 20000));
    EXPECT_TRUE(SmartPopover::current()->textView()->toPlainText().startsWith(QStringLiteral("شجرة المسألة: «عن مالك»")));
    select(*r, phrase, 6);
    menu.reset(r->textView()->menuFor(QPoint(20, r->textView()->viewport()->height() - 4)));
    EXPECT_EQ(titles(*menu).first(), QStringLiteral("نسخ مع العزو"));
}

TEST_F(ReaderMenusTest, wordUnderTheMouseDropsMarksAndSingleLetters)
{
    auto lib = [this] {
        const QString path = test::FixtureLibrary::custom(
            dir.path(), QStringLiteral("marks.db"),
            {QStringLiteral("INSERT INTO books(id, title) VALUES(%1, 'كتاب')").arg(kBare),
             QStringLiteral("INSERT INTO pages(id, book_id, vol, page_num, seq, content) VALUES(1, %1, NULL, 1, 1, "
                            "'قَالَ و «مالك» رحمه الله')")
                 .arg(kBare)});
        test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
        return Library::open(path);
    }();
    ASSERT_TRUE(lib);
    auto r = reader(kBare, 1, lib);
    showAt(*r, 900, 500);
    const QString text = r->textView()->toPlainText();
    const auto marked = r->word(pointOf(*r, 1, 1));
    ASSERT_TRUE(marked);
    EXPECT_EQ(marked->word, QStringLiteral("قَالَ"));
    EXPECT_TRUE(marked->rect.isValid());
    std::unique_ptr<QMenu> menu(r->textView()->menuFor(pointOf(*r, 1, 1)));
    EXPECT_EQ(titles(*menu).first(), QStringLiteral("تحليل «قال»: الصرف والورود والمعنى"));

    EXPECT_FALSE(r->word(pointOf(*r, int(text.indexOf(QStringLiteral(" و "))) + 1, 1)));
    const auto quoted = r->word(pointOf(*r, int(text.indexOf(QStringLiteral("مالك"))) + 1, 1));
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->word, QStringLiteral("مالك"));
}

// A hadith's number is searched for but never analysed as a word: not from
// the menu, not by the key with the caret where a new page puts it.
TEST_F(ReaderMenusTest, aNumberIsNoWordToAnalyse)
{
    const struct {
        const char16_t* text;
        std::optional<QString> word;
    } rows[] = {
        {u"٣١", std::nullopt},
        {u"3551", std::nullopt},
        {u"١٢ب", std::nullopt},
        {u"حدثنا مالك", std::nullopt},
        {u"الصَّلَاة", QStringLiteral("الصلاة")},
        {u"كتاب١٢", QStringLiteral("كتاب")},
        {u"حدثنا", QStringLiteral("حدثنا")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PanelText::wordOf(QString::fromUtf16(row.text)), row.word) << QString::fromUtf16(row.text).toStdString();

    REQUIRE_SAMPLE(sample);
    constexpr std::int64_t kAbuDawud = 4;
    // «3550 حدثنا موسى بن إسماعيل …»: the page opens on the hadith's number.
    auto r = reader(kAbuDawud, 935);
    showAt(*r, 1100);
    const QString text = r->textView()->toPlainText();
    const int number = int(text.indexOf(Arabic::digits(QStringLiteral("3550"))));
    ASSERT_GE(number, 0) << text.toStdString();
    std::unique_ptr<QMenu> menu(r->textView()->menuFor(pointOf(*r, number + 1, 1)));
    EXPECT_EQ(titles(*menu).first(), QStringLiteral("بحث عن «") + Arabic::digits(QStringLiteral("3550")) + QStringLiteral("» في المكتبة"));
    EXPECT_FALSE(titles(*menu).join(u'|').contains(QStringLiteral("تحليل «")));

    if (const auto open = SmartPopover::current())
        open->close();
    int beeps = 0;
    const auto previousBeep = Beep::setHook([&] { ++beeps; });
    select(*r, number + 1, 0);
    r->showWordAnalysis(); // what Ctrl+Shift+A does
    Beep::setHook(previousBeep);
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(SmartPopover::current() && SmartPopover::current()->isOpen());

    // The word beside it is one.
    select(*r, int(text.indexOf(QStringLiteral("حدثنا"), number)) + 1, 0);
    r->showWordAnalysis();
    const auto shown = SmartPopover::current();
    ASSERT_TRUE(shown && shown->isOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown->isBuilt(); }, 20000));
    EXPECT_TRUE(shown->textView()->toPlainText().startsWith(QStringLiteral("«حدثنا»"))) << shown->textView()->toPlainText().toStdString();
    shown->close();
}

// ---- In-app links and the pop-up --------------------------------------------------------

TEST_F(ReaderMenusTest, linksMoveTheReaderOpenBooksAndSearch)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    QList<std::pair<std::int64_t, std::optional<std::int64_t>>> opened;
    r->onOpenBook = [&opened](std::int64_t id, std::optional<std::int64_t> seq) { opened.append({id, seq}); };
    QList<SearchQuery> searched;
    r->onRunSearch = [&searched](const SearchQuery& q) { searched.append(q); };

    r->handleSmartLink(QStringLiteral("quorvel://page/1/30"));
    EXPECT_EQ(r->seq(), 30);
    EXPECT_EQ(r->backHistory().last(), 8);
    r->handleSmartLink(QStringLiteral("quorvel://page/1/x/40"));
    EXPECT_EQ(r->seq(), 40);
    r->handleSmartLink(QStringLiteral("quorvel://page/1"));
    r->handleSmartLink(QStringLiteral("quorvel://page/1/2/3"));
    r->handleSmartLink(QStringLiteral("quorvel://elsewhere/1/2"));
    EXPECT_EQ(r->seq(), 40);
    r->handleSmartLink(QStringLiteral("quorvel://page/17/5"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].first, 17);
    EXPECT_EQ(opened[0].second, 5);
    EXPECT_EQ(r->book().id, kMuwatta);

    r->handleSmartLink(PanelText::searchURL(QStringLiteral("عن نافع")));
    ASSERT_EQ(searched.size(), 1);
    EXPECT_EQ(searched[0].andPhrases, QStringList{QStringLiteral("عن نافع")});
    EXPECT_TRUE(searched[0].orPhrases.isEmpty());
    // A collation link neither searches nor moves the reader.
    r->handleSmartLink(QStringLiteral("quorvel://collate/5/3"));
    EXPECT_EQ(searched.size(), 1);
    EXPECT_EQ(r->seq(), 40);
    EXPECT_EQ(opened.size(), 1);

    // In the window a search link opens a results tab of its own.
    MainWindowController w(sample.lib);
    w.openBook(kMuwatta, 8);
    ReaderView* tab = w.tabs()[0]->reader();
    tab->handleSmartLink(PanelText::searchURL(QStringLiteral("مالك")));
    ASSERT_EQ(w.tabs().size(), 2);
    auto* results = qobject_cast<SearchTabView*>(w.tabs()[1]->view());
    ASSERT_NE(results, nullptr);
    EXPECT_EQ(results->query().andPhrases, QStringList{QStringLiteral("مالك")});
}

TEST_F(ReaderMenusTest, oneAnalysisPopUpAtATimeAndALateBuildOfAClosedTabIsHarmless)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    showAt(*r, 1100);
    r->showSmart(QStringLiteral("الإسناد"), std::nullopt, [] { return PanelText::Text{}; });
    const auto first = SmartPopover::current();
    ASSERT_TRUE(first && first->frame());
    EXPECT_TRUE(first->frame()->isVisible());
    EXPECT_EQ(first->textView()->toPlainText(), QString::fromUtf8(SmartPopover::waitingText));
    r->showSmart(QStringLiteral("الطبعات"), std::nullopt, [] { return PanelText::Text{}; });
    EXPECT_NE(SmartPopover::current(), first);
    EXPECT_EQ(SmartPopover::current()->title(), QStringLiteral("الطبعات"));
    EXPECT_TRUE(!first->frame() || !first->frame()->isVisible());

    // A click on a link closes the pop-up before the reader follows it.
    const auto second = SmartPopover::current();
    second->follow(QStringLiteral("quorvel://page/1/30"));
    EXPECT_EQ(r->seq(), 30);
    EXPECT_TRUE(!second->frame() || !second->frame()->isVisible());

    // The tab goes while the panel is still being built.
    std::atomic<bool> release{false};
    r->showSmart(QStringLiteral("الإسناد"), std::nullopt, [&release] {
        while (!release.load())
            QThread::msleep(2);
        PanelText::Text t;
        t += PanelText::text(QStringLiteral("متأخر"));
        return t;
    });
    const auto held = SmartPopover::current();
    r.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(held->textView(), nullptr);
    release = true;
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(held->isBuilt());
}

TEST_F(ReaderMenusTest, aPopUpStaysOnTheScreenAndOffTheWordItAnalyses)
{
    const QSize size(SmartPopover::width, SmartPopover::height);
    const QRect screen(0, 0, 1280, 800);
    struct Case {
        const char* where;
        QRect area;
        QRect room;
        bool below;
        bool clear; // the word stays uncovered
    };
    const QList<Case> cases{
        {"middle", {600, 100, 40, 20}, screen, true, true},
        {"bottom right corner", {1250, 760, 28, 20}, screen, false, true},
        {"left edge", {0, 300, 30, 20}, screen, true, true},
        {"top left of a second screen", {1290, 5, 30, 20}, {1280, 0, 1024, 768}, true, true},
        {"no room above or below", {600, 240, 40, 20}, {0, 0, 1280, 600}, true, false},
        {"a screen smaller than the pop-up", {100, 50, 40, 20}, {0, 0, 400, 300}, true, false},
    };
    for (const Case& c : cases) {
        const QRect placed = SmartPopover::place(c.area, size, c.room);
        EXPECT_TRUE(c.room.contains(placed)) << c.where;
        EXPECT_EQ(placed.size(), size.boundedTo(c.room.size())) << c.where;
        if (!c.clear)
            continue;
        EXPECT_FALSE(placed.intersects(c.area)) << c.where;
        EXPECT_EQ(placed.top() > c.area.bottom(), c.below) << c.where;
    }

    // A word near the page's left edge, in a window with room on the screen
    // to its left: the pop-up keeps within the window's sides.
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    r->setGeometry(room.left() + 200, room.top() + 20, 620, 520);
    r->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(r.get()));
    Library* lib = sample.lib.get();
    const auto popover = r->showSmart(QStringLiteral("الكلمة"), QRect(4, 60, 30, 20),
                                      [lib] { return PanelText::word(*lib, QStringLiteral("الصلاة")); });
    ASSERT_TRUE(popover && popover->frame());
    // Photographed with the word's analysis in it, as the reader sees it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isBuilt(); }, 60000));
    const QRect placed = popover->frame()->geometry();
    EXPECT_GE(placed.left(), r->frameGeometry().left());
    EXPECT_LE(placed.right(), r->frameGeometry().right());
    EXPECT_TRUE(popover->frame()->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/word-popover-left-edge.png")));
}

TEST_F(ReaderMenusTest, isnadPopUpPictureIsRightAligned)
{
    REQUIRE_SAMPLE(sample);
    auto r = reader(kMuwatta, 8);
    showAt(*r, 1200, 800);
    std::unique_ptr<QMenu> tools(r->smartToolsMenu());
    tools->actions()[1]->trigger();
    const auto popover = SmartPopover::current();
    ASSERT_TRUE(popover && popover->frame());
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover->frame()));
    EXPECT_EQ(popover->frame()->size(), QSize(SmartPopover::width, SmartPopover::height));
    const QImage shot = popover->frame()->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/analysis-popover.png");
    ASSERT_TRUE(shot.save(file, "PNG"));
    EXPECT_TRUE(popover->textView()->toPlainText().startsWith(QStringLiteral("الإسناد في هذه الصفحة")));

    // The heading ends near the right edge of the panel.
    const QImage page = popover->textView()->viewport()->grab().toImage();
    const QColor background(page.pixel(page.width() / 2, page.height() - 3));
    int rightmost = -1;
    for (int y = 0; y < 40; ++y)
        for (int x = page.width() - 1; x > rightmost; --x)
            if (QColor(page.pixel(x, y)) != background) {
                rightmost = x;
                break;
            }
    EXPECT_GT(rightmost, page.width() - 16 - 12);
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 8);
}
