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
#include "ui/kit/WindowPlacement.h"
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
    closeOnEscape(this);
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
