#pragma once

// The book reader: one book, one page at a time. A header bar of book and
// page tools around the centred title, the table of contents beside the page
// text (the splitter's first pane, on the right), and a footer of navigation
// controls. Every change of page goes through go(); the page is drawn by
// PageRenderer. Owners (a book tab, a search tab) hear back only through the
// callbacks below.

#include "core/Book.h"
#include "core/Page.h"
#include "core/TocNode.h"
#include "scholar/PanelText.h"
#include "search/SearchQuery.h"
#include "ui/kit/TabContent.h"
#include "ui/reader/PageTextView.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QSplitter;
class QTextBrowser;
class QTreeView;

namespace quorvel {

class BarView;
class HoverButton;
class Label;
class Library;
class MarkedScroller;
class SmartPopover;
class TocModel;

class ReaderView : public TabContent {
    Q_OBJECT
public:
    using Term = SearchQuery::Term;

    static constexpr const char* sessionKind = "book";
    static constexpr const char* tabSymbol = "book.closed.fill";
    // The keys of the other editions and of the collation with one.
    static constexpr const char* editionsShortcut = "Ctrl+Shift+E";
    static constexpr const char* collateShortcut = "Ctrl+Shift+M";
    // The keys of the contents, the page text and the analysis panels.
    static constexpr const char* contentsShortcut = "Ctrl+T";
    static constexpr const char* pageShortcut = "Ctrl+J";
    static constexpr const char* wordShortcut = "Ctrl+Shift+A";
    static constexpr const char* isnadShortcut = "Ctrl+Shift+I";
    static constexpr const char* reuseShortcut = "Ctrl+Shift+R";
    static constexpr const char* phraseTreeShortcut = "Ctrl+Shift+T";
    static constexpr double tocShare = 0.24;
    static constexpr int tocMaxWidth = 300;
    static constexpr int tocMinWidth = 150;

    // Whether the pages shown become the book's reading position, the one
    // "continue reading" returns to: a results tab's preview leaves it alone.
    enum class Reading { remembered, preview };

    // A reader of `book` at `seq`, else at the book's last viewed page, else
    // at its first.
    ReaderView(std::shared_ptr<Library> lib, const Book& book, std::optional<std::int64_t> seq,
               QWidget* parent = nullptr, Reading reading = Reading::remembered);
    ~ReaderView() override;

    // A reader for a session entry of a book still in the library; nullptr
    // for any other entry.
    static ReaderView* fromSession(std::shared_ptr<Library> lib, const Json::Value& entry);

    const Book& book() const { return book_; }
    std::int64_t seq() const { return seq_; }
    const std::optional<Page>& page() const { return page_; }
    std::int64_t minSeq() const { return minSeq_; }
    std::int64_t maxSeq() const { return maxSeq_; }
    const QList<std::int64_t>& backHistory() const { return back_; }
    const QList<std::int64_t>& forwardHistory() const { return fwd_; }
    const QList<TocNodePtr>& roots() const { return roots_; }

    // The terms marked on every page; setting them renders the page again.
    const QList<Term>& highlight() const { return highlight_; }
    void setHighlight(const QList<Term>& terms);
    // The search that opened the reader; set without rendering.
    const std::optional<SearchQuery>& query() const { return query_; }
    void setQuery(const std::optional<SearchQuery>& query);
    bool showsResultsToggle() const { return showsResultsToggle_; }
    void setShowsResultsToggle(bool on);

    // The marked hits of the page shown and the current one.
    const QList<Arabic::Range>& hitRanges() const { return hitRanges_; }
    int hitIndex() const { return hitIndex_; }

