#include "ui/assistant/AIChatView.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "assistant/LocalLLMDownloader.h"
#include "assistant/SmallTalk.h"
#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/assistant/ChatTranscript.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/Listener.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Voice.h"
#include "ui/kit/Widgets.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBrowser>

namespace quorvel {

namespace {

constexpr char kKindKey[] = "aiKind";

const QString txtMicTip = QStringLiteral(u"تكلم: اضغط وتحدث، ويرسل سؤالك حين تسكت");
const QString txtModelMenu = QStringLiteral(u"النموذج…");

// The accent of the appearance in force: emerald is lost on the night page.
QColor accent()
{
    return Theme::accent().resolve();
}

// Follows clicks on the transcript's links by their raw target, which
// QUrl would re-encode.
class LinkFilter : public QObject {
public:
    LinkFilter(QTextBrowser* view, AIChatView* panel) : QObject(view), view_(view), panel_(panel) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QString href
                = mouse->button() == Qt::LeftButton ? view_->anchorAt(mouse->position().toPoint()) : QString();
            if (!href.isEmpty() && panel_ && panel_->followLink(href))
                return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTextBrowser* view_;
    QPointer<AIChatView> panel_;
};

} // namespace

AIChatView::Assistant AIChatView::libraryAssistant(std::shared_ptr<Library> lib)
{
    return [lib](const QString& question, AIMode mode, const std::function<void(const QString&)>& onDelta) {
        return AIAssistant::run(*lib, question, mode, std::nullopt, onDelta);
    };
}

AIChatView::AIChatView(std::shared_ptr<Library> lib, Assistant assistant, QWidget* parent)
    : TabContent(parent), lib_(std::move(lib)), assistant_(std::move(assistant))
{
    Q_ASSERT(assistant_);
    build();
    kindChanged();
    welcome();
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, &AIChatView::applyAppearance);
    connect(&Notifier::shared(), &Notifier::localEngineChanged, this, &AIChatView::engineChanged);
    // The speech engine starts off the GUI thread, so that the panel shows at
    // once; the status says what it can once the engine is there.
    GuiJob::run(this, &AIChatView::checkModel, [](AIChatView& view, const ModelCheck& check) {
        view.modelChecked_ = true;
        if (!view.busy_ && !view.listener_ && !view.downloader_)
            view.showStatus(check);
    });
    QPointer<AIChatView> self(this);
    Voice::warmUp(this, [self] {
        if (self && !self->busy_ && !self->listener_)
            self->refreshStatus();
    });
}

AIChatView::~AIChatView()
{
    if (listener_)
        listener_->cancel();
}

QString AIChatView::title() const
{
    return QString::fromUtf8(tabTitle);
}

QString AIChatView::symbol() const
{
    return QString::fromLatin1(tabSymbol);
}

Json::Value AIChatView::sessionJSON() const
{
    Json::Value entry = Json::Value::object();
    entry["k"] = sessionKind;
    return entry;
}

bool AIChatView::restore(const Json::Value& entry)
{
    return Json::strictString(entry, "k").value_or(QString()) == QLatin1String(sessionKind);
}

QLabel* AIChatView::status() const
{
    return status_;
}

namespace {

const QString txtTitle = QStringLiteral(u"البحث الذكي");
const QString txtKindLabel = QStringLiteral(u"نوع التقرير");
const QString txtPlaceholder = QStringLiteral(u"اسأل الكتب… مثال: ما شروط وجوب الزكاة؟");
const QString txtSendTip = QStringLiteral(u"اسأل");
const QString txtExport = QStringLiteral(u"تصدير…");
const QString txtExportTip = QStringLiteral(u"تصدير آخر تقرير: وورد، أو PDF، أو صفحة ويب");
const QString txtStopAnswer = QStringLiteral(u"إيقاف الكتابة");
const QString txtStopAnswerTip = QStringLiteral(u"إيقاف الإجابة الجارية، ويبقى منها ما طابق مصادره (Esc)");
constexpr int kTopBarHeight = 44;
constexpr int kBottomBarHeight = 54;
constexpr int kInputHeight = 36;
constexpr int kProgressWidth = 160;

} // namespace

