#include "ui/downloads/DownloadsWindowController.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/DistFetch.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/SQLiteDB.h"
#include "core/Theme.h"
#include "distribution/LocalStore.h"
#include "scholar/SmartBuild.h"
#include "search/SharedMeaningIndex.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <exception>
#include <thread>

namespace quorvel {

namespace {

// Rows of a fixed height.
class RowHeightDelegate : public QStyledItemDelegate {
public:
    RowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

// The bundled sample release: installed beside the resources, or in the
// build tree beside the executable.
QString bundledRelease()
{
    QStringList places;
    if (const QString base = Theme::resourcesDir(); !base.isEmpty())
        places.append(base + QStringLiteral("/sample-release"));
    if (QCoreApplication::instance())
        places.append(QCoreApplication::applicationDirPath() + QStringLiteral("/sample-release"));
    for (const QString& place : places)
        if (QFileInfo::exists(place + QStringLiteral("/index.json")))
            return QDir(place).canonicalPath();
    return {};
}

QPointer<DownloadsWindowController>& sharedWindow()
{
    static QPointer<DownloadsWindowController> window;
    return window;
}

// The failed books of a run; the dual is only shown after "مع", so it is
// spelt for that ending.
const CountedNoun& errors()
{
    static const CountedNoun noun(QStringLiteral(u"خطأ"), QStringLiteral(u"خطأان"), QStringLiteral(u"أخطاء"),
                                  QStringLiteral(u"خطأ"));
    return noun;
}

} // namespace

DownloadsWindowController::DownloadsWindowController() : QWidget(nullptr, Qt::Window)
{
    constexpr QSize kWindowSize(980, 660);
    constexpr QSize kMinimumSize(820, 480);
    constexpr char kTitle[] = "التنزيلات";

    store_ = LocalStore::open();
    installer = [](LocalStore& store, const Dist::CatBook& book, const Dist::Catalog& catalog, std::int64_t release,
                   const QUrl& base) { store.install(book, catalog, release, base); };
    remover = [](LocalStore& store, std::int64_t bookId) { return store.remove(bookId, false); };
    setWindowTitle(QString::fromUtf8(kTitle));
    resize(kWindowSize);
    setMinimumSize(kMinimumSize);
    closeOnEscape(this);
    build();
    refresh();
}

DownloadsWindowController::~DownloadsWindowController()
{
    // A run under way stops after its current book; the catalogue's fetch
    // ends by itself, or at once at the quit.
    cancel();
    for (Worker& worker : workers_)
        worker.thread.join();
}

void DownloadsWindowController::closeForQuit()
{
    Dist::abortTransfers();
    delete sharedWindow().data();
}

void DownloadsWindowController::startWorker(std::function<void()> work)
{
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.done->load())
            return false;
        worker.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([work = std::move(work), done] {
                            work();
                            done->store(true);
                        }),
                        done});
}

DownloadsWindowController* DownloadsWindowController::shared()
{
    return sharedWindow();
}

DownloadsWindowController* DownloadsWindowController::show()
{
    QPointer<DownloadsWindowController>& window = sharedWindow();
    if (!window)
        window = new DownloadsWindowController;
    centreOnScreen(window, QGuiApplication::primaryScreen());
    window->QWidget::show();
    window->raise();
    window->activateWindow();
    return window;
}

void DownloadsWindowController::autoUpdateIfEnabled()
{
    if (!Preferences::standard().boolValue(QString::fromLatin1(autoKey)))
        return;
    QPointer<DownloadsWindowController>& window = sharedWindow();
    delete window.data();
    window = new DownloadsWindowController;
    QPointer<DownloadsWindowController> guarded = window;
    QTimer::singleShot(launchWaitMs, window, [guarded] {
        if (!guarded || !guarded->catalog_)
            return;
        QList<Dist::CatBook> list;
        for (const Dist::CatBook& book : guarded->catalog_->books)
            if (guarded->needsInstalling(book))
                list.append(book);
        if (!list.isEmpty())
            guarded->run(list);
    });
}

QString DownloadsWindowController::source()
{
    if (const auto stored = Preferences::standard().string(QString::fromLatin1(sourceKey)))
        return *stored;
    const QString developer = QDir::homePath() + QStringLiteral("/projects/quorvel/dist/out");
    if (QFileInfo::exists(developer + QStringLiteral("/index.json")))
        return developer;
    return bundledRelease();
}

