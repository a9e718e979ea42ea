#include "ui/shell/MainMenu.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/DateText.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/downloads/UpdateCheck.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/ClaudeLinkDialog.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/Sessions.h"
#include "ui/shell/SettingsWindowController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPointer>

#include <unicode/ustring.h>

#include <algorithm>

namespace quorvel::MainMenu {

namespace {

constexpr char kAbout[] = "عن مكتبة قورفل";
constexpr char kCheckUpdates[] = "التحقق من التحديثات…";
constexpr char kSettings[] = "الإعدادات…";
constexpr char kClientLink[] = "الربط بـ Claude…";
constexpr char kHide[] = "إخفاء مكتبة قورفل";
constexpr char kQuit[] = "إنهاء مكتبة قورفل";

constexpr char kSearch[] = "البحث…";
constexpr char kSearchAll[] = "بحث في جميع الكتب";
constexpr char kOpenBook[] = "فتح كتاب…";
constexpr char kQuran[] = "القرآن الكريم";
constexpr char kDownloads[] = "التنزيلات: كتب جديدة وتحديثات…";
constexpr char kCloseTab[] = "إغلاق التبويب";
constexpr char kSaveSession[] = "حفظ الجلسة";
constexpr char kSaveSessionAs[] = "حفظ الجلسة باسم…";
constexpr char kExportPDF[] = "تصدير الكتاب إلى PDF…";

constexpr char kCopy[] = "نسخ";
constexpr char kCopyCited[] = "نسخ مع العزو";
constexpr char kPaste[] = "لصق";
constexpr char kSelectAll[] = "تحديد الكل";

constexpr char kBigger[] = "تكبير الخطّ";
constexpr char kActualSize[] = "الحجم الأصلي";
constexpr char kSmaller[] = "تصغير الخطّ";
constexpr char kNightReading[] = "القراءة الليلية";
constexpr char kBookCard[] = "بطاقة الكتاب";
constexpr char kEditions[] = "طبعات أخرى من الكتاب ومقابلتها";
constexpr char kCollate[] = "قابل هذه الصفحة بطبعة أخرى";
constexpr char kWordAnalysis[] = "تحليل الكلمة";
constexpr char kIsnad[] = "الإسناد والرواة في هذه الصفحة";
constexpr char kReuse[] = "مصادر هذا النصّ ونقوله";
constexpr char kPhraseTree[] = "شجرة المسألة للعبارة المحدّدة";
constexpr char kContents[] = "الانتقال إلى الفهرس";
constexpr char kPageText[] = "الانتقال إلى نصّ الصفحة";

constexpr char kNextHit[] = "التطابق التالي";
constexpr char kPreviousHit[] = "التطابق السابق";
constexpr char kNextPage[] = "الصفحة التالية";
constexpr char kPreviousPage[] = "الصفحة السابقة";
constexpr char kFirstPage[] = "الصفحة الأولى";
constexpr char kLastPage[] = "الصفحة الأخيرة";

constexpr char kMinimize[] = "تصغير";
constexpr char kSearchWindow[] = "نافذة البحث";
constexpr char kMainWindow[] = "النافذة الرئيسية";

constexpr char kRename[] = "إعادة تسمية";
constexpr char kDelete[] = "حذف";

// A menu item running `fn` under `keys` (the first is the one shown).
QAction* item(QMenu* menu, const char* title, const QList<QKeySequence>& keys, std::function<void()> fn)
{
    QAction* action = menuItem(QString::fromUtf8(title), QString(), std::move(fn), menu);
    action->setShortcuts(keys);
    menu->addAction(action);
    return action;
}

// An action on the main window, run only when there is one.
std::function<void()> onMain(const MainLookup& main, std::function<void(MainWindowController&)> fn)
{
    return [main, fn = std::move(fn)] {
        if (MainWindowController* w = main ? main() : nullptr)
            fn(*w);
    };
}

// An action on the active reader of the main window, run only when there is one.
std::function<void()> onReader(const MainLookup& main, std::function<void(ReaderView&)> fn)
{
    return onMain(main, [fn = std::move(fn)](MainWindowController& w) {
        if (ReaderView* reader = w.activeReader())
            fn(*reader);
    });
}

// A page command: on the active reader, or on the Mushaf pages of the Quran
// tab; a step the Quran cannot take beeps.
std::function<void()> onPages(const MainLookup& main, std::function<void(ReaderView&)> fn,
                              std::function<bool(QuranView&)> quran)
{
    return onMain(main, [fn = std::move(fn), quran = std::move(quran)](MainWindowController& w) {
        if (ReaderView* reader = w.activeReader())
            fn(*reader);
        else if (QuranView* view = w.activeQuran(); view && !quran(*view))
            Beep::play();
    });
}

// A standard edit command sent to the widget with the keyboard focus, which
// takes it when it has a slot of that name.
std::function<void()> toFocus(const char* slot)
{
    return [slot] {
        if (QWidget* focus = QApplication::focusWidget())
            QMetaObject::invokeMethod(focus, slot);
    };
}

QKeySequence ctrl(Qt::Key key)
{
    return QKeySequence(Qt::CTRL | key);
}

QKeySequence ctrlShift(Qt::Key key)
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | key);
}