void AIChatView::build()
{
    QPointer<AIChatView> self(this);
    auto guarded = [self](void (AIChatView::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };

    // The top bar.
    auto* topBar = new BarView;
    topBar->setFixedHeight(kTopBarHeight);
    sparkle_ = new QLabel;
    kindPopup_ = new QComboBox;
    kindPopup_->setFont(Theme::ui(13, QFont::Medium));
    for (const AIMode& mode : AIMode::allCases()) {
        kindPopup_->addItem(mode.title(), mode.rawValue());
        kindPopup_->setItemData(kindPopup_->count() - 1, mode.help(), Qt::ToolTipRole);
    }
    const std::optional<QString> stored = Preferences::standard().string(QString::fromLatin1(kKindKey));
    const int storedIndex = stored ? kindPopup_->findData(*stored) : -1;
    kindPopup_->setCurrentIndex(qMax(storedIndex, 0));
    onAction(kindPopup_, [self](QObject*) {
        if (self)
            self->kindChanged();
    });
    status_ = label(QString(), 12, QFont::Normal, Theme::secondaryLabel());
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(kProgressWidth);
    progress_->setFixedHeight(8);
    progress_->hide();
    modelBtn_ = new QPushButton(txtModelMenu);
    modelBtn_->setFont(Theme::ui(12));
    onAction(modelBtn_, [self](QObject*) {
        if (!self)
            return;
        QMenu* menu = self->modelMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(self->modelBtn_->mapToGlobal(QPoint(0, self->modelBtn_->height() + 4)));
    });
    titleLabel_ = label(txtTitle, 16, QFont::Bold);
    auto* topRow = hstack({sparkle_, titleLabel_,
                           label(txtKindLabel, 13, QFont::Medium), kindPopup_, spacer(), status_, progress_, modelBtn_},
                          10);
    pin(topBar, topRow, {6, 12, 6, 12});

    // The transcript.
    transcript_ = new QTextBrowser;
    transcript_->setOpenLinks(false);
    transcript_->setOpenExternalLinks(false);
    transcript_->setReadOnly(true);
    transcript_->setLayoutDirection(Qt::RightToLeft);
    transcript_->setFrameShape(QFrame::NoFrame);
    QTextDocument* document = transcript_->document();
    QTextOption option = document->defaultTextOption();
    option.setTextDirection(Qt::RightToLeft);
    option.setAlignment(RichText::right);
    document->setDefaultTextOption(option);
    transcript_->viewport()->installEventFilter(new LinkFilter(transcript_, this));
    applyColors();

    // The bottom bar.
    input_ = new QLineEdit;
    input_->setPlaceholderText(txtPlaceholder);
    input_->setFont(Theme::reader(19));
    input_->setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
    input_->setLayoutDirection(Qt::RightToLeft);
    input_->setFixedHeight(kInputHeight);
    input_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    onAction(input_, [self](QObject*) {
        if (self)
            self->askNow();
    });
    sendBtn_ = iconButton(QStringLiteral("arrow.up.circle.fill"), txtSendTip, 26, guarded(&AIChatView::askNow));
    exportBtn_ = textButton(txtExport, QStringLiteral("square.and.arrow.up"), [self] {
        if (!self)
            return;
        if (QMenu* menu = self->exportMenu()) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(self->exportBtn_->mapToGlobal(QPoint(0, self->exportBtn_->height() + 4)));
        }
    });
    exportBtn_->setToolTip(txtExportTip);
    exportBtn_->setEnabled(false);
    stopBtn_ = textButton(txtStopAnswer, QStringLiteral("stop.circle.fill"), guarded(&AIChatView::stopAnswer));
    stopBtn_->setToolTip(txtStopAnswerTip);
    stopBtn_->hide();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &AIChatView::stopAnswer);
    micBtn_ = iconButton(QStringLiteral("mic.fill"), txtMicTip, 22, guarded(&AIChatView::toggleMic));
    setListening(false);
    auto* bottomBar = new BarView;
    bottomBar->setFixedHeight(kBottomBarHeight);
    auto* bottomRow = hstack({micBtn_, input_, sendBtn_, stopBtn_, exportBtn_}, 8);
    pin(bottomBar, bottomRow, {8, 12, 8, 12});

    pin(this, vstack({topBar, transcript_, bottomBar}, 0, StackView::Align::Fill));
}

