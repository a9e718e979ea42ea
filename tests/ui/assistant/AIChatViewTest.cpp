#include "support/SpeechFakes.h"
#include "ui/ViewTestSupport.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "assistant/LocalLLMDownloader.h"
#include "assistant/SmallTalk.h"
#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Settings.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "support/LoopbackHttpServer.h"
#include "ui/assistant/AIChatView.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/BarView.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/Listener.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/shell/MainWindowController.h"
#include "support/Wait.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

using namespace quorvel;
using namespace quorvel::test;

namespace {

// An assistant the test drives: each question waits on a worker thread for
// the pieces and the answer the test hands over.
class ScriptedAssistant {
public:
    struct Call {
        QString question;
        AIMode mode;
    };

    ScriptedAssistant() : state_(std::make_shared<State>()) {}
    ~ScriptedAssistant() { answer(AIAnswer{}); }  // never leave a worker waiting

    AIChatView::Assistant fn()
    {
        std::shared_ptr<State> state = state_;
        return [state](const QString& question, AIMode mode, const std::function<void(const QString&)>& onDelta) {
            {
                std::lock_guard guard(state->mutex);
                state->calls.push_back({question, mode});
            }
            state->changed.notify_all();
            for (;;) {
                std::unique_lock lock(state->mutex);
                state->changed.wait(lock, [&] { return !state->steps.empty(); });
                Step step = std::move(state->steps.front());
                state->steps.pop_front();
                lock.unlock();
                if (auto* piece = std::get_if<QString>(&step)) {
                    onDelta(*piece);
                    continue;
                }
                AIAnswer a = std::get<AIAnswer>(std::move(step));
                // The late pieces a test asks for come after run returned.
                if (!state->afterReturn.isEmpty()) {
                    auto late = state->afterReturn;
                    std::thread([late, onDelta] {
                        for (const QString& p : late)
                            onDelta(p);
                    }).detach();
                }
                return a;
            }
        };
    }

    void piece(const QString& text) { push(text); }
    void answer(AIAnswer a) { push(std::move(a)); }
    void piecesAfterReturn(QStringList pieces) { state_->afterReturn = std::move(pieces); }

    QList<Call> calls() const
    {
        std::lock_guard guard(state_->mutex);
        return state_->calls;
    }

private:
    using Step = std::variant<QString, AIAnswer>;
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::deque<Step> steps;
        QList<Call> calls;
        QStringList afterReturn;
    };
    void push(Step step)
    {
        {
            std::lock_guard guard(state_->mutex);
            state_->steps.push_back(std::move(step));
        }
        state_->changed.notify_all();
    }

    std::shared_ptr<State> state_;
};

AIAnswer answerText(const QString& text, AIMode mode = AIMode::answer)
{
    AIAnswer a{mode, QString(), {}};
    a.text = text;
    return a;
}

// The first trigger phrase of a small-talk kind.
QString phraseOf(SmallTalk::Kind kind)
{
    for (const SmallTalk::Entry& e : SmallTalk::table())
        if (e.kind == kind && !e.phrases.isEmpty())
            return e.phrases.first();
    return {};
}

class AIChatViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        preparePanels();
        Preferences::standard().remove(QStringLiteral("aiKind"));
        view = std::make_unique<AIChatView>(sample.lib, assistant.fn());
        view->resize(1000, 700);
        view->setKind(AIMode::answer);
        // The model check runs off the GUI thread; its answer fills the status in.
        ASSERT_EVENTUALLY(!view->status()->text().isEmpty(), 5000);
    }
    void TearDown() override
    {
        // Let a running question end before the view goes.
        assistant.answer(AIAnswer{});
        ASSERT_EVENTUALLY(!view->isBusy(), 5000);
    }

    QString transcript() const { return view->transcriptView()->toPlainText(); }
    // Sends a question and waits until the assistant has it.
    void send(const QString& text)
    {
        const qsizetype before = assistant.calls().size();
        view->ask(text);
        ASSERT_EVENTUALLY(assistant.calls().size() > before, 5000);
    }
    void finish(const AIAnswer& a)
    {
        assistant.answer(a);
        ASSERT_EVENTUALLY(!view->isBusy(), 5000);
    }
    QStringList links() const
    {
        QStringList out;
        const QTextDocument& doc = *view->transcriptView()->document();
        QString last;
        for (int i = 0; i < doc.characterCount(); ++i) {
            const QString h = RichText::hrefAt(doc, i);
            if (!h.isEmpty() && h != last)
                out << h;
            last = h;
        }
        return out;
    }

    SharedFakeVoice voice;
    ScriptedDialogs dialogs;
    SampleLib sample;
    ScriptedAssistant assistant;
    std::unique_ptr<AIChatView> view;
};

} // namespace

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

