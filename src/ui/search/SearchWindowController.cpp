#include "ui/search/SearchWindowController.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/ColorView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/SearchWindowOwner.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WrapLayout.h"
#include "ui/search/PickerActions.h"
#include "ui/search/PickerMenus.h"
#include "ui/search/PickerModel.h"
#include "ui/search/PickerRowDelegate.h"
#include "ui/search/SideButton.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kWindowTitle[] = "البحث";
constexpr char kFrameKeyPrefix[] = "windowFrame.";

const char* const kPageTitles[SearchWindowController::pageCount] = {
    "الكتب", "التصنيف", "المؤلفون", "فترة", "المفضلة", "مؤخرا", "التنزيلات", "المجالات", "السجلات"};
const char* const kPageSymbols[SearchWindowController::pageCount] = {
    "text.book.closed.fill", "books.vertical.fill", "pencil.and.scribble", "calendar", "star.fill", "clock.fill",
    "tray.and.arrow.down.fill", "checklist", "list.bullet.rectangle.portrait.fill"};

// The symbol size of the tool buttons, in the picker's bar and beside the phrases.
constexpr double kToolSize = 17;

// Each page's two columns, as its rows fill them: a group row, then its books.
struct PageHeaders {
    const char* title;
    const char* detail;
};
const PageHeaders kPageHeaders[SearchWindowController::pageCount] = {
    {"الكتاب", "المؤلف"},
    {"الكتاب", "المؤلف"},
    {"المؤلف", "عدد الكتب"},
    {"القرن / الكتاب", "عدد الكتب / المؤلف"},
    {"المجموعة / الكتاب", "عدد الكتب / المؤلف"},
    {"الكتاب", "المؤلف"},
    {"الكتاب", "المؤلف"},
    {"المجال / الكتاب", "عدد الكتب / المؤلف"},
    {"البحث", "النتائج والتاريخ"},
};
// What an empty page would list, and how it comes to list it.
const char* const kEmptyPages[SearchWindowController::pageCount] = {
    "لا كتب في المكتبة. نزّل الكتب من نافذة التنزيلات (Ctrl+D).",
    "لا كتب في المكتبة. نزّل الكتب من نافذة التنزيلات (Ctrl+D).",
    "لا مؤلفين: تظهر هنا أسماء مؤلفي الكتب المنزّلة، وتحت كل اسم كتبه.",
    "لا كتب لهذه الفترة: تظهر هنا القرون بوفاة المؤلفين، وتحت كل قرن كتبه.",
    "لا كتب مفضلة: تظهر هنا الكتب التي تضع عليها النجمة ☆ في رأس القارئ.",
    "لا كتب مقروءة بعد: تظهر هنا الكتب التي فتحتها مؤخرا.",
    "",
    "لا مجالات محفوظة: المجال قائمة كتب باسم تبحث فيها. حدّد الكتب ثم احفظها مجالا بزر «حفظ الكتب المحددة مجالاً».",
    "لا سجلات بعد: تظهر هنا عمليات البحث التي أجريتها بعدد نتائجها وتاريخها، والنتائج التي حفظتها.",
};
const char* const kTabTitles[SearchForm::tabs] = {"و", "أو", "ليس"};

struct BoxText {
    const char* title;
    const char* tip;
};
const BoxText kBoxTexts[SearchForm::boxCount] = {
    {"المتن", nullptr},
    {"الحواشي", nullptr},
    {"التعليقات", "تعليقاتك الشخصية على الصفحات"},
    {"العناوين", nullptr},
    {"بحث صرفي", "يبحث عن مشتقّات الكلمة بعد نزع السوابق واللواحق"},
    {"بحث باللواصق", "يقبل الكلمة ملتصقة بالسوابق (و، ف، ب، ال…) واللواحق"},
    {"مراعاة الهمزات", nullptr},
    {"مراعاة التشكيل", nullptr},
    {"مراعاة الأرقام", nullptr},
    {"بحث بالمعنى (تجريبي)", nullptr},
    {"يلزم وجود كل العبارات", nullptr},
    {"مرتبة", nullptr},
    {"متقاربة", nullptr},
};

QString frameKey()
{
    return QString::fromLatin1(kFrameKeyPrefix) + QString::fromLatin1(SearchWindowController::frameName);
}

} // namespace

QString SearchWindowController::title(Page page)
{
    return QString::fromUtf8(kPageTitles[int(page)]);
}

QString SearchWindowController::symbol(Page page)
{
    return QString::fromLatin1(kPageSymbols[int(page)]);
}

std::optional<SearchWindowController::Page> SearchWindowController::page(int raw)
{
    if (raw < 0 || raw >= pageCount)
        return std::nullopt;
    return Page(raw);
}

