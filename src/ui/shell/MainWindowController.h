#pragma once

#include <atomic>

// The one main window: a top bar of commands with the quick-search field, a
// strip of tabs and a host area showing the active tab's view, or the welcome
// view when no tab is open. It owns the tabs for the life of the process and
// ends the application when it closes.

#include "core/Json.h"
#include "core/Theme.h"
#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "ui/assistant/AIChatView.h"
#include "ui/kit/SearchWindowOwner.h"
#include "ui/search/SearchWindowController.h"
#include "ui/shell/TabItem.h"

#include <QFont>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QButtonGroup;
class QLineEdit;
class QMenu;

namespace quorvel {

class BarView;
class Library;
class PendingTab;
class PillView;
class ProgressLine;
class QuranText;
class QuranView;
class ReaderView;
class SearchTabView;
class SessionRestore;
class Sessions;
class TabStrip;
class WelcomeView;

class HoverButton;

// openBook and runSearch are also the search window's way back to this window.
class MainWindowController : public QMainWindow, public SearchWindowOwner {
    Q_OBJECT
    // Session restore makes its tabs' views with the window's own makers.
    friend class SessionRestore;

public:
    explicit MainWindowController(std::shared_ptr<Library> lib, QWidget* parent = nullptr);
    ~MainWindowController() override;

    static constexpr int autosaveDelayMs = 800;
    static constexpr int recentLimit = 5;
    static constexpr const char* sessionKey = "session";
    // Where a stored session that cannot be read is kept before the next
    // autosave replaces it; a second one under this key and ".2", and so on.
    static constexpr const char* sessionSetAsideKey = "session.unreadable";
    static constexpr const char* searchModeKey = "searchMode";
    static constexpr const char* frameName = "QuorvelMain";

    Library& library() const { return *lib_; }

    // Shows the welcome view with the recent books when no tab is open.
    void showWelcomeIfNeeded();
    // Reloads the catalogue after a change of the local store.
    void libraryChanged();

    // The tab list: add appends a view (the window takes it) and selects it;
    // select and close ignore indices out of range, and close leaves a tab
    // whose view refuses to close; closeActive only beeps when no tab is
    // open, leaving the welcome.
    void add(TabContent* content);
    void select(int index);
    void close(int index);
    void closeActive();
    void refreshStrip();

    const QList<std::shared_ptr<TabItem>>& tabs() const { return tabs_; }
    int active() const { return active_; }

    // Saves the session 0.8 s after the last request.
    void scheduleAutosave();
    bool autosavePending() const { return autosave_.isActive(); }
    // Saves the session now; an explicit save confirms with a message, or
    // says that the session could not be written.
    void saveSession(bool explicitSave = false);
    // The session document of the open tabs: each tab's own entry, in order,
    // and the active index.
    QString sessionJSON() const;
    // Opens the tabs of a session document after the open ones and selects
    // its active tab. Entries that no view takes up (an unknown kind, a book
    // no longer in the library) are left out. Only the active tab's view is
    // made now; the others stand in the strip and are made when first
    // selected. False when the text is not a session document.
    bool restoreSession(const QString& json);
    // Restores the session document stored under "session", when there is
    // one; one that cannot be read is kept under sessionSetAsideKey and the
    // window starts without tabs.
    void restoreSession();
    // Gives a store made before the search's page index its index, through
    // the process's one builder (PageIndexBuild), its progress shown in the
    // search field and a failure told; searches take the page-checked path
    // until it is complete.
    void indexPagesIfNeeded();
    // The named sessions: save-as, open, rename, delete and the stored list.
    Sessions& sessions() const { return *sessions_; }

    void focusSearch();

    // Shows a book in a book tab, reusing the tab that shows it: at `seq`
    // with the given marks and search, or, without a seq, as the tab left it
    // (a new tab at the book's last viewed page). Does nothing for a book
    // outside the catalogue.
    void openBook(std::int64_t bookId, std::optional<std::int64_t> seq,
                  const QList<SearchQuery::Term>& highlight = {}, const std::optional<SearchQuery>& query = {});
    // Shows the page a quotation cites, scrolled to the quoted words and
    // with them marked as a search hit (see ReaderView::markCited).
    void openCited(std::int64_t bookId, std::int64_t seq, const QString& words);
    // Opens a new search tab: the query run over every book but the ignored
    // ones, or the preset hits shown instead; `restoreRow` is selected once
    // the results are in. A query that asks for nothing opens no tab unless
    // it comes with a preset.
    void runSearch(const SearchQuery& query, const std::optional<QList<SearchHit>>& preset = std::nullopt,
                   std::optional<int> restoreRow = std::nullopt);
    // Steps the hits of the active tab's reader (a book tab's, or the one a
    // results tab shows); nothing when the tab has none.
    void nextHit(int delta);
    // Runs the top bar's search field.
    void quickSearch();
    // Shows the one Quran tab, at verse `ayah` (else 1) of `sura` when a
    // sura is named; `search` puts the keyboard in its search field. Without
    // a Quran in the library it says so and opens nothing.
    void openQuran(std::optional<int> sura = std::nullopt, std::optional<int> ayah = std::nullopt,
                   bool search = false);
    // The active tab's Quran view; nullptr when the active tab is another.
    QuranView* activeQuran() const;
    // The reader the active tab shows: a book tab's, or the one a results
    // tab shows; nullptr for other tabs or none.
    ReaderView* activeReader() const;
    // Shows the one assistant tab; asks `question` there, or puts the
    // keyboard in its field without one.
    void openAI(const std::optional<QString>& question = std::nullopt);
    // The assistant tabs are made with this assistant (the library's by
    // default); tests script one.
    AIChatView::Assistant assistant;

