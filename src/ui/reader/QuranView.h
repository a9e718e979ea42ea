#pragma once

// The Quran tab: a bar of verse search, script switch, sura, verse, juz and
// Mushaf-page controls and three verse commands above the text of one sura
// (or a list of matching verses), and a status line below. Exactly one verse
// is selected; its place is kept under "quran.pos" at every change. The text
// is drawn by QuranRenderer; owners hear back only through the callbacks.

#include "search/SearchQuery.h"
#include "ui/kit/TabContent.h"
#include "ui/reader/QuranRenderer.h"
#include "ui/search/SearchTabView.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QTextBrowser>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;

namespace quorvel {

class BarView;
class HoverButton;
class Label;
class Library;
class QuranText;

// The text of the tab. A click that leaves no selection reports the verse
// under it.
class AyahTextView : public QTextBrowser {
    Q_OBJECT
public:
    explicit AyahTextView(QWidget* parent = nullptr);
    std::function<void(int)> onAyah;
    // Left and Right (with no modifier) turn the Mushaf page: +1 forward.
    // Up, Down, PageUp and PageDown are left to the view, which scrolls.
    std::function<void(int)> onArrow;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class QuranView : public TabContent {
    Q_OBJECT
public:
    static constexpr const char* sessionKind = "quran";
    static constexpr const char* tabSymbol = "book.fill";
    // The title of the tab.
    static QString tabTitle();
    static constexpr const char* positionKey = "quran.pos";
    // A verse of fewer words is searched whole in the books, a longer one by
    // its first words, and as many more as it takes for no other verse to
    // hold them.
    static constexpr int wholeVerseWords = 10;
    static constexpr int leadingWords = 7;
    // The shortest opening the places fall back to when the books quote
    // the verse by fewer words than it is searched by.
    static constexpr int shortestOpening = 4;
    // The selected verse stands this far below the top after a scroll.
    static constexpr int scrollMargin = 120;

    QuranView(std::shared_ptr<Library> lib, std::shared_ptr<const QuranText> q, QWidget* parent = nullptr);
    ~QuranView() override;

    // Callbacks for the owner.
    std::function<void(std::int64_t, std::int64_t)> onOpenBook; // book id, page seq
    // A library search for the owner to open, with the searches to run in
    // its place, in turn, while it finds nothing.
    using Fallback = SearchTabView::Fallback;
    std::function<void(const SearchQuery&, const QList<Fallback>&)> onSearch;
    std::function<void()> onChange;

    // Selects verse `ayah` of `sura` (both clamped), leaves result mode and
    // shows the sura; with `scroll` the verse is scrolled into view once the
    // text is laid out.
    void show(int sura, int ayah, bool scroll);
    // (sura, verse number) of the selected verse.
    std::pair<int, int> position() const;
    void focusSearch();
    // Puts the text into the search field and searches the verses.
    void setSearch(const QString& text);
    // Searches the verses for the words of the search field.
    void runSearch();
    // Copies the selected text (or the selected verse) with its citation.
    void copyCited();
    // The places menu of the selected verse; its caller pops it up.
    QMenu* citedMenu();
    // Hands the owner a search of the library for the selected verse, in the
    // plain spelling the books quote it in.
    void searchCited(bool tafsirOnly);
    // The words the places of verse `index` are searched by: the first words
    // of the verse, lengthened until no other verse holds them. The
    // fallbacks search ever shorter openings of the verse, down to
    // shortestOpening words, each saying so and naming the verses that
    // share it.
    struct Places {
        QString phrase;
        QList<Fallback> fallbacks;
    };
    Places places(int index) const;
    // Shows the first verse on Mushaf page `page` or after it; false when
    // no verse has such a page.
    bool goToPage(int page);
    // The page commands of a book, on the Mushaf pages: the first verse of
    // the page `delta` pages on from the selected verse's, of the first or
    // of the last page. False, with nothing moved, past either end or when
    // the text has no page numbers (canPage()).
    bool stepPage(int delta);
    bool firstPage();
    bool lastPage();
    bool canPage() const;
    // The scrolling keys of a book's page: Up and Down scroll the text by a
    // line, PageUp and PageDown by a screen and, at the start or end of the
    // sura, turn to the Mushaf page before or after it. False for other keys.
    bool scrollKey(int key);
    // Opens the selected verse's page in the Mushaf book (or its sura in the
    // text book).
    void openInMushaf();

    const QuranText& text() const { return *q_; }
    int sura() const { return sura_; }
    int selected() const { return selected_; }
    const std::optional<QList<int>>& results() const { return results_; }
    const QStringList& terms() const { return terms_; }
    // The citation of the copied text (after copyCited).
    QString statusText() const;

    // Parts of the view, for the window and its tests.
    AyahTextView* textView() const { return textView_; }
    QLineEdit* searchField() const { return field_; }
    QComboBox* suraPopup() const { return suraPopup_; }
    QComboBox* juzPopup() const { return juzPopup_; }
    QLineEdit* ayahField() const { return ayahField_; }
    QLineEdit* pageField() const { return pageField_; }
    QButtonGroup* scriptSwitch() const { return scriptSeg_; }
    const QuranRenderer& renderer() const { return renderer_; }

    // TabContent.
    QString title() const override;
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    bool restore(const Json::Value& entry) override;

protected:
    // The scrolling keys reach the text from any control of the tab that
    // leaves them, the search field's first of all.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void build();
    QWidget* buildToolbar();
    QWidget* buildBottomBar();
    void render();
    void sync();
    void scrollToSelected();
    void settingsChanged();
    void clicked(int i);
    void restorePosition();
    // The flat indices inside the text view's selection, in order.
    QList<int> selectedAyat() const;

    std::shared_ptr<Library> lib_;
    std::shared_ptr<const QuranText> q_;
    QuranRenderer renderer_;

    QLineEdit* field_ = nullptr;
    QComboBox* suraPopup_ = nullptr;
    QLineEdit* ayahField_ = nullptr;
    QComboBox* juzPopup_ = nullptr;
    QLineEdit* pageField_ = nullptr;
    Label* status_ = nullptr;
    QLabel* credit_ = nullptr;
    AyahTextView* textView_ = nullptr;
    QButtonGroup* scriptSeg_ = nullptr;
    BarView* toolbar_ = nullptr;
    bool rendered_ = false;

    int sura_ = 1;
    int selected_ = 0;
    std::optional<QList<int>> results_;
    QStringList terms_;
};

} // namespace quorvel