void DownloadsWindowController::setSource(const QString& source)
{
    Preferences::standard().set(QString::fromLatin1(sourceKey), source);
}

QUrl DownloadsWindowController::base(const QString& source)
{
    if (!source.startsWith(QLatin1String("http")))
        return QUrl::fromLocalFile(source.endsWith(u'/') ? source : source + u'/');
    return QUrl(source.endsWith(u'/') ? source : source + u'/', QUrl::StrictMode);
}

// ---- Building ---------------------------------------------------------------

namespace {

constexpr int kFilterWidth = 260;
constexpr int kProgressWidth = 220;
constexpr int kRowHeight = 26;
constexpr int kColumnWidths[] = {380, 250, 80, 110};
constexpr char kSourceLabel[] = "المصدر:";
constexpr char kSourceTip[] =
    "رابط الخادم أو مسار مجلّد الإصدار (قرص USB أو مجلّد مشترك). التوقيع يُتحقَّق منه أيّاً كان المصدر.";
constexpr char kChooseFolder[] = "اختيار مجلّد…";
constexpr char kChooseMessage[] = "اختر مجلّد إصدار مكتبة قورفل (فيه index.json)";
constexpr char kReload[] = "تحديث الفهرس";
constexpr char kFilterPlaceholder[] = "ابحث بعنوان الكتاب أو المؤلف";
constexpr char kAutoBox[] = "تحديث الكتب المثبّتة وتنزيل الجديد تلقائياً عند التشغيل";
constexpr char kReuseBox[] = "تفعيل «مصادر النص» للكتب المنزّلة (يحتاج مساحة إضافية كبيرة)";
constexpr char kReuseTip[] = "تُحسب بصمات النصوص عند تثبيت كل كتاب لتعرف أين نُقل النص في كتب مكتبتك. أعد "
                             "تنزيل الكتب المثبّتة لتشملها.";
constexpr char kDownloadSelected[] = "تنزيل المحدد";
constexpr char kDownloadAll[] = "تنزيل الكل";
constexpr char kUpdateInstalled[] = "تحديث المثبّت";
constexpr char kRemoveChecked[] = "حذف المحدد";
constexpr char kStop[] = "إيقاف";

} // namespace

