// The main window's top-bar menus (notes and bookmarks, windows, page scan
// and exports), the report of an error or suggestion, and the windows that
// tabs are detached into.

#include "ui/shell/MainWindowController.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "scholar/PanelText.h"
#include "ui/kit/BarView.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/MenuPages.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/TabStrip.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kNotesHeader[] = "التعليقات (";
constexpr char kBookmarksHeader[] = "العلامات المرجعية (";
constexpr char kHeaderEnd[] = ")";
constexpr char kEntryIndent[] = "  ";
constexpr char kEntryJoin[] = " · ";
constexpr char kNoteJoin[] = ": ";
constexpr char kAsideBook[] = "كتاب غير مثبت (رقم %1)";
constexpr char kAside[] = " — محفوظ جانبا، لا تعرضه صفحة";
constexpr char kExportNotes[] = "تصدير التعليقات والعلامات…";
constexpr char kImportNotes[] = "استيراد تعليقات وعلامات…";
constexpr char kAddBookmark[] = "وضع علامة على هذه الصفحة";
constexpr char kRemoveBookmark[] = "إزالة علامة هذه الصفحة";
// However many notes and bookmarks there are, each list shows at most these.
constexpr int kNotesShown = 40;
constexpr int kBookmarksShown = 40;
// The menu's rows besides the two lists: headers, separators and commands.
constexpr int kOtherRows = 9;

constexpr char kDetach[] = "فصل التبويب الحالي في نافذة مستقلّة";
constexpr char kTile[] = "ترتيب النوافذ متجاورة";
constexpr char kCloseAll[] = "إغلاق كل التبويبات";
constexpr QSize kDetachedSize(900, 700);
// How far each stacked window sits from the one before: its title stays in sight.
constexpr int kCascadeStep = 32;
constexpr char kTooNarrowTitle[] = "لا تتسع الشاشة للنوافذ متجاورة";
constexpr char kTooNarrowText[] = "يلزمها معا من العرض %1 والمتاح %2، فرُتّبت متتالية بعضها فوق بعض.";

constexpr char kScan[] = "صورة الأصل لهذه الصفحة";
constexpr char kExportBookPDF[] = "تصدير الكتاب الحالي إلى PDF…";
constexpr char kExportPagePDF[] = "تصدير الصفحة الحالية إلى PDF…";
constexpr char kExportHTML[] = "تصدير الكتاب إلى صفحة ويب (تفتح في وورد)…";

constexpr char kReportTitle[] = "الإبلاغ عن خطأ أو اقتراح";
constexpr char kReportAsk[] = "اكتب ملاحظتك";
// A suggestion about the library as a whole, tied to no book and no page.
constexpr char kSuggestionKind[] = "اقتراح";
constexpr char kThanksTitle[] = "شكراً لك";
constexpr char kThanksText[] = "حُفظت ملاحظتك في سجلّ التصحيحات.";
constexpr char kNotKeptText[] = "لم تُحفظ ملاحظتك في سجلّ التصحيحات.";

// A header line of the menu: shown, never chosen.
void addHeader(QMenu* menu, const QString& title)
{
    menu->addAction(title)->setEnabled(false);
}

constexpr int kNoteCharacters = 50;

// The first characters of a note on one menu line: a line break or tab would
// break the line or start the key column.
QString notePrefix(const QString& text)
{
    QString prefix = text.left(Characters::endOfFirst(text, kNoteCharacters));
    for (QChar& c : prefix)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    return prefix;
}

} // namespace

QList<QWidget*> MainWindowController::detached() const
{
    QList<QWidget*> windows;
    for (const auto& window : detached_)
        windows.append(window.get());
    return windows;
}