TEST_F(AIChatViewTest, pageLinksNeedExactlyTwoNumbers)
{
    QList<std::pair<std::int64_t, std::int64_t>> opened;
    view->onOpen = [&](std::int64_t book, std::int64_t seq) { opened.append({book, seq}); };
    EXPECT_FALSE(view->followLink(QStringLiteral("quorvel://page/12")));
    EXPECT_FALSE(view->followLink(QStringLiteral("quorvel://page/12/5/3")));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(view->followLink(QStringLiteral("quorvel://page/12/5")));
    EXPECT_EQ(opened, (QList<std::pair<std::int64_t, std::int64_t>>{{12, 5}}));
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
    view.onOpen = [&](std::int64_t book, std::int64_t seq) { opened.append({book, seq}); };
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
    for (const auto& [book, seq] : opened) {
        const auto page = sample.lib->page(book, seq);
        ASSERT_TRUE(page.has_value());
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

namespace {

const QString cannotListen = QStringLiteral(u"تعذر الاستماع");
const QString noDictation = QStringLiteral(u"الإملاء العربي غير متاح على هذا النظام: لا يوجد فيه معرِّف للكلام العربي");

class AIChatVoiceTest : public AIChatViewTest {
protected:
    // The next dictation runs on a scripted recogniser and capture.
    void scriptDictation()
    {
        view->makeListener = [this] {
            Listener::Setup s;
            s.micAccess = [] { return true; };
            s.transcriber = [this] {
                auto t = std::make_unique<ScriptedTranscriber>();
                transcriber = t.get();
                return t;
            };
            s.capture = [] { return std::make_unique<BufferCapture>(floatFormat(48000)); };
            s.timer = false;
            return std::make_unique<Listener>(s);
        };
    }
    ScriptedTranscriber* transcriber = nullptr;
};

} // namespace

TEST_F(AIChatVoiceTest, theProductRecogniserSaysWhyDictationIsUnavailable)
{
    view->makeListener = [] {
        Listener::Setup s;
        s.micAccess = [] { return true; };
        return std::make_unique<Listener>(s);
    };
    const QString placeholder = view->input()->placeholderText();
    view->toggleMic();
    EXPECT_FALSE(view->isListening());
    const auto alerts = dialogs.requestsOf(Dialogs::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title, cannotListen);
    EXPECT_EQ(alerts[0].text, VoiceError::unsupported().description());
    EXPECT_EQ(view->micButton()->toolTip(), noDictation);
    EXPECT_EQ(view->input()->placeholderText(), placeholder);

    // Without an input the reason is the microphone.
    dialogs.clear();
    view->makeListener = [] {
        Listener::Setup s;
        s.micAccess = [] { return false; };
        return std::make_unique<Listener>(s);
    };
    view->toggleMic();
    ASSERT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).size(), 1);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert)[0].text, VoiceError::noMic().description());
}

TEST_F(AIChatVoiceTest, withoutARecogniserTheMicrophoneIsGreyedUnofferedAndFailuresNameTheSoundServer)
{
    ASSERT_FALSE(Listener::hasRecogniser());
    EXPECT_FALSE(view->micButton()->isEnabled());
    EXPECT_EQ(view->micButton()->toolTip(), noDictation);
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"الميكروفون"))) << transcript().toStdString();
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"اكتب سؤالك فيجيبك")));

    // A capture that fails says what to check here, not another system's privacy settings.
    for (const VoiceError& failure : {VoiceError::noMic(), VoiceError::noFormat()}) {
        const QString text = failure.description();
        EXPECT_TRUE(text.contains(QStringLiteral(u"خادم الصوت")) && text.contains(QStringLiteral(u"جهاز الإدخال")))
            << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral(u"الخصوصية"))) << text.toStdString();
    }
}

