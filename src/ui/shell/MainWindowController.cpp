#include "ui/shell/MainWindowController.h"

#include "assistant/LocalLLM.h"
#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Build.h"
#include "core/Characters.h"
#include "core/Json.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "search/PageIndex.h"
#include "ui/assistant/AnswerExport.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/Beep.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/PillView.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WrapLayout.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "distribution/LocalStore.h"
#include "ui/shell/PageIndexBuild.h"
#include "ui/shell/PendingTab.h"
#include "ui/shell/ProgressLine.h"
#include "ui/shell/SessionRestore.h"
#include "ui/shell/Sessions.h"
#include "ui/shell/SettingsWindowController.h"
#include "ui/shell/TabStrip.h"
#include "ui/shell/WelcomeView.h"

#include <QEvent>
#include <QUrl>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

namespace quorvel {

namespace {

constexpr QSize kWindowSize(1400, 860);
constexpr QSize kMinimumSize(980, 620);
constexpr char kFrameKeyPrefix[] = "windowFrame.";

constexpr int kTopBarHeight = 46;
constexpr int kCommandLeading = 8;
constexpr int kSearchTrailing = 10;
constexpr int kGroupGap = 12;
constexpr int kCommandSpacing = 2;
constexpr int kSearchSpacing = 8;
constexpr double kCommandSize = 21;
constexpr int kSearchFieldWidth = 290;
constexpr double kSearchFontSize = 13;
constexpr double kModeFontSize = 12;

constexpr char kPlaceholderClassic[] = "بحث في جميع الكتب";
constexpr char kIndexingPages[] = "فهرسة صفحات البحث: ";
constexpr char kNarratorsRefreshed[] = "حُدّثت أسانيد المكتبة";
constexpr char kPlaceholderSmart[] = "اسأل الكتب سؤالاً…";
constexpr char kModeClassic[] = "كلاسيكي";
constexpr char kModeSmart[] = "ذكي";
constexpr char kModeTip[] = "كلاسيكي: بحث بالكلمات · ذكي: اسأل الكتب واحصل على إجابة معزوّة";
constexpr char kPillTip[] = "عدد الكتب في المكتبة";
constexpr char kSourceTip[] = "صورة الأصل / تصدير PDF";

constexpr char kNoQuranTitle[] = "لا يوجد مصحف في المكتبة";
constexpr char kNoQuranText[] = "ثبت «القرآن الكريم» من نافذة التنزيلات (Ctrl+D).";

constexpr char kSavedTitle[] = "حفظت الجلسة";
constexpr char kSavedTextBefore[] = "ستستعاد التبويبات (";
constexpr char kSavedTextAfter[] = ") عند التشغيل القادم. ولحفظها باسم تعود إليه متى شئت: ملف ← حفظ الجلسة باسم.";


// The preference holding the main window's frame.
QString frameKey()
{
    return QString::fromLatin1(kFrameKeyPrefix) + QString::fromLatin1(MainWindowController::frameName);
}

} // namespace

MainWindowController::MainWindowController(std::shared_ptr<Library> lib, QWidget* parent)
    : QMainWindow(parent), lib_(std::move(lib))
{
    Q_ASSERT(lib_);
    onTerminate = [] { QCoreApplication::quit(); };

    topBar_ = new BarView;
    tabStrip_ = new TabStrip;
    host_ = new QWidget;
    welcome_ = new WelcomeView;
    searchField_ = new QLineEdit;
    pill_ = new PillView(Arabic::num(lib_->books().size()), Theme::emerald());
    parking_ = new QWidget(this);
    parking_->hide();

    setWindowTitle(QString::fromUtf8(displayName));
    resize(kWindowSize);
    setMinimumSize(kMinimumSize);
    restoreFrame();

    autosave_.setSingleShot(true);
    autosave_.setInterval(autosaveDelayMs);
    connect(&autosave_, &QTimer::timeout, this, [this] { storeSession(sessionJSON()); });

    sessions_ = new Sessions(*this);
    restorer_ = std::make_unique<SessionRestore>(*this);

    build();
    showWelcomeIfNeeded();
    connect(&Notifier::shared(), &Notifier::libraryChanged, this, &MainWindowController::libraryChanged);
    // The pill's count is written in the user's digits, which may change.
    connect(&Notifier::shared(), &Notifier::readerSettingsChanged, this,
            [this] { pill_->setText(Arabic::num(lib_->books().size())); });
}

MainWindowController::~MainWindowController()
{
    // An index build stops after its current batch; what it did is kept.
    PageIndexBuild::shared().stop();
}

void MainWindowController::indexPagesIfNeeded()
{
    PageIndexBuild& builder = PageIndexBuild::shared();
    // Connected once per window, the connections ending with it: a build a
    // Downloads run asks for shows here too.
    if (!indexing_) {
        indexing_ = true;
        connect(&builder, &PageIndexBuild::progress, this, [this](qint64 done, qint64 total) {
            searchField_->setPlaceholderText(QString::fromUtf8(kIndexingPages) + Arabic::num(done)
                                             + QStringLiteral(" / ") + Arabic::num(total));
        });
        connect(&builder, &PageIndexBuild::finished, this, [this] { setSearchMode(searchMode()); });
        connect(&builder, &PageIndexBuild::failed, this, [this](const QString& problem) {
            setSearchMode(searchMode());
            Dialogs::alert(problem, QString(), this);
        });
        connect(&builder, &PageIndexBuild::narratorsRefreshed, this,
                [this](const QString& notice) { Dialogs::alert(QString::fromUtf8(kNarratorsRefreshed), notice, this); });
    }
    if (!lib_->isLocal()
        || (PageIndex::ready(lib_->main()) && !LocalStore::narratorsOutdated(lib_->main())
            && !LocalStore::normalFormOutdated(lib_->main())))
        return;
    builder.start(lib_->dbPath());
}

void MainWindowController::build()
{
    QPointer<MainWindowController> self(this);
    buildTopBar();

    tabStrip_->onSelect = [self](int i) {
        if (self)
            self->select(i);
    };
    tabStrip_->onClose = [self](int i) {
        if (self)
            self->close(i);
    };

    importLine_ = new ProgressLine;
    auto* content = vstack({topBar_, importLine_, tabStrip_, host_}, 0, StackView::Align::Fill);
    host_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* central = new QWidget;
    pin(central, content);
    setCentralWidget(central);
    pin(host_, welcome_);
    connectTopBar();
}

QList<ThemeColor> MainWindowController::commandColors() const
{
    // The buttons tint their symbols again when night reading switches the palette.
    return {Theme::accent(), Theme::gold()};
}

QWidget* MainWindowController::buildTopBar()
{
    QPointer<MainWindowController> self(this);
    auto command = [this](const char* symbol, const char* tip, QFont::Weight weight, std::function<void()> action) {
        HoverButton* button = iconButton(QString::fromLatin1(symbol), QString::fromUtf8(tip), kCommandSize,
                                         commandColors(), weight, std::move(action));
        commandSymbols_.append({button, QString::fromLatin1(symbol), weight});
        return button;
    };
    // The commands whose windows and menus are not part of the application
    // yet carry no action; they are wired when those exist.
    auto* commands = hstack(
        {
            command("books.vertical.fill", "الكتب", QFont::Normal,
                    [self] {
                        if (self)
                            self->showSearchWindow(SearchWindowController::Page::books);
                    }),
            command("book.fill", "القرآن الكريم", QFont::Normal,
                    [self] {
                        if (self)
                            self->openQuran();
                    }),
            command("magnifyingglass", "البحث", QFont::DemiBold,
                    [self] {
                        if (self)
                            self->showSearchWindow();
                    }),
            command("sparkles", "البحث الذكي: اسأل الكتب", QFont::Normal,
                    [self] {
                        if (self)
                            self->openAI();
                    }),
            command("square.and.pencil", "التعليقات والعلامات", QFont::Normal, nullptr),
            command("pencil.and.scribble", "المؤلّفون", QFont::Normal,
                    [self] {
                        if (self)
                            self->showSearchWindow(SearchWindowController::Page::authors);
                    }),
            command("square.and.arrow.down.fill", "حفظ الجلسة", QFont::Normal,
                    [self] {
                        if (self)
                            self->saveSession(true);
                    }),
            command("rectangle.on.rectangle", "النوافذ", QFont::Normal, nullptr),
            command("gearshape.fill", "الإعدادات", QFont::Normal,
                    [] { SettingsWindowController::show(Library::shared()); }),
            command("envelope.fill", "الإبلاغ عن خطأ", QFont::Normal, nullptr),
            command("leaf.fill", "عن مكتبة قورفل", QFont::Normal, nullptr),
        },
        kCommandSpacing);

    searchField_->setPlaceholderText(QString::fromUtf8(kPlaceholderClassic));
    searchField_->setFont(Theme::ui(kSearchFontSize));
    searchField_->setFixedWidth(kSearchFieldWidth);
    searchField_->setClearButtonEnabled(true);
    onAction(searchField_, [self](QObject*) {
        if (self)
            self->quickSearch();
    });

    const ThemeColor hit = Theme::hitSymbol();
    const ThemeColor hitFaint(Theme::withAlpha(hit.light(), 0.5), Theme::withAlpha(hit.dark(), 0.5));
    auto* source = iconButton(QStringLiteral("doc.richtext.fill"), QString::fromUtf8(kSourceTip), kCommandSize, {hit, hitFaint},
                              QFont::Normal, [self] {
                                  if (self)
                                      self->popUp(self->exportMenu());
                              });

    pill_->setToolTip(QString::fromUtf8(kPillTip));
    auto* search = hstack({buildModeSwitch(), searchField_, source, pill_}, kSearchSpacing);

    // Too narrow for both (large text), the search goes onto a line of its
    // own below the commands rather than lying over them.
    auto* row = new WrapLayout(topBar_, kGroupGap, kTopBarHeight);
    const bool rtl = topBar_->layoutDirection() == Qt::RightToLeft || QGuiApplication::isRightToLeft();
    row->setContentsMargins(rtl ? kSearchTrailing : kCommandLeading, 0, rtl ? kCommandLeading : kSearchTrailing, 0);
    row->addWidget(commands);
    row->addWidget(search);
    return topBar_;
}

QWidget* MainWindowController::buildModeSwitch()
{
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    modeSwitch_ = new QButtonGroup(box);
    modeSwitch_->setExclusive(true);
    const char* titles[] = {kModeClassic, kModeSmart};
    for (int segment = 0; segment < 2; ++segment) {
        auto* button = new QToolButton;
        button->setText(QString::fromUtf8(titles[segment]));
        button->setCheckable(true);
        button->setFont(Theme::ui(kModeFontSize, QFont::Medium));
        button->setFocusPolicy(Qt::TabFocus);
        modeSwitch_->addButton(button, segment);
        row->addWidget(button);
    }
    box->setToolTip(QString::fromUtf8(kModeTip));

    const int stored = int(Preferences::standard().integerValue(QString::fromLatin1(searchModeKey)));
    if (QAbstractButton* button = modeSwitch_->button(stored))
        button->setChecked(true);
    if (stored == 1)
        searchField_->setPlaceholderText(QString::fromUtf8(kPlaceholderSmart));

    QPointer<MainWindowController> self(this);
    connect(modeSwitch_, &QButtonGroup::idClicked, this, [self](int segment) {
        if (self)
            self->setSearchMode(segment);
    });
    return box;
}

int MainWindowController::searchMode() const
{
    return modeSwitch_->checkedId();
}

void MainWindowController::setSearchMode(int segment)
{
    if (QAbstractButton* button = modeSwitch_->button(segment); button && !button->isChecked())
        button->setChecked(true);
    Preferences::standard().set(QString::fromLatin1(searchModeKey), std::int64_t(segment));
    searchField_->setPlaceholderText(QString::fromUtf8(segment == 1 ? kPlaceholderSmart : kPlaceholderClassic));
}

void MainWindowController::showWelcomeIfNeeded()
{
    if (!tabs_.isEmpty())
        return;
    if (welcome_->parentWidget() != host_)
        pin(host_, welcome_);
    QPointer<MainWindowController> self(this);
    const auto bookById = lib_->bookById();
    QList<WelcomeView::Entry> recent;
    for (const Library::PageStamp& stamp : lib_->recentBooks(recentLimit)) {
        const auto found = bookById.constFind(stamp.bookId);
        if (found == bookById.constEnd())
            continue;
        const std::int64_t book = stamp.bookId;
        const std::int64_t seq = stamp.seq;
        // Named as tabs name it, so that two editions of one work read apart.
        const QString label = BookTitles::label(*lib_->catalog(), book);
        recent.append({label.isEmpty() ? found->title : label, [self, book, seq] {
                           if (self)
                               self->openBook(book, seq);
                       }});
    }
    welcome_->setRecent(recent);
    refreshStrip();
}

void MainWindowController::libraryChanged()
{
    // Another database than the local store is never changed underneath us.
    if (!lib_->isLocal())
        return;
    lib_->reloadCatalog();
    pill_->setText(Arabic::num(lib_->books().size()));
    if (tabs_.isEmpty())
        showWelcomeIfNeeded();
}

void MainWindowController::add(TabContent* content)
{
    tabs_.append(std::make_shared<TabItem>(content));
    select(int(tabs_.size()) - 1);
}

void MainWindowController::select(int index)
{
    if (index < 0 || index >= tabs_.size())
        return;
    bool made = false;
    if (!restorer_->realise(index, made)) {
        close(index);
        return;
    }
    const bool changed = index != active_ || made;
    if (index != active_ && active_ >= 0 && active_ < tabs_.size()) {
        if (TabContent* previous = tabs_[active_]->content())
            previous->deactivate();
    }
    active_ = index;
    unpinAll(host_, parking_);
    TabContent* view = tabs_[index]->content();
    if (view)
        pin(host_, view);
    if (view && changed)
        view->activate();
    refreshStrip();
    if (view && view->focusProxy())
        view->focusProxy()->setFocus();
    else if (view)
        view->setFocus();
    else
        setFocus();
    scheduleAutosave();
}

void MainWindowController::close(int index)
{
    if (index < 0 || index >= tabs_.size())
        return;
    if (TabContent* view = tabs_[index]->content(); view && !view->requestClose())
        return;
    std::shared_ptr<TabItem> item = tabs_.takeAt(index);
    if (index == active_)
        active_ = -1;
    else if (index < active_)
        --active_;
    if (TabContent* view = item->content()) {
        if (active_ < 0)
            view->deactivate();
        view->hide();
        view->setParent(nullptr);
        view->deleteLater();
    }
    if (!tabs_.isEmpty()) {
        select(std::min(index, int(tabs_.size()) - 1));
        return;
    }
    active_ = -1;
    unpinAll(host_, parking_);
    // Refreshes the strip as well.
    showWelcomeIfNeeded();
    scheduleAutosave();
}

void MainWindowController::closeActive()
{
    // The welcome is what is left once the tabs are closed: one key press
    // too many must not end the application.
    if (active_ < 0) {
        Beep::play();
        return;
    }
    close(active_);
}

void MainWindowController::refreshStrip()
{
    QList<QPair<QString, QString>> entries;
    for (const auto& item : tabs_)
        entries.append({item->title(), item->icon()});
    tabStrip_->set(entries, active_);
    tabStrip_->setVisible(!tabs_.isEmpty());
}

void MainWindowController::scheduleAutosave()
{
    autosave_.start();
}

QString MainWindowController::sessionJSON() const
{
    Json::Value tabs = Json::Value::array();
    for (const auto& item : tabs_) {
        // A view destroyed underneath its tab keeps its place, so that the
        // active index still points at the right entry.
        TabContent* content = item->content();
        tabs.push_back(content ? content->sessionJSON() : Json::Value::object());
    }
    Json::Value document = Json::Value::object();
    document["tabs"] = std::move(tabs);
    document["active"] = active_;
    return QString::fromUtf8(Json::dumpBytes(document));
}

bool MainWindowController::restoreSession(const QString& json)
{
    return restorer_->restore(json);
}

void MainWindowController::restoreSession()
{
    const std::optional<QString> stored = lib_->kv(QString::fromLatin1(sessionKey));
    if (!stored || stored->trimmed().isEmpty())
        return;
    if (!restoreSession(*stored))
        Sessions::keepAside(*lib_, QString::fromLatin1(sessionSetAsideKey), *stored);
}

QString MainWindowController::kindOf(const TabContent* content)
{
    if (const auto* pending = qobject_cast<const PendingTab*>(content))
        return pending->kind();
    if (qobject_cast<const ReaderView*>(content))
        return QString::fromLatin1(ReaderView::sessionKind);
    if (qobject_cast<const SearchTabView*>(content))
        return QString::fromLatin1(SearchTabView::sessionKind);
    if (qobject_cast<const QuranView*>(content))
        return QString::fromLatin1(QuranView::sessionKind);
    if (qobject_cast<const AIChatView*>(content))
        return QString::fromLatin1(AIChatView::sessionKind);
    return QString();
}

bool MainWindowController::hasTab(const QString& kind) const
{
    return std::any_of(tabs_.begin(), tabs_.end(),
                       [&](const std::shared_ptr<TabItem>& item) { return kindOf(item->content()) == kind; });
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

bool MainWindowController::storeSession(const QString& json)
{
    if (!lib_->setKV(QString::fromLatin1(sessionKey), json))
        return false;
    emit sessionStored();
    return true;
}

void MainWindowController::saveSession(bool explicitSave)
{
    const bool stored = storeSession(sessionJSON());
    if (!explicitSave)
        return;
    // Only a session that was written is announced as saved.
    if (!stored) {
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString(), this);
        return;
    }
    Dialogs::alert(QString::fromUtf8(kSavedTitle),
                   QString::fromUtf8(kSavedTextBefore) + Arabic::num(tabs_.size()) + QString::fromUtf8(kSavedTextAfter), this);
}

void MainWindowController::focusSearch()
{
    searchField_->setFocus();
}

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

void MainWindowController::quickSearch()
{
    const QString text = Characters::trimSpacesAndTabs(searchField_->text()).toString();
    if (text.isEmpty())
        return;
    // The smart mode hands the question to the assistant.
    if (searchMode() == 1) {
        openAI(text);
        searchField_->clear();
        return;
    }
    SearchQuery query;
    if (text.size() >= 3 && text.startsWith(u'"') && text.endsWith(u'"'))
        query.andPhrases = {text.mid(1, text.size() - 2)};
    else
        query.andPhrases = text.split(u' ', Qt::SkipEmptyParts);
    runSearch(query);
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

ReaderView* MainWindowController::activeReader() const
{
    if (active_ < 0 || active_ >= tabs_.size())
        return nullptr;
    TabContent* content = tabs_[active_]->content();
    return content ? content->currentReader() : nullptr;
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

QuranView* MainWindowController::activeQuran() const
{
    if (active_ < 0 || active_ >= tabs_.size())
        return nullptr;
    return qobject_cast<QuranView*>(tabs_[active_]->content());
}

void MainWindowController::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    closing_ = true;
    if (Settings::restoreSession())
        storeSession(sessionJSON());
    saveFrame();
    event->accept();
    if (onTerminate)
        onTerminate();
}

void MainWindowController::saveFrame()
{
    Preferences::standard().set(frameKey(), QString::fromLatin1(saveGeometry().toBase64()));
}

void MainWindowController::restoreFrame()
{
    const auto stored = Preferences::standard().string(frameKey());
    if (stored && !stored->isEmpty())
        restoreGeometry(QByteArray::fromBase64(stored->toLatin1()));
}

} // namespace quorvel
