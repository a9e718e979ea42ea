#include "ui/search/SearchTabView.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Theme.h"
#include "search/SearchEngine.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WrapLayout.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/ResultsModel.h"
#include "ui/search/BookCellDelegate.h"
#include "ui/search/SnippetDelegate.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QSplitter>
#include <QTableView>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace quorvel {

namespace {

// The font sizes of the controls and the count, beside the table and in the bar.
constexpr double kControlFontSize = 12;
constexpr double kCountFontSize = 13;

std::mutex& launcherLock()
{
    static std::mutex lock;
    return lock;
}

SearchTabView::Launcher& launcherSlot()
{
    static SearchTabView::Launcher launcher;
    return launcher;
}

void launch(SearchTabView::Job job)
{
    SearchTabView::Launcher launcher;
    {
        std::lock_guard guard(launcherLock());
        launcher = launcherSlot();
    }
    if (launcher)
        launcher(std::move(job));
    else
        QThreadPool::globalInstance()->start(std::move(job));
}

} // namespace

SearchTabView::Launcher SearchTabView::setLauncher(Launcher launcher)
{
    std::lock_guard guard(launcherLock());
    std::swap(launcherSlot(), launcher);
    return launcher;
}

SearchTabView::SearchTabView(std::shared_ptr<Library> lib, const SearchQuery& query,
                             const std::optional<QList<SearchHit>>& preset, QWidget* parent)
    : TabContent(parent), lib_(std::move(lib)), query_(query), terms_(query.highlightTerms()), filter_(lib_)
{
    Q_ASSERT(lib_);
    model_ = new ResultsModel(lib_, terms_, this);
    build();
    fillPopups();
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, &SearchTabView::settingsChanged);
    if (!preset) {
        start();
        return;
    }
    model_->append(*preset, filter_);
    done_ = true;
    refilter(false);
    finish();
}

SearchTabView::~SearchTabView()
{
    // A run still going on stops; its late batches find the tab gone.
    if (engine_)
        engine_->cancel();
    if (refineEngine_)
        refineEngine_->cancel();
}

// ---- Construction -----------------------------------------------------------

namespace {

struct ColumnSpec {
    int width;
};
constexpr ColumnSpec kColumns[] = {{54}, {230}, {520}, {210}, {70}};
constexpr int kColumnMinWidth = 40;
constexpr int kRowHeight = 30;
constexpr double kHintFontSize = 15;
constexpr int kNoteInset = 6;
constexpr char kHint[] = "اختر نتيجة من الجدول لعرض صفحتها";

} // namespace

void SearchTabView::build()
{
    QPointer<SearchTabView> self(this);

    table_ = new QTableView;
    table_->setModel(model_);
    table_->setItemDelegateForColumn(ResultsModel::textColumn, new SnippetDelegate(table_));
    table_->setItemDelegateForColumn(ResultsModel::bookColumn, new BookCellDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows are read whole: Tab leaves the table instead of walking its cells.
    table_->setTabKeyNavigation(false);
    table_->setAlternatingRowColors(false);
    table_->setShowGrid(true);
    table_->setGridStyle(Qt::SolidLine);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table_->setIconSize(QSize(18, 18));
    QHeaderView* header = table_->horizontalHeader();
    header->setMinimumSectionSize(kColumnMinWidth);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setFont(Theme::ui(kControlFontSize, QFont::Medium));
    header->setHighlightSections(false);
    for (int c = 0; c < ResultsModel::columns; ++c) {
        header->resizeSection(c, kColumns[c].width);
        header->setSectionResizeMode(c, c == ResultsModel::textColumn ? QHeaderView::Stretch : QHeaderView::Interactive);
    }
    applyGrid();
    // A table with a style sheet keeps the palette it was polished with, so
    // night reading would leave it white: its sheet is set again.
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, &SearchTabView::applyGrid);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [self] {
        if (self)
            self->showSelected();
    });
    table_->viewport()->installEventFilter(this);
    table_->installEventFilter(this);

    bottom_ = new QWidget;
    auto* column = new QVBoxLayout(bottom_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    note_ = label(QString(), kCountFontSize, QFont::Normal, Theme::secondaryLabel());
    note_->setWordWrap(true);
    note_->setContentsMargins(kNoteInset, kNoteInset, kNoteInset, kNoteInset);
    note_->hide();
    column->addWidget(note_);
    // The table takes whatever height the pane has beyond its header and a
    // row: its own preferred height would hold a short tab taller than it is.
    table_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    table_->setMinimumHeight(2 * kRowHeight);
    column->addWidget(table_, 1);
    column->addWidget(buildBar());
    bottom_->setMinimumHeight(resultsMinHeight);

    readerHost_ = new QWidget;
    readerHost_->setMinimumHeight(readerMinHeight);
    auto* hint = label(QString::fromUtf8(kHint), kHintFontSize, QFont::Normal, Theme::secondaryLabel());
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    hint_ = hint;
    pin(readerHost_, hint_);

    split_ = new QSplitter(Qt::Vertical);
    split_->setChildrenCollapsible(false);
    split_->addWidget(readerHost_);
    split_->addWidget(bottom_);
    // A change of the window's height goes to the reader first.
    split_->setStretchFactor(0, 1);
    split_->setStretchFactor(1, 0);
    pin(this, split_);
    // The panes' least heights follow the tab's height (see eventFilter), so
    // they must not hold the tab, and the window, taller than the screen.
    split_->setMinimumHeight(1);
    installEventFilter(this);
    setFocusProxy(table_);
}