TEST_F(AIChatVoiceTest, listeningChangesTheMicrophoneAndSilenceSendsNothing)
{
    scriptDictation();
    const QString placeholder = view->input()->placeholderText();
    const QImage idle = view->micButton()->grab().toImage();
    view->toggleMic();
    ASSERT_TRUE(view->isListening());
    EXPECT_EQ(view->micButton()->toolTip(), QStringLiteral(u"إيقاف الاستماع وإرسال ما قلته"));
    EXPECT_NE(view->micButton()->grab().toImage(), idle);
    EXPECT_EQ(view->status()->text(), QStringLiteral(u"أستمع… (الإملاء على جهازك)"));
    EXPECT_EQ(view->input()->placeholderText(), QStringLiteral(u"أستمع… تكلم، وسأرسل سؤالك حين تسكت"));

    view->toggleMic();  // stop: nothing was said
    ASSERT_EVENTUALLY(!view->isListening(), 5000);
    EXPECT_EQ(view->micButton()->grab().toImage(), idle);
    EXPECT_EQ(view->input()->placeholderText(), placeholder);
    EXPECT_TRUE(assistant.calls().isEmpty());
    EXPECT_TRUE(dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty());
}

TEST_F(AIChatVoiceTest, aSpokenQuestionIsAnsweredAloudEvenWhenItEndedWhileBusy)
{
    scriptDictation();
    send(QStringLiteral(u"سؤال مكتوب"));
    view->toggleMic();
    transcriber->result(QStringLiteral(u"ما معنى الغرر؟"), true);
    EXPECT_EQ(view->input()->text(), QStringLiteral(u"ما معنى الغرر؟"));
    view->toggleMic();
    ASSERT_EVENTUALLY(!view->isListening(), 5000);
    // Busy: the spoken text waits in the field.
    EXPECT_EQ(view->input()->text(), QStringLiteral(u"ما معنى الغرر؟"));
    EXPECT_EQ(assistant.calls().size(), 1);
    finish(answerText(QStringLiteral(u"جواب مكتوب")));
    EXPECT_TRUE(voice.synth->said.isEmpty());

    QTest::keyClick(view->input(), Qt::Key_Return);
    ASSERT_EVENTUALLY(assistant.calls().size() == 2, 5000);
    finish(answerText(QStringLiteral(u"الغرر ما جهلت عاقبته")));
    EXPECT_EQ(voice.synth->said, QStringList{QStringLiteral(u"الغرر ما جهلت عاقبته")});
}

