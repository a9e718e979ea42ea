#include "ReaderMenusFixture.h"

using namespace quorvel;
using namespace quorvel::test;

// ---- Panels on real pages ----------------------------------------------------------

TEST_F(ReaderMenusTest, wordPanelShowsMorphologyOccurrencesAndTopBooks)
{
    REQUIRE_SAMPLE(sample);
    const PanelText::Text text = PanelText::word(*sample.lib, QStringLiteral("الصلاة"));
    const QString plain = text.plain();
    EXPECT_TRUE(plain.startsWith(QStringLiteral("«الصلاة»\n")));
    EXPECT_TRUE(plain.contains(QStringLiteral("الجذر: ")));
    EXPECT_TRUE(plain.contains(QStringLiteral("ورودها في المكتبة: ")));
    EXPECT_TRUE(plain.contains(QStringLiteral("  موطأ الإمام مالك: ")));
    EXPECT_TRUE(hasLink(text, PanelText::searchURL(QStringLiteral("الصلاة"))));
    // No library is shared, so there is no semantic index: no related words.
    EXPECT_FALSE(plain.contains(QStringLiteral("كلمات قريبة المعنى")));
    EXPECT_EQ(text.runs.first().weight, QFont::Bold);
}

TEST_F(ReaderMenusTest, isnadPanelShowsTheChainOrSaysThereIsNone)
{
    REQUIRE_SAMPLE(sample);
    const PanelText::Text hadith = PanelText::isnad(*sample.lib, *sample.lib->page(kMuwatta, 8));
    // The page holds several reports: each chain is listed on its own.
    EXPECT_TRUE(hadith.plain().contains(QStringLiteral("السلسلة ") + Arabic::num(2) + QStringLiteral(": ")));
    EXPECT_TRUE(hadith.plain().contains(QStringLiteral(" ← ")));
    EXPECT_TRUE(std::any_of(hadith.runs.begin(), hadith.runs.end(),
                            [](const PanelText::Run& r) { return r.link.startsWith(QStringLiteral("quorvel://narrator/")); }));

    const PanelText::Text none = PanelText::isnad(*sample.lib, *sample.lib->page(kMukhtar, 4));
    EXPECT_EQ(none.plain(), QStringLiteral("الإسناد في هذه الصفحة\nلا يوجد إسناد مستخرج في هذه الصفحة.\n"));
}

// Every narrator of the page has his card in the panel, and each name of a
// chain line opens the card of the man the library files: «معاوية بن قرة عن
// أبيه» opens قرة's, who is listed by his name beside the page's word.
TEST_F(ReaderMenusTest, theIsnadPanelGivesEveryNarratorACardAndEveryChainNameItsLink)
{
    REQUIRE_SAMPLE(sample);
    const auto page = sample.lib->page(kIbnMajahA, 3);
    ASSERT_TRUE(page);
    const PanelText::Text panel = PanelText::isnad(*sample.lib, *page);
    const auto linked = [&](const QString& target) {
        return std::any_of(panel.runs.begin(), panel.runs.end(), [&](const PanelText::Run& r) { return r.link == target; });
    };
    const QList<Isnad::Narrator> narrators = Isnad::narrators(sample.lib->main(), page->id);
    ASSERT_GT(narrators.size(), 12);
    for (const Isnad::Narrator& narrator : narrators)
        EXPECT_TRUE(linked(PanelText::narratorURL(narrator.id))) << narrator.name.toStdString();

    const auto father = std::find_if(narrators.begin(), narrators.end(),
                                     [](const Isnad::Narrator& n) { return n.filed == QStringLiteral("قرة"); });
    ASSERT_NE(father, narrators.end());
    EXPECT_EQ(father->name, QStringLiteral("أبيه"));
    const auto inChain = std::find_if(panel.runs.begin(), panel.runs.end(), [](const PanelText::Run& r) {
        return r.text == QStringLiteral("أبيه") && r.face == PanelText::Face::reader;
    });
    ASSERT_NE(inChain, panel.runs.end());
    EXPECT_EQ(inChain->link, PanelText::narratorURL(father->id));
    EXPECT_TRUE(panel.plain().contains(QStringLiteral("قرة («أبيه»)")));
}

