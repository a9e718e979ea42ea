// The main window's tabs and session: the tab list with its strip and the
// welcome view behind it, the kind of view each tab holds, and the session
// document of the open tabs, written after each change and restored at
// start.

#include "ui/shell/MainWindowController.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Json.h"
#include "core/Library.h"
#include "ui/kit/Beep.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/Widgets.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/PendingTab.h"
#include "ui/shell/SessionRestore.h"
#include "ui/shell/Sessions.h"
#include "ui/shell/TabStrip.h"
#include "ui/shell/WelcomeView.h"

#include <QPointer>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kSavedTitle[] = "حفظت الجلسة";
constexpr char kSavedTextBefore[] = "ستستعاد التبويبات (";
constexpr char kSavedTextAfter[] = ") عند التشغيل القادم. ولحفظها باسم تعود إليه متى شئت: ملف ← حفظ الجلسة باسم.";

} // namespace

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

ReaderView* MainWindowController::activeReader() const
{
    if (active_ < 0 || active_ >= tabs_.size())
        return nullptr;
    TabContent* content = tabs_[active_]->content();
    return content ? content->currentReader() : nullptr;
}

QuranView* MainWindowController::activeQuran() const
{
    if (active_ < 0 || active_ >= tabs_.size())
        return nullptr;
    return qobject_cast<QuranView*>(tabs_[active_]->content());
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

} // namespace quorvel
