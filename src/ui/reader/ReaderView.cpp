#include "ui/reader/ReaderView.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Numbers.h"
#include "core/Theme.h"
#include "ui/kit/BarView.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/TrackStyle.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/PageRenderer.h"
#include "ui/reader/PageTextView.h"
#include "ui/reader/TocModel.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QCursor>
#include <QFocusEvent>
#include <QMenu>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

// The contents list: taking the keyboard makes a row current (the list's
// own habit when none is), and a row made current that way is not opened.
class ContentsView : public QTreeView {
public:
    explicit ContentsView(bool& quiet) : quiet_(quiet) {}

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        const QScopedValueRollback<bool> hold(quiet_, true);
        QTreeView::focusInEvent(event);
    }

private:
    bool& quiet_;
};

constexpr int kHeaderHeight = 40;
constexpr int kFooterHeight = 38;
constexpr int kHeaderLeading = 6;
constexpr int kHeaderTrailing = 8;
constexpr int kTitleGap = 12;
constexpr int kSecondGroupSpacing = 2;
constexpr int kFooterSpacing = 6;
constexpr int kFooterInsetV = 4;
constexpr int kFooterInsetH = 8;
constexpr int kSpacerWidth = 10;
constexpr double kTitleSize = 19;
constexpr double kFieldFontSize = 13;
constexpr double kPopupFontSize = 12;
constexpr double kHitLabelSize = 12;
constexpr int kHitLabelWidth = 44;
constexpr int kPageFindWidth = 190;
constexpr int kBookFindWidth = 200;
constexpr int kPageFieldWidth = 64;
constexpr int kOutlineRowHeight = 26;
constexpr int kOutlineIndent = 14;
constexpr int kTextInsetH = 34;
constexpr int kTextInsetV = 22;

constexpr char kTocTip[] = "إظهار/إخفاء فهرس الكتاب";
constexpr char kCardTip[] = "بطاقة الكتاب";
constexpr char kFindInBookTip[] = "البحث في هذا الكتاب";
constexpr char kAuthorBooksTip[] = "كتب المؤلّف الأخرى";
constexpr char kAuthorBioTip[] = "ترجمة المؤلّف";
constexpr char kToolsTip[] = "أدوات ذكية: مصادر النص، الإسناد، الطبعات، شجرة المسألة";
constexpr char kFavTip[] = "إضافة الكتاب إلى المفضّلة";
constexpr char kFirstTip[] = "الصفحة الأولى";
constexpr char kPreviousTip[] = "الصفحة السابقة";
constexpr char kNextTip[] = "الصفحة التالية";
constexpr char kLastTip[] = "الصفحة الأخيرة";
constexpr char kTashkeelTip[] = "إظهار/إخفاء التشكيل";
constexpr char kNoteTip[] = "تعليق على هذه الصفحة";
constexpr char kCopyTip[] = "نسخ الصفحة أو المحدَّد مع العزو";
constexpr char kHitUpTip[] = "التطابق السابق (Ctrl+Shift+G)";
constexpr char kHitDownTip[] = "التطابق التالي (Ctrl+G)";
constexpr char kPageFindPlaceholder[] = "بحث في الصفحة";
constexpr char kCollapseTip[] = "إظهار/إخفاء جدول النتائج";
constexpr char kBookFindPlaceholder[] = "بحث في الكتاب";
constexpr char kVolumeCaption[] = "الجزء";
constexpr char kPageCaption[] = "الصفحة";
constexpr char kBackTip[] = "رجوع";
constexpr char kForwardTip[] = "تقدّم";
constexpr char kBookNotesTip[] = "تعليقات هذا الكتاب";

constexpr char kNoteSymbol[] = "note.text";
constexpr char kNoteBadgeSymbol[] = "note.text.badge.plus";
constexpr double kNoteSymbolSize = 16;