TEST_F(ReaderMenusTest, aNarratorOfTheIsnadPanelOpensHisCardNotASearch)
{
    REQUIRE_SAMPLE(sample);
    // «… عن الأعمش عن أبي صالح …» on the first transcription's page 3.
    const PanelText::Text panel = PanelText::isnad(*sample.lib, *sample.lib->page(kIbnMajahA, 3));
    const auto amash = std::find_if(panel.runs.begin(), panel.runs.end(), [](const PanelText::Run& r) {
        return r.text == QStringLiteral("الأعمش") && !r.link.isEmpty();
    });
    ASSERT_NE(amash, panel.runs.end());
    ASSERT_TRUE(amash->link.startsWith(QString::fromLatin1(PanelText::narratorScheme)));

    auto r = reader(kIbnMajahA, 3);
    showAt(*r, 1200, 800);
    int searches = 0;
    QStringList asked;
    r->onRunSearch = [&](const SearchQuery&) { ++searches; };
    r->onAskAssistant = [&](const QString& question) { asked << question; };
    r->handleSmartLink(amash->link);
    const auto popover = SmartPopover::current();
    ASSERT_TRUE(popover && popover->frame());
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000));
    const QString shown = popover->textView()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("الأعمش\n"))) << shown.toStdString();
    // Whom he narrated from and who from him, as the sample's chains say.
    EXPECT_TRUE(shown.contains(QStringLiteral("روى عن: "))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("أبو صالح")));
    EXPECT_TRUE(shown.contains(QStringLiteral("وعنه: ")));
    EXPECT_TRUE(shown.contains(QStringLiteral("أبو معاوية")));
    EXPECT_TRUE(shown.contains(QStringLiteral("ترجمته في كتب التراجم")));
    EXPECT_EQ(searches, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover->frame()));
    const QString folder = QCoreApplication::applicationDirPath();
    ASSERT_TRUE(popover->frame()->grab().toImage().save(folder + QStringLiteral("/narrator-card.png"), "PNG"));
    // By night, switched on with the card open.
    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    // The card is built again for the night; until then the day's one shows.
    EXPECT_FALSE(popover->isBuilt());
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000));
    const QImage night = popover->frame()->grab().toImage();
    ASSERT_TRUE(night.save(folder + QStringLiteral("/narrator-card-night.png"), "PNG"));
    EXPECT_EQ(popover->textView()->toPlainText(), shown);
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();

    // Its way to his biography asks the assistant about him; a name of the
    // card opens that narrator's card.
    const PanelText::Text card = PanelText::narrator(*sample.lib, amash->link.mid(QString::fromLatin1(PanelText::narratorScheme).size()).toLongLong());
    const auto biography = std::find_if(card.runs.begin(), card.runs.end(), [](const PanelText::Run& run) {
        return run.link.startsWith(QString::fromLatin1(PanelText::askScheme));
    });
    ASSERT_NE(biography, card.runs.end());
    r->handleSmartLink(biography->link);
    EXPECT_EQ(asked, QStringList{QStringLiteral("من هو الأعمش؟")});
    const auto teacher = std::find_if(card.runs.begin(), card.runs.end(), [](const PanelText::Run& run) {
        return run.text == QStringLiteral("أبو صالح");
    });
    ASSERT_NE(teacher, card.runs.end());
    r->handleSmartLink(teacher->link);
    const auto next = SmartPopover::current();
    ASSERT_TRUE(next && next != popover);
    ASSERT_TRUE(QTest::qWaitFor([&] { return next->isBuilt(); }, 20000));
    EXPECT_TRUE(next->textView()->toPlainText().startsWith(QStringLiteral("أبو صالح\n")));
    EXPECT_EQ(searches, 0);
}

