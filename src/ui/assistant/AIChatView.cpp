// The assistant tab's layout and wiring: the top bar with the answer
// mode, the transcript and the bottom bar with the field, and the tab's
// session entry and colours.

#include "ui/assistant/AIChatView.h"

#include "assistant/AIAssistant.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "ui/kit/BarView.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/Listener.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Voice.h"
#include "ui/kit/Widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>

namespace quorvel {

namespace {

constexpr char kKindKey[] = "aiKind";

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
const QString txtStopAnswer = QStringLiteral(u"إيقاف الكتابة");
const QString txtStopAnswerTip = QStringLiteral(u"إيقاف الإجابة الجارية، ويبقى منها ما طابق مصادره (Esc)");
constexpr int kTopBarHeight = 44;
constexpr int kBottomBarHeight = 54;
constexpr int kInputHeight = 36;

} // namespace

void AIChatView::build()
{
    QWidget* topBar = buildTopBar();
    buildTranscript();
    QWidget* bottomBar = buildBottomBar();
    pin(this, vstack({topBar, transcript_, bottomBar}, 0, StackView::Align::Fill));
}

QWidget* AIChatView::buildTopBar()
{
    auto* topBar = new BarView;
    topBar->setFixedHeight(kTopBarHeight);
    sparkle_ = new QLabel;
    buildKindPopup();
    status_ = label(QString(), 12, QFont::Normal, Theme::secondaryLabel());
    buildModelControls();
    titleLabel_ = label(txtTitle, 16, QFont::Bold);
    auto* topRow = hstack({sparkle_, titleLabel_,
                           label(txtKindLabel, 13, QFont::Medium), kindPopup_, spacer(), status_, progress_, modelBtn_},
                          10);
    pin(topBar, topRow, {6, 12, 6, 12});
    return topBar;
}

void AIChatView::buildKindPopup()
{
    kindPopup_ = new QComboBox;
    kindPopup_->setFont(Theme::ui(13, QFont::Medium));
    for (const AIMode& mode : AIMode::allCases()) {
        kindPopup_->addItem(mode.title(), mode.rawValue());
        kindPopup_->setItemData(kindPopup_->count() - 1, mode.help(), Qt::ToolTipRole);
    }
    const std::optional<QString> stored = Preferences::standard().string(QString::fromLatin1(kKindKey));
    const int storedIndex = stored ? kindPopup_->findData(*stored) : -1;
    kindPopup_->setCurrentIndex(qMax(storedIndex, 0));
    QPointer<AIChatView> self(this);
    onAction(kindPopup_, [self](QObject*) {
        if (self)
            self->kindChanged();
    });
}

void AIChatView::buildTranscript()
{
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
}

QWidget* AIChatView::buildBottomBar()
{
    QPointer<AIChatView> self(this);
    auto guarded = [self](void (AIChatView::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };

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
    buildExportButton();
    stopBtn_ = textButton(txtStopAnswer, QStringLiteral("stop.circle.fill"), guarded(&AIChatView::stopAnswer));
    stopBtn_->setToolTip(txtStopAnswerTip);
    stopBtn_->hide();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &AIChatView::stopAnswer);
    buildMicButton();
    auto* bottomBar = new BarView;
    bottomBar->setFixedHeight(kBottomBarHeight);
    auto* bottomRow = hstack({micBtn_, input_, sendBtn_, stopBtn_, exportBtn_}, 8);
    pin(bottomBar, bottomRow, {8, 12, 8, 12});
    return bottomBar;
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

void AIChatView::focus()
{
    input_->setFocus(Qt::OtherFocusReason);
}

void AIChatView::ask(const QString& text)
{
    input_->setText(text);
    askNow();
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

} // namespace quorvel