    // The user's notes and bookmarks written to, or merged from, an
    // exchange file the user picks; each says how it went.
    void exportNotes();
    void importNotes();
    // Opens the printed page's scan behind the active reader's page, when
    // the library has one.
    void showScan();
    // Writes the active reader's book, or only its current page, to a PDF
    // or (the whole book) to a web page the user picks, then shows the file.
    void exportPDF(bool pageOnly = false);
    void exportHTML();
    // Where a page scan's text points: a path when it begins with "/" or is
    // no address, else the address.
    static QUrl scanUrl(const QString& scan);

    // The advanced search window, made on first use; shown on `page`, or on
    // the page it had.
    SearchWindowController* searchWindow();
    void showSearchWindow(std::optional<SearchWindowController::Page> page = std::nullopt);
    void bringToFront() override;

    // The top bar's menus, built afresh for each click: the notes and
    // bookmarks, the windows, and the page scan and exports. The caller shows
    // and deletes them.
    QMenu* notesMenu();
    QMenu* windowsMenu();
    QMenu* exportMenu();
    // Reports an error in the active reader's page, or else asks for a
    // suggestion and keeps it in the corrections log.
    void reportError();
    // Moves the active tab into a window of its own, out of the session, and
    // brings that window to the front.
    void detachActive();
    // Lays the main window and the detached ones side by side over the
    // screen, the main window rightmost, none narrower than its minimum;
    // when their minimums do not fit side by side, stacks them instead.
    void tileWindows();
    // Closes every tab, as closing them one by one would.
    void closeAll();
    // The windows that tabs were moved into, in order; kept for the life of
    // the main window, closed or not.
    QList<QWidget*> detached() const;

    // Ends the application; replaceable so that tests can watch for it.
    std::function<void()> onTerminate;

    // Parts of the window, for the application and its tests.
    BarView* topBar() const { return topBar_; }
    TabStrip* tabStrip() const { return tabStrip_; }
    QWidget* host() const { return host_; }
    WelcomeView* welcome() const { return welcome_; }
    QLineEdit* searchField() const { return searchField_; }
    PillView* pill() const { return pill_; }
    // The line that follows a notes import, with its stop button.
    ProgressLine* importProgress() const { return importLine_; }
    int searchMode() const;
    void setSearchMode(int segment);

signals:
    // The session document was written under "session".
    void sessionStored();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct CommandSymbol {
        QPointer<HoverButton> button;
        QString symbol;
        QFont::Weight weight;
    };
    QList<CommandSymbol> commandSymbols_;
    QList<ThemeColor> commandColors() const;
    void build();
    QWidget* buildTopBar();
    QWidget* buildModeSwitch();
    // Writes the session document under "session"; false when the write failed.
    bool storeSession(const QString& json);
    // The kind of session entry a tab's view writes ("book", "quran", …).
    static QString kindOf(const TabContent* content);
    // Whether a tab of that kind is open, made or pending.
    bool hasTab(const QString& kind) const;
    // Loads the Quran text off the GUI thread, once; quranLoaded takes it.
    void loadQuran();
    void quranLoaded(std::shared_ptr<const QuranText> text);
    // Connects a reader's callbacks to this window; returns the reader.
    ReaderView* wire(ReaderView* reader);
    // A search tab for runSearch and session restore, its callbacks
    // connected to this window; nullptr for a query that asks for nothing.
    SearchTabView* makeSearchTab(const SearchQuery& query, const std::optional<QList<SearchHit>>& preset,
                                 std::optional<int> restoreRow);
    // A Quran view wired to this window; nullptr while the Quran text is
    // not loaded or when the library has none.
    QuranView* makeQuran();
    AIChatView* makeAI();
    void saveFrame();
    void restoreFrame();
    // Gives the top bar's menu and report buttons their actions.
    void connectTopBar();
    // Shows a top-bar menu at the pointer and deletes it once closed.
    void popUp(QMenu* menu);

    std::shared_ptr<Library> lib_;
    BarView* topBar_ = nullptr;
    TabStrip* tabStrip_ = nullptr;
    QWidget* host_ = nullptr;
    WelcomeView* welcome_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QButtonGroup* modeSwitch_ = nullptr;
    PillView* pill_ = nullptr;
    ProgressLine* importLine_ = nullptr;
    bool indexing_ = false; // listens to the page index's builder
    QWidget* parking_ = nullptr; // holds views taken out of the host

    QPointer<SearchWindowController> searchWindow_;
    std::shared_ptr<const QuranText> quranText_; // loaded on first use, then kept
    bool quranLoading_ = false;
    bool quranTried_ = false; // a load has ended, with a text or without
    QList<std::shared_ptr<TabItem>> tabs_;
    int active_ = -1;
    QTimer autosave_;
    Sessions* sessions_ = nullptr; // a child of the window
    std::unique_ptr<SessionRestore> restorer_;
    bool closing_ = false;
    std::vector<std::unique_ptr<QWidget>> detached_;
};

} // namespace quorvel
