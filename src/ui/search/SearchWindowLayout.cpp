// How the search window is laid out: the side bar of pages, the book
// picker, and the column of options and phrases; each widget wired to the
// controller's actions.

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

// The symbol size of the tool buttons, in the picker's bar and beside the phrases.
constexpr double kToolSize = 17;

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
} // namespace

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

} // namespace quorvel