SearchWindowController::SearchWindowController(std::shared_ptr<Library> lib, SearchWindowOwner* main,
                                               QWidget* parent)
    : QWidget(parent, Qt::Window), lib_(std::move(lib)), main_(main), mainObject_(dynamic_cast<QObject*>(main)),
      picker_(std::make_unique<BookPicker>(lib_))
{
    Q_ASSERT(lib_);
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    setMinimumSize(minimumWindowSize);
    resize(windowSize);
    restoreFrame();

    build();
    select(Page::books);

    if (const std::optional<QString> stored = lib_->kv(QString::fromLatin1(searchKey)))
        if (const std::optional<SearchQuery> q = SearchQuery::from(*stored))
            fill(*q);

    connect(&Notifier::shared(), &Notifier::userDataChanged, this, &SearchWindowController::dataChanged);
    connect(&Notifier::shared(), &Notifier::libraryChanged, this, &SearchWindowController::libraryChanged);
}

SearchWindowController::~SearchWindowController()
{
    // Hidden while the picker its rows read from still lives: closing a shown
    // window lays its list out once more.
    hide();
}

SearchWindowOwner* SearchWindowController::main() const
{
    return mainObject_ ? main_ : nullptr;
}

QSet<std::int64_t>& SearchWindowController::checked()
{
    return model_->checked();
}

QToolButton* SearchWindowController::tabButton(int tab) const
{
    return qobject_cast<QToolButton*>(seg_->button(tab));
}

// ---- Layout -------------------------------------------------------------------

void SearchWindowController::build()
{
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildSideBar());
    QWidget* picker = buildPicker();
    picker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    root->addWidget(picker, 1);
    // On a screen too small for the whole column (large text) the options
    // scroll rather than being cut off.
    QWidget* options = buildOptions();
    QScrollArea* scroller = rowScroller(options);
    // Room for the scroll bar beside the column, which it would otherwise cover.
    scroller->setFixedWidth(options->width() + scroller->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    root->addWidget(scroller);
    updateScopeLabel();
}

namespace {

constexpr int kSideBarWidth = 96;
constexpr int kSideSpacing = 4;
constexpr int kSideTop = 8;
constexpr std::uint32_t kSideLight = 0xF2F2EF;
constexpr std::uint32_t kSideDark = 0x232322;

} // namespace

QWidget* SearchWindowController::buildSideBar()
{
    auto* bar = new ColorView(Theme::dynamic(kSideLight, kSideDark));
    // On a screen too short for every page's button (large text) they
    // scroll; the bar has room for the buttons beside the scroll bar.
    bar->setFixedWidth(std::max(kSideBarWidth, SideButton::fixedWidth + bar->style()->pixelMetric(QStyle::PM_ScrollBarExtent)));
    QPointer<SearchWindowController> self(this);
    QList<QWidget*> buttons;
    for (int raw = 0; raw < pageCount; ++raw) {
        const Page p = Page(raw);
        auto* button = new SideButton(title(p), symbol(p), [self, p] {
            if (self)
                self->select(p);
        });
        sideButtons_ << button;
        buttons << button;
    }
    auto* column = vstack(buttons, kSideSpacing, StackView::Align::Center);
    auto* inner = new QWidget;
    auto* layout = new QVBoxLayout(inner);
    layout->setContentsMargins(0, kSideTop, 0, 0);
    layout->addWidget(column, 0, Qt::AlignHCenter | Qt::AlignTop);
    layout->addStretch(1);
    pin(bar, rowScroller(inner));
    return bar;
}

namespace {

constexpr int kIndentation = 16;
constexpr int kTitleWidth = 380;
constexpr int kMinimumColumn = 120;
constexpr int kTitleLeast = 200;
constexpr char kFilterPlaceholder[] = "يمكن البحث بجزء من اسم الكتاب أو المؤلف أو كليهما";
constexpr char kPeriodTip[] = "كتب فترة: من سنة إلى سنة (بوفاة المؤلف)";
constexpr char kGearTip[] = "خيارات القائمة";
constexpr char kSaveScopeTip[] = "حفظ الكتب المحددة مجالاً";
constexpr char kApply[] = "اختيار الكتب المحددة";
constexpr char kClear[] = "إلغاء الكتب المحددة";
constexpr char kDismiss[] = "تجاهل";

} // namespace