namespace {

constexpr int kFieldWidth = 170;
constexpr int kBarHeight = 34;
constexpr int kBarSpacing = 8;
constexpr int kBarInsetV = 3;
constexpr int kBarInsetH = 8;
constexpr double kRefineIconSize = 16;
constexpr double kClearIconSize = 14;
constexpr double kSaveIconSize = 15;
constexpr int kProgressWidth = 60;
// The pause in typing after which the search within results starts.
constexpr int kRefineTypingPauseMs = 300;
constexpr char kSavePlaceholder[] = "اسم لحفظ النتائج";
constexpr char kRefinePlaceholder[] = "بحث في النتائج";
constexpr char kRefineTip[] = "بحث في النتائج";
constexpr char kClearTip[] = "إيقاف البحث / مسح التصفية";
constexpr char kSaveTip[] = "حفظ النتائج في السجلات";

} // namespace

QWidget* SearchTabView::buildBar()
{
    QPointer<SearchTabView> self(this);
    catPopup_ = new QComboBox;
    centPopup_ = new QComboBox;
    for (QComboBox* popup : {catPopup_, centPopup_}) {
        popup->setFont(Theme::ui(kControlFontSize));
        popup->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        onAction(popup, [self](QObject*) {
            if (self && self->readPopups())
                self->refilter(false);
        });
    }

    saveField_ = new QLineEdit;
    saveField_->setPlaceholderText(QString::fromUtf8(kSavePlaceholder));
    saveField_->setFont(Theme::ui(kControlFontSize));
    saveField_->setFixedWidth(kFieldWidth);
    onAction(saveField_, [self](QObject*) {
        if (self)
            self->saveResults();
    });

    refine_ = new QLineEdit;
    refine_->setPlaceholderText(QString::fromUtf8(kRefinePlaceholder));
    refine_->setFont(Theme::ui(kControlFontSize));
    refine_->setFixedWidth(kFieldWidth);
    refine_->setClearButtonEnabled(true);
    // As a search field sends: after a pause in typing, on Return, and when emptied.
    auto* typing = new QTimer(refine_);
    typing->setSingleShot(true);
    typing->setInterval(kRefineTypingPauseMs);
    connect(typing, &QTimer::timeout, this, [self] {
        if (self)
            self->startRefine();
    });
    connect(refine_, &QLineEdit::textEdited, typing, [typing, self](const QString& text) {
        if (text.isEmpty()) {
            typing->stop();
            if (self)
                self->startRefine();
        } else {
            typing->start();
        }
    });
    onAction(refine_, [self, typing](QObject*) {
        typing->stop();
        if (self)
            self->startRefine();
    });

    progress_ = new QProgressBar;
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(kProgressWidth, 10);
    progress_->hide();

    countLabel_ = label(QString(), kCountFontSize, QFont::Medium);

    auto* refineButton = iconButton(QStringLiteral("binoculars.fill"), QString::fromUtf8(kRefineTip), kRefineIconSize, [self] {
        if (self)
            self->refine_->setFocus();
    });
    auto* clearButton = iconButton(QStringLiteral("xmark"), QString::fromUtf8(kClearTip), kClearIconSize, {Theme::hitSymbol()},
                                   QFont::Normal, [self] {
                                       if (self)
                                           self->clearAction();
                                   });
    auto* saveButton = iconButton(QStringLiteral("square.and.arrow.down"), QString::fromUtf8(kSaveTip), kSaveIconSize,
                                  {Theme::secondary()}, QFont::Normal, [self] {
                                      if (self)
                                          self->saveResults();
                                  });
    // Three groups that keep together: too narrow for one line (large text),
    // the filters and then the name to save under go onto lines of their own.
    auto* bar = new BarView;
    bar->setLine(false);
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new WrapLayout(bar, kBarSpacing, kBarHeight - 2 * kBarInsetV);
    row->setContentsMargins(kBarInsetH, kBarInsetV, kBarInsetH, kBarInsetV);
    row->addWidget(hstack({refineButton, refine_, countLabel_, progress_, clearButton}, kBarSpacing));
    row->addWidget(hstack({catPopup_, centPopup_}, kBarSpacing));
    row->addWidget(hstack({saveField_, saveButton}, kBarSpacing));
    return bar;
}