void MainWindowController::connectTopBar()
{
    QPointer<MainWindowController> self(this);
    const auto connectCommand = [&](const char* symbol, std::function<void()> action) {
        for (const CommandSymbol& command : std::as_const(commandSymbols_))
            if (command.button && command.symbol == QLatin1String(symbol))
                onAction(command.button, [action](QObject*) { action(); });
    };
    connectCommand("square.and.pencil", [self] {
        if (self)
            self->popUp(self->notesMenu());
    });
    connectCommand("rectangle.on.rectangle", [self] {
        if (self)
            self->popUp(self->windowsMenu());
    });
    connectCommand("envelope.fill", [self] {
        if (self)
            self->reportError();
    });
    connectCommand("leaf.fill", [] { AboutWindow::show(); });
}

void MainWindowController::popUp(QMenu* menu)
{
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

QMenu* MainWindowController::notesMenu()
{
    auto* menu = new QMenu(this);
    menu->setLayoutDirection(Qt::RightToLeft);
    QPointer<MainWindowController> self(this);
    const auto openPage = [self](std::int64_t book, std::int64_t seq) {
        return [self, book, seq] {
            if (self)
                self->openBook(book, seq, {}, std::nullopt);
        };
    };

    const QList<Note> notes = lib_->notes(std::nullopt);
    addHeader(menu, QString::fromUtf8(kNotesHeader) + Arabic::num(notes.size()) + QString::fromUtf8(kHeaderEnd));
    // An entry that opens its page; one no page shows (its book not
    // installed, or the place past the book's end) is listed as set aside,
    // and opens nothing.
    const auto pageItem = [this, &openPage](const QHash<std::int64_t, QString>& titles, std::int64_t book, std::int64_t seq,
                                            const QString& rest, QMenu* parent) {
        const auto title = titles.constFind(book);
        const QString label = QString::fromUtf8(kEntryIndent)
            + (title != titles.constEnd() ? *title : QString::fromUtf8(kAsideBook).arg(Arabic::num(book)))
            + QString::fromUtf8(kEntryJoin) + rest;
        if (!lib_->setAside(book, seq))
            return menuItem(label, QString(), openPage(book, seq), parent);
        QAction* aside = menuItem(label + QString::fromUtf8(kAside), QString(), {}, parent);
        aside->setEnabled(false);
        return aside;
    };
    QList<QAction*> noteItems;
    const QList<Note> shownNotes = notes.mid(0, kNotesShown);
    QList<std::int64_t> notedBooks;
    for (const Note& note : shownNotes)
        notedBooks.append(note.bookId);
    // Notes on two editions of one work name the edition.
    const QHash<std::int64_t, QString> notedTitles = BookTitles::catalogLabels(*lib_->catalog(), notedBooks);
    for (const Note& note : shownNotes) {
        // The page as the reader names it ("ص٦"), not its place in the book.
        const std::optional<Page> page = lib_->page(note.bookId, note.seq);
        const QString where = PanelText::pageLabel(page ? page->vol : std::nullopt, page ? page->num : std::nullopt, note.seq);
        noteItems << pageItem(notedTitles, note.bookId, note.seq, where + QString::fromUtf8(kNoteJoin) + notePrefix(note.text), menu);
    }
    QList<QAction*> markItems;
    const QList<Library::PageStamp> marks = lib_->allBookmarks();
    const QList<Library::PageStamp> shownMarks = marks.mid(0, kBookmarksShown);
    QList<std::int64_t> markedBooks;
    for (const Library::PageStamp& mark : shownMarks)
        markedBooks.append(mark.bookId);
    // Named as their tabs are: an edition tells itself apart from the
    // catalogue's other edition even when only one of them is marked.
    const QHash<std::int64_t, QString> markedTitles = BookTitles::catalogLabels(*lib_->catalog(), markedBooks);
    for (const Library::PageStamp& mark : shownMarks) {
        // Named as the notes are, by the printed page, not the place in the book.
        const std::optional<Page> page = lib_->page(mark.bookId, mark.seq);
        const QString where = PanelText::pageLabel(page ? page->vol : std::nullopt, page ? page->num : std::nullopt, mark.seq);
        markItems << pageItem(markedTitles, mark.bookId, mark.seq, where, menu);
    }
    // The two lists share the screen's height left by the menu's other rows;
    // a short list leaves its share to the other.
    const int room = MenuPages::rows(menu) - kOtherRows;
    const int noteRoom = std::max<int>(room / 2, room - int(markItems.size()));
    MenuPages::add(menu, noteItems, noteRoom);
    menu->addSeparator();
    addHeader(menu, QString::fromUtf8(kBookmarksHeader) + Arabic::num(marks.size()) + QString::fromUtf8(kHeaderEnd));
    MenuPages::add(menu, markItems, room - std::min<int>(noteRoom, int(noteItems.size())));

    menu->addSeparator();
    menu->addAction(menuItem(QString::fromUtf8(kExportNotes), QString(), [self] {
        if (self)
            self->exportNotes();
    }, menu));
    menu->addAction(menuItem(QString::fromUtf8(kImportNotes), QString(), [self] {
        if (self)
            self->importNotes();
    }, menu));

    if (ReaderView* reader = activeReader()) {
        menu->addSeparator();
        const bool marked = lib_->isBookmarked(reader->book().id, reader->seq());
        QPointer<ReaderView> shown(reader);
        std::shared_ptr<Library> lib = lib_;
        // The page is the one the reader shows when the item is chosen.
        menu->addAction(menuItem(QString::fromUtf8(marked ? kRemoveBookmark : kAddBookmark), QString(), [shown, lib] {
            if (shown)
                lib->toggleBookmark(shown->book().id, shown->seq());
        }, menu));
    }
    return menu;
}

QMenu* MainWindowController::windowsMenu()
{
    auto* menu = new QMenu(this);
    menu->setLayoutDirection(Qt::RightToLeft);
    QPointer<MainWindowController> self(this);
    const auto call = [self](void (MainWindowController::*fn)()) {
        return [self, fn] {
            if (self)
                (self.data()->*fn)();
        };
    };
    menu->addAction(menuItem(QString::fromUtf8(kDetach), QString(), call(&MainWindowController::detachActive), menu));
    menu->addAction(menuItem(QString::fromUtf8(kTile), QString(), call(&MainWindowController::tileWindows), menu));
    menu->addSeparator();
    menu->addAction(menuItem(QString::fromUtf8(kCloseAll), QString(), call(&MainWindowController::closeAll), menu));
    return menu;
}

QMenu* MainWindowController::exportMenu()
{
    auto* menu = new QMenu(this);
    menu->setLayoutDirection(Qt::RightToLeft);
    QPointer<MainWindowController> self(this);
    const auto call = [self](std::function<void(MainWindowController&)> fn) {
        return [self, fn = std::move(fn)] {
            if (self)
                fn(*self);
        };
    };
    menu->addAction(menuItem(QString::fromUtf8(kScan), QString(), call([](MainWindowController& w) { w.showScan(); }), menu));
    menu->addAction(
        menuItem(QString::fromUtf8(kExportBookPDF), QString(), call([](MainWindowController& w) { w.exportPDF(false); }), menu));
    menu->addAction(
        menuItem(QString::fromUtf8(kExportPagePDF), QString(), call([](MainWindowController& w) { w.exportPDF(true); }), menu));
    menu->addAction(menuItem(QString::fromUtf8(kExportHTML), QString(), call([](MainWindowController& w) { w.exportHTML(); }), menu));
    return menu;
}

void MainWindowController::reportError()
{
    if (ReaderView* reader = activeReader()) {
        reader->reportError();
        return;
    }
    const std::optional<QString> text =
        Dialogs::prompt(QString::fromUtf8(kReportTitle), QString::fromUtf8(kReportAsk), QString(), QString::fromUtf8(Dialogs::saveTitle), true);
    // Kept as typed: even a note of spaces says something.
    if (!text || text->isEmpty())
        return;
    if (lib_->addCorrection(0, 0, QString::fromUtf8(kSuggestionKind), *text))
        Dialogs::alert(QString::fromUtf8(kThanksTitle), QString::fromUtf8(kThanksText), this);
    else
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString::fromUtf8(kNotKeptText), this);
}