TEST_F(ReaderMenusTest, sourcesAndEditionsFindTheOtherTranscription)
{
    test::SampleLib shared(test::sampleLibraryWithShingles(dir.path(), {kIbnMajahA, kIbnMajahB, kTaqribA, kTaqribB}));
    REQUIRE_SAMPLE(shared);
    const Page page = *shared.lib->page(kIbnMajahA, 20);
    const PanelText::Text editions = PanelText::editions(*shared.lib, *shared.lib->book(kIbnMajahA), page.id);
    EXPECT_TRUE(editions.plain().startsWith(QStringLiteral("طبعات ونسخ أخرى من «سنن ابن ماجه»")));
    // The other edition opens at this page's counterpart, named apart.
    EXPECT_TRUE(editions.plain().contains(QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب) · ج"))) << editions.plain().toStdString();
    EXPECT_TRUE(hasLink(editions, PanelText::pageURL(kIbnMajahB, 21)));
    // The collation link carries the page shown, not one of the other book.
    EXPECT_TRUE(hasLink(editions, QStringLiteral("quorvel://collate/%1/%2").arg(page.id).arg(kIbnMajahB)));

    // Either edition of the Taqrib finds the other, whose first pages differ
    // (an editor's introduction in one): Malik's entry on p.516 leads to his
    // entry in the other edition; a title page too short to match says why.
    for (const auto& [from, to, seq, counterpart] :
         {std::tuple{kTaqribA, kTaqribB, 444, 829}, std::tuple{kTaqribB, kTaqribA, 829, 444}}) {
        const Page entry = *shared.lib->page(from, seq);
        const PanelText::Text other = PanelText::editions(*shared.lib, *shared.lib->book(from), entry.id);
        EXPECT_TRUE(hasLink(other, PanelText::pageURL(to, counterpart))) << other.plain().toStdString();
        EXPECT_FALSE(other.plain().contains(QStringLiteral("لم يُعثر على طبعة أخرى")));
        // Found by their shared passages too, not by the catalogue alone.
        EXPECT_TRUE(other.plain().contains(QStringLiteral("  تشابه\u00A0٩")));
    }
    const Page title = *shared.lib->page(kIbnMajahA, 1);
    const PanelText::Text short_ = PanelText::editions(*shared.lib, *shared.lib->book(kIbnMajahA), title.id);
    EXPECT_TRUE(hasLink(short_, PanelText::pageURL(kIbnMajahB, 1)));
    EXPECT_TRUE(short_.plain().contains(QStringLiteral("هذه الصفحة أقصر من أن تُقابَل")));

    const PanelText::Text sources = PanelText::reuse(*shared.lib, page.id);
    EXPECT_TRUE(sources.plain().contains(QStringLiteral(" بصمة)")));
    // The other edition's rows are named apart from this one's.
    EXPECT_TRUE(sources.plain().contains(QStringLiteral("سنن ابن ماجه — تحقيق محمد فؤاد عبد الباقي (نشرة ب) · ")))
        << sources.plain().toStdString();
    EXPECT_TRUE(std::any_of(sources.runs.begin(), sources.runs.end(), [](const PanelText::Run& r) {
        return r.link.startsWith(QStringLiteral("quorvel://page/%1/").arg(kIbnMajahB));
    }));
}

TEST_F(ReaderMenusTest, wordPanelListsRelatedWordsOfTheSharedIndexUnlessMeaningSearchIsOff)
{
    REQUIRE_SAMPLE(sample);
    // The sample's install built the page vectors beside the local store.
    Library::setShared(sample.lib);
    SharedMeaningIndex::reset();
    struct Forget {
        ~Forget()
        {
            Library::setShared(nullptr);
            SharedMeaningIndex::reset();
        }
    } forget;
    const auto index = SharedMeaningIndex::index();
    ASSERT_TRUE(index) << "the sample library has no page vectors";
    const QString word = QStringLiteral("الصَّلاة");
    const auto near = index->related(Arabic::normalize(word, true), 10);
    ASSERT_FALSE(near.empty());

    const PanelText::Text text = PanelText::word(*sample.lib, word);
    const QString plain = text.plain();
    const QString label = QStringLiteral("\nكلمات قريبة المعنى في الكتب: ");
    ASSERT_TRUE(plain.contains(label));
    // Every related word, nearest first, as a search link, separated by commas.
    QStringList shown;
    for (const auto& w : near)
        shown << w.word;
    EXPECT_TRUE(plain.endsWith(label + shown.join(QStringLiteral("، ")) + QStringLiteral("\n")));
    for (const auto& w : near)
        EXPECT_TRUE(hasLink(text, PanelText::searchURL(w.word))) << w.word.toStdString();

    // A verb of the chains stands beside the names of those who said it: the
    // narrators the library knows by one name are no words near in meaning.
    QSet<QString> names;
    for (const auto& row : sample.lib->main().rows(QStringLiteral("SELECT name FROM narrators"), {}))
        if (const auto name = row.str(0); name && Arabic::tokens(*name).size() == 1)
            names.insert(Arabic::normalize(*name));
    ASSERT_TRUE(names.contains(Arabic::normalize(QStringLiteral("عائشة"))));
    const QString said = PanelText::word(*sample.lib, QStringLiteral("قالت")).plain();
    const qsizetype listed = said.indexOf(label);
    ASSERT_GE(listed, 0) << said.toStdString();
    const QStringList saidNear = said.mid(listed + label.size()).trimmed().split(QStringLiteral("، "));
    EXPECT_GE(saidNear.size(), 5);
    for (const QString& shownWord : saidNear)
        EXPECT_FALSE(names.contains(Arabic::normalize(shownWord))) << shownWord.toStdString();
    // Nor the men a chain names by a longer name («محمد بن بشار», «أحمد بن
    // حنبل», «الحسن بن الصباح») beside the verb that names them, nor a number.
    const QString told = PanelText::word(*sample.lib, QStringLiteral("حدثنا")).plain();
    const qsizetype toldAt = told.indexOf(label);
    ASSERT_GE(toldAt, 0) << told.toStdString();
    const QStringList toldNear = told.mid(toldAt + label.size()).trimmed().split(QStringLiteral("، "));
    EXPECT_GE(toldNear.size(), 3) << told.toStdString();
    for (const QString& shownWord : toldNear) {
        EXPECT_FALSE(QStringList({QStringLiteral("بشار"), QStringLiteral("حنبل"), QStringLiteral("الصباح")}).contains(shownWord))
            << told.toStdString();
        EXPECT_FALSE(Arabic::hasDigit(shownWord)) << told.toStdString();
    }

    // Meaning search switched off, even by an empty variable: no block at all.
    test::ScopedEnv off("QUORVEL_NO_SMART", QString());
    EXPECT_FALSE(PanelText::word(*sample.lib, word).plain().contains(QStringLiteral("كلمات قريبة المعنى")));
}

TEST_F(ReaderMenusTest, collationShowsBothTranscriptionsWordForWordInOrder)
{
    test::SampleLib shared(test::sampleLibraryWithShingles(dir.path(), {kIbnMajahA, kIbnMajahB}));
    REQUIRE_SAMPLE(shared);
    const Page page = *shared.lib->page(kIbnMajahA, 20);
    const auto r = Collate::run(shared.lib->main(), page.id, kIbnMajahB);
    ASSERT_TRUE(r);
    const PanelText::Text text = PanelText::collate(*shared.lib, page.id, kIbnMajahB);
    const QString plain = text.plain();
    EXPECT_TRUE(plain.startsWith(QStringLiteral("مقابلة النسختين\nمقابلة بـ ")));
    // The percentage says what it measures: the words the two pages share.
    EXPECT_TRUE(plain.contains(QStringLiteral("  – تطابق\u00A0الكلمات\u00A0") + Arabic::num(r->ratio) + QStringLiteral("٪\n\n")));
    // However narrow the panel, the share never wraps onto a line of its own.
    const std::unique_ptr<QTextDocument> laid = SmartPopover::document(text);
    const int share = int(laid->toPlainText().indexOf(u'٪'));
    ASSERT_GE(share, 0);
    for (int width = 200; width <= SmartPopover::width; width += 8) {
        laid->setTextWidth(width);
        (void)laid->size();
        const QTextBlock block = laid->findBlock(share);
        QTextLayout* layout = block.layout();
        const int at = share - block.position();
        const QTextLine line = layout->lineForTextPosition(at);
        ASSERT_TRUE(line.isValid());
        EXPECT_TRUE(block.text().mid(line.textStart(), line.textLength()).contains(QStringLiteral("الكلمات")))
            << width << ": " << block.text().mid(line.textStart(), line.textLength()).toStdString();
    }
    EXPECT_TRUE(hasLink(text, PanelText::pageURL(kIbnMajahB, r->otherSeq)));
    EXPECT_TRUE(plain.endsWith(QStringLiteral("\n\nالأحمر المشطوب في هذه النسخة وحدها، والأخضر في الأخرى.\n")));

    // Read without the other's words this page's text comes back whole, and
    // without the struck ones the other page's; each side's own words are shaded.
    QString mine;
    QString theirs;
    int struck = 0;
    int added = 0;
    for (const PanelText::Run& run : text.runs) {
        if (run.face != PanelText::Face::reader)
            continue;
        if (run.strike) {
            ++struck;
            EXPECT_TRUE(run.background.isValid());
            EXPECT_EQ(run.background.rgb(), Theme::hit().rgb());
            mine += run.text;
        } else if (run.background.isValid()) {
            ++added;
            EXPECT_EQ(run.background.rgb(), Theme::emerald().rgb());
            EXPECT_LT(run.background.alphaF(), 0.25);
            theirs += run.text;
        } else {
            mine += run.text;
            theirs += run.text;
        }
    }
    const QString other = shared.lib->main()
                              .rows(QStringLiteral("SELECT content FROM pages WHERE id=?"), {r->otherPageId})
                              .value(0)
                              .str(0)
                              .value_or(QString());
    EXPECT_EQ(mine, Py::split(page.content).join(u' ') + u' ');
    // Punctuation is no difference, so the other page's own punctuation may
    // be shown as this page writes it: its words come back, in order.
    auto words = [](const QString& text) {
        QStringList out;
        for (QString word : Py::split(text)) {
            word.removeIf([](QChar c) { return c.isPunct(); });
            if (!word.isEmpty())
                out << word;
        }
        return out;
    };
    EXPECT_EQ(words(theirs), words(other));
    EXPECT_GT(struck + added, 0) << "the two transcriptions differ on this page";

    // A book sharing nothing with the page: the panel says so.
    EXPECT_EQ(PanelText::collate(*shared.lib, page.id, kMuwatta).plain(),
              QStringLiteral("مقابلة النسختين\nلم تُعثر على صفحة مقابلة في النسخة الأخرى.\n"));

    // Followed from a reader: a pop-up named for the collation, under the header.
    auto reader = std::make_unique<ReaderView>(shared.lib, *shared.lib->book(kIbnMajahA), 20);
    showAt(*reader, 1200, 800);
    reader->handleSmartLink(QStringLiteral("quorvel://collate/%1/%2").arg(page.id).arg(kIbnMajahB));
    const auto popover = SmartPopover::current();
    ASSERT_TRUE(popover && popover->frame());
    EXPECT_EQ(popover->title(), QStringLiteral("مقابلة"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isBuilt(); }, 20000));
    EXPECT_TRUE(popover->textView()->toPlainText().startsWith(QStringLiteral("مقابلة النسختين")));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover->frame()));
    ASSERT_TRUE(popover->frame()->grab().toImage().save(
        QCoreApplication::applicationDirPath() + QStringLiteral("/collation-popover.png"), "PNG"));
    // A collation link without its two numbers opens nothing.
    reader->handleSmartLink(QStringLiteral("quorvel://collate/%1").arg(page.id));
    reader->handleSmartLink(QStringLiteral("quorvel://collate/x/y"));
    EXPECT_EQ(SmartPopover::current(), popover);
}

