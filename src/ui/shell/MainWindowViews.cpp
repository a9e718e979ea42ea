// The views the main window opens in its tabs and wires back to itself:
// books, searches (and the advanced search window), the Quran with its text
// loaded off the GUI thread, and the assistant.

#include "ui/shell/MainWindowController.h"

#include "core/Json.h"
#include "core/Library.h"
#include "ui/assistant/AnswerExport.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/PendingTab.h"

#include <QPointer>
#include <QTimer>

namespace quorvel {

namespace {

constexpr char kNoQuranTitle[] = "لا يوجد مصحف في المكتبة";
constexpr char kNoQuranText[] = "ثبت «القرآن الكريم» من نافذة التنزيلات (Ctrl+D).";

} // namespace

void MainWindowController::openBook(std::int64_t bookId, std::optional<std::int64_t> seq,
                                    const QList<SearchQuery::Term>& highlight, const std::optional<SearchQuery>& query)
{
    const std::optional<Book> book = lib_->book(bookId);
    if (!book)
        return;
    // Only book tabs count: a search tab showing the book keeps its reader.
    for (int i = 0; i < tabs_.size(); ++i) {
        const auto* pending = qobject_cast<PendingTab*>(tabs_[i]->content());
        const bool restored = pending && pending->kind() == QLatin1String(ReaderView::sessionKind) &&
                              Json::strictInt(pending->entry(), "b") == bookId;
        ReaderView* reader = tabs_[i]->reader();
        if (!restored && (!reader || reader->book().id != bookId))
            continue;
        select(i);
        reader = i < tabs_.size() ? tabs_[i]->reader() : nullptr;
        if (!reader || reader->book().id != bookId)
            break;
        if (!seq)
            return;
        reader->setQuery(query);
        reader->setHighlight(highlight);
        reader->go(*seq, true);
        return;
    }
    auto* reader = new ReaderView(lib_, *book, seq);
    reader->setQuery(query);
    if (!highlight.isEmpty())
        reader->setHighlight(highlight);
    add(wire(reader));
}

void MainWindowController::openCited(std::int64_t bookId, std::int64_t seq, const QString& words)
{
    openBook(bookId, seq);
    if (ReaderView* reader = activeReader(); reader && reader->book().id == bookId && !words.isEmpty())
        reader->markCited(words);
}

ReaderView* MainWindowController::wire(ReaderView* reader)
{
    if (!reader)
        return nullptr;
    QPointer<MainWindowController> self(this);
    QPointer<ReaderView> view(reader);
    reader->onOpenBook = [self](std::int64_t book, std::optional<std::int64_t> page) {
        if (self)
            self->openBook(book, page);
    };
    reader->onSearchInBook = [self, view](const QString& text) {
        if (!self || !view)
            return;
        SearchQuery query;
        query.andPhrases = {text};
        query.scope = QList<std::int64_t>{view->book().id};
        self->runSearch(query);
    };
    reader->onRunSearch = [self](const SearchQuery& query) {
        if (self)
            self->runSearch(query);
    };
    reader->onAskAssistant = [self](const QString& question) {
        if (self)
            self->openAI(question);
    };
    reader->onScroll = [self] {
        if (self)
            self->scheduleAutosave();
    };
    reader->onChange = [self, view, shown = reader->title()]() mutable {
        if (!self || !view)
            return;
        if (view->title() != shown) {
            shown = view->title();
            self->refreshStrip();
        }
        self->scheduleAutosave();
    };
    return reader;
}

void MainWindowController::nextHit(int delta)
{
    if (ReaderView* reader = activeReader())
        reader->nextHit(delta);
}

void MainWindowController::runSearch(const SearchQuery& query, const std::optional<QList<SearchHit>>& preset,
                                     std::optional<int> restoreRow)
{
    if (SearchTabView* tab = makeSearchTab(query, preset, restoreRow))
        add(tab);
}

SearchTabView* MainWindowController::makeSearchTab(const SearchQuery& query,
                                                   const std::optional<QList<SearchHit>>& preset,
                                                   std::optional<int> restoreRow)
{
    if (query.isEmpty() && !preset)
        return nullptr;
    // The callbacks read the query the tab runs, ignored books left out.
    auto q = std::make_shared<SearchQuery>(query);
    const QSet<std::int64_t> ignored = lib_->ignoredBooks();
    // An explicit single-book scope is the user's own choice and stays.
    if (!ignored.isEmpty() && !preset && !(q->scope && q->scope->size() < 2)) {
        QList<std::int64_t> books;
        if (q->scope) {
            books = *q->scope;
        } else {
            for (const Book& book : lib_->books())
                books << book.id;
        }
        books.removeIf([&](std::int64_t id) { return ignored.contains(id); });
        q->scope = books;
    }
    auto* tab = new SearchTabView(lib_, *q, preset);
    tab->restoreRow = restoreRow;
    QPointer<MainWindowController> self(this);
    tab->onOpenBook = [self, q](std::int64_t book, std::optional<std::int64_t> page) {
        if (self)
            self->openBook(book, page, q->highlightTerms(), *q);
    };
    tab->onSelection = [self] {
        if (self)
            self->scheduleAutosave();
    };
    tab->onTitle = [self, shown = tab->title()](const QString& title) mutable {
        if (!self || title == shown)
            return;
        shown = title;
        self->refreshStrip();
    };
    tab->onRunSearch = [self](const SearchQuery& search) {
        if (self)
            self->runSearch(search);
    };
    return tab;
}

SearchWindowController* MainWindowController::searchWindow()
{
    if (!searchWindow_)
        searchWindow_ = new SearchWindowController(lib_, this, this);
    return searchWindow_;
}

void MainWindowController::showSearchWindow(std::optional<SearchWindowController::Page> page)
{
    searchWindow()->present(page);
}

void MainWindowController::bringToFront()
{
    show();
    raise();
    activateWindow();
}

void MainWindowController::loadQuran()
{
    if (quranLoading_ || quranTried_)
        return;
    quranLoading_ = true;
    GuiJob::run(
        this,
        [lib = lib_] {
            // The Uthmani script is read once per process: here, rather than
            // on the GUI thread when the view is made.
            QuranText::uthmani();
            return QuranText::load(*lib);
        },
        [](MainWindowController& window, std::shared_ptr<const QuranText> text) { window.quranLoaded(std::move(text)); });
}

void MainWindowController::quranLoaded(std::shared_ptr<const QuranText> text)
{
    quranLoading_ = false;
    quranTried_ = true;
    quranText_ = std::move(text);
    // The Quran tab shown while its text loaded is made now; another one
    // waits until it is selected.
    if (active_ >= 0 && active_ < tabs_.size() && qobject_cast<PendingTab*>(tabs_[active_]->content()))
        select(active_);
}

QuranView* MainWindowController::makeQuran()
{
    if (!quranText_)
        return nullptr;
    auto* view = new QuranView(lib_, quranText_);
    QPointer<MainWindowController> self(this);
    view->onOpenBook = [self](std::int64_t book, std::int64_t seq) {
        if (self)
            self->openBook(book, seq);
    };
    view->onSearch = [self](const SearchQuery& query, const QList<QuranView::Fallback>& fallbacks) {
        if (!self)
            return;
        SearchTabView* tab = self->makeSearchTab(query, std::nullopt, std::nullopt);
        if (!tab)
            return;
        tab->fallbacks = fallbacks;
        // The fallbacks search the books the first search did.
        for (QuranView::Fallback& fallback : tab->fallbacks)
            fallback.query.scope = tab->query().scope;
        self->add(tab);
    };
    view->onChange = [self] {
        if (self)
            self->scheduleAutosave();
    };
    return view;
}

void MainWindowController::openQuran(std::optional<int> sura, std::optional<int> ayah, bool search)
{
    const auto aim = [sura, ayah](QuranView& view) {
        if (sura)
            view.show(*sura, ayah.value_or(1), true);
    };
    for (int i = 0; i < tabs_.size(); ++i) {
        if (kindOf(tabs_[i]->content()) != QLatin1String(QuranView::sessionKind))
            continue;
        select(i);
        // The view may have gone underneath its tab: then nothing follows.
        if (i >= tabs_.size())
            return;
        if (auto* view = qobject_cast<QuranView*>(tabs_[i]->content())) {
            aim(*view);
            if (search)
                view->focusSearch();
        } else if (auto* pending = qobject_cast<PendingTab*>(tabs_[i]->content())) {
            // Its text is still loading: the verse is shown once it is in.
            pending->afterMade([aim, search](TabContent* made) {
                if (auto* view = qobject_cast<QuranView*>(made)) {
                    aim(*view);
                    if (search)
                        view->focusSearch();
                }
            });
        }
        return;
    }
    if (!QuranText::mayBeInstalled(*lib_) || (quranTried_ && !quranText_)) {
        Dialogs::alert(QString::fromUtf8(kNoQuranTitle), QString::fromUtf8(kNoQuranText), this);
        return;
    }
    // The tab stands at once; its view follows when the text has loaded
    // off the GUI thread (at once when it already has).
    QPointer<MainWindowController> self(this);
    Json::Value entry = Json::Value::object();
    entry["k"] = QuranView::sessionKind;
    if (sura) {
        entry["sura"] = *sura;
        entry["ayah"] = ayah.value_or(1);
    }
    auto* pending = new PendingTab(entry, QuranView::tabTitle(), QString::fromLatin1(QuranView::tabSymbol),
                                   [self]() -> TabContent* {
                                       if (!self)
                                           return nullptr;
                                       QuranView* view = self->makeQuran();
                                       if (!view)
                                           Dialogs::alert(QString::fromUtf8(kNoQuranTitle),
                                                          QString::fromUtf8(kNoQuranText), self);
                                       return view;
                                   },
                                   parking_);
    pending->afterMade([aim](TabContent* made) {
        auto* view = qobject_cast<QuranView*>(made);
        if (!view)
            return;
        aim(*view);
        // After the current event, so that the view is in the window by then.
        QPointer<QuranView> guarded(view);
        QTimer::singleShot(0, view, [guarded] {
            if (guarded)
                guarded->focusSearch();
        });
    });
    add(pending);
}

AIChatView* MainWindowController::makeAI()
{
    auto* view = new AIChatView(lib_, assistant ? assistant : AIChatView::libraryAssistant(lib_));
    QPointer<MainWindowController> self(this);
    view->onOpen = [self](std::int64_t book, std::int64_t seq, const QString& words) {
        if (self)
            self->openCited(book, seq, words);
    };
    QPointer<AIChatView> guarded(view);
    view->exportLast = [guarded](const QString& name) {
        const auto format = AnswerExport::formatFrom(name);
        if (!guarded || !format)
            return;
        // The export renders with the panel's renderer, so a saved answer reads as shown.
        AnswerExport::exportLast(guarded->answers(), *format, AIChatView::exportRenderer(), guarded->window());
    };
    return view;
}

void MainWindowController::openAI(const std::optional<QString>& question)
{
    for (int i = 0; i < tabs_.size(); ++i) {
        if (kindOf(tabs_[i]->content()) != QLatin1String(AIChatView::sessionKind))
            continue;
        select(i);
        if (i >= tabs_.size())
            return;
        if (auto* view = qobject_cast<AIChatView*>(tabs_[i]->content())) {
            if (question)
                view->ask(*question);
            else
                view->focus();
        }
        return;
    }
    AIChatView* view = makeAI();
    add(view);
    // After the current event, so that the view is in the window by then.
    QPointer<AIChatView> guarded(view);
    QTimer::singleShot(0, view, [guarded, question] {
        if (!guarded)
            return;
        if (question)
            guarded->ask(*question);
        else
            guarded->focus();
    });
}

} // namespace quorvel
