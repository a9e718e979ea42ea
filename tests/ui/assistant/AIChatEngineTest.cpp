#include "AIChatViewFixture.h"

using namespace quorvel;
using namespace quorvel::test;

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
    // The transcript shows the page's numbers in the reader's digits.
    const QString shown = Arabic::digits(quotation);
    ASSERT_EVENTUALLY(transcript().contains(shown), 60000);
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
    EXPECT_TRUE(transcript().contains(shown));
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
        ASSERT_EVENTUALLY(transcript().contains(Arabic::digits(quotation)) && !view->stopButton()->isHidden(), 60000);
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
