// The reader's hits and scroll position: the hit counter and the scroll
// bar's marks, stepping through the hits inside the page and on to the
// book's other pages with hits, the short glow over the current hit, and the
// page text's scroll position as a fraction.

#include "ui/reader/ReaderView.h"

#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "search/SearchEngine.h"
#include "ui/kit/Beep.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/MarkedScroller.h"
#include "ui/kit/RichTextBuilder.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr int kFlashDelayMs = 120;
constexpr int kFlashLengthMs = 450;
constexpr char kHitSeparator[] = " / ";

// Lays the whole document out, so that its height and positions are final.
void ensureLayout(QTextDocument* document)
{
    document->documentLayout()->blockBoundingRect(document->lastBlock());
}

// Recolours the background of one range of the page.
void setBackground(QTextDocument* document, const Arabic::Range& range, const QColor& color)
{
    QTextCursor cursor(document);
    cursor.setPosition(int(range.location));
    cursor.setPosition(int(range.location + range.length), QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setBackground(color);
    cursor.mergeCharFormat(format);
}

} // namespace

void ReaderView::updateHitUI(bool)
{
    const int count = int(hitRanges_.size());
    hitLabel_->setText(count == 0 ? QString()
                                  : Arabic::num(hitIndex_ + 1) + QString::fromUtf8(kHitSeparator) + Arabic::num(count));
    QTextDocument* document = textView_->document();
    if (!document)
        return;
    ensureLayout(document);
    // A short page still fills the view, so marks are fractions of whichever is taller.
    const double height = std::max({document->size().height(), double(textView_->viewport()->height()), 1.0});
    QList<double> marks;
    marks.reserve(count);
    for (const Arabic::Range& range : hitRanges_)
        marks.append(RichText::rangeRect(*document, range.location, range.length).center().y() / height);
    scroller_->setMarks(marks);

    if (count == 0) {
        scroller_->setValue(0);
        return;
    }
    scrollToHit();

    QPointer<ReaderView> self(this);
    QTimer::singleShot(kFlashDelayMs, this, [self] {
        if (self)
            self->flashCurrentHit();
    });
}

void ReaderView::scrollToHit()
{
    QTextDocument* document = textView_->document();
    if (!document || hitRanges_.isEmpty())
        return;
    ensureLayout(document);
    const Arabic::Range& current = hitRanges_[std::clamp(hitIndex_, 0, int(hitRanges_.size()) - 1)];
    const QRectF rect = RichText::rangeRect(*document, current.location, current.length);
    // Document positions include the inset, so it is not added again.
    const double clip = textView_->viewport()->height();
    double y = rect.center().y() - 0.5 * clip;
    y = std::min(y, document->size().height() - clip);
    y = std::max(y, 0.0);
    scroller_->setValue(int(std::lround(y)));
}

void ReaderView::markCited(const QString& words)
{
    // Fewer opening words than this say too little of where the quotation is.
    constexpr qsizetype kLeastCitedWords = 3;
    const QStringList tokens = Arabic::tokens(words);
    QTextDocument* document = textView_->document();
    if (tokens.isEmpty() || !document)
        return;
    const Arabic::Index index = Arabic::index(document->toPlainText());
    auto held = [&](qsizetype count) {
        return !Arabic::ranges(tokens.mid(0, count).join(u' '), index, Arabic::Match::anywhere).isEmpty();
    };
    // A page that holds the first n words holds the first n - 1: the longest
    // run held is found by halving.
    qsizetype low = 0;
    qsizetype high = tokens.size();
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (held(middle))
            low = middle;
        else
            high = middle - 1;
    }
    if (low < std::min(kLeastCitedWords, tokens.size()))
        return;
    hitIndex_ = 0;
    setHighlight({{tokens.mid(0, low).join(u' '), Arabic::Match::anywhere}});
    // A reader just opened is laid out at its final width only once its tab
    // has been arranged: the words are brought into view again then.
    QPointer<ReaderView> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->scrollToHit();
    });
}

void ReaderView::pageFindConfirmed()
{
    const QString text = pageFind_->text();
    if (text == lastFind_ && !hitRanges_.isEmpty()) {
        nextHit(1);
        return;
    }
    lastFind_ = text;
    hitIndex_ = 0;
    render();
}