QWidget* SearchWindowController::buildPicker()
{
    QPointer<SearchWindowController> self(this);
    auto guarded = [self](void (SearchWindowController::*fn)()) {
        return [self, fn] {
            if (self)
                (self.data()->*fn)();
        };
    };

    filter_ = new QLineEdit;
    filter_->setPlaceholderText(QString::fromUtf8(kFilterPlaceholder));
    filter_->setFont(Theme::ui(13));
    filter_->setClearButtonEnabled(true);
    connect(filter_, &QLineEdit::textChanged, this, [this] { reload(); });

    auto* period = iconButton(QStringLiteral("calendar"), QString::fromUtf8(kPeriodTip), kToolSize,
                              {Theme::gold(), Theme::emerald()}, QFont::Normal, guarded(&SearchWindowController::pickYears));
    auto* gear = iconButton(QStringLiteral("gearshape.fill"), QString::fromUtf8(kGearTip), kToolSize, {Theme::goldInk()},
                            QFont::Normal, [self] {
                                if (self)
                                    popUp(self->gearMenu());
                            });
    auto* saveScope = iconButton(QStringLiteral("folder.fill.badge.plus"), QString::fromUtf8(kSaveScopeTip), kToolSize,
                                 {Theme::gold(), Theme::emerald()}, QFont::Normal,
                                 guarded(&SearchWindowController::saveScope));
    auto* searchRow = hstack({filter_, period, gear, saveScope}, 6);
    filter_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    model_ = new PickerModel(*picker_, this);
    model_->onChecked = guarded(&SearchWindowController::updateScopeLabel);
    outline_ = new QTreeView;
    outline_->setModel(model_);
    rows_ = new PickerRowDelegate(outline_);
    outline_->setItemDelegate(rows_);
    outline_->setUniformRowHeights(true);
    // Two editions' rows differ at the end of their labels: the middle goes.
    outline_->setTextElideMode(Qt::ElideMiddle);
    outline_->setIndentation(kIndentation);
    outline_->setExpandsOnDoubleClick(false);
    outline_->setContextMenuPolicy(Qt::PreventContextMenu);
    outline_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    outline_->setFrameShape(QFrame::StyledPanel);
    outline_->header()->setMinimumSectionSize(kMinimumColumn);
    // The columns are fitted to the list as it resizes.
    outline_->header()->setStretchLastSection(false);
    outline_->header()->setDefaultAlignment(Qt::AlignCenter);
    outline_->header()->resizeSection(PickerModel::titleColumn, kTitleWidth);
    connect(outline_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) { doubleClick(index); });
    // Return opens a book as a double click does; from the filter, Return or
    // Down moves into the list.
    outline_->installEventFilter(this);
    outline_->viewport()->installEventFilter(this);
    filter_->installEventFilter(this);

    auto* apply = textButton(QString::fromUtf8(kApply), QStringLiteral("checkmark.rectangle.stack.fill"),
                             guarded(&SearchWindowController::applyChecked));
    auto* clear = textButton(QString::fromUtf8(kClear), QStringLiteral("xmark.rectangle.fill"),
                             guarded(&SearchWindowController::clearChecked));
    auto* dismiss = textButton(QString::fromUtf8(kDismiss), QStringLiteral("minus.circle.fill"), [self] {
        if (self)
            self->hide();
    });
    // Too narrow for the three (large text), the buttons go onto lines of their own.
    auto* buttonRow = new QWidget;
    auto* buttons = new WrapLayout(buttonRow, 14);
    for (QWidget* button : {static_cast<QWidget*>(apply), static_cast<QWidget*>(clear), static_cast<QWidget*>(dismiss)})
        buttons->addWidget(button);

    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(10, 10, 10, 8);
    layout->setSpacing(8);
    layout->addWidget(searchRow);
    emptyNote_ = label(QString(), 13, QFont::Normal, Theme::secondaryLabel());
    emptyNote_->setWordWrap(true);
    emptyNote_->setAlignment(Qt::AlignCenter);
    emptyNote_->hide();
    layout->addWidget(emptyNote_);
    layout->addWidget(outline_, 1);
    layout->addWidget(buttonRow);
    return column;
}

void SearchWindowController::fitColumns(int width)
{
    QHeaderView* header = outline_->header();
    // Too narrow for a readable title beside the author (large text): the
    // author goes under the title, which takes the whole row.
    const bool stacked = width < kTitleLeast + kMinimumColumn;
    rows_->setStacked(stacked);
    outline_->setColumnHidden(PickerModel::authorColumn, stacked);
    if (stacked) {
        header->setMinimumSectionSize(std::min(kMinimumColumn, width));
        header->resizeSection(PickerModel::titleColumn, width);
        return;
    }
    // Both columns stay within the list: the author keeps its share.
    header->setMinimumSectionSize(kMinimumColumn);
    const int title = std::clamp(width - kMinimumColumn, kTitleLeast, kTitleWidth);
    header->resizeSection(PickerModel::titleColumn, title);
    header->resizeSection(PickerModel::authorColumn, width - title);
}