namespace {

class AIChatModelTest : public AIChatViewTest {
protected:
    void SetUp() override
    {
        AIChatViewTest::SetUp();
        ASSERT_TRUE(files.isValid());
        QByteArray body(256 * 1024, '\0');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char(i * 7 + 3);
        QFile out(files.filePath(QStringLiteral("small.gguf")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(body);
        out.close();
        server = std::make_unique<LoopbackHttpServer>(files.path());
        info.file = QStringLiteral("test-model-%1.gguf").arg(QCoreApplication::applicationPid());
        info.url = server->url(QStringLiteral("/small.gguf")).toString();
        info.title = QStringLiteral(u"نموذج تجربة");
        info.bytes = body.size();
        info.sha256 = QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
        view->prepareDownloader = [](LocalLLM::Downloader& d) {
            d.setFreeSpaceSource([] { return std::int64_t(1) << 50; });
        };
        // A server program is there to run a chosen model.
        LocalLLM::Testing::setServerBinary(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER));
    }
    void TearDown() override
    {
        LocalLLM::Testing::setServerBinary(std::nullopt);
        QFile::remove(LocalLLM::modelsDir() + u'/' + info.file);
        Preferences::standard().remove(QStringLiteral("localModelPath"));
        AIChatViewTest::TearDown();
    }
    static QStringList titles(QMenu* menu)
    {
        QStringList out;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                out << a->text();
        return out;
    }
    static QAction* item(QMenu* menu, const QString& title)
    {
        for (QAction* a : menu->actions())
            if (a->text() == title)
                return a;
        return nullptr;
    }

    ScopedEnv noModel{"QUORVEL_NO_MODEL", std::nullopt};
    QTemporaryDir files;
    std::unique_ptr<LoopbackHttpServer> server;
    LocalLLM::ModelInfo info;
};

const QString chooseFile = QStringLiteral(u"اختيار ملف نموذج GGUF من الجهاز…");
const QString stopDownloading = QStringLiteral(u"إيقاف التنزيل");

} // namespace

TEST_F(AIChatModelTest, aDownloadShowsItsProgressAndEndsWithTheCompletionAlert)
{
    view->resize(1100, 700);
    view->download(info);
    QPointer<LocalLLM::Downloader> d = view->downloader();
    ASSERT_TRUE(d);
    QSignalSpy progress(d.data(), &LocalLLM::Downloader::progress);
    EXPECT_TRUE(view->progress()->isVisibleTo(view.get()));

    // While it runs the menu offers stopping it, and still a file.
    std::unique_ptr<QMenu> menu(view->modelMenu());
    EXPECT_EQ(titles(menu.get()).mid(0, 2), (QStringList{stopDownloading, chooseFile}));

    // The status shows whole percents in display digits.
    emit d->progress(0.999);
    EXPECT_EQ(view->status()->text(), QStringLiteral(u"جاري تنزيل النموذج ") + Arabic::num(99) + u'٪');
    emit d->progress(0.42);
    const QImage shot = view->grab().toImage();
    const QString file = QCoreApplication::applicationDirPath() + QStringLiteral("/assistant-download.png");
    EXPECT_TRUE(shot.save(file, "PNG"));

    ASSERT_EVENTUALLY(!dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(), 20000);
    const auto alert = dialogs.requestsOf(Dialogs::Kind::Alert).first();
    EXPECT_EQ(alert.title, QStringLiteral(u"اكتمل تنزيل النموذج")) << alert.text.toStdString();
    EXPECT_FALSE(progress.isEmpty());
    EXPECT_FALSE(view->progress()->isVisibleTo(view.get()));
    EXPECT_EQ(view->downloader(), nullptr);
    EXPECT_TRUE(QFileInfo::exists(LocalLLM::modelsDir() + u'/' + info.file));
}

TEST_F(AIChatModelTest, aStoppedDownloadsLateEndLeavesTheNextDownloadAlone)
{
    view->download(info);
    QPointer<LocalLLM::Downloader> first = view->downloader();
    std::unique_ptr<QMenu> menu(view->modelMenu());
    QAction* stop = item(menu.get(), stopDownloading);
    ASSERT_NE(stop, nullptr);
    stop->trigger();
    EXPECT_EQ(view->downloader(), nullptr);
    EXPECT_FALSE(view->progress()->isVisibleTo(view.get()));

    view->download(info);
    LocalLLM::Downloader* second = view->downloader();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, first.data());
    // The first download's end arrives late.
    if (first) {
        LocalLLM::DownloadResult late;
        late.error = std::make_exception_ptr(std::runtime_error("cancelled"));
        late.cancelled = true;
        emit first->done(late);
    }
    EXPECT_EQ(view->downloader(), second);
    EXPECT_TRUE(view->progress()->isVisibleTo(view.get()));
    EXPECT_TRUE(dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty());
    // The second one still reports.
    ASSERT_EVENTUALLY(!dialogs.requestsOf(Dialogs::Kind::Alert).isEmpty(), 20000);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::Alert).first().title, QStringLiteral(u"اكتمل تنزيل النموذج"));
}

TEST_F(AIChatModelTest, withoutADownloadAddressTheButtonMenuAndFooterOfferAFileOnDisk)
{
    ASSERT_FALSE(LocalLLM::downloadConfigured());
    ASSERT_FALSE(LocalLLM::hasModel());
    EXPECT_EQ(view->modelButton()->text(), QStringLiteral(u"نموذج من الجهاز…"));
    std::unique_ptr<QMenu> menu(view->modelMenu());
    EXPECT_EQ(titles(menu.get()), (QStringList{LocalLLM::msgNoDownloadSource, chooseFile}));
    EXPECT_TRUE(LocalLLM::msgNoDownloadSource.contains(QStringLiteral("llama-server")));

    // Both footers: quoted extracts, and a report quoting its passages.
    Passage p;
    p.n = 1;
    p.bookId = 1;
    p.seq = 1;
    p.bookTitle = QStringLiteral(u"الموطأ");
    p.text = QStringLiteral(u"الصلاة عماد الدين عند أهل العلم كلهم.");
    AIAnswer extracts = answerText(QString());
    extracts.passages = {p};
    extracts.extractive = {{p.text, 1}};
    AIAnswer report = answerText(QStringLiteral(u"## الخلاصة\n«الصلاة عماد الدين» [1]\n"), AIMode::views);
    report.structured = true;
    report.passages = {p};
    for (const AIAnswer& answer : {extracts, report}) {
        send(QStringLiteral(u"ما الصلاة؟"));
        finish(answer);
        const QString shown = transcript().section(QStringLiteral(u"ما الصلاة؟"), -1);
        EXPECT_FALSE(shown.contains(QStringLiteral(u"نزل النموذج"))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QStringLiteral(u"اختر ملف نموذج GGUF من جهازك"))
                    && shown.contains(QStringLiteral("llama-server")))
            << shown.toStdString();
    }
}

