#pragma once

// The advanced search window: a side bar of pages, the book picker of the
// page shown, and the query form with its explanation, scope and recent
// searches. One per main window, made on first use and kept; closing only
// hides it, so everything typed and checked is there the next time. A search
// it runs opens as a results tab of the main window, reached through the
// owner interface and held weakly.

#include "search/SearchQuery.h"
#include "ui/search/BookPicker.h"
#include "ui/search/SearchForm.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QToolButton;
class QTreeView;

namespace quorvel {

class Label;
class Library;
class PickerModel;
class PickerRowDelegate;
class SearchWindowOwner;
class SideButton;

class SearchWindowController : public QWidget {
    Q_OBJECT
public:
    using Page = BookPicker::Page;
    static constexpr int pageCount = 9;
    static constexpr QSize windowSize{1180, 740};
    static constexpr QSize minimumWindowSize{980, 600};
    static constexpr const char* frameName = "QuorvelSearch";
    static constexpr const char* searchKey = "searchwin";
    static constexpr const char* yearFromKey = "yearFrom";
    static constexpr const char* yearToKey = "yearTo";

    static QString title(Page page);
    static QString symbol(Page page);
    // The page of a raw value 0…8; nothing above.
    static std::optional<Page> page(int raw);

    // `main` must be a QObject; it is held weakly.
    SearchWindowController(std::shared_ptr<Library> lib, SearchWindowOwner* main, QWidget* parent = nullptr);
    ~SearchWindowController() override;

    // Shows the window in front (centred when it was hidden) on `page`, or on
    // the page it had; the first phrase field takes the keyboard when no
    // page or the books page is asked for.
    void present(std::optional<Page> page = std::nullopt);
    // Puts the keyboard into the book filter, its text selected, for a
    // reader who opens a book by typing its title.
    void focusFilter();
    // Shows a side page; the downloads page opens the downloads window instead.
    void select(Page page);
    Page currentPage() const { return page_; }

    // Change notices: the catalogue always rebuilds the picker, user data
    // only on the pages that list it.
    void libraryChanged();
    void dataChanged();

    // Rebuilds the picker's rows for the page and the filter.
    void reload();
    // Ids of catalogue books in the picker's current order.
    QList<std::int64_t> sorted(const QList<std::int64_t>& ids) const;

    // Picker actions.
    void doubleClick(const QModelIndex& index);
    void pickYears();
    QMenu* gearMenu();
    QMenu* historyMenu();

    // The form.
    void saveTab();
    void switchTab(int tab);
    void updateExplain();
    void updateScopeLabel();
    void applyChecked();
    void clearChecked();
    void saveScope();
    void fill(const SearchQuery& query);
    void newSearch();
    void refillRecent();
    void chooseRecent(int index);
    void doSearch();

    // Opens the downloads window; replaceable for tests.
    static inline std::function<void()> openDownloads;

    // Parts of the window, for tests.
    SearchForm& form() { return form_; }
    QSet<std::int64_t>& checked();
    PickerModel* model() const { return model_; }
    QTreeView* outline() const { return outline_; }
    QLabel* emptyNote() const { return emptyNote_; }
    QLineEdit* filter() const { return filter_; }
    const QList<QLineEdit*>& fields() const { return fields_; }
    QCheckBox* box(SearchForm::Box box) const { return boxes_[box]; }
    QRadioButton* allBooksButton() const { return rbAll_; }
    QRadioButton* someBooksButton() const { return rbSome_; }
    QToolButton* tabButton(int tab) const;
    QPushButton* allButton() const { return allBtn_; }
    QComboBox* recentBox() const { return recentBox_; }
    QTextEdit* explain() const { return explain_; }
    Label* scopeLabel() const { return scopeLabel_; }
    const QList<SideButton*>& sideButtons() const { return sideButtons_; }

protected:
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SearchWindowOwner* main() const;
    void build();
    QWidget* buildSideBar();
    QWidget* buildPicker();
    QWidget* buildOptions();
    QWidget* buildPhrases();
    // Sizes the picker's columns to a list `width` wide.
    void fitColumns(int width);
    static QWidget* sectionBox(QWidget* content);
    // Shows the form's state in the controls.
    void showForm();
    void showTab();
    PickNodePtr selectedNode() const;
    // Moves the keyboard from the filter into the list, at its first book.
    void enterList();
    static void popUp(QMenu* menu);
    void saveFrame();
    bool restoreFrame();

    std::shared_ptr<Library> lib_;
    SearchWindowOwner* main_ = nullptr;
    QPointer<QObject> mainObject_;
    Page page_ = Page::books;
    std::unique_ptr<BookPicker> picker_;
    SearchForm form_;
    QList<SearchForm::Recent> recent_;
    bool showing_ = false; // the form is being put into the controls

    QList<SideButton*> sideButtons_;
    QLineEdit* filter_ = nullptr;
    QTreeView* outline_ = nullptr;
    QLabel* emptyNote_ = nullptr; // what an empty page would hold
    PickerModel* model_ = nullptr;
    PickerRowDelegate* rows_ = nullptr;
    std::array<QCheckBox*, SearchForm::boxCount> boxes_{};
    QRadioButton* rbAll_ = nullptr;
    QRadioButton* rbSome_ = nullptr;
    QButtonGroup* seg_ = nullptr;
    QPushButton* allBtn_ = nullptr;
    QList<QLineEdit*> fields_;
    QComboBox* recentBox_ = nullptr;
    QTextEdit* explain_ = nullptr;
    Label* scopeLabel_ = nullptr;
};

} // namespace quorvel
