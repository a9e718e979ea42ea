#pragma once

// The Downloads window: the release source, the signed catalogue of that
// release as a tree of categories and books with each book's install state,
// the ticks, and the runs that download and install books one after another
// on a worker thread (progress and the end of a run come back queued to the
// window). One window per process, hidden rather than closed.

#include "distribution/Dist.h"
#include "distribution/DownloadRun.h"
#include "ui/downloads/DownloadsModel.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace quorvel {

class Label;
class LocalStore;

class DownloadsWindowController : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* sourceKey = "distSource";
    static constexpr const char* autoKey = "distAuto";
    static constexpr int failuresShown = 8;
    static constexpr int launchWaitMs = 2000;

    DownloadsWindowController();
    ~DownloadsWindowController() override;

    // The one window, created on first use; shown centred and in front.
    static DownloadsWindowController* show();
    static DownloadsWindowController* shared();
    // At the application's quit: the fetches under way end at once and the
    // shared window goes, waiting for its workers, so that none runs on
    // while the application is torn down.
    static void closeForQuit();
    // At launch, when "distAuto" is on: a new hidden window that installs
    // every book needing it once its catalogue has loaded within 2 s.
    static void autoUpdateIfEnabled();

    // The stored source, else the bundled sample release, else the release
    // server named at build time (empty when none was).
    static QString source();
    static void setSource(const QString& source);
    // The release base of a source: a folder for a path, a URL ending in "/"
    // for an address beginning with "http".
    static QUrl base(const QString& source);

    // Opens the book in the main window; set by the shell.
    static inline std::function<bool(std::int64_t)> openInLibrary;
    // Asks the process's one page index builder to give the store at the
    // path its index, when it has none yet; set by the shell. A run asks at
    // its start and installs without waiting for it.
    static inline std::function<void(const QString&)> indexPages;

    // Reloads the release from the source on a worker; a later refresh wins.
    void refresh();
    void rebuildTree();

    // Starts a run over `books` (ignored while one runs, or without a
    // catalogue or a store); `completion` follows its final stage.
    bool run(const QList<Dist::CatBook>& books, std::function<void()> completion = {});
    void downloadSelected();
    void downloadAll();
    void updateInstalled();
    // Starts removing the ticked installed books on a worker, with a run's
    // progress, and counts as a run until runFinished; refused while a run
    // is in progress, false when nothing ticked is installed.
    bool removeChecked();
    void cancel() { *cancelFlag_ = true; }
    // Opens an installed book, or installs then opens it.
    void activate(const QModelIndex& index);

    bool running() const { return running_; }
    bool needsInstalling(const Dist::CatBook& book) const;
    const std::optional<Dist::Catalog>& catalog() const { return catalog_; }
    const std::optional<Dist::Index>& index() const { return index_; }
    LocalStore* store() const { return store_.get(); }

    // For tests: the installer of a book (default: the local store's), and
    // the pause between attempts (default: a real sleep), both called on the
    // run's worker thread.
    std::function<void(LocalStore&, const Dist::CatBook&, const Dist::Catalog&, std::int64_t, const QUrl&)> installer;
    DownloadRun::Pause pause = &DownloadRun::sleep;
    // For tests: the removal of one book (default: the local store's),
    // called on the removal's worker thread; true when the book is gone.
    std::function<bool(LocalStore&, std::int64_t)> remover;
    // For tests: the word-model fetch and the page-vector build of the
    // meaning-search stage (default: SmartBuild's), called on the worker.
    std::function<void(const SmartBuild::Pack&, const QUrl&)> modelFetcher = &SmartBuild::fetchModel;
    std::function<std::int64_t(const QString&, const std::function<void(double)>&)> vectorBuilder =
        &SmartBuild::buildVectors;

    // Parts of the window.
    DownloadsModel* model() const { return model_; }
    QTreeView* outline() const { return outline_; }
    QLineEdit* sourceField() const { return sourceField_; }
    QLineEdit* filter() const { return filter_; }
    QString statusText() const;
    QString progressText() const;
    QProgressBar* progress() const { return progress_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* stopButton() const { return stopButton_; }

signals:
    // A refresh applied its result (or its failure).
    void refreshed();
    // A run's (or a removal's) final stage is over.
    void runFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    // The status line in a tone read again when the appearance changes.
    using Tone = QColor (*)();
    void setStatus(const QString& text, Tone tone);
    void applyCatalog(const Dist::Index& index, Dist::Catalog catalog);
    // The status line of the catalogue shown: its release, books, size and
    // how many are installed and have updates.
    void showCatalogStatus();
    // Ends a run on the GUI thread; `unopenedStore` names the local store a
    // run could not open, which then never began.
    void finishRun(const DownloadRun::Report& report, std::function<void()> completion,
                   const std::optional<QString>& unopenedStore = std::nullopt);
    // Ends a removal on the GUI thread: how many books went, the titles of
    // those that did not, and the store a removal could not open.
    void finishRemoval(int removed, const QStringList& failures, const QList<std::int64_t>& books,
                       const std::optional<QString>& unopenedStore);
    void updateButtons();
    // Runs `work` on a thread of its own, not the pool's: a fetch may wait on
    // a slow server for minutes, and the pool's jobs hold up the quit.
    void startWorker(std::function<void()> work);

    std::unique_ptr<LocalStore> store_;
    std::optional<Dist::Catalog> catalog_;
    std::optional<Dist::Index> index_;
    std::shared_ptr<const DownloadsModel::Source> source_;
    bool running_ = false;
    std::shared_ptr<std::atomic<bool>> cancelFlag_ = std::make_shared<std::atomic<bool>>(false);
    // The catalogue's and the runs' threads, joined when the window goes: a
    // thread left running as the process ends meets Qt torn down under it.
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
    std::uint64_t refreshToken_ = 0;
    // Whether the status line is the catalogue's, which a removal recounts.
    bool catalogStatusShown_ = false;

    DownloadsModel* model_ = nullptr;
    QLineEdit* sourceField_ = nullptr;
    Label* status_ = nullptr;
    Tone statusTone_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QTreeView* outline_ = nullptr;
    QProgressBar* progress_ = nullptr;
    Label* progressLabel_ = nullptr;
    QString narratorsNotice_; // narrators read again by this run, said at its end
    QCheckBox* autoBox_ = nullptr;
    QCheckBox* reuseBox_ = nullptr;
    QList<QPushButton*> runButtons_;
    QPushButton* removeButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
};

} // namespace quorvel