TEST_F(AIChatModelTest, onlyAGgufFileBecomesTheModel)
{
    QFile text(files.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    std::unique_ptr<QMenu> menu(view->modelMenu());
    dialogs.answer(text.fileName());
    item(menu.get(), chooseFile)->trigger();
    EXPECT_FALSE(Preferences::standard().string(QStringLiteral("localModelPath")).has_value());

    const QString gguf = files.filePath(QStringLiteral("small.gguf"));
    const QString upper = files.filePath(QStringLiteral("Other.GGUF"));
    ASSERT_TRUE(QFile::copy(gguf, upper));
    dialogs.answer(upper);
    item(menu.get(), chooseFile)->trigger();
    EXPECT_EQ(Preferences::standard().string(QStringLiteral("localModelPath")), upper);
    EXPECT_EQ(dialogs.requestsOf(Dialogs::Kind::OpenFile).first().title, QStringLiteral(u"اختر نموذجا بصيغة GGUF"));
    // Now a model is in use: the menu names it and offers stopping the engine.
    std::unique_ptr<QMenu> after(view->modelMenu());
    EXPECT_TRUE(titles(after.get()).contains(QStringLiteral(u"النموذج الحالي: Other.GGUF")));
    EXPECT_TRUE(titles(after.get()).contains(QStringLiteral(u"إيقاف المحرك (تحرير الذاكرة)")));
    EXPECT_EQ(view->status()->text(), QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال"));
}

TEST_F(AIChatModelTest, theStatusSaysTheEngineStoppedDuringAStreamedAnswerUntilTheNextQuestion)
{
    Preferences::standard().set(QStringLiteral("localModelPath"), files.filePath(QStringLiteral("small.gguf")));
    const QString ready = QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال");
    send(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    assistant.piece(QStringLiteral(u"تجب الزكاة"));
    ASSERT_EVENTUALLY(transcript().contains(QStringLiteral(u"تجب الزكاة")), 5000);
    std::unique_ptr<QMenu> menu(view->modelMenu());
    QAction* stop = item(menu.get(), QStringLiteral(u"إيقاف المحرك (تحرير الذاكرة)"));
    ASSERT_NE(stop, nullptr);
    stop->trigger();
    const QString stopped = QStringLiteral(u"المحرك المحلي متوقف · يعمل من جديد مع سؤالك التالي");
    EXPECT_EQ(view->status()->text(), stopped);
    // The stream broke off: the extracts come back, and the status holds.
    finish(answerText(QStringLiteral(u"ما وجدته في الكتب")));
    EXPECT_EQ(view->status()->text(), stopped);

    send(QStringLiteral(u"ما معنى الغرر؟"));
    finish(answerText(QStringLiteral(u"الغرر ما جهلت عاقبته")));
    EXPECT_EQ(view->status()->text(), ready);
}

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

namespace {

// The panel over the library's own assistant, with the fake inference
// server standing in for the engine: its "model" is the script it replays.
class AIChatEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        preparePanels();
        Preferences::standard().remove(QStringLiteral("aiKind"));
        ASSERT_TRUE(files.isValid());
        LocalLLM::Testing::setServerBinary(QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER));
    }
    void TearDown() override
    {
        if (view) {
            ASSERT_EVENTUALLY(!view->isBusy(), 60000);
        }
        LocalLLM::stop();
        LocalLLM::Testing::setServerBinary(std::nullopt);
        Preferences::standard().remove(QStringLiteral("localModelPath"));
    }
    void useModel(const QByteArray& script)
    {
        const QString path = files.filePath(QStringLiteral("model.gguf"));
        QFile model(path);
        ASSERT_TRUE(model.open(QIODevice::WriteOnly));
        model.write(script);
        model.close();
        Preferences::standard().set(QStringLiteral("localModelPath"), path);
    }
    void open()
    {
        view = std::make_unique<AIChatView>(sample.lib, AIChatView::libraryAssistant(sample.lib));
        view->resize(1100, 760);
        view->setKind(AIMode::answer);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    // Typed and sent as the reader does.
    void askTyped(const QString& question)
    {
        view->input()->setFocus();
        for (const QChar c : question) // keyClicks takes ASCII only
            QTest::sendKeyEvent(QTest::Click, view->input(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(view->input(), Qt::Key_Return);
        ASSERT_EVENTUALLY(view->isBusy(), 5000);
    }
    // A quotation the retrieval of `question` gives its first passage, so
    // that a reply quoting it is grounded; its passage number beside it.
    std::pair<QString, int> quotationFor(const QString& question)
    {
        ScopedEnv off("QUORVEL_NO_MODEL", QStringLiteral("1"));
        const AIAnswer plain = AIAssistant::run(*sample.lib, question, AIMode::answer);
        if (plain.extractive.isEmpty())
            return {};
        const ExtractedSentence& first = plain.extractive.first();
        return {first.text.split(u' ', Qt::SkipEmptyParts).mid(0, 6).join(u' '), first.n};
    }
    static QByteArray delta(const QString& text) { return "delta " + QByteArray::fromStdString(Json::dump(Json::toJson(text))) + "\n"; }
    QString transcript() const { return view->transcriptView()->toPlainText(); }
    void shot(const char* name)
    {
        EXPECT_TRUE(view->grab().save(QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name)));
    }

    ScopedEnv noModel{"QUORVEL_NO_MODEL", std::nullopt};
    SharedFakeVoice voice;
    ScriptedDialogs dialogs;
    SampleLib sample;
    QTemporaryDir files;
    std::unique_ptr<AIChatView> view;
};

const QString question = QStringLiteral(u"ما حكم الصلاة");

} // namespace

TEST_F(AIChatEngineTest, aModelWithoutItsServerProgramIsSaidInTheStatusAndTheAnswer)
{
    REQUIRE_SAMPLE(sample);
    useModel("delta \"x\"\ndone\n");
    LocalLLM::Testing::setServerBinary(QString());
    open();
    ASSERT_EVENTUALLY(view->status()->text().contains(QStringLiteral("llama-server")), 5000);
    EXPECT_FALSE(view->status()->text().contains(QStringLiteral(u"جاهز")));
    shot("assistant-no-server.png");
    askTyped(question);
    ASSERT_EVENTUALLY(!view->isBusy(), 60000);
    ASSERT_EQ(view->answers().size(), 1);
    EXPECT_EQ(view->answers()[0].note, LocalLLM::msgNoServer);
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"لم يُعثر على برنامج llama-server"))) << transcript().toStdString();
}

