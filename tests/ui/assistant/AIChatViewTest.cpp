#include "AIChatViewFixture.h"

using namespace quorvel;
using namespace quorvel::test;

TEST(AIChatPlan, followUpsContinueTheLastTopicOnly)
{
    preparePanels();
    const QString follow = QStringLiteral(u"وماذا عن الحنابلة؟");
    ASSERT_TRUE(Intent::followUp(follow).has_value());

    // As the first question there is no topic to continue.
    const AIChatView::Plan fresh = AIChatView::plan(follow, AIMode::automatic, std::nullopt, std::nullopt);
    EXPECT_FALSE(fresh.follow);
    EXPECT_TRUE(fresh.routed);

    const QString topic = QStringLiteral(u"قراءة الفاتحة خلف الإمام");
    const AIChatView::Plan report = AIChatView::plan(follow, AIMode::automatic, topic, AIMode::report);
    EXPECT_TRUE(report.follow);
    EXPECT_TRUE(report.routed);
    EXPECT_EQ(report.mode, AIMode::report);
    EXPECT_EQ(report.topic, topic + u' ' + *Intent::followUp(follow));
    EXPECT_EQ(report.question, QStringLiteral(u"ما خلاصة ما ورد في المصادر عن ") + report.topic + u'؟');

    const AIChatView::Plan answer = AIChatView::plan(follow, AIMode::answer, topic, AIMode::report);
    EXPECT_EQ(answer.mode, AIMode::answer);
    EXPECT_FALSE(answer.routed);
    EXPECT_EQ(answer.question, topic + QStringLiteral(u": ") + follow);

    const QString data = QStringLiteral(u"كم كتابا في المكتبة؟");
    EXPECT_EQ(AIChatView::plan(data, AIMode::data, std::nullopt, std::nullopt).question, data);
}

TEST_F(AIChatViewTest, blankTextAndQuestionsWhileBusySendNothing)
{
    const QString welcome = transcript();
    view->ask(QStringLiteral("  \n\t "));
    EXPECT_EQ(transcript(), welcome);
    EXPECT_FALSE(view->isBusy());

    send(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    EXPECT_TRUE(view->isBusy());
    EXPECT_FALSE(view->sendButton()->isEnabled());
    // Return while busy keeps the typed text.
    view->input()->setText(QStringLiteral(u"سؤال آخر"));
    QTest::keyClick(view->input(), Qt::Key_Return);
    EXPECT_EQ(view->input()->text(), QStringLiteral(u"سؤال آخر"));
    // ask() while busy replaces the field's text and sends nothing.
    view->ask(QStringLiteral(u"سؤال ثالث"));
    EXPECT_EQ(view->input()->text(), QStringLiteral(u"سؤال ثالث"));
    finish(answerText(QStringLiteral(u"الجواب")));
    EXPECT_EQ(assistant.calls().size(), 1);
    EXPECT_TRUE(view->exportButton()->isEnabled());
}

TEST_F(AIChatViewTest, smallTalkAloneIsAnsweredHereAndListsExamplesForHelpAndWho)
{
    const QString salam = phraseOf(SmallTalk::Kind::salam);
    ASSERT_FALSE(salam.isEmpty());
    view->ask(salam);
    EXPECT_FALSE(view->isBusy());
    EXPECT_TRUE(assistant.calls().isEmpty());
    EXPECT_TRUE(transcript().contains(SmallTalk::reply(SmallTalk::Kind::salam, false)));
    const QString firstExample = SmallTalk::examples().last().second;
    EXPECT_FALSE(links().contains(AIChatView::askLink(firstExample)));

    for (SmallTalk::Kind kind : {SmallTalk::Kind::help, SmallTalk::Kind::who}) {
        view->ask(phraseOf(kind));
        EXPECT_FALSE(view->isBusy());
        EXPECT_TRUE(links().contains(AIChatView::askLink(firstExample)));
    }
    EXPECT_TRUE(assistant.calls().isEmpty());
    EXPECT_FALSE(view->exportButton()->isEnabled());
}

TEST_F(AIChatViewTest, smallTalkWithAQuestionAsksOnlyTheRest)
{
    const QString salam = phraseOf(SmallTalk::Kind::salam);
    const QString message = salam + QStringLiteral(u" ما شروط وجوب الزكاة؟");
    const auto split = SmallTalk::split(message);
    ASSERT_TRUE(split.has_value());
    send(message);
    EXPECT_EQ(assistant.calls().last().question, split->second);
    const QString t = transcript();
    const qsizetype bubble = t.indexOf(message);
    const qsizetype reply = t.indexOf(SmallTalk::reply(SmallTalk::Kind::salam, true));
    ASSERT_GE(bubble, 0);
    EXPECT_GT(reply, bubble);
    finish(answerText(QStringLiteral(u"الجواب")));

    // In data mode even a short rest is a question; elsewhere it is not.
    view->setKind(AIMode::data);
    send(salam + QStringLiteral(u" كم"));
    finish(answerText(QStringLiteral(u"الجواب"), AIMode::data));
    view->setKind(AIMode::answer);
    const qsizetype asked = assistant.calls().size();
    view->ask(salam + QStringLiteral(u" كم"));
    EXPECT_FALSE(view->isBusy());
    EXPECT_EQ(assistant.calls().size(), asked);
}

TEST_F(AIChatViewTest, firstPieceReplacesTheWaitingLineAndTheAnswerReplacesThePieces)
{
    send(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"جاري البحث في الكتب")));
    assistant.piece(QStringLiteral(u"تجب الزكاة "));
    ASSERT_EVENTUALLY(transcript().contains(QStringLiteral(u"تجب الزكاة")), 5000);
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"جاري البحث في الكتب")));
    assistant.piece(QStringLiteral(u"بالحول"));
    ASSERT_EVENTUALLY(transcript().contains(QStringLiteral(u"تجب الزكاة بالحول")), 5000);
    finish(answerText(QStringLiteral(u"الجواب المكتوب")));
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"تجب الزكاة بالحول")));
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"الجواب المكتوب")));
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"استمع للإجابة")));
}