QWidget* SearchWindowController::sectionBox(QWidget* content)
{
    // Painted rather than style-sheeted: a style sheet would keep the box and
    // what it holds in the colours of the appearance it was set in.
    auto* box = new ColorView(Theme::panel());
    box->setObjectName(QStringLiteral("sectionBox"));
    box->setBorder(Theme::barLine(), 4);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->addWidget(content);
    return box;
}

namespace {

constexpr std::uint32_t kOptionsLight = 0xEFEFEC;
constexpr std::uint32_t kOptionsDark = 0x262625;
constexpr int kOptionsWidth = 460;
constexpr double kScopeListSize = 15;
constexpr int kExplainHeight = 56;
constexpr int kExplainInset = 6;
constexpr char kSearchIn[] = "البحث في:";
constexpr char kScopeListTip[] = "اختيار المجال من القائمة";
constexpr char kAllBooks[] = "البحث بكل المجموعات";
constexpr char kSomeBooks[] = "البحث بواحدة أو أكثر";
constexpr char kRecentPlaceholder[] = "عمليات البحث الأخيرة";

} // namespace

QWidget* SearchWindowController::buildOptions()
{
    QPointer<SearchWindowController> self(this);
    for (int b = 0; b < SearchForm::boxCount; ++b) {
        const auto box = SearchForm::Box(b);
        QCheckBox* check = checkbox(QString::fromUtf8(kBoxTexts[b].title), SearchForm::defaultOn(box));
        if (kBoxTexts[b].tip)
            check->setToolTip(QString::fromUtf8(kBoxTexts[b].tip));
        connect(check, &QCheckBox::toggled, this, [this, box](bool on) {
            if (showing_)
                return;
            form_.boxes[box] = on;
            updateExplain();
        });
        boxes_[b] = check;
    }

    auto* heading = label(QString::fromUtf8(kSearchIn), 13, QFont::Medium);
    auto* places = sectionBox(vstack({heading, hstack({boxes_[SearchForm::matn], boxes_[SearchForm::hawashi],
                                                       boxes_[SearchForm::notes], boxes_[SearchForm::titles]},
                                                      16)},
                                     8));
    auto* matching = sectionBox(vstack({hstack({boxes_[SearchForm::morph], boxes_[SearchForm::affix]}, 16),
                                        hstack({boxes_[SearchForm::hamza], boxes_[SearchForm::tashkeel],
                                                boxes_[SearchForm::digits]},
                                               16),
                                        boxes_[SearchForm::semantic]},
                                       8));

    rbAll_ = new QRadioButton(QString::fromUtf8(kAllBooks));
    rbSome_ = new QRadioButton(QString::fromUtf8(kSomeBooks));
    rbAll_->setFont(Theme::ui(13));
    rbSome_->setFont(Theme::ui(13));
    rbAll_->setChecked(true);
    connect(rbAll_, &QRadioButton::toggled, this, [this](bool on) {
        if (showing_)
            return;
        form_.allBooks = on;
        updateScopeLabel();
    });
    auto* scopeList = iconButton(QStringLiteral("tray.full.fill"), QString::fromUtf8(kScopeListTip), kScopeListSize,
                                 {Theme::hitSymbol(), Theme::gold()}, QFont::Normal, [self] {
                                     if (self)
                                         self->select(Page::scopes);
                                 });
    auto* scopes = sectionBox(vstack({hstack({rbAll_, rbSome_, scopeList}, 14)}, 6));

    auto* query = sectionBox(buildPhrases());

    recentBox_ = new QComboBox;
    recentBox_->setEditable(false);
    recentBox_->setPlaceholderText(QString::fromUtf8(kRecentPlaceholder));
    recentBox_->setFont(Theme::ui(13));
    connect(recentBox_, &QComboBox::activated, this, [this](int index) { chooseRecent(index); });

    explain_ = new QTextEdit;
    explain_->setReadOnly(true);
    explain_->setFont(Theme::ui(13));
    explain_->setMinimumHeight(kExplainHeight);
    explain_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    explain_->setLayoutDirection(Qt::RightToLeft);
    QTextOption option = explain_->document()->defaultTextOption();
    option.setTextDirection(Qt::RightToLeft);
    option.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
    explain_->document()->setDefaultTextOption(option);
    explain_->document()->setDocumentMargin(kExplainInset);
    followPalette(explain_, [explain = explain_] {
        QPalette p = explain->palette();
        p.setColor(QPalette::Base, Theme::panel().resolve());
        p.setColor(QPalette::Text, Theme::secondaryLabel());
        explain->setPalette(p);
    });

    scopeLabel_ = label(QString(), 13, QFont::Medium);
    scopeLabel_->setAlignment(Qt::AlignCenter);

    auto* column = new ColorView(Theme::dynamic(kOptionsLight, kOptionsDark));
    column->setFixedWidth(kOptionsWidth);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    for (QWidget* w : {places, matching, scopes, query, static_cast<QWidget*>(recentBox_)})
        layout->addWidget(w);
    layout->addWidget(explain_, 1);
    layout->addWidget(scopeLabel_);
    return column;
}