void DownloadsWindowController::build()
{
    QPointer<DownloadsWindowController> self(this);
    auto guarded = [self](void (DownloadsWindowController::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };

    sourceField_ = new QLineEdit(source());
    sourceField_->setFont(Theme::ui(12));
    sourceField_->setLayoutDirection(Qt::LeftToRight);
    sourceField_->setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    sourceField_->setToolTip(QString::fromUtf8(kSourceTip));
    auto* reload = textButton(QString::fromUtf8(kReload), QStringLiteral("arrow.clockwise"), [self] {
        if (!self)
            return;
        setSource(Characters::trimSpacesAndTabs(self->sourceField_->text()).toString());
        self->refresh();
    });
    auto* choose = textButton(QString::fromUtf8(kChooseFolder), QStringLiteral("folder"), [self] {
        if (!self)
            return;
        const auto folder = Dialogs::openFolder(QString::fromUtf8(kChooseMessage), self);
        if (!folder)
            return;
        self->sourceField_->setText(*folder);
        setSource(*folder);
        self->refresh();
    });
    auto* sourceRow = new QHBoxLayout;
    sourceRow->setSpacing(8);
    sourceRow->addWidget(label(QString::fromUtf8(kSourceLabel), 13, QFont::Medium));
    sourceRow->addWidget(sourceField_, 1);
    sourceRow->addWidget(choose);
    sourceRow->addWidget(reload);

    status_ = label(QString(), 13, QFont::Medium);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    followPalette(status_, [this] {
        if (!statusTone_)
            return;
        QPalette p = status_->palette();
        p.setColor(QPalette::WindowText, statusTone_());
        status_->setPalette(p);
    });
    filter_ = new QLineEdit;
    filter_->setPlaceholderText(QString::fromUtf8(kFilterPlaceholder));
    filter_->setFont(Theme::ui(13));
    filter_->setFixedWidth(kFilterWidth);
    filter_->setClearButtonEnabled(true);
    connect(filter_, &QLineEdit::textChanged, this, guarded(&DownloadsWindowController::rebuildTree));
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(filter_);

    model_ = new DownloadsModel(this);
    outline_ = new QTreeView;
    outline_->setModel(model_);
    outline_->setUniformRowHeights(true);
    // The rows' height comes from a delegate: a style sheet would keep the
    // palette it was polished with, and the outline would stay white by night.
    outline_->setItemDelegate(new RowHeightDelegate(kRowHeight, outline_));
    outline_->header()->setDefaultAlignment(Qt::AlignCenter);
    outline_->header()->setStretchLastSection(false);
    for (int c = 0; c < DownloadsModel::ColumnCount; ++c)
        outline_->setColumnWidth(c, kColumnWidths[c]);
    outline_->header()->setSectionResizeMode(DownloadsModel::TitleColumn, QHeaderView::Stretch);
    connect(outline_, &QTreeView::doubleClicked, this, [self](const QModelIndex& index) {
        if (self)
            self->activate(index);
    });

    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(kProgressWidth);
    progressLabel_ = label(QString(), 12, QFont::Normal, Theme::secondaryLabel());

    autoBox_ = checkbox(QString::fromUtf8(kAutoBox), Preferences::standard().boolValue(QString::fromLatin1(autoKey)));
    connect(autoBox_, &QCheckBox::toggled, this,
            [](bool on) { Preferences::standard().set(QString::fromLatin1(autoKey), on); });
    reuseBox_ = checkbox(QString::fromUtf8(kReuseBox), LocalStore::withReuse());
    reuseBox_->setToolTip(QString::fromUtf8(kReuseTip));
    connect(reuseBox_, &QCheckBox::toggled, this, [](bool on) { LocalStore::setWithReuse(on); });

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(14);
    runButtons_ = {
        textButton(QString::fromUtf8(kDownloadSelected), QStringLiteral("arrow.down.circle.fill"),
                   guarded(&DownloadsWindowController::downloadSelected)),
        textButton(QString::fromUtf8(kDownloadAll), QStringLiteral("square.and.arrow.down.on.square"),
                   guarded(&DownloadsWindowController::downloadAll)),
        textButton(QString::fromUtf8(kUpdateInstalled), QStringLiteral("arrow.triangle.2.circlepath"),
                   guarded(&DownloadsWindowController::updateInstalled)),
    };
    removeButton_ = textButton(QString::fromUtf8(kRemoveChecked), QStringLiteral("trash"), [self] {
        if (self)
            self->removeChecked();
    });
    stopButton_ = textButton(QString::fromUtf8(kStop), QStringLiteral("stop.circle"), guarded(&DownloadsWindowController::cancel));
    stopButton_->setEnabled(false);
    for (QPushButton* button : runButtons_)
        buttonRow->addWidget(button);
    buttonRow->addWidget(removeButton_);
    buttonRow->addWidget(stopButton_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(progressLabel_);
    buttonRow->addWidget(progress_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 12);
    column->setSpacing(10);
    column->addLayout(sourceRow);
    column->addLayout(statusRow);
    column->addWidget(outline_, 1);
    column->addWidget(autoBox_);
    column->addWidget(reuseBox_);
    column->addLayout(buttonRow);
}

void DownloadsWindowController::closeEvent(QCloseEvent* event)
{
    // The window is kept with its catalogue, ticks and any run for the next show().
    hide();
    event->ignore();
}

void DownloadsWindowController::setStatus(const QString& text, Tone tone)
{
    catalogStatusShown_ = false;
    status_->setText(text);
    statusTone_ = tone;
    QPalette p = status_->palette();
    p.setColor(QPalette::WindowText, tone());
    status_->setPalette(p);
}

QString DownloadsWindowController::statusText() const
{
    return status_->text();
}

QString DownloadsWindowController::progressText() const
{
    return progressLabel_->text();
}

void DownloadsWindowController::updateButtons()
{
    // A removal inside a run would share the store with the installer's
    // transaction: the button waits for the run to end.
    removeButton_->setEnabled(!running_ && store_);
    // Nothing to stop between runs.
    stopButton_->setEnabled(running_);
}

// ---- Refresh and the tree -----------------------------------------------------

namespace {

constexpr char kChecking[] = "جارٍ التحقّق من المصدر…";
constexpr char kFailedPrefix[] = "تعذّر: ";
constexpr char kNoSource[] = "لم يُحدَّد مصدر للإصدار";

} // namespace

void DownloadsWindowController::refresh()
{
    setStatus(QString::fromUtf8(kChecking), &Theme::secondaryLabel);
    const std::uint64_t token = ++refreshToken_;
    const std::int64_t lastRelease = store_ ? store_->lastRelease() : 0;
    const QString text = source();
    auto fail = [token](DownloadsWindowController& w, const QString& reason) {
        if (token != w.refreshToken_)
            return;
        w.setStatus(QString::fromUtf8(kFailedPrefix) + reason, &Theme::hit);
        if (w.store_)
            w.model_->setInstalled(w.store_->installed());
        w.rebuildTree();
        emit w.refreshed();
    };
    const QUrl url = base(text);
    if (text.isEmpty() || !url.isValid()) {
        QTimer::singleShot(0, this, [this, fail] { fail(*this, QString::fromUtf8(kNoSource)); });
        return;
    }
    QPointer<DownloadsWindowController> self(this);
    startWorker([self, token, url, lastRelease, fail] {
        try {
            auto [index, catalog] = Dist::loadCatalog(url, lastRelease);
            GuiJob::post(self, [token, index = std::move(index), catalog = std::move(catalog)](
                                   DownloadsWindowController& w) mutable {
                if (token != w.refreshToken_)
                    return;
                w.applyCatalog(index, std::move(catalog));
            });
        } catch (const std::exception& error) {
            const QString reason = Dist::describe(error);
            GuiJob::post(self, [fail, reason](DownloadsWindowController& w) { fail(w, reason); });
        }
    });
}

void DownloadsWindowController::applyCatalog(const Dist::Index& index, Dist::Catalog catalog)
{
    index_ = index;
    source_ = DownloadsModel::prepare(catalog);
    catalog_ = std::move(catalog);
    model_->setInstalled(store_ ? store_->installed() : QHash<std::int64_t, QString>());
    showCatalogStatus();
    rebuildTree();
    emit refreshed();
}

void DownloadsWindowController::showCatalogStatus()
{
    if (!catalog_ || !index_)
        return;
    const QHash<std::int64_t, QString>& installed = model_->installed();
    std::int64_t bytes = 0;
    int updates = 0;
    for (const Dist::CatBook& book : catalog_->books) {
        bytes += book.size;
        if (installed.contains(book.id) && installed.value(book.id) != book.root)
            ++updates;
    }
    const QString separator = QString::fromUtf8(CountedNoun::separator);
    QString line = QStringLiteral(u"الإصدار ") + Arabic::num(index_->release) + separator + QStringLiteral(u"موقَّع ومطابق") +
                   separator + CountedNoun::books().count(catalog_->books.size()) + QStringLiteral(u" (") + DownloadsModel::mb(bytes) +
                   QStringLiteral(u") · المثبّت ") + Arabic::num(installed.size());
    if (updates > 0)
        line += separator + QStringLiteral(u"تحديثات ") + Arabic::num(updates);
    setStatus(line, [] { return Theme::accent().resolve(); });
    catalogStatusShown_ = true;
}

void DownloadsWindowController::rebuildTree()
{
    model_->setTree(source_, filter_->text());
    // After the reset the outline's layout is pending: opening a group only
    // marks it open, and the rows are laid out once, when the view next needs them.
    if (model_->filtering())
        for (int r = 0; r < model_->rowCount(); ++r)
            outline_->expand(model_->index(r, 0));
}

bool DownloadsWindowController::needsInstalling(const Dist::CatBook& book) const
{
    const auto found = model_->installed().constFind(book.id);
    return found == model_->installed().constEnd() || *found != book.root;
}

// ---- Runs ---------------------------------------------------------------------------

void DownloadsWindowController::downloadSelected()
{
    constexpr char kNothingTitle[] = "لا شيء لتنزيله";
    constexpr char kNothingText[] = "حدّد كتباً غير مثبّتة أو لها تحديث.";

    if (!catalog_)
        return;
    QList<Dist::CatBook> list;
    for (const Dist::CatBook& book : catalog_->books)
        if (model_->checked.contains(book.id) && needsInstalling(book))
            list.append(book);
    if (list.isEmpty()) {
        Dialogs::alert(QString::fromUtf8(kNothingTitle), QString::fromUtf8(kNothingText), this);
        return;
    }
    run(list);
}

void DownloadsWindowController::downloadAll()
{
    constexpr char kConfirmDownload[] = "نزّل";

    if (!catalog_)
        return;
    QList<Dist::CatBook> list;
    std::int64_t bytes = 0;
    for (const Dist::CatBook& book : catalog_->books)
        if (needsInstalling(book)) {
            list.append(book);
            bytes += book.size;
        }
    const auto answer = Dialogs::choose(
        QStringLiteral(u"تنزيل ") + CountedNoun::books().count(list.size(), CountedNoun::Case::genitive) + u'؟',
        QStringLiteral(u"الحجم المضغوط ") + DownloadsModel::mb(bytes) +
            QStringLiteral(u". يُثبَّت كل كتاب ويُفهرس للبحث على جهازك."),
        {QString::fromUtf8(kConfirmDownload), QString::fromUtf8(Dialogs::cancelTitle)});
    if (answer == 0)
        run(list);
}

void DownloadsWindowController::updateInstalled()
{
    constexpr char kUpToDate[] = "كل الكتب المثبّتة محدَّثة";

    if (!catalog_)
        return;
    QList<Dist::CatBook> list;
    for (const Dist::CatBook& book : catalog_->books)
        if (model_->installed().contains(book.id) && model_->installed().value(book.id) != book.root)
            list.append(book);
    if (list.isEmpty()) {
        Dialogs::alert(QString::fromUtf8(kUpToDate), QString(), this);
        return;
    }
    run(list);
}

namespace {

constexpr char kMeaningStage[] = "تجهيز البحث بالمعنى…";
constexpr char kMeaningFailure[] = "البحث بالمعنى: ";
constexpr char kFormsFailure[] = "صيغ البحث في الكتب المثبتة: ";

} // namespace

bool DownloadsWindowController::run(const QList<Dist::CatBook>& books, std::function<void()> completion)
{
    if (running_ || !catalog_ || !index_ || !store_)
        return false;
    running_ = true;
    *cancelFlag_ = false;
    progress_->setValue(0);
    updateButtons();

    const Dist::Catalog catalog = *catalog_;
    const std::int64_t release = index_->release;
    const QUrl url = base(source());
    const QString storePath = LocalStore::path();
    auto install = installer;
    auto wait = pause;
    auto fetchModel = modelFetcher;
    auto buildVectors = vectorBuilder;
    QPointer<DownloadsWindowController> self(this);
    std::shared_ptr<std::atomic<bool>> cancel = cancelFlag_;
    // A store from before the search's page index gets it beside the
    // installs, which keep it up to date meanwhile.
    if (indexPages)
        indexPages(storePath);
    // The worker's own connection to the store: the window's stays free for
    // its reads while books are written.
    startWorker([=]() mutable {
        std::unique_ptr<LocalStore> store = LocalStore::open(storePath);
        if (!store) {
            GuiJob::post(self, [completion, storePath](DownloadsWindowController& w) {
                w.finishRun({}, completion, storePath);
            });
            return;
        }
        // Pages stored in an older normal form are written in the current
        // one before the books go in.
        const bool formsFailed =
            store->refreshNormalForm([&] { return !cancel->load(); }) == LocalStore::FormRefresh::failed;
        // Said before the books' own failures; the books still go in, and the
        // next run takes the forms up where this one failed.
        const QString formsFailure = formsFailed
            ? QString::fromUtf8(kFormsFailure) + LocalStore::installFailure(store->db().failure())
            : QString();
        // Narrators read under older chain rules are read again, once,
        // before the books; the run's last line says so.
        const QString notice =
            LocalStore::narratorsRefreshNotice(store->refreshNarrators([&] { return !cancel->load(); }));
        if (!notice.isEmpty())
            GuiJob::post(self, [notice](DownloadsWindowController& w) {
                w.narratorsNotice_ = notice;
                w.progressLabel_->setText(notice);
            });
        DownloadRun::Report report = DownloadRun::run(
            books,
            [&](const Dist::CatBook& book) { install(*store, book, catalog, release, url); },
            *cancel, wait,
            [&](int i, int n, const QString& title) {
                GuiJob::post(self, [=](DownloadsWindowController& w) {
                    w.progressLabel_->setText(Arabic::num(i + 1) + QStringLiteral(" / ") + Arabic::num(n) +
                                              QStringLiteral(": ") + title);
                });
            },
            [&](int i, int n) {
                GuiJob::post(self,
                             [=](DownloadsWindowController& w) { w.progress_->setValue((i + 1) * 1000 / n); });
            });
        if (formsFailed)
            report.failures.prepend(formsFailure);
        store->setRelease(release);
        if (report.attempted > 0) {
            store->dedupNarrators();
            store->checkpoint();
            if (catalog.smart) {
                // The page vectors follow the installed books here, on the
                // worker, so the window keeps turning while they are built.
                GuiJob::post(self, [](DownloadsWindowController& w) {
                    w.progressLabel_->setText(QString::fromUtf8(kMeaningStage));
                    w.progress_->setValue(0);
                });
                try {
                    fetchModel(*catalog.smart, url);
                    buildVectors(storePath, [&self](double done) {
                        GuiJob::post(self, [done](DownloadsWindowController& w) {
                            w.progress_->setValue(int(done * 1000));
                        });
                    });
                    SharedMeaningIndex::reset();
                } catch (const std::exception& e) {
                    report.failures.append(QString::fromUtf8(kMeaningFailure) + Dist::describe(e));
                }
            }
        }
        // Closed before the window hears of the end, which may reopen the store.
        store.reset();
        GuiJob::post(self, [report, completion](DownloadsWindowController& w) { w.finishRun(report, completion); });
    });
    return true;
}

void DownloadsWindowController::finishRun(const DownloadRun::Report& report, std::function<void()> completion,
                                          const std::optional<QString>& unopenedStore)
{
    constexpr char kFailuresTitle[] = "تعذّر تثبيت بعض الكتب";
    constexpr char kNotStartedTitle[] = "تعذّر بدء التنزيل";
    constexpr char kNotStartedText[] = "تعذّر فتح المكتبة المحلية لكتابة الكتب فيها:";
    constexpr char kNotStartedLabel[] = "لم يبدأ التنزيل";

    running_ = false;
    updateButtons();
    // A run that never began installs nothing and must not pass for one that
    // found nothing to do.
    if (unopenedStore) {
        progressLabel_->setText(QString::fromUtf8(kNotStartedLabel));
        Dialogs::alert(QString::fromUtf8(kNotStartedTitle),
                       QString::fromUtf8(kNotStartedText) + QLatin1Char('\n') + *unopenedStore, this);
        if (completion)
            completion();
        emit runFinished();
        return;
    }
    model_->setInstalled(store_->installed());
    // The last stage may report short of its end: a run that is over is shown over.
    progress_->setValue(progress_->maximum());
    progressLabel_->setText((report.failures.isEmpty()
                                 ? QStringLiteral(u"اكتمل: ") + CountedNoun::books().count(report.attempted)
                                 : QStringLiteral(u"اكتمل مع ")
                                       + errors().count(report.failures.size(), CountedNoun::Case::genitive))
                            + (narratorsNotice_.isEmpty() ? QString() : QStringLiteral(" · ") + narratorsNotice_));
    narratorsNotice_.clear();
    Notifier::postLibraryChanged();
    rebuildTree();
    refresh();
    if (!report.failures.isEmpty())
        Dialogs::alert(QString::fromUtf8(kFailuresTitle), report.failures.mid(0, failuresShown).join(u'\n'), this);
    if (completion)
        completion();
    emit runFinished();
}

bool DownloadsWindowController::removeChecked()
{
    constexpr char kRunningRemoval[] = "لا يُحذف كتاب أثناء التنزيل: أوقف التنزيل أو انتظر انتهاءه.";

    if (!store_)
        return false;
    if (running_) {
        Dialogs::alert(QString::fromUtf8(kRunningRemoval), QString(), this);
        return false;
    }
    QList<std::pair<std::int64_t, QString>> books;
    for (const std::int64_t id : std::as_const(model_->checked)) {
        if (!model_->installed().contains(id))
            continue;
        QString title;
        if (catalog_) {
            for (const Dist::CatBook& book : catalog_->books)
                if (book.id == id)
                    title = book.title;
        }
        books.append({id, title});
    }
    if (books.isEmpty())
        return false;
    // Removing a book rewrites the store's indexes, seconds for a few books:
    // the worker does it on its own connection, as a run installs, and the
    // window shows the same progress meanwhile.
    running_ = true;
    *cancelFlag_ = false;
    progress_->setValue(0);
    updateButtons();
    const QString storePath = LocalStore::path();
    auto remove = remover;
    std::shared_ptr<std::atomic<bool>> cancel = cancelFlag_;
    QPointer<DownloadsWindowController> self(this);
    struct Removal {
        int removed = 0;
        QStringList failures;
        QList<std::int64_t> ids;
        std::optional<QString> unopenedStore;
    };
    // A pool job, which quitting waits for, so that the store is never left
    // in the middle of a book's removal; a stop is taken between two books.
    GuiJob::run(
        this,
        [=] {
            Removal result;
            for (const auto& book : books)
                result.ids.append(book.first);
            std::unique_ptr<LocalStore> store = LocalStore::open(storePath);
            if (!store) {
                result.unopenedStore = storePath;
                return result;
            }
            const int n = int(books.size());
            for (int i = 0; i < n && !cancel->load(); ++i) {
                GuiJob::post(self, [=](DownloadsWindowController& w) {
                    w.progressLabel_->setText(Arabic::num(i + 1) + QStringLiteral(" / ") + Arabic::num(n) +
                                              QStringLiteral(": ") + books[i].second);
                });
                if (remove(*store, books[i].first))
                    ++result.removed;
                else
                    result.failures.append(books[i].second.isEmpty() ? Arabic::num(books[i].first) : books[i].second);
                GuiJob::post(self, [=](DownloadsWindowController& w) { w.progress_->setValue((i + 1) * 1000 / n); });
            }
            return result;
        },
        [](DownloadsWindowController& w, Removal result) {
            w.finishRemoval(result.removed, result.failures, result.ids, result.unopenedStore);
        });
    return true;
}

void DownloadsWindowController::finishRemoval(int removed, const QStringList& failures,
                                              const QList<std::int64_t>& books,
                                              const std::optional<QString>& unopenedStore)
{
    constexpr char kRemoved[] = "اكتمل الحذف: ";
    constexpr char kNotRemoved[] = "، وتعذّر حذف ";
    constexpr char kRemovalFailuresTitle[] = "تعذّر حذف بعض الكتب";
    constexpr char kRemovalNotStartedTitle[] = "تعذّر بدء الحذف";
    constexpr char kRemovalNotStartedText[] = "تعذّر فتح المكتبة المحلية لحذف الكتب منها:";
    constexpr char kRemovalNotStartedLabel[] = "لم يبدأ الحذف";

    running_ = false;
    updateButtons();
    // A removal that never began removed nothing and must not pass for one that did.
    if (unopenedStore) {
        progressLabel_->setText(QString::fromUtf8(kRemovalNotStartedLabel));
        Dialogs::alert(QString::fromUtf8(kRemovalNotStartedTitle),
                       QString::fromUtf8(kRemovalNotStartedText) + QLatin1Char('\n') + *unopenedStore, this);
        emit runFinished();
        return;
    }
    model_->setInstalled(store_->installed());
    // A removed book's tick has done its work; left on, it would keep its
    // group half ticked.
    for (const std::int64_t id : books)
        if (!model_->installed().contains(id))
            model_->checked.remove(id);
    // A failed refresh's message stays until the next refresh.
    if (catalogStatusShown_)
        showCatalogStatus();
    QString label = QString::fromUtf8(kRemoved) + CountedNoun::books().count(removed);
    if (!failures.isEmpty())
        label += QString::fromUtf8(kNotRemoved) + CountedNoun::books().count(failures.size(), CountedNoun::Case::genitive);
    progressLabel_->setText(label);
    Notifier::postLibraryChanged();
    rebuildTree();
    if (!failures.isEmpty())
        Dialogs::alert(QString::fromUtf8(kRemovalFailuresTitle), failures.mid(0, failuresShown).join(u'\n'), this);
    emit runFinished();
}

namespace {

constexpr char kNotInLibraryTitle[] = "الكتاب منزَّل في المكتبة المحلية";
constexpr char kNotInLibraryText[] = "افتح الإعدادات واختر «الكتب المنزّلة» مصدراً للمكتبة لتقرأه.";

} // namespace

void DownloadsWindowController::activate(const QModelIndex& index)
{
    const Dist::CatBook* found = model_->bookAt(index);
    if (!found)
        return;
    const Dist::CatBook book = *found;
    QPointer<DownloadsWindowController> self(this);
    auto open = [self, id = book.id] {
        if (!self || !openInLibrary)
            return;
        if (!openInLibrary(id))
            Dialogs::alert(QString::fromUtf8(kNotInLibraryTitle), QString::fromUtf8(kNotInLibraryText), self);
    };
    if (!needsInstalling(book)) {
        open();
        return;
    }
    run({book}, open);
}

} // namespace quorvel