TEST_F(AIChatEngineTest, stoppingTheEngineWhileItWritesKeepsWhatItWroteAndSaysTheReaderStoppedIt)
{
    REQUIRE_SAMPLE(sample);
    const auto [quotation, n] = quotationFor(question);
    ASSERT_GE(quotation.size(), 10);
    QString reply = QStringLiteral(u"قال: «") + quotation + QStringLiteral(u"» [") + QString::number(n) + u']';
    while (reply.size() <= 600)
        reply += u' ' + quotation;
    // The reply streams, then the engine thinks on until it is stopped.
    useModel(delta(reply) + "pause 120000\ndone\n");
    open();
    askTyped(question);
    ASSERT_EVENTUALLY(transcript().contains(quotation), 60000);
    std::unique_ptr<QMenu> menu(view->modelMenu());
    QAction* stop = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral(u"إيقاف المحرك (تحرير الذاكرة)"))
            stop = a;
    ASSERT_NE(stop, nullptr);
    stop->trigger();
    ASSERT_EVENTUALLY(!view->isBusy(), 20000);
    ASSERT_EQ(view->answers().size(), 1);
    const AIAnswer& answer = view->answers()[0];
    EXPECT_EQ(answer.tier, 1);
    EXPECT_TRUE(answer.text.contains(quotation)) << answer.text.toStdString();
    EXPECT_TRUE(transcript().contains(quotation));
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"أوقفتَ المحرك أثناء الكتابة"))) << transcript().toStdString();
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"تعذّر الاتصال بالنموذج")));
    shot("assistant-stopped-engine.png");
    PreferenceGuard night({Settings::nightReadingKey});
    Settings::setNightReading(true);
    Notifier::postReaderSettingsChanged();
    QCoreApplication::processEvents();
    shot("assistant-stopped-engine-night.png");
    Settings::setNightReading(false);
    Notifier::postReaderSettingsChanged();
}

