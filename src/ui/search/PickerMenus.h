#pragma once

// The book picker's gear and history menus, built afresh on every press and
// returned so that the advanced search window pops them up at the pointer
// (and tests read their items). Every item does nothing once the window it
// was built for is gone.

#include "search/SearchQuery.h"
#include "ui/search/BookPicker.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QMenu;

namespace quorvel {

class Library;

namespace PickerMenus {

// What the gear menu acts on: the window's picker state and its operations.
struct Context {
    std::shared_ptr<Library> lib;
    BookPicker* picker = nullptr;          // its sortAlpha
    BookPicker::Page page = BookPicker::Page::books;
    QList<PickNodePtr> roots;               // the page as built
    QSet<std::int64_t>* checked = nullptr;  // the window's checked books
    PickNodePtr selected;                   // the outline's selected row, if any
    QPointer<QWidget> window;
    std::function<void()> reload;           // rebuilds the page's rows
    std::function<void()> outlineChanged;   // the check boxes changed
    std::function<void()> updateScopeLabel;
    std::function<void()> pickYears;
};

QMenu* gearMenu(const Context& context);
// At most the newest 25 decodable searches; choosing one fills the form.
QMenu* historyMenu(const Library& lib, QWidget* window, std::function<void(const SearchQuery&)> fill);

} // namespace PickerMenus
} // namespace quorvel
