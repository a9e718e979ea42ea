#include "AIChatViewFixture.h"

using namespace quorvel;
using namespace quorvel::test;

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