void AIChatView::kindChanged()
{
    const AIMode m = kind();
    input_->setPlaceholderText(m.hint());
    kindPopup_->setToolTip(m.help());
    Preferences::standard().set(QString::fromLatin1(kKindKey), m.rawValue());
}

AIMode AIChatView::kind() const
{
    return AIMode::allCases().value(qMax(kindPopup_->currentIndex(), 0), AIMode::automatic);
}

void AIChatView::setKind(AIMode mode)
{
    kindPopup_->setCurrentIndex(qMax<int>(int(AIMode::allCases().indexOf(mode)), 0));
    kindChanged();
}

AIChatView::ModelCheck AIChatView::checkModel()
{
    ModelCheck check;
    check.hasModel = LocalLLM::hasModel();
    check.hasServer = check.hasModel && LocalLLM::serverBinary().has_value();
    check.canDownload = LocalLLM::downloadConfigured();
    return check;
}

void AIChatView::refreshStatus()
{
    if (modelChecked_)
        showStatus(checkModel());
}

namespace {

const QString txtReady = QStringLiteral(u"المحرك المحلي جاهز · يعمل على جهازك دون اتصال");
const QString txtNoServer = QStringLiteral(u"النموذج المحلي لا يعمل: لم يُعثر على برنامج llama-server · الإجابات مقتطفات من الكتب");
const QString txtEngineStopped = QStringLiteral(u"المحرك المحلي متوقف · يعمل من جديد مع سؤالك التالي");
const QString txtStarting = QStringLiteral(u"جاري تشغيل المحرك المحلي…");
const QString txtNotStarted = QStringLiteral(u"لم يبدأ المحرك المحلي: ");
const QString txtNotStartedAfter = QStringLiteral(u" · الإجابات مقتطفات من الكتب، ويُعاد تشغيله مع سؤالك التالي");
const QString txtNoModel = QStringLiteral(u"دون نموذج: إجابات مستخلصة من الكتب مباشرة");
const QString txtDownloadModel = QStringLiteral(u"تنزيل النموذج العربي (%1GB)");
constexpr double kDownloadModelGB = 1.7;
const QString txtModelFromDisk = QStringLiteral(u"نموذج من الجهاز…");

} // namespace

void AIChatView::showStatus(const ModelCheck& check)
{
    // Until the speech engine has started there is nothing to say about it.
    const QString unavailable = Voice::isReady() ? Voice::shared().unavailable() : QString();
    if (check.hasModel && !check.hasServer) {
        status_->setText(txtNoServer);
        status_->setToolTip(LocalLLM::msgNoServer);
        modelBtn_->setText(txtModelMenu);
        return;
    }
    if (check.hasModel) {
        // A server given up on is said, with why, until a start succeeds.
        const QString failure = LocalLLM::lastStartFailure();
        status_->setText(LocalLLM::isStarting() ? txtStarting
                         : engineStopped_       ? txtEngineStopped
                         : failure.isEmpty()    ? txtReady
                                                : txtNotStarted + failure + txtNotStartedAfter);
        modelBtn_->setText(txtModelMenu);
    } else {
        status_->setText(txtNoModel);
        modelBtn_->setText(check.canDownload ? txtDownloadModel.arg(Arabic::decimal(kDownloadModelGB, 1))
                                             : txtModelFromDisk);
    }
    // Without an engine that can speak, the listen links do nothing: say so.
    status_->setToolTip(unavailable);
}

void AIChatView::engineChanged()
{
    if (!listener_ && !downloader_)
        refreshStatus();
}

void AIChatView::focus()
{
    input_->setFocus(Qt::OtherFocusReason);
}