void SearchTabView::applyGrid()
{
    constexpr std::uint32_t kGridLight = 0xD8D8D4;
    constexpr std::uint32_t kGridDark = 0x333333;

    const QColor grid = Theme::dynamic(kGridLight, kGridDark).resolve();
    table_->setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; }").arg(grid.name()));
}

void SearchTabView::showEvent(QShowEvent* event)
{
    TabContent::showEvent(event);
    if (didSplit_)
        return;
    didSplit_ = true;
    QPointer<SearchTabView> self(this);
    QTimer::singleShot(dividerDelayMs, this, [self] {
        if (self)
            self->placeDivider();
    });
}

void SearchTabView::placeDivider()
{
    if (QLayout* layout = this->layout())
        layout->activate();
    const int h = split_->height();
    if (h <= splitThreshold)
        return;
    const int top = int(std::lround(h * readerShare));
    split_->setSizes({top, std::max(0, h - top - split_->handleWidth())});
}

// ---- The run ----------------------------------------------------------------

void SearchTabView::start()
{
    constexpr char kSearching[] = "جارٍ البحث…";

    engine_ = std::make_shared<SearchEngine>(*lib_);
    countLabel_->setText(QString::fromUtf8(kSearching));
    updateBusy();
    // The job keeps the library and the engine alive; the tab may close
    // while it runs, so it is reached through a weak pointer, on the GUI
    // thread only. All batches go to one receiver from one thread, so they
    // arrive in the engine's order and the final call comes last.
    QPointer<SearchTabView> self(this);
    launch([self, lib = lib_, engine = engine_, query = query_] {
        engine->run(query, limit, [self](const QList<SearchHit>& hits, bool done) {
            GuiJob::post(self, [hits, done](SearchTabView& tab) { tab.receive(hits, done); });
        });
        (void)lib;
    });
}

void SearchTabView::receive(const QList<SearchHit>& hits, bool done)
{
    pending_.append({hits, done});
    if (draining_)
        return;
    draining_ = true;
    QTimer::singleShot(0, this, &SearchTabView::drain);
}

void SearchTabView::drain()
{
    draining_ = false;
    QElapsedTimer spent;
    spent.start();
    // The first rows are painted before anything more is taken in.
    const bool first = model_->all().isEmpty();
    while (!pending_.isEmpty() && spent.elapsed() < drainBudgetMs && !(first && !model_->all().isEmpty())) {
        Batch& next = pending_.first();
        if (next.hits.size() > sliceHits) {
            const QList<SearchHit> slice = next.hits.first(sliceHits);
            next.hits.remove(0, sliceHits);
            absorb(slice, false);
        } else {
            const Batch batch = pending_.takeFirst();
            absorb(batch.hits, batch.done);
        }
    }
    // The first rows go on screen now, not after the next slices.
    if (first && !model_->all().isEmpty() && isVisible())
        table_->viewport()->repaint();
    if (!pending_.isEmpty()) {
        draining_ = true;
        QTimer::singleShot(0, this, &SearchTabView::drain);
    }
}