QMenu* newMenu(const char* title, QWidget* parent)
{
    auto* menu = new QMenu(QString::fromUtf8(title), parent);
    menu->setLayoutDirection(Qt::RightToLeft);
    return menu;
}

// Every shortcut under a menu, submenus included.
void collectShortcuts(const QList<QAction*>& actions, QList<QKeySequence>& into)
{
    for (QAction* action : actions) {
        into.append(action->shortcuts());
        if (QMenu* sub = action->menu())
            collectShortcuts(sub->actions(), into);
    }
}

// Lets the menu bar's keys win over the text fields, which claim Ctrl+arrows
// and others for their own editing; the standard copy, paste and select-all
// stay with the field, which does the same as the menu would.
class ShortcutPriority : public QObject {
public:
    explicit ShortcutPriority(QMenuBar* bar) : QObject(bar), bar_(bar) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride || !bar_)
            return QObject::eventFilter(watched, event);
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Paste)
            || key->matches(QKeySequence::SelectAll))
            return false;
        // Arrow keys may come flagged as keypad keys; the shortcuts are not.
        const QKeySequence pressed(QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
        QList<QKeySequence> keys;
        collectShortcuts(bar_->actions(), keys);
        for (const QKeySequence& shortcut : std::as_const(keys)) {
            if (shortcut.matches(pressed) == QKeySequence::ExactMatch) {
                event->ignore();
                return true;
            }
        }
        return false;
    }

private:
    QPointer<QMenuBar> bar_;
};

// Medium date and short time in Arabic, as ICU writes them.
QString arabicDate(double secondsSince1970)
{
    return DateText::withStyles(secondsSince1970, UDAT_MEDIUM, UDAT_SHORT, DateText::digitsLocale()).value_or(QString());
}

// The saved-sessions submenu's calls on the named sessions of a main window,
// over the list as it is when the submenu opens; nothing without a window.
std::optional<SessionCalls> sessionCalls(MainWindowController* main)
{
    if (!main)
        return std::nullopt;
    QPointer<MainWindowController> guarded(main);
    auto stored = std::make_shared<const QList<Sessions::NamedSession>>(main->sessions().namedSessions());
    SessionCalls calls;
    calls.list = [stored] {
        QList<SavedSession> listed;
        for (const Sessions::NamedSession& session : *stored)
            listed.append({session.name, session.date, int(session.count)});
        return listed;
    };
    calls.open = [guarded, stored](int index) {
        if (guarded && index >= 0 && index < stored->size())
            guarded->sessions().openNamedSession(stored->at(index));
    };
    calls.rename = [guarded](const QString& name) {
        if (guarded)
            guarded->sessions().renameNamedSession(name);
    };
    calls.remove = [guarded](const QString& name) {
        if (guarded)
            guarded->sessions().deleteNamedSession(name);
    };
    if (main->sessions().listUnreadable())
        calls.unreadableKeptIn = QString(main->library().user().path()).replace(u'&', QStringLiteral("&&"));
    return calls;
}

} // namespace

