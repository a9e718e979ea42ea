#include "ui/shell/SessionRestore.h"

#include "core/BookTitles.h"
#include "core/Library.h"
#include "ui/assistant/AIChatView.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/PendingTab.h"

#include <QPointer>

namespace quorvel {

bool SessionRestore::restore(const QString& json)
{
    const std::optional<Json::Value> document = Json::parse(json.toUtf8());
    if (!document || !document->is_object() || !document->contains("tabs") || !(*document)["tabs"].is_array())
        return false;
    for (const Json::Value& entry : (*document)["tabs"])
        if (!entry.is_object())
            return false;
    const std::int64_t active = Json::strictInt(*document, "active").value_or(-1);
    std::optional<int> select;
    std::int64_t at = 0;
    for (const Json::Value& entry : (*document)["tabs"]) {
        if (TabContent* view = pendingFor(entry)) {
            window_.tabs_.append(std::make_shared<TabItem>(view));
            if (at == active || !select)
                select = int(window_.tabs_.size()) - 1;
        }
        ++at;
    }
    if (select)
        window_.select(*select);
    return true;
}

PendingTab* SessionRestore::pendingFor(const Json::Value& entry)
{
    // What each view would refuse is refused here already, so that a tab
    // shown in the strip does not vanish when it is first selected.
    const QString kind = Json::strictString(entry, "k").value_or(QString());
    QString title;
    const char* symbol = nullptr;
    if (kind == QLatin1String(ReaderView::sessionKind)) {
        const std::optional<std::int64_t> bookId = Json::strictInt(entry, "b");
        const std::optional<Book> book =
            bookId && Json::strictInt(entry, "s") ? window_.lib_->book(*bookId) : std::optional<Book>();
        if (!book)
            return nullptr;
        // As the reader will name it, told apart from other editions.
        title = BookTitles::label(*window_.lib_->catalog(), book->id);
        symbol = ReaderView::tabSymbol;
    } else if (kind == QLatin1String(SearchTabView::sessionKind)) {
        const std::optional<SearchTabView::Entry> search = SearchTabView::decode(entry);
        if (!search || search->query.isEmpty())
            return nullptr;
        title = SearchTabView::titleOf(search->query);
        symbol = SearchTabView::tabSymbol;
    } else if (kind == QLatin1String(QuranView::sessionKind)) {
        // One Quran tab per window: a second entry is not taken up.
        if (window_.hasTab(kind) || !Json::strictInt(entry, "sura") || !Json::strictInt(entry, "ayah") ||
            !QuranText::mayBeInstalled(*window_.lib_))
            return nullptr;
        title = QuranView::tabTitle();
        symbol = QuranView::tabSymbol;
    } else if (kind == QLatin1String(AIChatView::sessionKind)) {
        // One assistant tab per window; its conversation is not kept.
        if (window_.hasTab(kind))
            return nullptr;
        title = QString::fromUtf8(AIChatView::tabTitle);
        symbol = AIChatView::tabSymbol;
    } else {
        return nullptr;
    }
    QPointer<MainWindowController> self(&window_);
    return new PendingTab(entry, title, QString::fromLatin1(symbol),
                          [self, entry]() -> TabContent* { return self ? self->restorer_->tabFor(entry) : nullptr; },
                          window_.parking_);
}

TabContent* SessionRestore::tabFor(const Json::Value& entry)
{
    const QString kind = Json::strictString(entry, "k").value_or(QString());
    TabContent* view = nullptr;
    if (kind == QLatin1String(ReaderView::sessionKind))
        return window_.wire(ReaderView::fromSession(window_.lib_, entry));
    if (kind == QLatin1String(SearchTabView::sessionKind)) {
        const std::optional<SearchTabView::Entry> search = SearchTabView::decode(entry);
        SearchTabView* tab = search ? window_.makeSearchTab(search->query, std::nullopt, search->row) : nullptr;
        if (tab)
            tab->restored = true;
        return tab;
    }
    if (kind == QLatin1String(QuranView::sessionKind))
        view = window_.makeQuran();
    if (kind == QLatin1String(AIChatView::sessionKind))
        view = window_.makeAI();
    if (view && !view->restore(entry)) {
        delete view;
        view = nullptr;
    }
    return view;
}

bool SessionRestore::realise(int index, bool& made)
{
    auto* pending = qobject_cast<PendingTab*>(window_.tabs_[index]->content());
    if (!pending)
        return true;
    if (pending->kind() == QLatin1String(QuranView::sessionKind) && !window_.quranTried_) {
        window_.loadQuran();
        return true;
    }
    TabContent* view = pending->make();
    if (!view)
        return false;
    window_.tabs_[index]->setContent(view);
    pending->hide();
    pending->setParent(nullptr);
    pending->deleteLater();
    made = true;
    return true;
}

} // namespace quorvel