void SearchTabView::absorb(const QList<SearchHit>& hits, bool done)
{
    if (done_)
        return;
    const int before = selectedRow();
    model_->append(hits, filter_);
    if (done) {
        done_ = true;
        finish();
    }
    rowsChanged(true, before >= 0 ? std::optional<int>(model_->shown().value(before, -1)) : std::nullopt);
}

void SearchTabView::finish()
{
    if (runFallback())
        return;
    updatePopups();
    if (readPopups())
        model_->refilter(filter_);
    const int shown = int(model_->shown().size());
    if (restoreRow && *restoreRow >= 0 && *restoreRow < shown) {
        selectRow(*restoreRow, true);
        restoreRow.reset();
    } else if (!model_->all().isEmpty() && selectedRow() < 0 && shown > 0) {
        selectRow(0, true);
    }
    if (engine_) {
        if (!restored)
            lib_->addHistory(query_.title(), query_.json(), model_->all().size());
        broad_ = ResultFilter::asTyped(query_, engine_->tooBroad());
    } else {
        broad_.clear();
    }
    engine_.reset();
    updateBusy();
    // An empty table says nothing by itself: the reader's side says why.
    if (hint_ && model_->all().isEmpty())
        hint_->setText(ResultFilter::emptyText(*lib_, query_, broad_));
}

bool SearchTabView::runFallback()
{
    if (!engine_ || !model_->all().isEmpty() || fallbacks.isEmpty())
        return false;
    const Fallback taken = fallbacks.takeFirst();
    query_ = taken.query;
    terms_ = query_.highlightTerms();
    model_->setTerms(terms_);
    note_->setText(taken.note);
    note_->show();
    done_ = false;
    if (onTitle)
        onTitle(title());
    start();
    return true;
}

void SearchTabView::cancel()
{
    // A stopped run has not found nothing: no fallback follows it.
    fallbacks.clear();
    if (engine_)
        engine_->cancel();
}

bool SearchTabView::requestClose()
{
    cancel();
    if (refineEngine_)
        refineEngine_->cancel();
    return true;
}

void SearchTabView::updateBusy()
{
    progress_->setVisible(engine_ != nullptr || refineEngine_ != nullptr);
}

// ---- Filters ----------------------------------------------------------------

void SearchTabView::fillPopups()
{
    constexpr char kAllCategories[] = "جميع الأقسام";
    constexpr char kAllCenturies[] = "جميع القرون";

    catPopup_->clear();
    catPopup_->addItem(QString::fromUtf8(kAllCategories));
    centPopup_->clear();
    centPopup_->addItem(QString::fromUtf8(kAllCenturies));
}

void SearchTabView::updatePopups()
{
    const QString catChosen = catPopup_->currentIndex() >= 1 ? catPopup_->currentText() : QString();
    const QString centChosen = centPopup_->currentIndex() >= 1 ? centPopup_->currentText() : QString();
    fillPopups();
    for (const ResultFilter::Item& item : filter_.categoryItems(model_->all())) {
        QVariantList keys;
        for (std::int64_t key : item.keys)
            keys << QVariant::fromValue(key);
        catPopup_->addItem(item.title, keys);
        catPopup_->setItemData(catPopup_->count() - 1, Arabic::num(item.count), Qt::ToolTipRole);
    }
    for (const ResultFilter::Item& item : filter_.centuryItems(model_->all()))
        centPopup_->addItem(item.title, int(item.keys.value(0)));
    if (!catChosen.isEmpty())
        catPopup_->setCurrentIndex(std::max(0, catPopup_->findText(catChosen)));
    if (!centChosen.isEmpty())
        centPopup_->setCurrentIndex(std::max(0, centPopup_->findText(centChosen)));
}