QMenuBar* build(MainLookup main, QWidget* parent)
{
    auto* bar = new QMenuBar(parent);
    bar->setLayoutDirection(Qt::RightToLeft);
    for (QMenu* menu : {applicationMenu(main, bar), fileMenu(main, bar), editMenu(main, bar), viewMenu(main, bar),
                        navigateMenu(main, bar), windowMenu(main, bar)})
        bar->addMenu(menu);
    // The keys act in every window of the application, as one application menu would.
    QList<QAction*> pendingActions = bar->actions();
    while (!pendingActions.isEmpty()) {
        QAction* action = pendingActions.takeFirst();
        action->setShortcutContext(Qt::ApplicationShortcut);
        if (QMenu* sub = action->menu())
            pendingActions.append(sub->actions());
    }
    qApp->installEventFilter(new ShortcutPriority(bar));
    return bar;
}

QMenu* applicationMenu(const MainLookup&, QWidget* parent)
{
    QMenu* menu = newMenu(applicationTitle, parent);
    item(menu, kAbout, {}, [] { AboutWindow::show(); });
    item(menu, kCheckUpdates, {}, [] { Updater::checkNow(); });
    menu->addSeparator();
    item(menu, kSettings, {ctrl(Qt::Key_Comma)}, [] {
        if (std::shared_ptr<Library> lib = Library::shared())
            SettingsWindowController::show(lib);
    });
    item(menu, kClientLink, {}, [] { ClaudeLink::showDialog(QApplication::activeWindow()); });
    menu->addSeparator();
    // No desktop here hides an application as a whole: its windows go down instead.
    item(menu, kHide, {ctrl(Qt::Key_H)}, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && !qobject_cast<QMenu*>(window))
                window->showMinimized();
    });
    item(menu, kQuit, {ctrl(Qt::Key_Q)}, [] {
        // Closing the windows saves the session on the way out.
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    return menu;
}

QMenu* fileMenu(const MainLookup& main, QWidget* parent)
{
    QMenu* menu = newMenu(fileTitle, parent);
    item(menu, kSearch, {ctrl(Qt::Key_F)}, onMain(main, [](MainWindowController& w) { w.showSearchWindow(); }));
    item(menu, kSearchAll, {ctrl(Qt::Key_L)}, onMain(main, [](MainWindowController& w) { w.focusSearch(); }));
    item(menu, kOpenBook, {ctrl(Qt::Key_O)},
         onMain(main, [](MainWindowController& w) {
             w.showSearchWindow(SearchWindowController::Page::books);
             w.searchWindow()->focusFilter();
         }));
    item(menu, kQuran, {ctrl(Qt::Key_K)}, onMain(main, [](MainWindowController& w) { w.openQuran(); }));
    item(menu, kDownloads, {ctrl(Qt::Key_D)}, [] { DownloadsWindowController::show(); });
    menu->addSeparator();
    item(menu, kCloseTab, {ctrl(Qt::Key_W)}, [main] {
        closeTabOrWindow(main ? main() : nullptr, QApplication::activeWindow());
    });
    item(menu, kSaveSession, {ctrl(Qt::Key_S)}, onMain(main, [](MainWindowController& w) { w.saveSession(true); }));
    item(menu, kSaveSessionAs, {ctrlShift(Qt::Key_S)},
         onMain(main, [](MainWindowController& w) { w.sessions().saveNamedSession(); }));
    QMenu* sessions = newMenu(savedSessionsTitle, menu);
    QObject::connect(sessions, &QMenu::aboutToShow, sessions,
                     [sessions, main] { fillSessions(sessions, sessionCalls(main ? main() : nullptr)); });
    menu->addMenu(sessions);
    item(menu, kExportPDF, {ctrl(Qt::Key_E)}, onMain(main, [](MainWindowController& w) { w.exportPDF(false); }));
    return menu;
}

QMenu* editMenu(const MainLookup& main, QWidget* parent)
{
    QMenu* menu = newMenu(editTitle, parent);
    item(menu, kCopy, {ctrl(Qt::Key_C)}, toFocus("copy"));
    item(menu, kCopyCited, {ctrlShift(Qt::Key_C)}, [main] { copyCited(main ? main() : nullptr); });
    item(menu, kPaste, {ctrl(Qt::Key_V)}, toFocus("paste"));
    item(menu, kSelectAll, {ctrl(Qt::Key_A)}, toFocus("selectAll"));
    return menu;
}

QMenu* viewMenu(const MainLookup& main, QWidget* parent)
{
    QMenu* menu = newMenu(viewTitle, parent);
    // Ctrl+= beside Ctrl++, which most keyboards type only with Shift.
    item(menu, kBigger, {ctrl(Qt::Key_Plus), ctrl(Qt::Key_Equal)}, [] { enlargeReaderSize(); });
    item(menu, kActualSize, {ctrl(Qt::Key_0)}, [] { resetReaderSize(); });
    item(menu, kSmaller, {ctrl(Qt::Key_Minus)}, [] { shrinkReaderSize(); });
    menu->addSeparator();
    item(menu, kNightReading, {ctrlShift(Qt::Key_N)}, [] { toggleNightReading(); });
    item(menu, kBookCard, {ctrl(Qt::Key_I)}, onReader(main, [](ReaderView& r) { r.showBookCard(); }));
    item(menu, kEditions, {QKeySequence(QString::fromLatin1(ReaderView::editionsShortcut))},
         onReader(main, [](ReaderView& r) { r.showEditions(); }));
    item(menu, kCollate, {QKeySequence(QString::fromLatin1(ReaderView::collateShortcut))},
         onReader(main, [](ReaderView& r) { r.collateWithEdition(); }));
    menu->addSeparator();
    item(menu, kWordAnalysis, {QKeySequence(QString::fromLatin1(ReaderView::wordShortcut))},
         onReader(main, [](ReaderView& r) { r.showWordAnalysis(); }));
    item(menu, kIsnad, {QKeySequence(QString::fromLatin1(ReaderView::isnadShortcut))},
         onReader(main, [](ReaderView& r) { r.showIsnad(); }));
    item(menu, kReuse, {QKeySequence(QString::fromLatin1(ReaderView::reuseShortcut))},
         onReader(main, [](ReaderView& r) { r.showReuse(); }));
    item(menu, kPhraseTree, {QKeySequence(QString::fromLatin1(ReaderView::phraseTreeShortcut))},
         onReader(main, [](ReaderView& r) { r.showPhraseTree(); }));
    return menu;
}

QMenu* navigateMenu(const MainLookup& main, QWidget* parent)
{
    QMenu* menu = newMenu(navigateTitle, parent);
    item(menu, kNextHit, {ctrl(Qt::Key_G)}, onMain(main, [](MainWindowController& w) { w.nextHit(+1); }));
    item(menu, kPreviousHit, {ctrlShift(Qt::Key_G)}, onMain(main, [](MainWindowController& w) { w.nextHit(-1); }));
    menu->addSeparator();
    // Pages turn leftwards in a right-to-left book.
    item(menu, kNextPage, {ctrl(Qt::Key_Left)},
         onPages(main, [](ReaderView& r) { r.step(+1); }, [](QuranView& q) { return q.stepPage(+1); }));
    item(menu, kPreviousPage, {ctrl(Qt::Key_Right)},
         onPages(main, [](ReaderView& r) { r.step(-1); }, [](QuranView& q) { return q.stepPage(-1); }));
    item(menu, kFirstPage, {ctrl(Qt::Key_Up)},
         onPages(main, [](ReaderView& r) { r.first(); }, [](QuranView& q) { return q.firstPage(); }));
    item(menu, kLastPage, {ctrl(Qt::Key_Down)},
         onPages(main, [](ReaderView& r) { r.last(); }, [](QuranView& q) { return q.lastPage(); }));
    menu->addSeparator();
    item(menu, kContents, {QKeySequence(QString::fromLatin1(ReaderView::contentsShortcut))},
         onReader(main, [](ReaderView& r) { r.focusContents(); }));
    item(menu, kPageText, {QKeySequence(QString::fromLatin1(ReaderView::pageShortcut))},
         onReader(main, [](ReaderView& r) { r.focusPage(); }));
    return menu;
}

QMenu* windowMenu(const MainLookup& main, QWidget* parent)
{
    QMenu* menu = newMenu(windowTitle, parent);
    item(menu, kMinimize, {ctrl(Qt::Key_M)}, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->showMinimized();
    });
    item(menu, kSearchWindow, {ctrlShift(Qt::Key_F)},
         onMain(main, [](MainWindowController& w) { w.showSearchWindow(); }));
    item(menu, kMainWindow, {ctrl(Qt::Key_1)}, onMain(main, [](MainWindowController& w) {
             if (w.isMinimized())
                 w.showNormal();
             w.show();
             w.raise();
             w.activateWindow();
         }));
    return menu;
}