void AIChatView::ask(const QString& text)
{
    input_->setText(text);
    askNow();
}

void AIChatView::scrollToEnd()
{
    QScrollBar* bar = transcript_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void AIChatView::applyColors()
{
    sparkle_->setPixmap(Theme::symbolPixmap(QStringLiteral("sparkles"), 18, {Theme::gold(), accent()}));
    QPalette title = titleLabel_->palette();
    title.setColor(QPalette::WindowText, accent());
    titleLabel_->setPalette(title);
    QPalette page = transcript_->palette();
    page.setColor(QPalette::Base, Theme::parchment());
    page.setColor(QPalette::Link, accent());
    transcript_->setPalette(page);
}

void AIChatView::applyAppearance()
{
    applyColors();
    rewrite();
}

void AIChatView::rewrite()
{
    // Colours are baked into the document's runs (and a chart's picture), so
    // the conversation is written again rather than repainted.
    QScrollBar* bar = transcript_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int scrolled = bar->value();
    welcome();
    for (const Entry& entry : std::as_const(entries_)) {
        switch (entry.kind) {
        case Entry::Kind::question:
            writeQuestion(entry.text);
            break;
        case Entry::Kind::reply:
            writeReply(entry.text, entry.examples);
            break;
        case Entry::Kind::answer:
            writeAnswer(entry.answer);
            break;
        }
    }
    if (busy_)
        writeLive();
    if (speakingIndex_ && Voice::shared().isSpeaking())
        showReading(speakingIndex_);
    if (atEnd)
        scrollToEnd();
    else
        bar->setValue(scrolled);
}

void AIChatView::writeAnswer(int index)
{
    RichTextBuilder out(transcript_->document());
    ChatTranscript::sender(out);
    writeAnswerText(out, index);
}

void AIChatView::writeAnswerText(RichTextBuilder& out, int index)
{
    ChatTranscript::answer(out, answers_[index], index, lib_ ? lib_->catalog() : nullptr);
}

void AIChatView::writeLive()
{
    liveStart_ = ChatTranscript::live(transcript_->document(), waitingLine_, live_);
}

void AIChatView::welcome()
{
    ChatTranscript::welcome(transcript_->document());
}

QString AIChatView::askLink(const QString& question)
{
    return AnswerRenderer::askLink(question);
}

void AIChatView::appendQuestion(const QString& question)
{
    entries_.append({Entry::Kind::question, question});
    writeQuestion(question);
    scrollToEnd();
}

void AIChatView::writeQuestion(const QString& question)
{
    constexpr double kBubbleFallbackWidth = 1100;

    const double viewport = transcript_->viewport()->width();
    const double width = viewport > 200 ? viewport : (window() && window() != this ? window()->width() : kBubbleFallbackWidth);
    ChatTranscript::question(transcript_->document(), question, width);
}

void AIChatView::appendReply(const QString& text, bool examples, bool speakIt)
{
    entries_.append({Entry::Kind::reply, text, examples});
    writeReply(text, examples);
    scrollToEnd();
    if (speakIt)
        Voice::shared().speak(text);
}

void AIChatView::writeReply(const QString& text, bool examples)
{
    ChatTranscript::reply(transcript_->document(), text, examples);
}

AIChatView::Plan AIChatView::plan(const QString& text, AIMode kind, const std::optional<QString>& lastTopic,
                                  const std::optional<AIMode>& lastMode)
{
    return Intent::plan(text, kind, lastTopic, lastMode);
}

void AIChatView::askNow()
{
    const QString text = input_->text().trimmed();
    if (text.isEmpty() || busy_)
        return;
    Voice::shared().stop();
    showReading(std::nullopt);
    const bool fromVoice = voiceTurn_;
    voiceTurn_ = false;
    input_->clear();

    QString question = text;
    if (const auto smallTalk = SmallTalk::split(text)) {
        const auto& [talk, rest] = *smallTalk;
        const bool hasQuestion
            = kind() == AIMode::data ? !rest.isEmpty() : Characters::count(rest, 3) >= 3;
        appendQuestion(text);
        appendReply(SmallTalk::reply(talk, hasQuestion),
                    talk == SmallTalk::Kind::help || talk == SmallTalk::Kind::who, fromVoice && !hasQuestion);
        if (!hasQuestion) {
            focus();
            return;
        }
        if (fromVoice)
            Voice::shared().speak(SmallTalk::reply(talk, true));
        question = rest;
    } else {
        appendQuestion(text);
    }

    busy_ = true;
    sendBtn_->setEnabled(false);
    // A question the model answers starts the engine again.
    engineStopped_ = false;
    engineChanged();
    const Plan p = plan(question, kind(), lastTopic_, lastMode_);

    waitingLine_ = true;
    live_.clear();
    writeLive();
    pending_.clear();
    scrollToEnd();

    const std::uint64_t id = ++question_;
    QPointer<AIChatView> self(this);
    Assistant assistant = assistant_;
    // The pieces and the answer are all sent from the worker, so they arrive
    // in the order they were sent, the answer last; the panel may close
    // meanwhile.
    GuiJob::run(
        this,
        [self, assistant, p, id] {
            auto onDelta = [self, id](const QString& piece) {
                GuiJob::post(self, [id, piece](AIChatView& view) { view.receivePiece(id, piece); });
            };
            return assistant(p.question, p.mode, onDelta);
        },
        [id, p, fromVoice](AIChatView& view, AIAnswer answer) {
            view.finishQuestion(id, std::move(answer), p, fromVoice);
        });
}

void AIChatView::removeLive()
{
    ChatTranscript::removeFrom(transcript_->document(), liveStart_);
}

void AIChatView::receivePiece(std::uint64_t id, const QString& piece)
{
    // A piece of an answer already shown (or of an older question) is late.
    if (id != question_ || id <= completed_ || piece.isEmpty())
        return;
    pending_ += piece;
    if (flushQueued_)
        return;
    flushQueued_ = true;
    // Pieces that arrive in one turn of the event loop are shown together.
    QMetaObject::invokeMethod(this, &AIChatView::flushPieces, Qt::QueuedConnection);
}

void AIChatView::flushPieces()
{
    flushQueued_ = false;
    if (pending_.isEmpty() || !busy_)
        return;
    if (waitingLine_) {
        removeLive();
        waitingLine_ = false;
        stopBtn_->setEnabled(true);
        stopBtn_->show();
    }
    ChatTranscript::livePiece(transcript_->document(), pending_);
    live_ += pending_;
    pending_.clear();
    scrollToEnd();
}

void AIChatView::finishQuestion(std::uint64_t id, AIAnswer a, const Plan& p, bool fromVoice)
{
    if (id != question_ || id <= completed_)
        return;
    completed_ = id;
    pending_.clear();
    waitingLine_ = false;
    a.routed = p.routed;
    a.topic = p.topic;
    a.followUp = p.follow;
    const int index = int(answers_.size());

    removeLive();
    live_.clear();
    answers_.append(a);
    entries_.append({Entry::Kind::answer, QString(), false, index});
    {
        // The answer follows the sender line the live region began with.
        RichTextBuilder out(transcript_->document());
        writeAnswerText(out, index);
    }
    scrollToEnd();

    if (fromVoice)
        speak(index);
    lastTopic_ = p.topic;
    lastMode_ = p.mode;
    busy_ = false;
    stopBtn_->hide();
    sendBtn_->setEnabled(true);
    exportBtn_->setEnabled(true);
    refreshStatus();
    focus();
}

void AIChatView::stopAnswer()
{
    if (!busy_ || stopBtn_->isHidden() || !stopBtn_->isEnabled())
        return;
    stopBtn_->setEnabled(false);
    LocalLLM::stopReply();
}

bool AIChatView::followLink(const QString& href)
{
    const QString speakPrefix = QString::fromLatin1(AnswerRenderer::speakLinkPrefix);
    const QString askPrefix = QString::fromLatin1(AnswerRenderer::askLinkPrefix);
    if (href.startsWith(speakPrefix)) {
        bool ok = false;
        const int n = href.mid(speakPrefix.size()).toInt(&ok, 10);
        if (ok)
            speak(n);
        return true;
    }
    if (href.startsWith(askPrefix)) {
        if (busy_)
            return true;
        const std::optional<QString> question = AnswerRenderer::percentDecoded(href.mid(askPrefix.size()));
        if (!question)
            return true;
        setKind(AIMode::automatic);
        input_->setText(*question);
        askNow();
        return true;
    }
    QString rest = href;
    rest.remove(QString::fromLatin1(AnswerRenderer::pageLinkPrefix));
    // The words the citation quotes follow the page, after a hash.
    const qsizetype hash = rest.indexOf(u'#');
    const std::optional<QString> words =
        hash < 0 ? std::optional<QString>(QString()) : AnswerRenderer::percentDecoded(rest.mid(hash + 1));
    if (hash >= 0)
        rest.truncate(hash);
    QList<long long> numbers;
    for (const QString& piece : rest.split(u'/', Qt::SkipEmptyParts)) {
        bool ok = false;
        const long long n = piece.toLongLong(&ok, 10);
        if (ok)
            numbers.append(n);
    }
    if (numbers.size() != 2 || !words)
        return false;
    if (onOpen)
        onOpen(numbers[0], numbers[1], *words);
    return true;
}

void AIChatView::speak(int index)
{
    if (index < 0 || index >= answers_.size())
        return;
    Voice& voice = Voice::shared();
    if (const QString why = voice.unavailable(); !why.isEmpty()) {
        status_->setText(why);
        return;
    }
    if (speakingIndex_ == index && voice.isSpeaking()) {
        voice.stop();
        showReading(std::nullopt);
        return;
    }
    speakingIndex_ = index;
    QPointer<AIChatView> self(this);
    // The end of an utterance this panel started; a stop that only made way
    // for the next one leaves the voice speaking.
    // The stop shows while the engine itself says it is sounding, which may
    // begin a while after the text was handed over.
    voice.onSpeaking = [self, index](bool speaking) {
        if (!self)
            return;
        if (speaking && Voice::shared().isSpeaking() && self->speakingIndex_ == index)
            self->showReading(index);
        else if (!speaking && !Voice::shared().isSpeaking())
            self->showReading(std::nullopt);
    };
    voice.speak(answers_[index].text);
    showReading(voice.isSpeaking() ? std::optional<int>(index) : std::nullopt);
}

void AIChatView::showReading(std::optional<int> index)
{
    ChatTranscript::showReading(transcript_->document(), index);
}

AnswerExport::Render AIChatView::exportRenderer()
{
    return [](RichTextBuilder& out, const AIAnswer& answer, bool docxMarkers, bool exporting) {
        AnswerRenderer::Options options;
        options.docxMarkers = docxMarkers;
        options.exporting = exporting;
        options.hasModel = LocalLLM::hasModel();
        options.canDownloadModel = LocalLLM::downloadConfigured();
        // The sources read as in the panel, told apart by the same catalogue.
        if (const std::shared_ptr<Library> lib = Library::shared())
            options.catalog = lib->catalog();
        AnswerRenderer::render(out, answer, options);
    };
}

void AIChatView::exportAnswer(const AIAnswer& answer, const QString& path, AnswerExport::ExportFormat format)
{
    AnswerExport::exportAnswer(answer, path, format, exportRenderer());
}

namespace {

const QString txtExportDocx = QStringLiteral(u"مستند وورد (docx)…");
const QString txtExportPdf = QStringLiteral(u"ملف PDF…");
const QString txtExportHtml = QStringLiteral(u"صفحة ويب (HTML)…");
const QString txtExportCsv = QStringLiteral(u"جدول بيانات لإكسل (CSV)…");

} // namespace

QMenu* AIChatView::exportMenu()
{
    if (answers_.isEmpty())
        return nullptr;
    auto* menu = new QMenu(this);
    QPointer<AIChatView> self(this);
    auto item = [&](const QString& title, const char* format) {
        const QString name = QString::fromLatin1(format);
        QAction* action = menuItem(
            title, QString(),
            [self, name] {
                if (self && self->exportLast)
                    self->exportLast(name);
            },
            menu);
        action->setEnabled(bool(exportLast));
        menu->addAction(action);
    };
    item(txtExportDocx, "docx");
    item(txtExportPdf, "pdf");
    item(txtExportHtml, "html");
    if (!answers_.last().tables.isEmpty())
        item(txtExportCsv, "csv");
    return menu;
}

// ---------------------------------------------------------------------------
// The microphone

namespace {

const QString txtMicStopTip = QStringLiteral(u"إيقاف الاستماع وإرسال ما قلته");
const QString txtNoDictationTip = QStringLiteral(u"الإملاء العربي غير متاح على هذا النظام: لا يوجد فيه معرِّف للكلام العربي");
const QString txtListening = QStringLiteral(u"أستمع… (الإملاء على جهازك)");

} // namespace

void AIChatView::setListening(bool on)
{
    if (on) {
        micBtn_->setSymbol(QStringLiteral("stop.circle.fill"), 22, {Theme::title(), Theme::title()});
        micBtn_->setToolTip(txtMicStopTip);
        micBtn_->setEnabled(true);
        status_->setText(txtListening);
    } else {
        // Without a recogniser the microphone could only fail: it stays, greyed, and says why.
        const bool canDictate = Listener::hasRecogniser();
        micBtn_->setSymbol(QStringLiteral("mic.fill"), 22, {Theme::accent(), Theme::gold()});
        micBtn_->setToolTip(canDictate ? txtMicTip : txtNoDictationTip);
        micBtn_->setEnabled(canDictate);
    }
}

namespace {

const QString txtListeningPlaceholder = QStringLiteral(u"أستمع… تكلم، وسأرسل سؤالك حين تسكت");
const QString txtCannotListen = QStringLiteral(u"تعذر الاستماع");

} // namespace

void AIChatView::toggleMic()
{
    if (listener_) {
        listener_->stop();
        return;
    }
    Voice::shared().stop();
    listener_ = makeListener ? makeListener() : std::make_unique<Listener>();
    setListening(true);
    placeholder_ = input_->placeholderText();
    input_->setPlaceholderText(txtListeningPlaceholder);
    QPointer<AIChatView> self(this);
    listener_->onState = [self](const QString& text) {
        if (self)
            self->status_->setText(text);
    };
    listener_->onText = [self](const QString& text) {
        if (self)
            self->input_->setText(text);
    };
    listener_->onEnd = [self](const QString& text) {
        if (self)
            self->listeningEnded(text);
    };
    try {
        listener_->start();
    } catch (const UserError& error) {
        // Hand the listener over to be dropped after its own calls unwind.
        listener_->cancel();
        listener_.release()->deleteLater();
        setListening(false);
        input_->setPlaceholderText(placeholder_);
        refreshStatus();
        Dialogs::alert(txtCannotListen, error.message(), window());
    }
}

void AIChatView::listeningEnded(const QString& text)
{
    if (listener_)
        listener_.release()->deleteLater();
    setListening(false);
    input_->setPlaceholderText(placeholder_);
    refreshStatus();
    const QString t = text.trimmed();
    if (t.isEmpty())
        return;
    input_->setText(t);
    voiceTurn_ = true;
    askNow();
}

// ---------------------------------------------------------------------------
// The local model

namespace {

const QString txtStopDownload = QStringLiteral(u"إيقاف التنزيل");
const QString txtDownloadItem = QStringLiteral(u"تنزيل: ");
const QString txtChooseFile = QStringLiteral(u"اختيار ملف نموذج GGUF من الجهاز…");
const QString txtCurrentModel = QStringLiteral(u"النموذج الحالي: ");
const QString txtStopEngine = QStringLiteral(u"إيقاف المحرك (تحرير الذاكرة)");

} // namespace

QMenu* AIChatView::modelMenu()
{
    auto* menu = new QMenu(this);
    QPointer<AIChatView> self(this);
    if (downloader_) {
        menu->addAction(menuItem(
            txtStopDownload, QString(),
            [self] {
                if (self)
                    self->stopDownload();
            },
            menu));
    } else if (!LocalLLM::downloadConfigured()) {
        QAction* none = menu->addAction(LocalLLM::msgNoDownloadSource);
        none->setEnabled(false);
    } else {
        for (const LocalLLM::ModelInfo& info : LocalLLM::catalog()) {
            const QString title = txtDownloadItem + info.title + QString::fromUtf8(CountedNoun::separator)
                + Arabic::decimal(double(info.bytes) / 1e9, 1) + QStringLiteral("GB");
            menu->addAction(menuItem(
                title, QString(),
                [self, info] {
                    if (self)
                        self->download(info);
                },
                menu));
        }
    }
    menu->addAction(menuItem(
        txtChooseFile, QString(),
        [self] {
            if (self)
                self->chooseModelFile();
        },
        menu));
    if (const std::optional<QString> path = LocalLLM::modelPath()) {
        menu->addSeparator();
        QAction* current = menu->addAction(txtCurrentModel + QFileInfo(*path).fileName());
        current->setEnabled(false);
        menu->addAction(menuItem(
            txtStopEngine, QString(),
            [self] {
                LocalLLM::stop();
                if (self) {
                    self->engineStopped_ = true;
                    self->refreshStatus();
                }
            },
            menu));
    }
    return menu;
}

namespace {

constexpr char kModelPathKey[] = "localModelPath";
const QString txtChooseMessage = QStringLiteral(u"اختر نموذجا بصيغة GGUF");

} // namespace

void AIChatView::chooseModelFile()
{
    const std::optional<QString> path = Dialogs::openFile(txtChooseMessage, QString(), window());
    if (!path || QFileInfo(*path).suffix().toLower() != QLatin1String("gguf"))
        return;
    Preferences::standard().set(QString::fromLatin1(kModelPathKey), *path);
    LocalLLM::stop();
    engineStopped_ = false;
    refreshStatus();
}

void AIChatView::stopDownload()
{
    // Let go of the download before cancelling it: its cancelled end is then
    // no longer the current download's and changes nothing here.
    QPointer<LocalLLM::Downloader> stopped = downloader_;
    downloader_ = nullptr;
    progress_->hide();
    refreshStatus();
    if (stopped)
        stopped->cancel();
}

namespace {

const QString txtDownloading = QStringLiteral(u"جاري تنزيل النموذج ");
const QString txtDownloaded = QStringLiteral(u"اكتمل تنزيل النموذج");
const QString txtDownloadedText = QStringLiteral(u"صار البحث الذكي يكتب إجابات بنص عربي معزو، على جهازك دون اتصال.");
const QString txtDownloadFailed = QStringLiteral(u"تعذر التنزيل");

} // namespace

void AIChatView::download(const LocalLLM::ModelInfo& info)
{
    auto* d = new LocalLLM::Downloader(info, this);
    downloader_ = d;
    progress_->setValue(0);
    progress_->show();
    QPointer<AIChatView> self(this);
    connect(d, &LocalLLM::Downloader::progress, this, [self, d](double fraction) {
        // Each download speaks only while it is the current one.
        if (!self || self->downloader_ != d)
            return;
        self->progress_->setValue(int(fraction * self->progress_->maximum()));
        self->status_->setText(txtDownloading + Arabic::num((long long)(fraction * 100)) + u'٪');
    });
    connect(d, &LocalLLM::Downloader::done, this, [self, d](const LocalLLM::DownloadResult& result) {
        d->deleteLater();
        if (!self || self->downloader_ != d)
            return;
        self->downloader_ = nullptr;
        self->progress_->hide();
        self->refreshStatus();
        if (result.succeeded())
            Dialogs::alert(txtDownloaded, txtDownloadedText, self->window());
        else
            Dialogs::alert(txtDownloadFailed, result.description(), self->window());
    });
    if (prepareDownloader)
        prepareDownloader(*d);
    d->start();
}

} // namespace quorvel