// The page text's inset around the text, as the document's frame margins.
void setInset(QTextDocument* document)
{
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setLeftMargin(kTextInsetH);
    frame.setRightMargin(kTextInsetH);
    frame.setTopMargin(kTextInsetV);
    frame.setBottomMargin(kTextInsetV);
    document->rootFrame()->setFrameFormat(frame);
}

// Shows a menu of the reader's at the mouse; it goes once closed.
void popUp(QMenu* menu)
{
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

} // namespace

ReaderView::ReaderView(std::shared_ptr<Library> lib, const Book& book, std::optional<std::int64_t> seq, QWidget* parent,
                       Reading reading)
    : TabContent(parent), lib_(std::move(lib)), book_(book), reading_(reading)
{
    Q_ASSERT(lib_);
    std::tie(minSeq_, maxSeq_) = lib_->seqRange(book_.id);
    seq_ = seq ? *seq : lib_->lastViewed(book_.id).value_or(minSeq_);
    tashkeel_ = lib_->tashkeel(book_.id);
    build();
    loadBook();
    go(seq_, false);
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this, &ReaderView::settingsChanged);
}

ReaderView::~ReaderView() = default;

ReaderView* ReaderView::fromSession(std::shared_ptr<Library> lib, const Json::Value& entry)
{
    const std::optional<QString> kind = Json::strictString(entry, "k");
    const std::optional<std::int64_t> bookId = Json::strictInt(entry, "b");
    const std::optional<std::int64_t> seq = Json::strictInt(entry, "s");
    if (kind != QLatin1String(sessionKind) || !bookId || !seq)
        return nullptr;
    const std::optional<Book> book = lib->book(*bookId);
    if (!book)
        return nullptr;
    auto* reader = new ReaderView(std::move(lib), *book, *seq);
    reader->restore(entry);
    return reader;
}

// ---- Construction -----------------------------------------------------------

void ReaderView::build()
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The contents pane and the page text, the contents first: the right
    // pane of a right-to-left window.
    outline_ = new ContentsView(syncingOutline_);
    tocModel_ = new TocModel(outline_);
    outline_->setModel(tocModel_);
    outline_->setHeaderHidden(true);
    outline_->setIndentation(kOutlineIndent);
    outline_->setUniformRowHeights(true);
    outline_->setFrameShape(QFrame::NoFrame);
    outline_->setTextElideMode(Qt::ElideRight);
    outline_->setIconSize(QSize(int(TocModel::symbolSize), int(TocModel::symbolSize)));
    outline_->setFont(Theme::ui(kFieldFontSize));
    outline_->setStyleSheet(QStringLiteral("QTreeView::item { height: %1px; }").arg(kOutlineRowHeight));
    outline_->setMinimumWidth(tocMinWidth);
    QPointer<ReaderView> self(this);
    connect(outline_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [self](const QModelIndex& current) {
                if (self)
                    self->outlineClicked(current);
            });
    // Return (or a click) on the row the list made current when it took the
    // keyboard opens it.
    auto openRow = [self](const QModelIndex& index) {
        const TocNode* node = TocModel::node(index);
        if (self && node && node->seq != self->seq_)
            self->outlineClicked(index);
    };
    connect(outline_, &QAbstractItemView::activated, this, openRow);
    connect(outline_, &QAbstractItemView::clicked, this, openRow);

    textView_ = new PageTextView;
    textView_->onArrow = [self](int delta) {
        if (self)
            self->step(delta);
    };
    textView_->extraMenu = [self](QMenu* menu, const QPoint& at) {
        if (self)
            self->decorateMenu(menu, at);
    };
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setLayoutDirection(Qt::RightToLeft);
    scroller_ = new MarkedScroller;
    textView_->setVerticalScrollBar(scroller_);
    textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(scroller_, &QScrollBar::valueChanged, this, [self] {
        if (self && self->onScroll)
            self->onScroll();
    });

    split_ = new QSplitter(Qt::Horizontal);
    split_->setHandleWidth(1);
    split_->setChildrenCollapsible(false);
    split_->addWidget(outline_);
    split_->addWidget(textView_);
    // A change of width goes to the page text.
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);

    column->addWidget(buildHeader());
    column->addWidget(split_, 1);
    column->addWidget(buildFooter());
    // Not a focus proxy: Tab into a view with one jumps to the proxy and
    // passes over the header and the contents laid out before the page.
    setFocusPolicy(Qt::NoFocus);
    applyBackground();
}