TEST_F(AIChatViewTest, piecesArrivingAfterTheAnswerNeverOverwriteIt)
{
    assistant.piecesAfterReturn({QStringLiteral(u"قطعة متأخرة")});
    send(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    finish(answerText(QStringLiteral(u"الجواب النهائي")));
    // Give the late piece every chance to arrive.
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(5);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"الجواب النهائي")));
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"قطعة متأخرة")));
}

TEST_F(AIChatViewTest, twoThousandPiecesRacingTheAnswerLeaveTheAnswerWhole)
{
    QStringList late;
    for (int i = 0; i < 2000; ++i)
        late << QStringLiteral(u"ق%1 ").arg(i);
    assistant.piecesAfterReturn(late);
    send(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    for (int i = 0; i < 50; ++i)
        assistant.piece(QStringLiteral(u"مبكرة "));
    finish(answerText(QStringLiteral(u"الجواب الأخير")));
    QTest::qWait(100);
    QCoreApplication::processEvents();
    const QString t = transcript();
    EXPECT_TRUE(t.contains(QStringLiteral(u"الجواب الأخير")));
    EXPECT_FALSE(t.contains(QStringLiteral(u"مبكرة")));
    EXPECT_FALSE(t.contains(QStringLiteral(u"ق1999")));
    EXPECT_TRUE(t.trimmed().endsWith(QStringLiteral(u"استمع للإجابة")));
}

TEST_F(AIChatViewTest, listenLinksCountAnswersFromZeroAndASecondClickStops)
{
    send(QStringLiteral(u"السؤال الأول"));
    finish(answerText(QStringLiteral(u"الجواب الأول")));
    send(QStringLiteral(u"السؤال الثاني"));
    finish(answerText(QStringLiteral(u"الجواب الثاني")));
    const QStringList speak = links().filter(QString::fromLatin1(AnswerRenderer::speakLinkPrefix));
    EXPECT_EQ(speak, (QStringList{QStringLiteral("quorvel://speak/0"), QStringLiteral("quorvel://speak/1")}));

    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://speak/1")));
    EXPECT_EQ(voice.synth->said, QStringList{QStringLiteral(u"الجواب الثاني")});
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://speak/1")));
    EXPECT_FALSE(voice.synth->speaking);
    EXPECT_EQ(voice.synth->said.size(), 1);
    // Tails that are not an index are taken and ignored.
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://speak/")));
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://speak/x")));
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://speak/7")));
    EXPECT_EQ(voice.synth->said.size(), 1);
}

TEST_F(AIChatViewTest, unknownStoredModeSelectsTheFirst)
{
    Preferences::standard().set(QStringLiteral("aiKind"), QStringLiteral("nonsense"));
    AIChatView other(sample.lib, assistant.fn());
    EXPECT_EQ(other.kind(), AIMode::automatic);
    EXPECT_EQ(other.kindPopup()->currentIndex(), 0);
    Preferences::standard().set(QStringLiteral("aiKind"), QStringLiteral("report"));
    AIChatView third(sample.lib, assistant.fn());
    EXPECT_EQ(third.kind(), AIMode::report);
}

TEST_F(AIChatViewTest, suggestionsAskInAutomaticModeUnlessBusy)
{
    const QString q = QStringLiteral(u"ما معنى الغرر؟");
    EXPECT_TRUE(links().contains(AIChatView::askLink(q)));  // a welcome suggestion
    send(QStringLiteral(u"سؤال يشغل اللوحة"));
    EXPECT_TRUE(view->followLink(AIChatView::askLink(q)));
    EXPECT_EQ(assistant.calls().size(), 1);
    EXPECT_EQ(view->kind(), AIMode::answer);
    finish(answerText(QStringLiteral(u"جواب")));

    EXPECT_TRUE(view->followLink(AIChatView::askLink(q)));
    ASSERT_EVENTUALLY(assistant.calls().size() == 2, 5000);
    EXPECT_EQ(view->kind(), AIMode::automatic);
    EXPECT_EQ(Preferences::standard().string(QStringLiteral("aiKind")), QStringLiteral("auto"));
    finish(answerText(QStringLiteral(u"جواب")));
}

TEST_F(AIChatViewTest, pageLinksNeedExactlyTwoNumbersAndCarryTheCitedWords)
{
    QList<std::tuple<std::int64_t, std::int64_t, QString>> opened;
    view->onOpen = [&](std::int64_t book, std::int64_t seq, const QString& words) { opened.append({book, seq, words}); };
    EXPECT_FALSE(view->followLink(QStringLiteral("quorvel://page/12")));
    EXPECT_FALSE(view->followLink(QStringLiteral("quorvel://page/12/5/3")));
    EXPECT_FALSE(view->followLink(QStringLiteral("quorvel://page/12/5#%D8")));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://page/12/5")));
    // Punctuation, brackets and digits of the quotation come back as written.
    const QString quoted = QStringLiteral(u"قال: «إنما الأعمال بالنيات» (١٢/3)");
    EXPECT_TRUE(view->followLink(AnswerRenderer::pageLink(12, 6, quoted)));
    EXPECT_EQ(opened, (QList<std::tuple<std::int64_t, std::int64_t, QString>>{{12, 5, QString()}, {12, 6, quoted}}));
}

TEST_F(AIChatViewTest, exportMenuWaitsForAnAnswerAndOffersCsvOnlyWithTables)
{
    EXPECT_EQ(view->exportMenu(), nullptr);
    send(QStringLiteral(u"سؤال"));
    AIAnswer a = answerText(QStringLiteral(u"جواب"), AIMode::data);
    a.tables = {DataTable{}};
    finish(a);
    QStringList formats;
    view->exportLast = [&](const QString& f) { formats << f; };
    std::unique_ptr<QMenu> menu(view->exportMenu());
    ASSERT_TRUE(menu);
    QStringList titles;
    for (QAction* action : menu->actions())
        titles << action->text();
    EXPECT_EQ(titles.size(), 4);
    EXPECT_EQ(titles.last(), QStringLiteral(u"جدول بيانات لإكسل (CSV)…"));
    menu->actions().first()->trigger();
    EXPECT_EQ(formats, QStringList{QStringLiteral("docx")});
}

namespace {

// The picture of a view in the build folder; the distances of the
// transcript's leftmost and rightmost ink from its left and right edges.
std::pair<int, int> grabAndCheck(AIChatView& view, const QString& name)
{
    // The status and the model button change their texts just before the
    // grab: lay them out as the event loop would before a window is painted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QImage shot = view.grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + u'/' + name;
    EXPECT_TRUE(shot.save(file, "PNG"));
    const QImage back(file);
    EXPECT_EQ(back.size(), view.size() * back.devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < back.height(); y += 5)
        for (int x = 0; x < back.width(); x += 5)
            colours.insert(back.pixel(x, y));
    EXPECT_GT(colours.size(), 32);
    const QImage page = view.transcriptView()->viewport()->grab().toImage();
    const QColor paper = Theme::parchment();
    int rightmost = -1;
    int leftmost = page.width();
    for (int y = 0; y < page.height(); ++y) {
        for (int x = page.width() - 1; x > rightmost; --x)
            if (QColor(page.pixel(x, y)) != paper) {
                rightmost = x;
                break;
            }
        for (int x = 0; x < leftmost; ++x)
            if (QColor(page.pixel(x, y)) != paper) {
                leftmost = x;
                break;
            }
    }
    return {leftmost, page.width() - 1 - rightmost};
}

// The real assistant over the sample library, without a local model.
class AIChatSampleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        preparePanels();
        Preferences::standard().remove(QStringLiteral("aiKind"));
    }
    ScopedEnv noModel{"QUORVEL_NO_MODEL", QStringLiteral("1")};
    SharedFakeVoice voice;
    ScriptedDialogs dialogs;
    SampleLib sample;
};

} // namespace