namespace {

constexpr double kSearchSize = 20;
constexpr int kSegmentWidth = 52;
constexpr int kFieldHeight = 30;
constexpr double kFieldFontSize = 17;
constexpr int kNumberWidth = 18;
constexpr char kSearchTip[] = "ابحث";
constexpr char kHistoryTip[] = "تحميل بحث سابق";
constexpr char kNewSearchTip[] = "بحث جديد (مسح الحقول)";

} // namespace

QWidget* SearchWindowController::buildPhrases()
{
    QPointer<SearchWindowController> self(this);
    seg_ = new QButtonGroup(this);
    seg_->setExclusive(true);
    QList<QWidget*> segments;
    for (int tab = 0; tab < SearchForm::tabs; ++tab) {
        auto* button = new QToolButton;
        button->setText(QString::fromUtf8(kTabTitles[tab]));
        button->setCheckable(true);
        button->setFont(Theme::ui(14, QFont::Bold));
        button->setFixedWidth(kSegmentWidth);
        seg_->addButton(button, tab);
        segments << button;
    }
    seg_->button(SearchForm::andTab)->setChecked(true);
    connect(seg_, &QButtonGroup::idClicked, this, [this](int tab) { switchTab(tab); });
    auto* segmentRow = hstack(segments, 0);

    allBtn_ = new QPushButton(form_.allButtonTitle());
    allBtn_->setFlat(true);
    allBtn_->setFont(Theme::ui(13, QFont::Medium));
    onAction(allBtn_, [self](QObject*) {
        if (!self)
            return;
        self->boxes_[SearchForm::requireAll]->toggle();
    });
    auto* tabRow = hstack({segmentRow, spacer(), allBtn_}, 6);
    auto* flagRow = hstack({boxes_[SearchForm::requireAll], boxes_[SearchForm::ordered], boxes_[SearchForm::near]}, 14);

    QList<QWidget*> rows;
    for (int i = 1; i <= SearchForm::fieldsPerTab; ++i) {
        auto* number = label(Arabic::num(i), 14, QFont::Medium);
        number->setAlignment(Qt::AlignCenter);
        number->setFixedWidth(kNumberWidth);
        auto* field = new QLineEdit;
        field->setFont(Theme::reader(kFieldFontSize));
        field->setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
        field->setLayoutDirection(Qt::RightToLeft);
        field->setFixedHeight(kFieldHeight);
        field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(field, &QLineEdit::textEdited, this, [this] {
            saveTab();
            updateExplain();
        });
        onAction(field, [self](QObject*) {
            if (self)
                self->doSearch();
        });
        fields_ << field;
        auto* row = hstack({number, field}, 6);
        rows << row;
    }
    auto* phraseRows = vstack(rows, 6, StackView::Align::Fill);

    auto* search = iconButton(QStringLiteral("binoculars.fill"), QString::fromUtf8(kSearchTip), kSearchSize, [self] {
        if (self)
            self->doSearch();
    });
    auto* searchLabel = label(QString::fromUtf8(kSearchTip), 13, QFont::Medium);
    // The word beside the symbol is part of the one control.
    onClick(searchLabel, [self] {
        if (self)
            self->doSearch();
    });
    followPalette(searchLabel, [searchLabel] {
        QPalette p = searchLabel->palette();
        p.setColor(QPalette::WindowText, Theme::accent().resolve());
        searchLabel->setPalette(p);
    });
    auto* history = iconButton(QStringLiteral("square.and.arrow.up.on.square"), QString::fromUtf8(kHistoryTip),
                               kToolSize, [self] {
                                   if (self)
                                       popUp(self->historyMenu());
                               });
    auto* clear = iconButton(QStringLiteral("doc"), QString::fromUtf8(kNewSearchTip), kToolSize, {Theme::secondary()},
                             QFont::Normal, [self] {
                                 if (self)
                                     self->newSearch();
                             });
    auto* actionRow = hstack({search, searchLabel, spacer(), history, clear}, 6);
    return vstack({tabRow, flagRow, phraseRows, actionRow}, 8, StackView::Align::Fill);
}

// ---- Pages and presentation -------------------------------------------------------

void SearchWindowController::select(Page p)
{
    if (p == Page::imported) {
        if (openDownloads)
            openDownloads();
        else
            DownloadsWindowController::show();
        return;
    }
    page_ = p;
    for (int i = 0; i < sideButtons_.size(); ++i)
        sideButtons_[i]->setSelected(i == int(p));
    model_->setHeaders(QString::fromUtf8(kPageHeaders[int(p)].title), QString::fromUtf8(kPageHeaders[int(p)].detail));
    reload();
}