void enlargeReaderSize()
{
    Settings::setReaderSize(std::min(Settings::readerSize() + readerSizeStep, maxReaderSize));
    Notifier::postReaderSettingsChanged();
}

void shrinkReaderSize()
{
    Settings::setReaderSize(std::max(Settings::readerSize() - readerSizeStep, minReaderSize));
    Notifier::postReaderSettingsChanged();
}

void resetReaderSize()
{
    Preferences::standard().remove(QString::fromLatin1(Settings::readerSizeKey));
    Notifier::postReaderSettingsChanged();
}

void toggleNightReading()
{
    Settings::setNightReading(!Settings::nightReading());
    Notifier::postReaderSettingsChanged();
}

void closeTabOrWindow(MainWindowController* main, QWidget* keyWindow)
{
    if (keyWindow)
        keyWindow = keyWindow->window();
    if (keyWindow == static_cast<QWidget*>(main)) {
        if (main)
            main->closeActive();
        return;
    }
    if (keyWindow)
        keyWindow->close();
}

void copyCited(MainWindowController* main)
{
    if (!main)
        return;
    if (QuranView* quran = main->activeQuran()) {
        quran->copyCited();
        return;
    }
    if (ReaderView* reader = main->activeReader())
        reader->copyCited();
}

QString sessionTip(const SavedSession& session)
{
    return Sessions::tabCountText(session.count) + QString::fromUtf8(CountedNoun::separator) + arabicDate(session.date);
}