TEST_F(AIChatEngineTest, theStatusFollowsTheEngineAndEscapeOrTheStopButtonEndTheWritingKeepingWhatWasVerified)
{
    REQUIRE_SAMPLE(sample);
    const auto [quotation, n] = quotationFor(question);
    ASSERT_GE(quotation.size(), 10);
    const QString ready = QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال");
    // A server that gives up at its start is said until the next one starts.
    useModel("exit 1\n");
    open();
    askTyped(question);
    ASSERT_EVENTUALLY(!view->isBusy(), 60000);
    EXPECT_TRUE(view->status()->text().startsWith(QStringLiteral(u"لم يبدأ المحرك المحلي"))) << view->status()->text().toStdString();

    QString reply = QStringLiteral(u"قال: «") + quotation + QStringLiteral(u"» [") + QString::number(n) + u']';
    while (reply.size() <= 600)
        reply += u' ' + quotation;
    useModel(delta(reply) + "pause 120000\ndone\n");
    for (const bool byKey : {true, false}) {
        askTyped(question);
        ASSERT_EVENTUALLY(transcript().contains(quotation) && !view->stopButton()->isHidden(), 60000);
        EXPECT_EQ(view->status()->text(), ready);
        if (byKey) {
            shot("assistant-writing.png");
            QTest::keyClick(view->input(), Qt::Key_Escape);
        } else {
            PreferenceGuard night({Settings::nightReadingKey});
            Settings::setNightReading(true);
            Notifier::postReaderSettingsChanged();
            QCoreApplication::processEvents();
            shot("assistant-writing-night.png");
            QTest::mouseClick(view->stopButton(), Qt::LeftButton);
            ASSERT_EVENTUALLY(!view->isBusy(), 20000);
            Settings::setNightReading(false);
            Notifier::postReaderSettingsChanged();
        }
        ASSERT_EVENTUALLY(!view->isBusy(), 20000);
        const AIAnswer& answer = view->answers().last();
        EXPECT_TRUE(answer.cutShort);
        EXPECT_EQ(answer.tier, 1);
        EXPECT_TRUE(answer.text.contains(quotation)) << answer.text.toStdString();
        EXPECT_TRUE(answer.note.value_or(QString()).startsWith(QStringLiteral(u"أوقفتَ الكتابة"))) << answer.note.value_or(QString()).toStdString();
        EXPECT_TRUE(view->stopButton()->isHidden());
        // The writing stopped, not the engine.
        EXPECT_EQ(view->status()->text(), ready);
    }
    EXPECT_EQ(view->answers().size(), 3);
}

TEST_F(AIChatEngineTest, aReplyWhoseProseIsUnsupportedIsHeadedAsTheQuotationsItKeeps)
{
    REQUIRE_SAMPLE(sample);
    const auto [quotation, n] = quotationFor(question);
    ASSERT_GE(quotation.size(), 10);
    QString reply = QStringLiteral(u"«") + quotation + QStringLiteral(u"» [") + QString::number(n) + u']';
    while (reply.size() <= 600)
        reply += QStringLiteral(u" وهذا رأي مبتكر يخترعه الحاسوب بلا سند ظاهر");
    useModel(delta(reply) + "done\n");
    open();
    askTyped(question);
    ASSERT_EVENTUALLY(!view->isBusy(), 60000);
    ASSERT_EQ(view->answers().size(), 1);
    ASSERT_TRUE(view->answers()[0].quotesOnly) << view->answers()[0].text.toStdString();
    EXPECT_TRUE(transcript().contains(QStringLiteral(u"اقتباسات اختارها النموذج المحلي من المصادر دون كلامه")));
    EXPECT_FALSE(transcript().contains(QStringLiteral(u"كتبه النموذج المحلي")));
}

