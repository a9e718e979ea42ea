#pragma once

// The content of a search tab: one query run by an engine of its own on a
// worker thread (or a list of hits given to it, such as a saved set), its
// hits streaming into a results table below an embedded book reader, with
// category and century filters, a search within the results, saving the
// shown pages under a name and a status line. The owner hears back only
// through the callbacks below.

#include "search/SearchHit.h"
#include "search/SearchQuery.h"
#include "ui/kit/TabContent.h"
#include "ui/search/ResultFilter.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSplitter;
class QTableView;

namespace quorvel {

struct Book;
class Library;
class ReaderView;
class ResultsModel;
class SearchEngine;

class SearchTabView : public TabContent {
    Q_OBJECT
public:
    static constexpr const char* sessionKind = "search";
    static constexpr const char* tabSymbol = "magnifyingglass";
    // The title of the tab that runs `query`.
    static QString titleOf(const SearchQuery& query);
    static constexpr int limit = ResultFilter::runLimit;
    // The reader takes this share of a split view taller than the threshold,
    // placed once, shortly after the tab is first shown.
    static constexpr double readerShare = 0.6;
    static constexpr int splitThreshold = 460;
    static constexpr int dividerDelayMs = 50;
    static constexpr int readerMinHeight = 220;
    static constexpr int resultsMinHeight = 230;
    // Hits absorbed at a time, and how long the tab absorbs before it lets
    // the window paint and answer.
    static constexpr int sliceHits = 10000;
    static constexpr int drainBudgetMs = 15;

    // Where the tab's searches run: a job handed to the launcher runs the
    // engine to its end. The product hands it to the global thread pool;
    // tests hold jobs back or run them when they choose.
    using Job = std::function<void()>;
    using Launcher = std::function<void(Job)>;
    // Installs a launcher (an empty one restores the thread pool) and returns
    // the previous one.
    static Launcher setLauncher(Launcher launcher);

    // With no preset the run starts at once; a preset is shown and finished
    // here, before the owner sets its callbacks, and writes no history.
    SearchTabView(std::shared_ptr<Library> lib, const SearchQuery& query,
                  const std::optional<QList<SearchHit>>& preset = std::nullopt, QWidget* parent = nullptr);
    ~SearchTabView() override;

    // The query and selected row of a session entry of this kind; nothing
    // for another entry or an undecodable query.
    struct Entry {
        SearchQuery query;
        std::optional<int> row;
    };
    static std::optional<Entry> decode(const Json::Value& entry);

    const SearchQuery& query() const { return query_; }
    // The embedded reader; nullptr until a hit has been shown.
    ReaderView* currentReader() const;
    ReaderView* currentReader() override { return std::as_const(*this).currentReader(); }
    int resultCount() const;
    // The selected row, -1 when none.
    int selectedRow() const;
    bool isDone() const { return done_; }
    // Stops the running search; its hits so far stay and it finishes as usual.
    void cancel();

    // The row to select when the run ends, set by the owner.
    std::optional<int> restoreRow;
    // Searches run in place of the tab's own, in turn, while it finds
    // nothing, each with the line that says so above the results; set by
    // the owner before the run ends.
    struct Fallback {
        SearchQuery query;
        QString note;
    };
    QList<Fallback> fallbacks;
    // Set by the owner for a tab a session brings back: its run repeats a
    // search already in the records, so it is not recorded again.
    bool restored = false;
    // The text where the page of a hit will show: the hint, or once an
    // empty run ends, why nothing was found.
    QString hintText() const;
    // Callbacks for the owner.
    std::function<void(std::int64_t, std::optional<std::int64_t>)> onOpenBook;
    std::function<void(const QString&)> onTitle;
    std::function<void()> onSelection;
    // A new search the tab asks its owner to open in a tab of its own.
    std::function<void(const SearchQuery&)> onRunSearch;

    // Recomputes the shown rows from every hit and the filters.
    void refilter(bool keepSelection);
    // Rebuilds the pop-ups from the hits, keeping the items chosen.
    void updatePopups();
    // The clear button: stops a run, or once it is done drops every filter.
    void clearAction();
    // The search within results, on the refine field's text.
    void startRefine();
    // Saves the shown page hits under the name field's text.
    void saveResults();
    // Moves the selection by `delta` rows, or beeps past either end.
    void moveResult(int delta);
    // Opens the hit of `row` (else of the selected row) in a book tab.
    void openInBookTab(int row = -1);
    // Gives the reader its share of the split view when it is tall enough.
    void placeDivider();

    // The patterns the engine found too broad, once the run is over.
    const QStringList& broad() const { return broad_; }

    // TabContent.
    QString title() const override;
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    // Takes up the selected row of an entry for this very query.
    bool restore(const Json::Value& entry) override;
    bool requestClose() override;

    // Parts of the view, for tests.
    ResultsModel* model() const { return model_; }
    QTableView* table() const { return table_; }
    QSplitter* split() const { return split_; }
    QWidget* readerHost() const { return readerHost_; }
    QWidget* bottom() const { return bottom_; }
    QLabel* countLabel() const { return countLabel_; }
    // The line saying that the fallback search ran; hidden until it does.
    QLabel* noteLabel() const { return note_; }
    QComboBox* categoryPopup() const { return catPopup_; }
    QComboBox* centuryPopup() const { return centPopup_; }
    QLineEdit* saveField() const { return saveField_; }
    QLineEdit* refineField() const { return refine_; }
    QProgressBar* progress() const { return progress_; }
    bool refining() const { return refineEngine_ != nullptr; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    QWidget* buildBar();
    // The table's grid colour and palette for the appearance in force.
    void applyGrid();
    void fillPopups();
    void settingsChanged();
    // Reads the pop-ups' choices into the filter; true when they changed.
    bool readPopups();
    void start();
    // Runs the fallback in place of a run that found nothing; false when
    // there is none to run.
    bool runFallback();
    // Takes a batch of the run into the queue the GUI thread drains.
    void receive(const QList<SearchHit>& hits, bool done);
    // Absorbs the queued hits in slices for a short while, then lets the
    // event loop turn, so that a run handing over many large batches at
    // once never holds the window still.
    void drain();
    void absorb(const QList<SearchHit>& hits, bool done);
    void finish();
    // The status line, the owner's title and the selection after the rows changed.
    void rowsChanged(bool keepSelection, std::optional<int> previous);
    void selectRow(int row, bool scroll);
    void showSelected();
    void makeReader(const Book& book, std::int64_t seq);
    void updateBusy();

    std::shared_ptr<Library> lib_;
    SearchQuery query_;
    QList<SearchQuery::Term> terms_;
    ResultFilter filter_;
    ResultsModel* model_ = nullptr;
    std::shared_ptr<SearchEngine> engine_;
    std::shared_ptr<SearchEngine> refineEngine_;
    bool done_ = false;
    struct Batch {
        QList<SearchHit> hits;
        bool done = false;
    };
    QList<Batch> pending_;
    bool draining_ = false;
    bool didSplit_ = false;
    QStringList broad_;
    QPointer<ReaderView> reader_;

    QSplitter* split_ = nullptr;
    QWidget* readerHost_ = nullptr;
    QLabel* hint_ = nullptr;
    QWidget* bottom_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QLabel* note_ = nullptr;
    QComboBox* catPopup_ = nullptr;
    QComboBox* centPopup_ = nullptr;
    QLineEdit* saveField_ = nullptr;
    QLineEdit* refine_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace quorvel