void SearchWindowController::present(std::optional<Page> p)
{
    if (p)
        select(*p);
    if (!isVisible()) {
        centreOnScreen(this, screen() ? screen() : QGuiApplication::primaryScreen());
    }
    show();
    raise();
    activateWindow();
    refillRecent();
    if ((!p || *p == Page::books) && !fields_.isEmpty())
        fields_.first()->setFocus();
}

void SearchWindowController::focusFilter()
{
    filter_->setFocus(Qt::ShortcutFocusReason);
    filter_->selectAll();
}

void SearchWindowController::enterList()
{
    // The first book, depth first: a filtered page shows its groups opened.
    std::function<QModelIndex(const QModelIndex&)> firstBook = [&](const QModelIndex& parent) -> QModelIndex {
        for (int row = 0; row < model_->rowCount(parent); ++row) {
            const QModelIndex index = model_->index(row, 0, parent);
            if (const PickNode* node = model_->node(index); node && node->kind == PickNode::Kind::book)
                return index;
            if (outline_->isExpanded(index))
                if (const QModelIndex inner = firstBook(index); inner.isValid())
                    return inner;
        }
        return {};
    };
    QModelIndex target = outline_->currentIndex();
    if (!target.isValid())
        target = firstBook({});
    if (!target.isValid())
        target = model_->index(0, 0);
    if (target.isValid())
        outline_->selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect
                                                                | QItemSelectionModel::Rows);
    outline_->setFocus(Qt::TabFocusReason);
}