TEST_F(ReaderMenusTest, phraseTreeListsBooksByTheirAuthorsDeathWithTheLinksBetweenThem)
{
    // Three books holding the phrase: one by an author who died in 179, one
    // whose author's year is stored as 0 and one without an author; the first
    // two pages share three shingles.
    QStringList rows;
    const QString phrase = QStringLiteral("الولد للفراش وللعاهر الحجر");
    const struct {
        std::int64_t book;
        const char* author; // none: no author
        const char* year;
    } books[] = {{501, "مالك", "179"}, {502, "ابن صفر", "0"}, {503, nullptr, nullptr}};
    for (const auto& b : books) {
        if (b.author)
            rows << QStringLiteral("INSERT INTO authors(id, name, death_year) VALUES(%1, '%2', %3)")
                        .arg(b.book)
                        .arg(QString::fromUtf8(b.author), QString::fromLatin1(b.year));
        rows << QStringLiteral("INSERT INTO books(id, title, author_id) VALUES(%1, 'كتاب %1', %2)")
                    .arg(b.book)
                    .arg(b.author ? QString::number(b.book) : QStringLiteral("NULL"));
        const QString content = phrase + QStringLiteral(" كلام بعده");
        rows << QStringLiteral("INSERT INTO pages(id, book_id, page_num, seq, content, content_norm) "
                               "VALUES(%1, %2, NULL, 4, '%3', '%4')")
                    .arg(b.book * 10)
                    .arg(b.book)
                    .arg(content, Arabic::normalize(content, true));
        rows << QStringLiteral("INSERT INTO pages_fts(rowid, content_norm, page_id, book_id) VALUES(%1, '%2', %1, %3)")
                    .arg(b.book * 10)
                    .arg(Arabic::normalize(content, true))
                    .arg(b.book);
    }
    for (const std::int64_t page : {5010, 5020})
        for (const int hash : {11, 12, 13})
            rows << QStringLiteral("INSERT INTO shingles(hash, page_id, book_id) VALUES(%1, %2, %3)")
                        .arg(hash)
                        .arg(page)
                        .arg(page / 10);
    const QString path = test::FixtureLibrary::custom(dir.path(), QStringLiteral("tree.db"), rows);
    ASSERT_FALSE(path.isEmpty());
    test::ScopedEnv userdb("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")));
    const std::shared_ptr<Library> lib = Library::open(path);
    ASSERT_TRUE(lib);

    const PanelText::Text text = PanelText::genealogy(*lib, phrase);
    const QString plain = text.plain();
    EXPECT_TRUE(plain.startsWith(QStringLiteral("شجرة المسألة: «") + phrase + QStringLiteral("»\n")));
    // A real year first, then the year stored as 0, then the undated book.
    const qsizetype dated = plain.indexOf(QStringLiteral("١٧٩هـ  كتاب 501 · ص٤ – مالك (ت ١٧٩)\n"));
    const qsizetype zero = plain.indexOf(QStringLiteral("٠هـ  كتاب 502 · ص٤ – ابن صفر\n"));
    const qsizetype unknown = plain.indexOf(QStringLiteral("؟  كتاب 503 · ص٤\n"));
    EXPECT_GE(dated, 0);
    EXPECT_GT(zero, dated);
    EXPECT_GT(unknown, zero);
    EXPECT_TRUE(hasLink(text, PanelText::pageURL(503, 4)));
    EXPECT_TRUE(plain.endsWith(QStringLiteral("\nالنقول:\n  كتاب 501 ← كتاب 502 (٣ بصمات)\n")));

    EXPECT_EQ(PanelText::genealogy(*lib, QStringLiteral("عبارة غائبة")).plain(),
              QStringLiteral("شجرة المسألة: «عبارة غائبة»\nلم تُعثر على مواضع كافية لهذه العبارة.\n"));
    // The heading quotes at most 60 characters of a long phrase.
    const QString longPhrase = QString(70, QChar(u'ب'));
    EXPECT_TRUE(PanelText::genealogy(*lib, longPhrase).plain().startsWith(QStringLiteral("شجرة المسألة: «") +
                                                                      longPhrase.left(60) + QStringLiteral("»\n")));
}