void SearchTabView::settingsChanged()
{
    // The rows, the count and the pop-ups write numbers in the user's digits,
    // which may have just changed.
    model_->clearRendered();
    if (!engine_ && !refineEngine_)
        countLabel_->setText(ResultFilter::statusText(int(model_->shown().size()), model_->shownTitles(),
                                                      model_->shownNotes(), model_->pageHits(), done_, broad_));
    if (!done_)
        return;
    // Relabelled in place: the choices stay as they are.
    const QList<ResultFilter::Item> categories = filter_.categoryItems(model_->all());
    for (int i = 1; i < catPopup_->count() && i - 1 < categories.size(); ++i)
        catPopup_->setItemData(i, Arabic::num(categories[i - 1].count), Qt::ToolTipRole);
    for (int i = 1; i < centPopup_->count(); ++i)
        centPopup_->setItemText(i, ResultFilter::centuryTitle(centPopup_->itemData(i).toInt()));
}

bool SearchTabView::readPopups()
{
    std::optional<QSet<std::int64_t>> categories;
    if (catPopup_->currentIndex() >= 1) {
        categories.emplace();
        for (const QVariant& key : catPopup_->currentData().toList())
            categories->insert(key.toLongLong());
    }
    std::optional<int> century;
    if (centPopup_->currentIndex() >= 1)
        century = centPopup_->currentData().toInt();
    const bool changed = categories != filter_.categories || century != filter_.centuryChoice;
    filter_.categories = std::move(categories);
    filter_.centuryChoice = century;
    return changed;
}

void SearchTabView::refilter(bool keepSelection)
{
    readPopups();
    const int row = selectedRow();
    const std::optional<int> previous = row >= 0 ? std::optional<int>(model_->shown()[row]) : std::nullopt;
    {
        // The reset takes the selection away; what follows decides it again.
        const QSignalBlocker quiet(table_->selectionModel());
        model_->refilter(filter_);
    }
    rowsChanged(keepSelection, previous);
}

void SearchTabView::rowsChanged(bool keepSelection, std::optional<int> previous)
{
    countLabel_->setText(ResultFilter::statusText(int(model_->shown().size()), model_->shownTitles(),
                                                  model_->shownNotes(), model_->pageHits(), done_, broad_));
    if (onTitle)
        onTitle(title());
    const QList<int>& shown = model_->shown();
    if (keepSelection && previous) {
        const auto at = std::lower_bound(shown.begin(), shown.end(), *previous);
        if (at != shown.end() && *at == *previous) {
            const int row = int(at - shown.begin());
            if (row != selectedRow())
                selectRow(row, false);
            return;
        }
    }
    if (done_ && !shown.isEmpty() && selectedRow() < 0 && !restoreRow)
        selectRow(0, true);
}

void SearchTabView::clearAction()
{
    if (!done_) {
        cancel();
        return;
    }
    catPopup_->setCurrentIndex(0);
    centPopup_->setCurrentIndex(0);
    refine_->clear();
    filter_.refineKeys.reset();
    refilter(false);
}

void SearchTabView::startRefine()
{
    constexpr char kRefining[] = "جارٍ البحث في النتائج…";

    if (refineEngine_)
        refineEngine_->cancel();
    const QString text = Characters::trimSpacesAndTabs(refine_->text()).toString();
    if (text.isEmpty()) {
        refineEngine_.reset();
        updateBusy();
        filter_.refineKeys.reset();
        refilter(false);
        return;
    }
    SearchQuery q;
    q.andPhrases = text.split(u' ', Qt::SkipEmptyParts);
    q.affix = query_.affix;
    q.hamza = query_.hamza;
    q.tashkeel = query_.tashkeel;
    q.inNotes = false;
    q.inTitles = false;
    QSet<std::int64_t> books;
    for (const SearchHit& hit : model_->all())
        books.insert(hit.bookId);
    q.scope = QList<std::int64_t>(books.begin(), books.end());

    countLabel_->setText(QString::fromUtf8(kRefining));
    auto engine = std::make_shared<SearchEngine>(*lib_);
    refineEngine_ = engine;
    updateBusy();
    QPointer<SearchTabView> self(this);
    launch([self, lib = lib_, engine, q] {
        // Built on the worker alone, and handed over whole with the final call.
        auto keys = std::make_shared<QSet<std::int64_t>>();
        engine->run(q, limit, [self, engine, keys](const QList<SearchHit>& hits, bool done) {
            for (const SearchHit& hit : hits)
                keys->insert(ResultFilter::key(hit.bookId, hit.seq));
            if (!done)
                return;
            GuiJob::post(self, [engine, keys](SearchTabView& tab) {
                // A refinement superseded by a later one is dropped whole.
                if (tab.refineEngine_ != engine)
                    return;
                tab.refineEngine_.reset();
                tab.updateBusy();
                tab.filter_.refineKeys = *keys;
                tab.refilter(false);
            });
        });
        (void)lib;
    });
}