    // Callbacks for the owner.
    std::function<void()> onChange;                   // after every page change
    std::function<void(const QString&)> onSearchInBook; // the find-in-book text, never empty
    std::function<void(std::int64_t, std::optional<std::int64_t>)> onOpenBook;
    std::function<void()> onToggleResults;
    std::function<void(int)> onHitOverflow;
    std::function<void()> onScroll;                   // on every scroll of the page text
    std::function<void(const SearchQuery&)> onRunSearch; // a new library search, from an analysis link
    std::function<void(const QString&)> onAskAssistant; // a question for the assistant, from an analysis link
    // Adds the owner's items to the page text's context menu, after the reader's.
    std::function<void(QMenu*, const QPoint&)> extraMenuHook;

    // Shows the page at `seq` (clamped to the book; a seq without a page
    // moves on to the next page); `record` keeps the page left in the back
    // history.
    void go(std::int64_t seq, bool record = true);
    // Prepares the controls for the book: title, contents, slider, volumes.
    void loadBook();
    void goBack();
    void goForward();
    // One page forward (delta >= 1) or back (delta < 1) to the neighbouring
    // page that exists, however far; nothing on the first or last page.
    void step(int delta);
    void first();
    void last();
    // Goes to the page whose printed number is typed in the page field (in
    // the chosen volume of a book with several); an unknown number is taken
    // as a seq. Anything but a whole number does nothing.
    void gotoPrinted();
    // Shows another book (a new history, its last viewed page when no seq is
    // given), or another page of this one.
    void open(const Book& book, std::optional<std::int64_t> seq);

    // Steps through the hits: inside the page by recolouring two ranges;
    // past its ends the owner's onHitOverflow decides, else the next or
    // previous page of the book with hits, else a beep.
    void nextHit(int delta);
    // Marks the words a quotation cites on the page shown as the search's
    // hits are marked, and scrolls to them: the whole quotation where the
    // page holds it, else its longest opening run of words the page holds
    // (an excerpt cut or laid out otherwise). Nothing when the page holds
    // too little of it to tell where it is.
    void markCited(const QString& words);
    // The seqs of the book's pages with hits, once the book search has run.
    const std::optional<QList<std::int64_t>>& bookHitSeqs() const { return bookHitSeqs_; }
    // The page's short reference ("ج٢ ص١٥", or "ص١٥" without a volume) and
    // its citation ("[title · author · الجزء: v · الصفحة: n]"); the seq
    // stands in for a missing printed number.
    QString pageRef() const;
    QString citation() const;
    // Puts the selection, or the page's main text without footnotes, on the
    // clipboard as plain text followed by a line break and the citation.
    void copyCited();
    // The book's bibliographic lines, as its card shows them.
    QString bookCard() const;
    void showBookCard();
    // Edits, creates or (emptied) deletes the note of the page shown.
    void editNote();
    // The star shows whether the book is a favourite; the toggle flips it.
    void updateFav();
    void toggleFavorite();
    // Asks for a description of an error in the page and keeps it in the
    // corrections log, saying whether it was kept.
    void reportError();