void ReaderView::focusInEvent(QFocusEvent* event)
{
    TabContent::focusInEvent(event);
    textView_->setFocus(event->reason());
}

QWidget* ReaderView::buildHeader()
{
    QPointer<ReaderView> self(this);
    auto guarded = [self](void (ReaderView::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    auto tool = [](const char* symbol, const char* tip, double size, std::function<void()> action,
                   const QList<ThemeColor>& colors = {}) {
        return iconButton(QString::fromLatin1(symbol), QString::fromUtf8(tip), size, colors, QFont::Normal, std::move(action));
    };

    header_ = new BarView;
    header_->setFixedHeight(kHeaderHeight);

    titleLabel_ = new Label(QString());
    titleLabel_->setFont(Theme::reader(kTitleSize, true));
    titleLabel_->setElideMode(Qt::ElideMiddle);
    titleLabel_->setAlignment(Qt::AlignCenter);
    titleLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    favBtn_ = tool("star", kFavTip, 16, guarded(&ReaderView::toggleFavorite), {Theme::goldInk()});
    auto* gap = new QWidget;
    gap->setFixedWidth(kSpacerWidth);
    auto* first = hstack(
        {
            tool("sidebar.right", kTocTip, 16, guarded(&ReaderView::toggleToc)),
            cardBtn_ = tool("info.circle", kCardTip, 16, guarded(&ReaderView::showBookCard)),
            tool("doc.text.magnifyingglass", kFindInBookTip, 16,
                 [self] {
                     if (self)
                         self->bookFind_->setFocus();
                 }),
            tool("books.vertical", kAuthorBooksTip, 16,
                 [self] {
                     if (self)
                         popUp(self->authorBooksMenu());
                 }),
            tool("pencil.and.scribble", kAuthorBioTip, 16, guarded(&ReaderView::showAuthorBio)),
            tool("sparkles", kToolsTip, 16,
                 [self] {
                     if (self)
                         popUp(self->smartToolsMenu());
                 }),
            favBtn_,
            gap,
            tool("forward.end.fill", kFirstTip, 14, guarded(&ReaderView::first)),
            previousBtn_ = tool("arrowtriangle.right.fill", kPreviousTip, 14,
                                [self] {
                                    if (self)
                                        self->step(-1);
                                }),
            nextBtn_ = tool("arrowtriangle.left.fill", kNextTip, 14,
                            [self] {
                                if (self)
                                    self->step(1);
                            }),
            tool("backward.end.fill", kLastTip, 14, guarded(&ReaderView::last)),
        },
        0);

    tashkeelBtn_ = tool("character.textbox", kTashkeelTip, 16, [self] {
        if (!self)
            return;
        self->tashkeel_ = !self->tashkeel_;
        self->lib_->setTashkeel(self->book_.id, self->tashkeel_);
        self->render();
    });
    noteBtn_ = tool(kNoteSymbol, kNoteTip, kNoteSymbolSize, guarded(&ReaderView::editNote), {Theme::goldInk(), Theme::accent()});

    pageFind_ = new QLineEdit;
    pageFind_->setPlaceholderText(QString::fromUtf8(kPageFindPlaceholder));
    pageFind_->setFont(Theme::ui(kFieldFontSize));
    pageFind_->setFixedWidth(kPageFindWidth);
    pageFind_->setClearButtonEnabled(true);
    connect(pageFind_, &QLineEdit::textChanged, this, [self](const QString& text) {
        if (!self)
            return;
        self->lastFind_ = text;
        self->hitIndex_ = 0;
        self->render();
    });
    // Return with the text already marked steps to the next hit.
    connect(pageFind_, &QLineEdit::returnPressed, this, guarded(&ReaderView::pageFindConfirmed));

    hitLabel_ = label(QString(), kHitLabelSize, QFont::Medium, Theme::secondaryLabel());
    hitLabel_->setAlignment(Qt::AlignCenter);
    hitLabel_->setMinimumWidth(kHitLabelWidth);

    auto* second = hstack(
        {
            copyBtn_ = tool("doc.on.doc", kCopyTip, 16, guarded(&ReaderView::copyCited)),
            tashkeelBtn_,
            noteBtn_,
            hitUpBtn_ = tool("chevron.up", kHitUpTip, 13,
                             [self] {
                                 if (self)
                                     self->nextHit(-1);
                             }),
            hitLabel_,
            hitDownBtn_ = tool("chevron.down", kHitDownTip, 13,
                               [self] {
                                   if (self)
                                       self->nextHit(1);
                               }),
            pageFind_,
        },
        kSecondGroupSpacing);

    auto* row = new QHBoxLayout(header_);
    const bool rtl = QGuiApplication::isRightToLeft();
    row->setContentsMargins(rtl ? kHeaderTrailing : kHeaderLeading, 0, rtl ? kHeaderLeading : kHeaderTrailing, 0);
    row->setSpacing(kTitleGap);
    row->addWidget(first, 0, Qt::AlignVCenter);
    row->addWidget(titleLabel_, 1, Qt::AlignVCenter);
    row->addWidget(second, 0, Qt::AlignVCenter);
    return header_;
}

QWidget* ReaderView::buildFooter()
{
    QPointer<ReaderView> self(this);
    footer_ = new BarView;
    footer_->setFixedHeight(kFooterHeight);

    collapseBtn_ = iconButton(QStringLiteral("minus.circle"), QString::fromUtf8(kCollapseTip), 14,
                              {Theme::secondary()}, QFont::Normal, [self] {
                                  if (self && self->onToggleResults)
                                      self->onToggleResults();
                              });
    collapseBtn_->setVisible(false);

    bookFind_ = new QLineEdit;
    bookFind_->setPlaceholderText(QString::fromUtf8(kBookFindPlaceholder));
    bookFind_->setFont(Theme::ui(kFieldFontSize));
    bookFind_->setFixedWidth(kBookFindWidth);
    bookFind_->setClearButtonEnabled(true);
    onAction(bookFind_, [self](QObject*) {
        if (self)
            self->searchInBook();
    });
    findBtn_ = iconButton(QStringLiteral("magnifyingglass"), QString::fromUtf8(kBookFindPlaceholder), 15, [self] {
        if (!self)
            return;
        if (self->bookFind_->text().isEmpty())
            self->bookFind_->setFocus();
        else
            self->searchInBook();
    });

    volLabel_ = label(QString::fromUtf8(kVolumeCaption));
    volPopup_ = new QComboBox;
    volPopup_->setFont(Theme::ui(kPopupFontSize));
    onAction(volPopup_, [self](QObject*) {
        if (!self)
            return;
        const QStringList volumes = self->lib_->volumes(self->book_.id);
        const int index = self->volPopup_->currentIndex();
        if (index < 0 || index >= volumes.size())
            return;
        if (const auto seq = self->lib_->firstSeq(self->book_.id, volumes[index]))
            self->go(*seq, true);
    });

    pageField_ = new QLineEdit;
    pageField_->setFont(Theme::ui(kFieldFontSize, QFont::Medium));
    pageField_->setAlignment(Qt::AlignCenter);
    pageField_->setFixedWidth(kPageFieldWidth);
    connect(pageField_, &QLineEdit::returnPressed, this, [self] {
        if (self)
            self->gotoPrinted();
    });

    slider_ = new QSlider(Qt::Horizontal);
    // Acts once released, not while dragged.
    slider_->setTracking(false);
    slider_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    slider_->setStyle(new TrackStyle(slider_));
    onAction(slider_, [self](QObject*) {
        if (self)
            self->go(self->slider_->value(), true);
    });

    const ThemeColor secondary = Theme::secondary();
    backBtn_ = iconButton(QStringLiteral("arrow.right.circle.fill"), QString::fromUtf8(kBackTip), 18, {secondary},
                          QFont::Normal, [self] {
                              if (self)
                                  self->goBack();
                          });
    forwardBtn_ = iconButton(QStringLiteral("arrow.left.circle.fill"), QString::fromUtf8(kForwardTip), 18, {secondary},
                             QFont::Normal, [self] {
                                 if (self)
                                     self->goForward();
                             });
    auto* notes = iconButton(QStringLiteral("bubble.left.fill"), QString::fromUtf8(kBookNotesTip), 18, {Theme::goldInk()},
                             QFont::Normal, [self] {
                                 if (self)
                                     popUp(self->notesMenu());
                             });

    auto* row = hstack({collapseBtn_, bookFind_, findBtn_, volLabel_, volPopup_, label(QString::fromUtf8(kPageCaption)),
                        pageField_, slider_, backBtn_, forwardBtn_, notes},
                       kFooterSpacing);
    pin(footer_, row, {kFooterInsetV, kFooterInsetH, kFooterInsetV, kFooterInsetH});
    return footer_;
}

// ---- Owner-facing state -------------------------------------------------------

void ReaderView::setHighlight(const QList<Term>& terms)
{
    highlight_ = terms;
    bookHitSeqs_.reset();
    render();
}

void ReaderView::setQuery(const std::optional<SearchQuery>& query)
{
    query_ = query;
    bookHitSeqs_.reset();
}

void ReaderView::setShowsResultsToggle(bool on)
{
    showsResultsToggle_ = on;
    collapseBtn_->setVisible(on);
}

void ReaderView::searchInBook()
{
    const QString text = bookFind_->text();
    if (!text.isEmpty() && onSearchInBook)
        onSearchInBook(text);
}

QStringList ReaderView::tocTitles(std::int64_t seq) const
{
    return PageRenderer::tocTitles(roots_, seq);
}

// ---- Navigation ----------------------------------------------------------------

void ReaderView::go(std::int64_t seq, bool record)
{
    const std::int64_t target = std::min(std::max(seq, minSeq_), maxSeq_);
    if (record && target != seq_) {
        back_.append(seq_);
        fwd_.clear();
    }
    seq_ = target;
    page_ = lib_->page(book_.id, seq_);
    if (!page_) {
        // A gap in the book: on to the next page that exists.
        if (const std::optional<std::int64_t> next = lib_->adjacentSeq(book_.id, target, 1)) {
            seq_ = *next;
            page_ = lib_->page(book_.id, seq_);
        }
    }
    if (reading_ == Reading::remembered)
        lib_->setLastViewed(book_.id, seq_);
    if (pendingLastHit_) {
        pendingLastHit_ = false;
        hitIndex_ = PageRenderer::lastHit;
    } else {
        hitIndex_ = 0;
    }
    {
        const QSignalBlocker quiet(slider_);
        slider_->setValue(int(seq_));
    }
    showPageNumber();
    if (page_ && page_->vol) {
        const int index = int(lib_->volumes(book_.id).indexOf(*page_->vol));
        if (index >= 0)
            volPopup_->setCurrentIndex(index);
    }
    const bool noted = lib_->note(book_.id, seq_).has_value();
    noteBtn_->setSymbol(QString::fromLatin1(noted ? kNoteBadgeSymbol : kNoteSymbol), kNoteSymbolSize,
                        {Theme::goldInk(), Theme::accent()});
    render();
    syncOutline();
    followCollation();
    if (onChange)
        onChange();
}

void ReaderView::loadBook()
{
    titleLabel_->setText(book_.title);
    roots_ = lib_->toc(book_.id);
    tocModel_->setRoots(roots_);
    {
        const QSignalBlocker quiet(slider_);
        slider_->setRange(int(minSeq_), int(std::max(minSeq_ + 1, maxSeq_)));
    }
    const QStringList volumes = lib_->volumes(book_.id);
    volPopup_->clear();
    for (const QString& volume : volumes)
        volPopup_->addItem(Arabic::digits(volume));
    volPopup_->setVisible(volumes.size() >= 2);
    volLabel_->setVisible(volumes.size() >= 2);
    updateFav();
}

void ReaderView::step(int delta)
{
    if (const std::optional<std::int64_t> next = lib_->adjacentSeq(book_.id, seq_, delta < 1 ? -1 : 1))
        go(*next, true);
}

void ReaderView::first()
{
    go(minSeq_, true);
}

void ReaderView::last()
{
    go(maxSeq_, true);
}

void ReaderView::gotoPrinted()
{
    // Spaces around the number are forgiven; line breaks and anything else
    // make it no number.
    QString text = Arabic::latinDigits(pageField_->text());
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    text = text.mid(from, to - from);
    if (text.isEmpty())
        return;
    const std::optional<std::int64_t> number = Numbers::parseInteger(text);
    if (!number)
        return;
    std::optional<QString> volume;
    const QStringList volumes = lib_->volumes(book_.id);
    const int chosen = volPopup_->currentIndex();
    if (volumes.size() > 1 && chosen >= 0 && chosen < volumes.size())
        volume = volumes[chosen];
    const std::int64_t target = lib_->seqFor(book_.id, volume, *number).value_or(*number);
    go(target, true);
}

void ReaderView::open(const Book& book, std::optional<std::int64_t> seq)
{
    if (book.id == book_.id) {
        go(seq.value_or(seq_), true);
        return;
    }
    book_ = book;
    bookHitSeqs_.reset();
    std::tie(minSeq_, maxSeq_) = lib_->seqRange(book_.id);
    tashkeel_ = lib_->tashkeel(book_.id);
    back_.clear();
    fwd_.clear();
    loadBook();
    if (roots_.isEmpty()) {
        outline_->hide();
    } else if (outline_->isHidden() && !userHidToc_) {
        outline_->show();
        layoutSplit();
    }
    go(seq ? *seq : lib_->lastViewed(book_.id).value_or(minSeq_), false);
}

void ReaderView::goBack()
{
    if (back_.isEmpty())
        return;
    const std::int64_t seq = back_.takeLast();
    fwd_.append(seq_);
    go(seq, false);
}

void ReaderView::goForward()
{
    if (fwd_.isEmpty())
        return;
    const std::int64_t seq = fwd_.takeLast();
    back_.append(seq_);
    go(seq, false);
}

// ---- Contents pane -----------------------------------------------------------------

void ReaderView::toggleToc()
{
    if (roots_.isEmpty())
        return;
    const bool show = outline_->isHidden();
    outline_->setVisible(show);
    userHidToc_ = !show;
    if (show)
        layoutSplit();
}

void ReaderView::layoutSplit()
{
    if (QLayout* column = layout())
        column->activate();
    const int width = split_->width();
    if (width <= 0)
        return;
    if (roots_.isEmpty()) {
        outline_->hide();
        split_->setSizes({0, width});
        return;
    }
    const int pane = std::min(int(std::lround(width * tocShare)), tocMaxWidth);
    split_->setSizes({pane, std::max(width - pane - split_->handleWidth(), 0)});
}

void ReaderView::syncOutline()
{
    if (roots_.isEmpty())
        return;
    const TocNodePtr node = lib_->chapter(book_.id, seq_);
    if (!node)
        return;
    syncingOutline_ = true;
    const QModelIndex index = tocModel_->indexOf(node.get());
    if (index.isValid()) {
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
            outline_->expand(up);
        outline_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        outline_->scrollTo(index);
    }
    syncingOutline_ = false;
}

void ReaderView::outlineClicked(const QModelIndex& index)
{
    if (syncingOutline_)
        return;
    if (const TocNode* node = TocModel::node(index))
        go(node->seq, true);
}

// ---- Rendering -------------------------------------------------------------------------

void ReaderView::render()
{
    ++renderCount_;
    PageRenderer::State state;
    state.page = page_;
    state.seq = seq_;
    state.tashkeel = tashkeel_;
    state.roots = roots_;
    state.highlight = highlight_;
    state.hitIndex = hitIndex_;
    state.findText = pageFind_->text();
    state.note = lib_->note(book_.id, seq_);
    PageRenderer::Result result = PageRenderer::render(state);

    QTextDocument* document = result.document.release();
    setInset(document);
    document->setParent(textView_);
    // The view deletes a document of its own when it takes another; the
    // pages given to it before are this reader's to delete.
    const QPointer<QTextDocument> old = textView_->document();
    // A hit's glow belongs to the page it was drawn on; the view would keep
    // its cursors into the deleted page and reach into it on the next glow.
    textView_->setExtraSelections({});
    textView_->setDocument(document);
    if (old && old != document && old->parent() == textView_)
        delete old;
    hitRanges_ = std::move(result.hitRanges);
    hitIndex_ = result.hitIndex;
    applyBackground();
    updateHitUI(true);
}

void ReaderView::applyBackground()
{
    QPalette p = textView_->palette();
    p.setColor(QPalette::Base, Theme::parchment());
    p.setColor(QPalette::Text, Theme::ink());
    textView_->setPalette(p);
    // An explicit palette no longer follows the application's, so the
    // contents pane takes the current appearance again with its panel colour.
    QPalette panel = QGuiApplication::palette();
    panel.setColor(QPalette::Base, Theme::panel().resolve());
    outline_->setPalette(panel);
    QPalette title = titleLabel_->palette();
    title.setColor(QPalette::WindowText, Theme::title().resolve());
    titleLabel_->setPalette(title);
}

void ReaderView::settingsChanged()
{
    applyBackground();
    // The numbers the reader writes take up a change of the digits at once,
    // not at the next page.
    showPageNumber();
    const QStringList volumes = lib_->volumes(book_.id);
    for (int i = 0; i < volPopup_->count() && i < volumes.size(); ++i)
        volPopup_->setItemText(i, Arabic::digits(volumes[i]));
    tocModel_->refreshTitles();
    render();
}

void ReaderView::showPageNumber()
{
    pageField_->setText(Arabic::num(page_ && page_->num ? *page_->num : seq_));
}

void ReaderView::setTashkeelVisible(bool on)
{
    tashkeel_ = on;
    render();
}

void ReaderView::showEvent(QShowEvent* event)
{
    TabContent::showEvent(event);
    QPointer<ReaderView> self(this);
    if (!didSetSplit_) {
        didSetSplit_ = true;
        QTimer::singleShot(0, this, [self] {
            if (self)
                self->layoutSplit();
        });
    }
    if (pendingFraction_) {
        const double fraction = *pendingFraction_;
        pendingFraction_.reset();
        QTimer::singleShot(0, this, [self, fraction] {
            if (self)
                self->setScrollFraction(fraction);
        });
    }
}

// ---- Tab content ----------------------------------------------------------------------

QString ReaderView::title() const
{
    return shownTitle();
}

QString ReaderView::symbol() const
{
    return QString::fromLatin1(tabSymbol);
}

Json::Value ReaderView::sessionJSON() const
{
    Json::Value tab = Json::Value::object();
    tab["k"] = sessionKind;
    tab["b"] = book_.id;
    tab["s"] = seq_;
    tab["y"] = pendingFraction_.value_or(scrollFraction());
    return tab;
}

bool ReaderView::restore(const Json::Value& entry)
{
    const std::optional<QString> kind = Json::strictString(entry, "k");
    const std::optional<std::int64_t> bookId = Json::strictInt(entry, "b");
    const std::optional<std::int64_t> seq = Json::strictInt(entry, "s");
    if (kind != QLatin1String(sessionKind) || bookId != book_.id || !seq)
        return false;
    if (*seq != seq_)
        go(*seq, false);
    if (entry.contains("y") && entry["y"].is_number())
        setScrollFraction(entry["y"].get<double>());
    return true;
}

} // namespace quorvel
