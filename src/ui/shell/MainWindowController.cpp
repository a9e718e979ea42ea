// The main window's frame and top bar: the commands, the quick-search field
// with its classic and smart modes, the library's count, the page index's
// progress in the field, and the window's frame kept across runs.

#include "ui/shell/MainWindowController.h"

#include "core/Arabic.h"
#include "core/Build.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "search/PageIndex.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/PillView.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WrapLayout.h"
#include "distribution/LocalStore.h"
#include "ui/shell/PageIndexBuild.h"
#include "ui/shell/ProgressLine.h"
#include "ui/shell/SessionRestore.h"
#include "ui/shell/Sessions.h"
#include "ui/shell/SettingsWindowController.h"
#include "ui/shell/TabStrip.h"
#include "ui/shell/WelcomeView.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

namespace quorvel {

namespace {

constexpr QSize kWindowSize(1400, 860);
constexpr QSize kMinimumSize(980, 620);
constexpr char kFrameKeyPrefix[] = "windowFrame.";

constexpr int kTopBarHeight = 46;
constexpr int kCommandLeading = 8;
constexpr int kSearchTrailing = 10;
constexpr int kGroupGap = 12;
constexpr int kCommandSpacing = 2;
constexpr int kSearchSpacing = 8;
constexpr double kCommandSize = 21;
constexpr int kSearchFieldWidth = 290;
constexpr double kSearchFontSize = 13;
constexpr double kModeFontSize = 12;

constexpr char kPlaceholderClassic[] = "بحث في جميع الكتب";
constexpr char kIndexingPages[] = "فهرسة صفحات البحث: ";
constexpr char kNarratorsRefreshed[] = "حُدّثت أسانيد المكتبة";
constexpr char kPlaceholderSmart[] = "اسأل الكتب سؤالاً…";
constexpr char kModeClassic[] = "كلاسيكي";
constexpr char kModeSmart[] = "ذكي";
constexpr char kModeTip[] = "كلاسيكي: بحث بالكلمات · ذكي: اسأل الكتب واحصل على إجابة معزوّة";
constexpr char kPillTip[] = "عدد الكتب في المكتبة";
constexpr char kSourceTip[] = "صورة الأصل / تصدير PDF";

// The preference holding the main window's frame.
QString frameKey()
{
    return QString::fromLatin1(kFrameKeyPrefix) + QString::fromLatin1(MainWindowController::frameName);
}

} // namespace

MainWindowController::MainWindowController(std::shared_ptr<Library> lib, QWidget* parent)
    : QMainWindow(parent), lib_(std::move(lib))
{
    Q_ASSERT(lib_);
    onTerminate = [] { QCoreApplication::quit(); };

    topBar_ = new BarView;
    tabStrip_ = new TabStrip;
    host_ = new QWidget;
    welcome_ = new WelcomeView;
    searchField_ = new QLineEdit;
    pill_ = new PillView(Arabic::num(lib_->books().size()), Theme::emerald());
    parking_ = new QWidget(this);
    parking_->hide();

    setWindowTitle(QString::fromUtf8(displayName));
    resize(kWindowSize);
    setMinimumSize(kMinimumSize);
    restoreFrame();

    autosave_.setSingleShot(true);
    autosave_.setInterval(autosaveDelayMs);
    connect(&autosave_, &QTimer::timeout, this, [this] { storeSession(sessionJSON()); });

    sessions_ = new Sessions(*this);
    restorer_ = std::make_unique<SessionRestore>(*this);

    build();
    showWelcomeIfNeeded();
    connect(&Notifier::shared(), &Notifier::libraryChanged, this, &MainWindowController::libraryChanged);
    // The pill's count is written in the user's digits, which may change.
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this,
            [this] { pill_->setText(Arabic::num(lib_->books().size())); });
}

MainWindowController::~MainWindowController()
{
    // An index build stops after its current batch; what it did is kept.
    PageIndexBuild::shared().stop();
}