    // The reader's menus, built afresh on each call for the caller to show
    // and delete. The author's other books: nullptr for a book without an
    // author.
    QMenu* authorBooksMenu();
    // Where another edition of this book's work holds the page shown: the
    // page sharing most of its passages, else the entry of the same heading;
    // nothing when neither is found.
    std::optional<std::int64_t> counterpartSeq(std::int64_t otherBook) const;
    // The book's title as tabs, citations and note headers name it: with
    // what tells it apart from the catalogue's other books of that title.
    QString shownTitle() const;
    QMenu* smartToolsMenu();
    QMenu* notesMenu();
    // The page text's context menu: the page's commands first, with the
    // word under the point and the selected phrase above them.
    void decorateMenu(QMenu* menu, const QPoint& viewportPos);
    void showAuthorBio();
    // The selected text, trimmed; empty without a selection.
    QString selectedText() const;
    // The words of the selection a phrase tree is asked of: a word the
    // selection cuts at either end is left out, and so are headings, verse
    // numbers and marks, the page label and the reader's note.
    QString selectedPhrase() const;
    // The word under a point of the page text's viewport, trimmed of spaces
    // and punctuation, with its rectangle there; none for less than two
    // letters or a point off the text.
    struct WordAt {
        QString word;
        QRect rect;
    };
    std::optional<WordAt> word(const QPoint& viewportPos) const;
    // Shows an analysis pop-up under `rect` of the page text, or under the
    // header without one; the panel is built away from the window.
    std::shared_ptr<SmartPopover> showSmart(const QString& title, std::optional<QRect> rect,
                                            std::function<PanelText::Text()> build);
    // The other editions of the book and where they hold the page shown.
    void showEditions();
    // The page shown collated with its counterpart in `otherBook`, or in the
    // first other edition of the book that holds one; a beep without one.
    // The collation follows the page while it stays open.
    void showCollation(std::int64_t otherBook);
    void collateWithEdition();
    // The panels the keyboard reaches: the word selected, else the word at
    // the text cursor; the page's chains of narrators; its text shared with
    // other books; the phrase tree of the selection. A beep where there is
    // nothing to show (a number is no word to analyse).
    void showWordAnalysis();
    void showIsnad();
    void showReuse();
    void showPhraseTree();
    // Moves the keyboard to the contents (shown again if hidden; the page
    // stays where it is) or to the page text.
    void focusContents();
    void focusPage();
    // The open collation pop-up, if any.
    std::shared_ptr<SmartPopover> collation() const { return collation_.lock(); }
    // Follows an in-app link: a page (of this book or another), a library
    // search, or a collation.
    void handleSmartLink(const QString& link);

    // How many whole-book searches and page renders this reader has started.
    int bookSearchCount() const { return bookSearchCount_; }
    int renderCount() const { return renderCount_; }
    bool userHidToc() const { return userHidToc_; }

    // Renders the page again from the current state and preferences.
    void render();
    // The vertical scroll position of the page text, 0…1.
    double scrollFraction() const;
    void setScrollFraction(double fraction);
    bool tashkeel() const { return tashkeel_; }
    // Shows or hides diacritics without storing the book's preference.
    void setTashkeelVisible(bool on);
    // The contents pane takes 24% of the splitter, at most 300 pixels; it is
    // hidden for a book without contents.
    void layoutSplit();
    void toggleToc();
    // Refreshes the hit counter, the scroll bar's marks and the scroll
    // position for the current hit.
    void updateHitUI(bool scroll = true);
    // The normalised titles of the contents entries that point at `seq`.
    QStringList tocTitles(std::int64_t seq) const;

    // TabContent.
    QString title() const override;
    ReaderView* currentReader() override { return this; }
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    // Takes up an entry of this reader's book: its page and scroll position.
    bool restore(const Json::Value& entry) override;

    // Parts of the view, for the owner's layout and for tests.
    BarView* header() const { return header_; }
    BarView* footer() const { return footer_; }
    Label* titleLabel() const { return titleLabel_; }
    QSplitter* split() const { return split_; }
    QTreeView* outline() const { return outline_; }
    PageTextView* textView() const { return textView_; }
    MarkedScroller* scroller() const { return scroller_; }
    QLabel* hitLabel() const { return hitLabel_; }
    QLineEdit* pageFind() const { return pageFind_; }
    QLineEdit* bookFind() const { return bookFind_; }
    QLineEdit* pageField() const { return pageField_; }
    QSlider* slider() const { return slider_; }
    QComboBox* volPopup() const { return volPopup_; }
    QLabel* volLabel() const { return volLabel_; }
    HoverButton* tashkeelButton() const { return tashkeelBtn_; }
    HoverButton* favButton() const { return favBtn_; }
    HoverButton* noteButton() const { return noteBtn_; }
    HoverButton* cardButton() const { return cardBtn_; }
    HoverButton* copyButton() const { return copyBtn_; }
    HoverButton* collapseButton() const { return collapseBtn_; }
    HoverButton* findButton() const { return findBtn_; }
    HoverButton* backButton() const { return backBtn_; }
    HoverButton* previousPageButton() const { return previousBtn_; }
    HoverButton* nextPageButton() const { return nextBtn_; }
    HoverButton* hitUpButton() const { return hitUpBtn_; }
    HoverButton* hitDownButton() const { return hitDownBtn_; }
    HoverButton* forwardButton() const { return forwardBtn_; }

protected:
    void showEvent(QShowEvent* event) override;
    // The view takes no Tab stop of its own: focus given to it goes to the page.
    void focusInEvent(QFocusEvent* event) override;

private:
    // The action that opens the phrase tree of `phrase` under the header.
    std::function<void()> phraseTree(const QString& phrase);
    void build();
    QWidget* buildHeader();
    QWidget* buildFooter();
    void settingsChanged();
    // The page field: the printed number of the page, else its seq.
    void showPageNumber();
    void syncOutline();
    void outlineClicked(const QModelIndex& index);
    void searchInBook();
    void applyBackground();
    void flashCurrentHit();
    // Scrolls the current hit to the middle of the view, as far as the page allows.
    void scrollToHit();
    void pageFindConfirmed();
    // Moves to the nearest page with hits past the current one in the
    // direction of delta, or beeps when there is none.
    void stepToHitPage(int delta);
    // Runs the query over the whole book on the thread pool, then steps.
    void searchBookHits(int delta);
    SearchQuery bookHitQuery() const;
    // Collates the new page in the open collation pop-up.
    void followCollation();