// The phrase tree quotes the pages that hold the phrase, hadith numbers and
// all: shown in the reader's digits, whichever the reader prefers.
TEST_F(ReaderMenusTest, thePhraseTreeShowsThePagesNumbersAsTheReaderDoes)
{
    REQUIRE_SAMPLE(sample);
    constexpr std::int64_t kAbuDawud = 4;
    const auto latin = [](const QString& text) {
        return std::count_if(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    const QString phrase = QStringLiteral("حدثنا مؤمل بن الفضل");
    // The pages quoted hold Latin digits as stored.
    ASSERT_GT(latin(PanelText::genealogy(*sample.lib, phrase).plain()), 0);

    for (const bool indic : {false, true}) {
        SCOPED_TRACE(indic);
        Settings::setIndicDigits(indic);
        auto r = reader(kAbuDawud, 935);
        showAt(*r, 1100);
        const QString text = r->textView()->toPlainText();
        const int at = int(text.indexOf(phrase));
        ASSERT_GE(at, 0) << text.toStdString();
        select(*r, at, int(phrase.size()));
        r->showPhraseTree();
        const auto shown = SmartPopover::current();
        ASSERT_TRUE(shown && shown->isOpen());
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown->isBuilt(); }, 20000));
        const QString panel = shown->textView()->toPlainText();
        EXPECT_TRUE(panel.startsWith(QStringLiteral("شجرة المسألة: «") + phrase)) << panel.toStdString();
        if (indic) {
            EXPECT_EQ(latin(panel), 0) << panel.toStdString();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(shown->frame()));
            EXPECT_TRUE(shown->frame()->grab().save(QCoreApplication::applicationDirPath() +
                                                    QStringLiteral("/phrase-tree-digits.png")));
        } else {
            EXPECT_GT(latin(panel), 0) << panel.toStdString();
        }
        shown->close();
    }
}