void SearchTabView::saveResults()
{
    constexpr char kSavedTitle[] = "حُفظت النتائج";
    constexpr char kSavedAfterName[] = "»";
    constexpr char kSavedAfterCount[] = "\nتجدها في نافذة البحث ← السجلات.";
    constexpr char kSaveFailedTitle[] = "تعذر حفظ النتائج";

    QString name = Characters::trimSpacesAndTabs(saveField_->text()).toString();
    if (name.isEmpty())
        name = query_.title();
    QList<std::int64_t> pageIds;
    for (int i : model_->shown()) {
        const SearchHit& hit = model_->all()[i];
        if (hit.kind == SearchHit::Kind::page)
            pageIds << hit.pageId;
    }
    // A set that was not written is not announced; the name stays for another try.
    if (!lib_->saveResults(name, query_.json(), pageIds)) {
        Dialogs::alert(QString::fromUtf8(kSaveFailedTitle), QString(), window());
        return;
    }
    saveField_->clear();
    Dialogs::alert(QString::fromUtf8(kSavedTitle),
                   QStringLiteral("«") + name + QString::fromUtf8(kSavedAfterName) + QString::fromUtf8(CountedNoun::separator)
                       + CountedNoun(QStringLiteral("نتيجة"), QStringLiteral("نتيجتان"),
                                     QStringLiteral("نتائج"), QStringLiteral("نتيجة"))
                             .count(pageIds.size())
                       + QString::fromUtf8(kSavedAfterCount),
                   window());
}

// ---- Selection and the reader --------------------------------------------------

ReaderView* SearchTabView::currentReader() const
{
    return reader_.data();
}

int SearchTabView::resultCount() const
{
    return int(model_->shown().size());
}