void MainWindowController::indexPagesIfNeeded()
{
    PageIndexBuild& builder = PageIndexBuild::shared();
    // Connected once per window, the connections ending with it: a build a
    // Downloads run asks for shows here too.
    if (!indexing_) {
        indexing_ = true;
        connect(&builder, &PageIndexBuild::progress, this, [this](qint64 done, qint64 total) {
            searchField_->setPlaceholderText(QString::fromUtf8(kIndexingPages) + Arabic::num(done)
                                             + QStringLiteral(" / ") + Arabic::num(total));
        });
        connect(&builder, &PageIndexBuild::finished, this, [this] { setSearchMode(searchMode()); });
        connect(&builder, &PageIndexBuild::failed, this, [this](const QString& problem) {
            setSearchMode(searchMode());
            Dialogs::alert(problem, QString(), this);
        });
        connect(&builder, &PageIndexBuild::narratorsRefreshed, this,
                [this](const QString& notice) { Dialogs::alert(QString::fromUtf8(kNarratorsRefreshed), notice, this); });
    }
    if (!lib_->isLocal()
        || (PageIndex::ready(lib_->main()) && !LocalStore::narratorsOutdated(lib_->main())
            && !LocalStore::normalFormOutdated(lib_->main())))
        return;
    builder.start(lib_->dbPath());
}

void MainWindowController::build()
{
    QPointer<MainWindowController> self(this);
    buildTopBar();

    tabStrip_->onSelect = [self](int i) {
        if (self)
            self->select(i);
    };
    tabStrip_->onClose = [self](int i) {
        if (self)
            self->close(i);
    };

    importLine_ = new ProgressLine;
    auto* content = vstack({topBar_, importLine_, tabStrip_, host_}, 0, StackView::Align::Fill);
    host_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* central = new QWidget;
    pin(central, content);
    setCentralWidget(central);
    pin(host_, welcome_);
    connectTopBar();
}

QList<ThemeColor> MainWindowController::commandColors() const
{
    // The buttons tint their symbols again when night reading switches the palette.
    return {Theme::accent(), Theme::gold()};
}

QWidget* MainWindowController::buildTopBar()
{
    QPointer<MainWindowController> self(this);
    auto command = [this](const char* symbol, const char* tip, QFont::Weight weight, std::function<void()> action) {
        HoverButton* button = iconButton(QString::fromLatin1(symbol), QString::fromUtf8(tip), kCommandSize,
                                         commandColors(), weight, std::move(action));
        commandSymbols_.append({button, QString::fromLatin1(symbol), weight});
        return button;
    };
    // The commands whose windows and menus are not part of the application
    // yet carry no action; they are wired when those exist.
    auto* commands = hstack(
        {
            command("books.vertical.fill", "الكتب", QFont::Normal,
                    [self] {
                        if (self)
                            self->showSearchWindow(SearchWindowController::Page::books);
                    }),
            command("book.fill", "القرآن الكريم", QFont::Normal,
                    [self] {
                        if (self)
                            self->openQuran();
                    }),
            command("magnifyingglass", "البحث", QFont::DemiBold,
                    [self] {
                        if (self)
                            self->showSearchWindow();
                    }),
            command("sparkles", "البحث الذكي: اسأل الكتب", QFont::Normal,
                    [self] {
                        if (self)
                            self->openAI();
                    }),
            command("square.and.pencil", "التعليقات والعلامات", QFont::Normal, nullptr),
            command("pencil.and.scribble", "المؤلّفون", QFont::Normal,
                    [self] {
                        if (self)
                            self->showSearchWindow(SearchWindowController::Page::authors);
                    }),
            command("square.and.arrow.down.fill", "حفظ الجلسة", QFont::Normal,
                    [self] {
                        if (self)
                            self->saveSession(true);
                    }),
            command("rectangle.on.rectangle", "النوافذ", QFont::Normal, nullptr),
            command("gearshape.fill", "الإعدادات", QFont::Normal,
                    [] { SettingsWindowController::show(Library::shared()); }),
            command("envelope.fill", "الإبلاغ عن خطأ", QFont::Normal, nullptr),
            command("leaf.fill", "عن مكتبة قورفل", QFont::Normal, nullptr),
        },
        kCommandSpacing);

    searchField_->setPlaceholderText(QString::fromUtf8(kPlaceholderClassic));
    searchField_->setFont(Theme::ui(kSearchFontSize));
    searchField_->setFixedWidth(kSearchFieldWidth);
    searchField_->setClearButtonEnabled(true);
    onAction(searchField_, [self](QObject*) {
        if (self)
            self->quickSearch();
    });

    const ThemeColor hit = Theme::hitSymbol();
    const ThemeColor hitFaint(Theme::withAlpha(hit.light(), 0.5), Theme::withAlpha(hit.dark(), 0.5));
    auto* source = iconButton(QStringLiteral("doc.richtext.fill"), QString::fromUtf8(kSourceTip), kCommandSize, {hit, hitFaint},
                              QFont::Normal, [self] {
                                  if (self)
                                      self->popUp(self->exportMenu());
                              });

    pill_->setToolTip(QString::fromUtf8(kPillTip));
    auto* search = hstack({buildModeSwitch(), searchField_, source, pill_}, kSearchSpacing);

    // Too narrow for both (large text), the search goes onto a line of its
    // own below the commands rather than lying over them.
    auto* row = new WrapLayout(topBar_, kGroupGap, kTopBarHeight);
    const bool rtl = topBar_->layoutDirection() == Qt::RightToLeft || QGuiApplication::isRightToLeft();
    row->setContentsMargins(rtl ? kSearchTrailing : kCommandLeading, 0, rtl ? kCommandLeading : kSearchTrailing, 0);
    row->addWidget(commands);
    row->addWidget(search);
    return topBar_;
}