void fillSessions(QMenu* menu, const std::optional<SessionCalls>& calls)
{
    // The rename and delete submenus of the last fill go with their items.
    for (QMenu* sub : menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        delete sub;
    menu->clear();
    if (!calls || !calls->list)
        return;
    const QList<SavedSession> sessions = calls->list();
    if (sessions.isEmpty() && !calls->unreadableKeptIn.isEmpty()) {
        menu->addAction(QString::fromUtf8(unreadableSessionsHint))->setEnabled(false);
        menu->addAction(QString::fromUtf8(unreadableKeptBefore) + calls->unreadableKeptIn
                        + QString::fromUtf8(unreadableKeptAfter).arg(QString::fromLatin1(Sessions::setAsideKey)))
            ->setEnabled(false);
        return;
    }
    if (sessions.isEmpty()) {
        menu->addAction(QString::fromUtf8(noSessionsHint))->setEnabled(false);
        return;
    }
    const int shown = std::min<int>(int(sessions.size()), sessionsShown);
    for (int i = 0; i < shown; ++i) {
        QAction* entry = menuItem(sessions[i].name, QString(), [open = calls->open, i] {
            if (open)
                open(i);
        }, menu);
        entry->setToolTip(sessionTip(sessions[i]));
        menu->addAction(entry);
    }
    menu->setToolTipsVisible(true);
    menu->addSeparator();
    const auto byName = [&](const char* title, const std::function<void(const QString&)>& call) {
        auto* sub = new QMenu(menu);
        sub->setLayoutDirection(Qt::RightToLeft);
        for (int i = 0; i < shown; ++i) {
            sub->addAction(menuItem(sessions[i].name, QString(), [call, name = sessions[i].name] {
                if (call)
                    call(name);
            }, sub));
        }
        QAction* holder = menu->addMenu(sub);
        holder->setText(QString::fromUtf8(title));
    };
    byName(kRename, calls->rename);
    byName(kDelete, calls->remove);
}

} // namespace quorvel::MainMenu