int SearchTabView::selectedRow() const
{
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void SearchTabView::selectRow(int row, bool scroll)
{
    const QModelIndex index = model_->index(row, 0);
    table_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (scroll)
        table_->scrollTo(index);
}

void SearchTabView::showSelected()
{
    if (onSelection)
        onSelection();
    const int row = selectedRow();
    if (row < 0 || row >= model_->shown().size())
        return;
    const SearchHit& hit = model_->hitAt(row);
    const std::optional<Book> book = lib_->book(hit.bookId);
    if (!book)
        return;
    std::int64_t seq = hit.seq;
    if (hit.kind == SearchHit::Kind::page && seq == 0) {
        const std::optional<Page> page = lib_->page(hit.pageId);
        seq = page ? page->seq : 0;
    }
    if (!reader_) {
        makeReader(*book, seq);
        return;
    }
    reader_->setHighlight(terms_);
    reader_->open(*book, seq);
}

void SearchTabView::makeReader(const Book& book, std::int64_t seq)
{
    auto* reader = new ReaderView(lib_, book, seq, nullptr, ReaderView::Reading::preview);
    reader->setShowsResultsToggle(true);
    QPointer<SearchTabView> self(this);
    QPointer<ReaderView> weakReader(reader);
    const std::int64_t firstBook = book.id;
    reader->onToggleResults = [self] {
        if (!self)
            return;
        self->bottom_->setHidden(!self->bottom_->isHidden());
        self->split_->refresh();
    };
    reader->onHitOverflow = [self](int step) {
        if (self)
            self->moveResult(step);
    };
    reader->onOpenBook = [self](std::int64_t bookId, std::optional<std::int64_t> page) {
        if (self && self->onOpenBook)
            self->onOpenBook(bookId, page);
    };
    reader->onRunSearch = [self](const SearchQuery& q) {
        if (self && self->onRunSearch)
            self->onRunSearch(q);
    };
    reader->onSearchInBook = [self, weakReader, firstBook](const QString& text) {
        if (!self || !self->onRunSearch)
            return;
        SearchQuery q;
        q.andPhrases = {text};
        q.scope = QList<std::int64_t>{weakReader ? weakReader->book().id : firstBook};
        self->onRunSearch(q);
    };
    unpinAll(readerHost_, this);
    if (hint_) {
        hint_->deleteLater();
        hint_ = nullptr;
    }
    pin(readerHost_, reader);
    reader->setHighlight(terms_);
    reader_ = reader;
}

void SearchTabView::moveResult(int delta)
{
    const int target = selectedRow() + delta;
    if (target >= 0 && target < model_->shown().size()) {
        selectRow(target, true);
        return;
    }
    Beep::play();
}

void SearchTabView::openInBookTab(int row)
{
    if (row < 0)
        row = selectedRow();
    if (row < 0 || row >= model_->shown().size())
        return;
    const SearchHit& hit = model_->hitAt(row);
    std::int64_t seq = hit.seq;
    if (hit.kind == SearchHit::Kind::page)
        if (const std::optional<Page> page = lib_->page(hit.pageId))
            seq = page->seq;
    if (onOpenBook)
        onOpenBook(hit.bookId, seq);
}

bool SearchTabView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::Resize) {
        // A tab shorter than the reader and the results at their least (large
        // text on a small screen) takes what it lacks from both alike, so that
        // the table's header and the bar under it stay inside it.
        const int room = height() - split_->handleWidth();
        const double share = std::clamp(double(room) / (readerMinHeight + resultsMinHeight), 0.0, 1.0);
        readerHost_->setMinimumHeight(int(readerMinHeight * share));
        bottom_->setMinimumHeight(int(resultsMinHeight * share));
        return false;
    }
    if (watched == table_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        openInBookTab(table_->rowAt(int(mouse->position().y())));
        return true;
    }
    // Return on the selected row opens it, as a double click does.
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openInBookTab(selectedRow());
            return true;
        }
    }
    return TabContent::eventFilter(watched, event);
}

QString SearchTabView::hintText() const
{
    return hint_ ? hint_->text() : QString();
}

// ---- TabContent -------------------------------------------------------------

QString SearchTabView::title() const
{
    return titleOf(query_);
}

QString SearchTabView::titleOf(const SearchQuery& query)
{
    constexpr char kTitlePrefix[] = "بحث: ";
    constexpr char kEmptyTitle[] = "…";

    const QString text = query.title();
    return QString::fromUtf8(kTitlePrefix) + (text.isEmpty() ? QString::fromUtf8(kEmptyTitle) : text);
}

QString SearchTabView::symbol() const
{
    return QString::fromLatin1(tabSymbol);
}

Json::Value SearchTabView::sessionJSON() const
{
    Json::Value tab = Json::Value::object();
    tab["k"] = sessionKind;
    tab["q"] = Json::utf8(query_.json());
    tab["row"] = std::max(0, selectedRow());
    if (reader_) {
        tab["b"] = reader_->book().id;
        tab["s"] = reader_->seq();
    }
    return tab;
}

std::optional<SearchTabView::Entry> SearchTabView::decode(const Json::Value& entry)
{
    const std::optional<QString> kind = Json::strictString(entry, "k");
    const std::optional<QString> text = Json::strictString(entry, "q");
    if (kind != QString::fromLatin1(sessionKind) || !text)
        return std::nullopt;
    std::optional<SearchQuery> query = SearchQuery::from(*text);
    if (!query)
        return std::nullopt;
    Entry out{std::move(*query), std::nullopt};
    if (const std::optional<std::int64_t> row = Json::strictInt(entry, "row"))
        out.row = int(*row);
    return out;
}

bool SearchTabView::restore(const Json::Value& entry)
{
    const std::optional<Entry> decoded = decode(entry);
    if (!decoded || decoded->query != query_)
        return false;
    restoreRow = decoded->row;
    return true;
}

} // namespace quorvel