QWidget* MainWindowController::buildModeSwitch()
{
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    modeSwitch_ = new QButtonGroup(box);
    modeSwitch_->setExclusive(true);
    const char* titles[] = {kModeClassic, kModeSmart};
    for (int segment = 0; segment < 2; ++segment) {
        auto* button = new QToolButton;
        button->setText(QString::fromUtf8(titles[segment]));
        button->setCheckable(true);
        button->setFont(Theme::ui(kModeFontSize, QFont::Medium));
        button->setFocusPolicy(Qt::TabFocus);
        modeSwitch_->addButton(button, segment);
        row->addWidget(button);
    }
    box->setToolTip(QString::fromUtf8(kModeTip));

    const int stored = int(Preferences::standard().integerValue(QString::fromLatin1(searchModeKey)));
    if (QAbstractButton* button = modeSwitch_->button(stored))
        button->setChecked(true);
    if (stored == 1)
        searchField_->setPlaceholderText(QString::fromUtf8(kPlaceholderSmart));

    QPointer<MainWindowController> self(this);
    connect(modeSwitch_, &QButtonGroup::idClicked, this, [self](int segment) {
        if (self)
            self->setSearchMode(segment);
    });
    return box;
}

int MainWindowController::searchMode() const
{
    return modeSwitch_->checkedId();
}

void MainWindowController::setSearchMode(int segment)
{
    if (QAbstractButton* button = modeSwitch_->button(segment); button && !button->isChecked())
        button->setChecked(true);
    Preferences::standard().set(QString::fromLatin1(searchModeKey), std::int64_t(segment));
    searchField_->setPlaceholderText(QString::fromUtf8(segment == 1 ? kPlaceholderSmart : kPlaceholderClassic));
}

void MainWindowController::libraryChanged()
{
    // Another database than the local store is never changed underneath us.
    if (!lib_->isLocal())
        return;
    lib_->reloadCatalog();
    pill_->setText(Arabic::num(lib_->books().size()));
    if (tabs_.isEmpty())
        showWelcomeIfNeeded();
}

void MainWindowController::focusSearch()
{
    searchField_->setFocus();
}

void MainWindowController::quickSearch()
{
    const QString text = Characters::trimSpacesAndTabs(searchField_->text()).toString();
    if (text.isEmpty())
        return;
    // The smart mode hands the question to the assistant.
    if (searchMode() == 1) {
        openAI(text);
        searchField_->clear();
        return;
    }
    SearchQuery query;
    if (text.size() >= 3 && text.startsWith(u'"') && text.endsWith(u'"'))
        query.andPhrases = {text.mid(1, text.size() - 2)};
    else
        query.andPhrases = text.split(u' ', Qt::SkipEmptyParts);
    runSearch(query);
}

void MainWindowController::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    closing_ = true;
    if (Settings::restoreSession())
        storeSession(sessionJSON());
    saveFrame();
    event->accept();
    if (onTerminate)
        onTerminate();
}

void MainWindowController::saveFrame()
{
    Preferences::standard().set(frameKey(), QString::fromLatin1(saveGeometry().toBase64()));
}

void MainWindowController::restoreFrame()
{
    const auto stored = Preferences::standard().string(frameKey());
    if (stored && !stored->isEmpty())
        restoreGeometry(QByteArray::fromBase64(stored->toLatin1()));
}

} // namespace quorvel