TEST_F(AIChatSampleTest, extractiveAnswerCitesPagesThatHoldItsQuotations)
{
    REQUIRE_SAMPLE(sample);
    AIChatView view(sample.lib, AIChatView::libraryAssistant(sample.lib));
    view.resize(1100, 760);
    view.show();
    // The welcome text is centred.
    const auto [left, right] = grabAndCheck(view, QStringLiteral("assistant-welcome.png"));
    EXPECT_LE(std::abs(left - right), 40) << left << " " << right;
    EXPECT_LT(right, view.width() / 4);

    QList<std::pair<std::int64_t, std::int64_t>> opened;
    QStringList cited;
    view.onOpen = [&](std::int64_t book, std::int64_t seq, const QString& words) {
        opened.append({book, seq});
        cited.append(words);
    };
    view.setKind(AIMode::answer);
    view.ask(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    ASSERT_EVENTUALLY(!view.isBusy(), 60000);
    ASSERT_EQ(view.answers().size(), 1);
    const AIAnswer& a = view.answers().first();
    ASSERT_FALSE(a.passages.isEmpty()) << "no passage found";
    const QString t = view.transcriptView()->toPlainText();
    EXPECT_TRUE(t.contains(QStringLiteral(u"ما وجدته في الكتب:")));
    EXPECT_TRUE(t.contains(QStringLiteral(u"\nالمصادر\n")) || t.contains(QStringLiteral(u"\u2029المصادر\u2029")));

    // Every page link of the sources opens a page that holds a quotation.
    const QTextDocument& doc = *view.transcriptView()->document();
    QStringList pages;
    for (int i = 0; i < doc.characterCount(); ++i) {
        const QString h = RichText::hrefAt(doc, i);
        if (h.startsWith(QString::fromLatin1(AnswerRenderer::pageLinkPrefix)) && !pages.contains(h))
            pages << h;
    }
    ASSERT_FALSE(pages.isEmpty());
    for (const QString& link : pages)
        EXPECT_TRUE(view.followLink(link));
    ASSERT_EQ(opened.size(), pages.size());
    for (qsizetype i = 0; i < opened.size(); ++i) {
        const auto [book, seq] = opened[i];
        const auto page = sample.lib->page(book, seq);
        ASSERT_TRUE(page.has_value());
        // Each link names words its page holds, for the reader to mark.
        const QStringList words = Arabic::tokens(cited[i]);
        ASSERT_GE(words.size(), 3) << cited[i].toStdString();
        EXPECT_TRUE(Arabic::tokens(page->content).join(u' ').contains(words.mid(0, 3).join(u' ')))
            << cited[i].toStdString();
        bool holds = false;
        for (const ExtractedSentence& s : a.extractive)
            holds = holds || page->content.contains(s.text.left(30));
        for (const Passage& p : a.passages)
            holds = holds || (p.bookId == book && p.seq == seq);
        EXPECT_TRUE(holds) << "book " << book << " page " << seq;
    }
    // The answer's right-to-left text ends at the transcript's right inset.
    const int margin = grabAndCheck(view, QStringLiteral("assistant-answer.png")).second;
    EXPECT_GE(margin, 30);
    EXPECT_LE(margin, 60);
}

TEST_F(AIChatViewTest, theMainWindowKeepsOneAssistantTabAndAsksFromTheSearchField)
{
    MainWindowController w(sample.lib);
    w.assistant = assistant.fn();
    w.openAI();
    ASSERT_EQ(w.tabs().size(), 1);
    auto* chat = qobject_cast<AIChatView*>(w.tabs().first()->view());
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(w.tabs().first()->title(), QStringLiteral(u"البحث الذكي"));

    // A second call with a question asks in the same tab.
    w.openAI(QStringLiteral(u"ما معنى الغرر؟"));
    EXPECT_EQ(w.tabs().size(), 1);
    ASSERT_EVENTUALLY(assistant.calls().size() == 1, 5000);
    assistant.answer(answerText(QStringLiteral(u"جواب")));
    ASSERT_EVENTUALLY(!chat->isBusy(), 5000);

    // The smart mode of the search field hands its text over and empties it.
    w.setSearchMode(1);
    w.searchField()->setText(QStringLiteral(u"  ما شروط وجوب الزكاة؟ "));
    w.quickSearch();
    EXPECT_TRUE(w.searchField()->text().isEmpty());
    ASSERT_EVENTUALLY(assistant.calls().size() == 2, 5000);
    EXPECT_EQ(assistant.calls().last().question.trimmed(), QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    assistant.answer(answerText(QStringLiteral(u"جواب")));
    ASSERT_EVENTUALLY(!chat->isBusy(), 5000);

    // A page link opens a reader tab.
    chat->followLink(AnswerRenderer::pageLink(1, 3));
    ASSERT_EQ(w.tabs().size(), 2);
    ASSERT_NE(w.tabs()[1]->reader(), nullptr);
    EXPECT_EQ(w.tabs()[1]->reader()->seq(), 3);

    // The session keeps the tab, not its conversation.
    const QString session = w.sessionJSON();
    EXPECT_TRUE(session.contains(QStringLiteral("\"k\":\"ai\"")));
}

// ---------------------------------------------------------------------------
// The microphone and the model menu

TEST_F(AIChatViewTest, theListenLinkReadsAsAStopWhileItsAnswerIsReadAndSaysWhyNothingCanBe)
{
    send(QStringLiteral(u"السؤال الأول"));
    finish(answerText(QStringLiteral(u"الجواب الأول")));
    send(QStringLiteral(u"السؤال الثاني"));
    finish(answerText(QStringLiteral(u"الجواب الثاني")));
    const QString listen = QStringLiteral(u"استمع للإجابة");
    const QString stopReading = QStringLiteral(u"إيقاف القراءة");
    // The text under a link, by its address.
    auto linkText = [&](const QString& href) {
        const QTextDocument& doc = *view->transcriptView()->document();
        QString text;
        for (int i = 0; i < doc.characterCount(); ++i)
            if (RichText::hrefAt(doc, i) == href)
                text += doc.characterAt(i);
        return text;
    };
    const QString first = QStringLiteral("quorvel://speak/0");
    const QString second = QStringLiteral("quorvel://speak/1");

    view->followLink(second);
    EXPECT_EQ(linkText(second), stopReading);
    EXPECT_EQ(linkText(first), listen);
    // Another answer taken up: the stop moves with the reading.
    view->followLink(first);
    // The first reading's end is posted; the links follow once it arrives.
    EXPECT_EVENTUALLY(linkText(first) == stopReading && linkText(second) == listen, 5000);
    // The reading ends by itself, or is stopped from its link.
    voice.synth->finishSpeaking();
    ASSERT_EVENTUALLY(linkText(first) == listen, 5000);
    EXPECT_EQ(linkText(first), listen);
    view->followLink(second);
    view->followLink(second);
    ASSERT_EVENTUALLY(linkText(second) == listen, 5000);
    EXPECT_EQ(linkText(second), listen);
    EXPECT_EQ(voice.synth->said.size(), 3);

    // Nothing to speak with: the status says why, and nothing is read.
    voice.synth->why = QStringLiteral(u"القراءة بالصوت غير متاحة: لا مخرج للصوت");
    view->followLink(first);
    EXPECT_EQ(view->status()->text(), voice.synth->why);
    EXPECT_EQ(linkText(first), listen);
    EXPECT_EQ(voice.synth->said.size(), 3);
}

TEST_F(AIChatViewTest, theStopShowsFromWhenTheEngineBeginsToSoundUntilItEnds)
{
    send(QStringLiteral(u"السؤال"));
    finish(answerText(QStringLiteral(u"الجواب الذي يُقرأ")));
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    const QString href = QStringLiteral("quorvel://speak/0");
    QTextBrowser* transcript = view->transcriptView();
    const auto linkText = [&] {
        const QTextDocument& doc = *transcript->document();
        QString text;
        for (int i = 0; i < doc.characterCount(); ++i)
            if (RichText::hrefAt(doc, i) == href)
                text += doc.characterAt(i);
        return text;
    };
    // Clicked where the reader sees it.
    const auto click = [&] {
        const QTextDocument& doc = *transcript->document();
        int at = -1;
        for (int i = 0; i < doc.characterCount() && at < 0; ++i)
            if (RichText::hrefAt(doc, i) == href)
                at = i;
        ASSERT_GE(at, 0);
        QTextCursor cursor(transcript->document());
        cursor.setPosition(at + 2);
        transcript->ensureCursorVisible();
        transcript->setTextCursor(cursor);
        const QPoint point = transcript->cursorRect(cursor).center();
        QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, point);
    };
    const QString listen = QStringLiteral(u"استمع للإجابة");
    const QString stopReading = QStringLiteral(u"إيقاف القراءة");
    // The engine takes a moment to begin sounding, as the speech daemon does.
    voice.synth->soundsAtOnce = false;
    click();
    ASSERT_EQ(voice.synth->said.size(), 1);
    voice.synth->startSpeaking();
    ASSERT_EVENTUALLY(linkText() == stopReading, 2000);
    EXPECT_TRUE(view->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/assistant-reading.png")));
    // Stopped from its link: the listen link comes back.
    click();
    ASSERT_EVENTUALLY(linkText() == listen, 2000);
    EXPECT_EQ(voice.synth->stops, 1);
    // Read again to its end: the stop shows while it sounds, and goes after.
    click();
    voice.synth->startSpeaking();
    ASSERT_EVENTUALLY(linkText() == stopReading, 2000);
    voice.synth->finishSpeaking();
    ASSERT_EVENTUALLY(linkText() == listen, 2000);
    EXPECT_EQ(voice.synth->said.size(), 2);
}

TEST_F(AIChatViewTest, aPanelClosedWhileItsQuestionRunsIsLeftAlone)
{
    ScriptedAssistant own;
    auto closing = std::make_unique<AIChatView>(sample.lib, own.fn());
    closing->ask(QStringLiteral(u"سؤال"));
    ASSERT_EVENTUALLY(own.calls().size() == 1, 5000);
    own.piece(QStringLiteral(u"قطعة"));
    closing.reset();
    own.piece(QStringLiteral(u"قطعة أخرى"));
    own.answer(answerText(QStringLiteral(u"جواب")));
    // The pieces and the answer reach nobody; nothing else happens.
    QTest::qWait(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(own.calls().size(), 1);
}

TEST_F(AIChatViewTest, theMainWindowsPanelExportsItsLastAnswerInEachFormat)
{
    QList<QUrl> shown;
    const auto previousHook = Desktop::setHook([&](const QUrl& url) {
        shown.append(url);
        return true;
    });
    MainWindowController w(sample.lib);
    w.assistant = assistant.fn();
    w.openAI(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    auto* chat = qobject_cast<AIChatView*>(w.tabs().first()->view());
    ASSERT_NE(chat, nullptr);
    ASSERT_EVENTUALLY(assistant.calls().size() == 1, 5000);
    assistant.answer(answerText(QStringLiteral(u"تجب الزكاة في المال إذا بلغ النصاب وحال عليه الحول.")));
    ASSERT_EVENTUALLY(!chat->isBusy(), 5000);

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<QMenu> menu(chat->exportMenu());
    ASSERT_TRUE(menu);
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 3); // no tables, so no CSV
    const QList<std::pair<QString, QByteArray>> formats{
        {QStringLiteral("جواب.docx"), QByteArray("PK")},
        {QStringLiteral("جواب.pdf"), QByteArray("%PDF-")},
        {QStringLiteral("جواب.html"), QByteArray("<!doctype html>")}};
    for (int i = 0; i < items.size(); ++i) {
        ASSERT_TRUE(items[i]->isEnabled());
        const QString target = dir.filePath(formats[i].first);
        dialogs.answer(target);
        items[i]->trigger();
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << target.toStdString();
        EXPECT_TRUE(file.readAll().startsWith(formats[i].second)) << target.toStdString();
    }
    EXPECT_EQ(shown.size(), 3);
    Desktop::setHook(previousHook);
}