void ReaderView::nextHit(int delta)
{
    const int target = hitIndex_ + delta;
    if (!hitRanges_.isEmpty() && target >= 0 && target < hitRanges_.size()) {
        // Only the two backgrounds change; the page is not rendered again.
        setBackground(textView_->document(), hitRanges_[hitIndex_], Theme::hitMark());
        setBackground(textView_->document(), hitRanges_[target], Theme::hitCurrent());
        hitIndex_ = target;
        updateHitUI(true);
        return;
    }
    if (onHitOverflow) {
        pendingLastHit_ = delta < 0;
        const QPointer<ReaderView> self(this);
        onHitOverflow(delta);
        // An owner that did not move (it beeped at its first or last
        // result) must not leave the next page change starting at its end.
        if (self)
            self->pendingLastHit_ = false;
        return;
    }
    if (highlight_.isEmpty()) {
        Beep::play();
        return;
    }
    if (bookHitSeqs_)
        stepToHitPage(delta);
    else
        searchBookHits(delta);
}

void ReaderView::stepToHitPage(int delta)
{
    Q_ASSERT(bookHitSeqs_);
    std::optional<std::int64_t> to;
    if (delta <= 0) {
        auto it = std::lower_bound(bookHitSeqs_->begin(), bookHitSeqs_->end(), seq_);
        if (it != bookHitSeqs_->begin())
            to = *std::prev(it);
    } else {
        auto it = std::upper_bound(bookHitSeqs_->begin(), bookHitSeqs_->end(), seq_);
        if (it != bookHitSeqs_->end())
            to = *it;
    }
    if (!to) {
        Beep::play();
        return;
    }
    pendingLastHit_ = delta < 0;
    go(*to, true);
}

SearchQuery ReaderView::bookHitQuery() const
{
    SearchQuery q;
    if (query_) {
        q = *query_;
    } else {
        for (const Term& term : highlight_) {
            q.orPhrases.append(term.first);
            if (term.second != Arabic::Match::word)
                q.affix = true;
        }
    }
    q.scope = QList<std::int64_t>{book_.id};
    q.inNotes = false;
    q.inTitles = false;
    q.semantic = false;
    return q;
}

void ReaderView::searchBookHits(int delta)
{
    ++bookSearchCount_;
    // The task shares the library, so closing the tab or quitting while it
    // runs never leaves it reading freed memory.
    const std::shared_ptr<Library> lib = lib_;
    const SearchQuery q = bookHitQuery();
    const std::int64_t bookId = book_.id;
    GuiJob::run(
        this,
        [lib, q, bookId] {
            QSet<std::int64_t> seqs;
            SearchEngine engine(*lib);
            engine.run(q, SearchEngine::defaultLimit, [&seqs, bookId](const QList<SearchHit>& hits, bool) {
                for (const SearchHit& hit : hits)
                    if (hit.bookId == bookId)
                        seqs.insert(hit.seq);
            });
            QList<std::int64_t> sorted(seqs.begin(), seqs.end());
            std::sort(sorted.begin(), sorted.end());
            return sorted;
        },
        [bookId, delta](ReaderView& reader, QList<std::int64_t> sorted) {
            // Dropped when the reader shows another book.
            if (reader.book_.id != bookId)
                return;
            reader.bookHitSeqs_ = std::move(sorted);
            reader.stepToHitPage(delta);
        });
}

void ReaderView::flashCurrentHit()
{
    // A short glow over the current hit, where another desktop shows its
    // find indicator.
    if (!window() || !window()->isVisible() || hitIndex_ < 0 || hitIndex_ >= hitRanges_.size())
        return;
    const Arabic::Range& current = hitRanges_[hitIndex_];
    QTextEdit::ExtraSelection glow;
    glow.cursor = QTextCursor(textView_->document());
    glow.cursor.setPosition(int(current.location));
    glow.cursor.setPosition(int(current.location + current.length), QTextCursor::KeepAnchor);
    glow.format.setBackground(Theme::hitGlow());
    textView_->setExtraSelections({glow});
    QPointer<QTextBrowser> view(textView_);
    QTimer::singleShot(kFlashLengthMs, textView_, [view] {
        if (view)
            view->setExtraSelections({});
    });
}

double ReaderView::scrollFraction() const
{
    const int range = scroller_->maximum();
    if (range <= 0)
        return 0;
    return std::clamp(double(scroller_->value()) / range, 0.0, 1.0);
}

void ReaderView::setScrollFraction(double fraction)
{
    if (!isVisible()) {
        // Before the first layout the page's height is not known yet.
        pendingFraction_ = fraction;
        return;
    }
    ensureLayout(textView_->document());
    const int range = scroller_->maximum();
    if (range <= 0)
        return;
    scroller_->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * range)));
}

} // namespace quorvel