bool SearchWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == outline_->viewport() && event->type() == QEvent::Resize)
        fitColumns(static_cast<QResizeEvent*>(event)->size().width());
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == outline_ && enter && outline_->currentIndex().isValid()) {
        doubleClick(outline_->currentIndex());
        return true;
    }
    if (watched == filter_ && (enter || key->key() == Qt::Key_Down) && model_->rowCount() > 0) {
        enterList();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SearchWindowController::libraryChanged()
{
    picker_->catalogueChanged();
    reload();
}

void SearchWindowController::dataChanged()
{
    if (page_ == Page::favorites || page_ == Page::recent || page_ == Page::scopes || page_ == Page::logs)
        reload();
}

void SearchWindowController::reload()
{
    const QString text = filter_->text();
    model_->setRoots(picker_->roots(page_, text));
    if (BookPicker::opensRoots(page_, model_->roots().size(), text))
        outline_->expandToDepth(0);
    // A filter that hides everything is the reader's own doing; an empty
    // page says what it would hold.
    const bool empty = model_->roots().isEmpty() && text.trimmed().isEmpty();
    emptyNote_->setText(empty ? QString::fromUtf8(kEmptyPages[int(page_)]) : QString());
    emptyNote_->setVisible(empty);
}

QList<std::int64_t> SearchWindowController::sorted(const QList<std::int64_t>& ids) const
{
    return picker_->sorted(ids);
}

void SearchWindowController::hideEvent(QHideEvent* event)
{
    saveFrame();
    QWidget::hideEvent(event);
}

void SearchWindowController::saveFrame()
{
    Preferences::standard().set(frameKey(), QString::fromLatin1(saveGeometry().toBase64()));
}

bool SearchWindowController::restoreFrame()
{
    const std::optional<QString> stored = Preferences::standard().string(frameKey());
    return stored && !stored->isEmpty() && restoreGeometry(QByteArray::fromBase64(stored->toLatin1()));
}

// ---- Picker actions ---------------------------------------------------------------

void SearchWindowController::doubleClick(const QModelIndex& index)
{
    const PickNode* node = model_->node(index);
    if (!node)
        return;
    switch (node->kind) {
    case PickNode::Kind::book:
        if (SearchWindowOwner* owner = main()) {
            owner->openBook(node->id, std::nullopt, {}, std::nullopt);
            owner->bringToFront();
        }
        return;
    case PickNode::Kind::group: {
        const QModelIndex row = index.siblingAtColumn(PickerModel::titleColumn);
        outline_->setExpanded(row, !outline_->isExpanded(row));
        return;
    }
    case PickNode::Kind::scope: {
        const QList<std::int64_t> ids = node->bookIds();
        checked() = QSet<std::int64_t>(ids.begin(), ids.end());
        applyChecked();
        model_->checkedChanged();
        return;
    }
    case PickNode::Kind::history: {
        const std::optional<SearchQuery> q = SearchQuery::from(node->json);
        if (!q)
            return;
        fill(*q);
        if (SearchWindowOwner* owner = main())
            owner->runSearch(*q, std::nullopt, std::nullopt);
        hide();
        return;
    }
    case PickNode::Kind::saved: {
        const PickerActions::Reopened again = PickerActions::reopen(*lib_, node->label, node->json, node->pageIds);
        if (SearchWindowOwner* owner = main())
            owner->runSearch(again.query, again.hits, std::nullopt);
        hide();
        return;
    }
    }
}

namespace {

constexpr char kPeriodTitle[] = "كتب فترة زمنية";
constexpr char kPeriodText[] =
    "بسنة وفاة المؤلف بالتاريخ الهجري. اترك أحد الحقلين فارغا لفترة مفتوحة. تحدد الكتب وتصير مجال البحث.";
constexpr char kPeriodOk[] = "تحديد";
constexpr char kYearFrom[] = "من سنة";
constexpr char kYearTo[] = "إلى سنة";
constexpr char kYearPlaceholder[] = "سنة";
constexpr char kHijri[] = "هـ";
constexpr int kYearFieldWidth = 90;

} // namespace

void SearchWindowController::pickYears()
{
    Preferences& prefs = Preferences::standard();
    const QList<Dialogs::Field> fields{
        {QString::fromUtf8(kYearFrom), prefs.string(QString::fromLatin1(yearFromKey)).value_or(QString()),
         QString::fromUtf8(kYearPlaceholder), kYearFieldWidth},
        {QString::fromUtf8(kYearTo), prefs.string(QString::fromLatin1(yearToKey)).value_or(QString()),
         QString::fromUtf8(kYearPlaceholder), kYearFieldWidth},
    };
    const std::optional<QStringList> texts =
        Dialogs::fields(QString::fromUtf8(kPeriodTitle), QString::fromUtf8(kPeriodText), fields,
                        QString::fromUtf8(kHijri), QString::fromUtf8(kPeriodOk), this);
    if (!texts)
        return;
    // The texts are kept for next time even when they are refused.
    prefs.set(QString::fromLatin1(yearFromKey), (*texts)[0]);
    prefs.set(QString::fromLatin1(yearToKey), (*texts)[1]);
    const PickerActions::Period period = PickerActions::period(*lib_, (*texts)[0], (*texts)[1]);
    if (!period.alert.isEmpty()) {
        Dialogs::alert(period.alert, QString(), this);
        return;
    }
    checked() = QSet<std::int64_t>(period.ids.begin(), period.ids.end());
    applyChecked();
    model_->checkedChanged();
    scopeLabel_->setText(scopeLabel_->text() + period.labelSuffix);
}

PickNodePtr SearchWindowController::selectedNode() const
{
    const PickNode* node = model_->node(outline_->currentIndex());
    if (!node || !outline_->selectionModel()->isSelected(outline_->currentIndex()))
        return nullptr;
    const QList<PickNodePtr>& siblings = node->parent ? node->parent->children : model_->roots();
    for (const PickNodePtr& sibling : siblings)
        if (sibling.get() == node)
            return sibling;
    return nullptr;
}

QMenu* SearchWindowController::gearMenu()
{
    QPointer<SearchWindowController> self(this);
    auto call = [self](void (SearchWindowController::*fn)()) {
        return [self, fn] {
            if (self)
                (self.data()->*fn)();
        };
    };
    PickerMenus::Context c;
    c.lib = lib_;
    c.picker = picker_.get();
    c.page = page_;
    c.roots = model_->roots();
    c.checked = &checked();
    c.selected = selectedNode();
    c.window = this;
    c.reload = call(&SearchWindowController::reload);
    c.outlineChanged = [self] {
        if (self)
            self->model_->checkedChanged();
    };
    c.updateScopeLabel = call(&SearchWindowController::updateScopeLabel);
    c.pickYears = call(&SearchWindowController::pickYears);
    return PickerMenus::gearMenu(c);
}

QMenu* SearchWindowController::historyMenu()
{
    QPointer<SearchWindowController> self(this);
    return PickerMenus::historyMenu(*lib_, this, [self](const SearchQuery& q) {
        if (self)
            self->fill(q);
    });
}

void SearchWindowController::popUp(QMenu* menu)
{
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

// ---- The form ---------------------------------------------------------------------

void SearchWindowController::saveTab()
{
    SearchForm::Phrases texts;
    for (int i = 0; i < SearchForm::fieldsPerTab && i < fields_.size(); ++i)
        texts[i] = fields_[i]->text();
    form_.saveTab(texts);
}

void SearchWindowController::showTab()
{
    for (int i = 0; i < fields_.size(); ++i)
        fields_[i]->setText(form_.phrases[form_.curTab][i]);
    if (QAbstractButton* button = seg_->button(form_.curTab))
        button->setChecked(true);
    const bool andTab = form_.andOptionsEnabled();
    for (SearchForm::Box b : {SearchForm::requireAll, SearchForm::ordered, SearchForm::near})
        boxes_[b]->setEnabled(andTab);
    allBtn_->setVisible(andTab);
}

void SearchWindowController::switchTab(int tab)
{
    if (tab < 0 || tab >= SearchForm::tabs)
        return;
    saveTab();
    form_.curTab = tab;
    showTab();
    if (!fields_.isEmpty())
        fields_.first()->setFocus();
    updateExplain();
}

void SearchWindowController::showForm()
{
    showing_ = true;
    for (int b = 0; b < SearchForm::boxCount; ++b)
        boxes_[b]->setChecked(form_.boxes[b]);
    rbAll_->setChecked(form_.allBooks);
    rbSome_->setChecked(!form_.allBooks);
    showTab();
    showing_ = false;
}

void SearchWindowController::updateExplain()
{
    explain_->setPlainText(SearchForm::explanation(form_.buildQuery(checked())));
    allBtn_->setText(form_.allButtonTitle());
}

void SearchWindowController::updateScopeLabel()
{
    scopeLabel_->setText(form_.scopeLabel(*lib_, checked()));
    updateExplain();
}

void SearchWindowController::applyChecked()
{
    constexpr char kNothingChecked[] = "لم تحدّد أيّ كتاب";

    if (!form_.applyChecked(checked(), [this](const QList<std::int64_t>& ids) { return sorted(ids); })) {
        Dialogs::alert(QString::fromUtf8(kNothingChecked), QString(), this);
        return;
    }
    showForm();
    updateScopeLabel();
}

void SearchWindowController::clearChecked()
{
    form_.clearChecked(checked());
    showForm();
    model_->checkedChanged();
    updateScopeLabel();
}

void SearchWindowController::saveScope()
{
    constexpr char kCheckFirst[] = "حدّد كتاباً أو أكثر أولاً";
    constexpr char kSaveScopeTitle[] = "حفظ مجال بحث";
    constexpr char kSaveScopeBefore[] = "اسم للمجال (";
    constexpr char kSaveScopeAfter[] = ")";

    if (checked().isEmpty()) {
        Dialogs::alert(QString::fromUtf8(kCheckFirst), QString(), this);
        return;
    }
    const std::optional<QString> name = Dialogs::prompt(
        QString::fromUtf8(kSaveScopeTitle),
        QString::fromUtf8(kSaveScopeBefore) + CountedNoun::books().count(checked().size()) + QString::fromUtf8(kSaveScopeAfter),
        QString());
    if (!name || name->isEmpty())
        return;
    lib_->saveScope(*name, sorted(QList<std::int64_t>(checked().begin(), checked().end())));
    if (page_ == Page::scopes)
        reload();
}

void SearchWindowController::fill(const SearchQuery& query)
{
    form_.fill(query, checked());
    showForm();
    model_->checkedChanged();
    updateScopeLabel();
}

void SearchWindowController::newSearch()
{
    form_.clearPhrases();
    for (QLineEdit* field : std::as_const(fields_))
        field->clear();
    updateExplain();
}

void SearchWindowController::refillRecent()
{
    recentBox_->clear();
    recent_ = SearchForm::recent(*lib_);
    for (const SearchForm::Recent& entry : std::as_const(recent_))
        recentBox_->addItem(entry.title);
    recentBox_->setCurrentIndex(-1);
}

void SearchWindowController::chooseRecent(int index)
{
    if (index < 0 || index >= recent_.size())
        return;
    if (const std::optional<SearchQuery> q = SearchQuery::from(recent_[index].json))
        fill(*q);
}

void SearchWindowController::doSearch()
{
    constexpr char kNoPhrase[] = "اكتب عبارة البحث";
    constexpr char kNoPhraseText[] = "اكتب عبارة واحدة على الأقل في تبويب «و» أو «أو».";
    constexpr char kNoPlace[] = "اختر موضعاً للبحث";
    constexpr char kNoPlaceText[] = "حدّد المتن أو الحواشي أو التعليقات أو العناوين.";

    saveTab();
    const SearchQuery q = form_.buildQuery(checked());
    if (q.isEmpty()) {
        Dialogs::alert(QString::fromUtf8(kNoPhrase), QString::fromUtf8(kNoPhraseText), this);
        return;
    }
    if (!q.inMatn && !q.inHawashi && !q.inNotes && !q.inTitles) {
        Dialogs::alert(QString::fromUtf8(kNoPlace), QString::fromUtf8(kNoPlaceText), this);
        return;
    }
    lib_->setKV(QString::fromLatin1(searchKey), q.json());
    if (SearchWindowOwner* owner = main())
        owner->runSearch(q, std::nullopt, std::nullopt);
    hide();
    if (SearchWindowOwner* owner = main())
        owner->bringToFront();
}

} // namespace quorvel