void MainWindowController::detachActive()
{
    if (active_ < 0 || active_ >= tabs_.size())
        return;
    const int index = active_;
    const std::shared_ptr<TabItem> item = tabs_.takeAt(index);
    active_ = -1;
    unpinAll(host_, parking_);

    auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
    window->setWindowTitle(item->title());
    window->resize(kDetachedSize);
    if (TabContent* view = item->content())
        pin(window.get(), view);
    centreOnScreen(window.get(), screen());
    window->show();
    // Shown from the main window's menu, a new window would stay behind it.
    window->raise();
    window->activateWindow();
    detached_.push_back(std::move(window));

    if (tabs_.isEmpty()) {
        // Refreshes the strip as well.
        showWelcomeIfNeeded();
        scheduleAutosave();
        return;
    }
    select(std::min(index, int(tabs_.size()) - 1));
}

void MainWindowController::tileWindows()
{
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QList<QWidget*> windows;
    if (isVisible())
        windows.append(this);
    for (const auto& window : detached_)
        if (window && window->isVisible())
            windows.append(window.get());
    if (windows.isEmpty())
        return;
    const QRect available = screen->availableGeometry();
    const int n = int(windows.size());
    QList<QSize> decorations;
    QList<int> minimums;
    int needed = 0;
    for (QWidget* window : std::as_const(windows)) {
        if (window->isMinimized() || window->isMaximized())
            window->showNormal();
        decorations.append(window->frameGeometry().size() - window->size());
        minimums.append(window->minimumWidth() + decorations.last().width());
        needed += minimums.last();
    }

    if (needed > available.width()) {
        // Too narrow for columns: each window as large as the stack allows,
        // the main window at the back on the right, each next one a step
        // further left and down.
        const QSize room(available.width() - kCascadeStep * (n - 1), available.height() - kCascadeStep * (n - 1));
        for (int i = 0; i < n; ++i) {
            QWidget* window = windows[i];
            const QSize frame = room.expandedTo(window->minimumSize() + decorations[i]);
            const int x = std::max(available.left(), available.right() + 1 - frame.width() - kCascadeStep * i);
            const int y = std::max(available.top(), std::min(available.top() + kCascadeStep * i,
                                                             available.bottom() + 1 - frame.height()));
            window->resize(frame - decorations[i]);
            window->move(x, y);
            window->raise();
        }
        Dialogs::alert(QString::fromUtf8(kTooNarrowTitle),
                       QString::fromUtf8(kTooNarrowText).arg(Arabic::num(needed), Arabic::num(available.width())), this);
        return;
    }

    // Equal columns, except that a window whose minimum is wider than its
    // share keeps its minimum and the others share what is left.
    QList<int> widths(n, 0);
    int room = available.width();
    int open = n;
    for (bool settled = false; !settled;) {
        settled = true;
        for (int i = 0; i < n; ++i) {
            if (widths[i] == 0 && minimums[i] > room / open) {
                widths[i] = minimums[i];
                room -= minimums[i];
                --open;
                settled = false;
            }
        }
    }
    for (int& width : widths)
        if (width == 0)
            width = room / open;
    // The right-most column is the main window's; the others follow leftwards.
    int x = available.right() + 1;
    for (int i = 0; i < n; ++i) {
        x -= widths[i];
        windows[i]->resize(widths[i] - decorations[i].width(), available.height() - decorations[i].height());
        windows[i]->move(x, available.y());
    }
}

void MainWindowController::closeAll()
{
    // A tab that asks to stay open is passed over, not asked again forever.
    int at = 0;
    while (at < tabs_.size()) {
        const qsizetype before = tabs_.size();
        close(at);
        if (tabs_.size() == before)
            ++at;
    }
}

} // namespace quorvel