    std::shared_ptr<Library> lib_;
    Book book_;
    std::int64_t seq_ = 1;
    std::optional<Page> page_;
    QList<Term> highlight_;
    std::optional<SearchQuery> query_;
    bool showsResultsToggle_ = false;
    QList<Arabic::Range> hitRanges_;
    int hitIndex_ = 0;
    std::int64_t minSeq_ = 1;
    std::int64_t maxSeq_ = 1;
    QList<std::int64_t> back_;
    QList<std::int64_t> fwd_;
    bool syncingOutline_ = false;
    bool tashkeel_ = true;
    QList<TocNodePtr> roots_;
    QString lastFind_;
    bool pendingLastHit_ = false;
    std::optional<QList<std::int64_t>> bookHitSeqs_;
    int bookSearchCount_ = 0;
    int renderCount_ = 0;
    bool userHidToc_ = false;
    bool didSetSplit_ = false;
    std::optional<double> pendingFraction_; // a scroll position waiting for the first layout
    std::weak_ptr<SmartPopover> collation_; // the collation pop-up of this reader
    std::int64_t collationBook_ = 0;        // the edition it collates with
    Reading reading_ = Reading::remembered;

    BarView* header_ = nullptr;
    Label* titleLabel_ = nullptr;
    QLineEdit* pageFind_ = nullptr;
    QLabel* hitLabel_ = nullptr;
    HoverButton* tashkeelBtn_ = nullptr;
    HoverButton* favBtn_ = nullptr;
    HoverButton* noteBtn_ = nullptr;
    HoverButton* cardBtn_ = nullptr;
    HoverButton* copyBtn_ = nullptr;
    QSplitter* split_ = nullptr;
    QTreeView* outline_ = nullptr;
    TocModel* tocModel_ = nullptr;
    PageTextView* textView_ = nullptr;
    MarkedScroller* scroller_ = nullptr;
    BarView* footer_ = nullptr;
    QSlider* slider_ = nullptr;
    QLineEdit* pageField_ = nullptr;
    QComboBox* volPopup_ = nullptr;
    QLabel* volLabel_ = nullptr;
    QLineEdit* bookFind_ = nullptr;
    HoverButton* collapseBtn_ = nullptr;
    HoverButton* findBtn_ = nullptr;
    HoverButton* backBtn_ = nullptr;
    HoverButton* previousBtn_ = nullptr;
    HoverButton* nextBtn_ = nullptr;
    HoverButton* hitUpBtn_ = nullptr;
    HoverButton* hitDownBtn_ = nullptr;
    HoverButton* forwardBtn_ = nullptr;
};

} // namespace quorvel