TEST(AIChatStartTest, thePanelShowsBeforeTheSpeechEngineHasStartedWhichStartsOffTheGuiThread)
{
    preparePanels();
    SampleLib sample;
    REQUIRE_SAMPLE(sample);
    ScriptedDialogs dialogs;
    ScriptedAssistant assistant;
    // No voice yet: the next one is the "platform" engine, here one that
    // takes as long to start as the test lets it.
    Voice::installShared(nullptr);
    std::atomic<bool> release{false};
    std::atomic<QThread*> madeOn{nullptr};
    FakeSynthesizer* made = nullptr;
    const Voice::Factory previous = Voice::setPlatformFactory([&]() -> std::unique_ptr<SpeechSynthesizer> {
        madeOn = QThread::currentThread();
        for (int i = 0; i < 1000 && !release; ++i)
            QThread::msleep(10);
        auto fake = std::make_unique<FakeSynthesizer>();
        fake->why = QStringLiteral(u"القراءة بالصوت غير متاحة: لا مخرج للصوت");
        made = fake.get();
        return fake;
    });
    // A model is set; the search for its server program takes as long too.
    ScopedEnv model{"QUORVEL_NO_MODEL", std::nullopt};
    QTemporaryDir files;
    const QString modelPath = files.filePath(QStringLiteral("model.gguf"));
    QFile modelFile(modelPath);
    ASSERT_TRUE(modelFile.open(QIODevice::WriteOnly));
    modelFile.write("gguf");
    modelFile.close();
    Preferences::standard().set(QStringLiteral("localModelPath"), modelPath);
    LocalLLM::Testing::setServerBinary(std::nullopt);
    std::atomic<QThread*> searchedOn{nullptr};
    LocalLLM::Testing::setServerSearch([&]() -> std::optional<QString> {
        searchedOn = QThread::currentThread();
        for (int i = 0; i < 1000 && !release; ++i)
            QThread::msleep(10);
        return QStringLiteral(QUORVEL_FAKE_LLAMA_SERVER);
    });
    {
        MainWindowController w(sample.lib);
        w.assistant = assistant.fn();
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        HoverButton* sparkles = nullptr;
        for (HoverButton* b : w.topBar()->findChildren<HoverButton*>())
            if (b->toolTip() == QStringLiteral(u"البحث الذكي: اسأل الكتب"))
                sparkles = b;
        ASSERT_NE(sparkles, nullptr);
        QTest::mouseClick(sparkles, Qt::LeftButton);
        // The panel is in the window and painted while the engine still starts.
        ASSERT_EQ(w.tabs().size(), 1);
        auto* chat = qobject_cast<AIChatView*>(w.tabs().first()->view());
        ASSERT_NE(chat, nullptr);
        ASSERT_EVENTUALLY(chat->isVisible() && madeOn.load() != nullptr && searchedOn.load() != nullptr, 5000);
        EXPECT_FALSE(release.load());
        EXPECT_FALSE(Voice::isReady());
        EXPECT_FALSE(chat->grab().isNull());
        EXPECT_NE(madeOn.load(), QCoreApplication::instance()->thread());
        EXPECT_NE(searchedOn.load(), QCoreApplication::instance()->thread());
        EXPECT_TRUE(chat->status()->text().isEmpty()) << chat->status()->text().toStdString();
        // Once it has started, the status says what it can of it.
        release = true;
        EXPECT_EVENTUALLY(Voice::isReady(), 15000);
        EXPECT_EVENTUALLY(chat->status()->toolTip() == QStringLiteral(u"القراءة بالصوت غير متاحة: لا مخرج للصوت"), 5000)
            << chat->status()->toolTip().toStdString();
        EXPECT_EVENTUALLY(chat->status()->text() == QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال"), 5000)
            << chat->status()->text().toStdString();
        EXPECT_EQ(&Voice::shared(), &Voice::shared());
        EXPECT_NE(made, nullptr);
    }
    Voice::setPlatformFactory(previous);
    Voice::installShared(std::make_unique<FakeSynthesizer>());
    LocalLLM::Testing::setServerSearch({});
    Preferences::standard().remove(QStringLiteral("localModelPath"));
}
