#include "ui/snapshot/Snapshot.h"

#include "core/AtomicFile.h"
#include "core/Library.h"
#include "ui/assistant/AIChatView.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/MainWindowController.h"
#include "ui/snapshot/SnapshotRun.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLayout>
#include <QPixmap>
#include <QTextBrowser>
#include <QTimer>
#include <QTextDocument>
#include <QTextOption>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorvel {

namespace snapshot {

namespace {

void print(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

struct Job {
    const char* variable;
    int (*run)(Run&);
    // Jobs that write into the user database run only on one named for them.
    bool writesUserData = false;
};

// The first variable present chooses the job; its value is read only where
// the job says so.
constexpr Job kJobs[] = {
    {"SNAP_UPDATE", updateAlert},       {"SNAP_DL", downloads},
    {"SNAP_HITNAV", hitNavigation},     {"SNAP_SMART", smartPanels},
    {"SNAP_AI", assistant},             {"SNAP_ROUTE", routing},
    {"SNAP_REPORT", reports},           {"SNAP_SELFTEST", selfTest, true},
    {"SNAP_FEATURES", features, true},  {"SNAP_QURAN", quran},
    {"SNAP_RESTORE", restore},         {"SNAP_SCREENS", screens},
};

// The job the environment asks for; nullptr for the default run.
const Job* chosenJob(const QProcessEnvironment& environment)
{
    const auto chosen = std::ranges::find_if(
        kJobs, [&](const Job& job) { return environment.contains(QString::fromLatin1(job.variable)); });
    return chosen != std::end(kJobs) ? chosen : nullptr;
}

} // namespace

Line::~Line()
{
    print(items_.join(QLatin1Char(' ')) + QLatin1Char('\n'));
    // A line is a result: it must be out before anything can end the process.
    std::fflush(stdout);
}

Line& Line::operator<<(const QString& item)
{
    items_.append(item);
    return *this;
}

Line& Line::operator<<(const QStringList& items)
{
    return *this << quoted(items);
}

Line& Line::operator<<(const QList<std::int64_t>& items)
{
    QStringList texts;
    for (const std::int64_t item : items)
        texts.append(QString::number(item));
    return *this << (QLatin1Char('[') + texts.join(QStringLiteral(", ")) + QLatin1Char(']'));
}

Line& Line::operator<<(const QList<int>& items)
{
    return *this << QList<std::int64_t>(items.begin(), items.end());
}

Line& Line::operator<<(std::pair<std::int64_t, std::int64_t> pair)
{
    return *this << QStringLiteral("(%1, %2)").arg(pair.first).arg(pair.second);
}

QString quoted(const QStringList& items)
{
    QStringList texts;
    for (const QString& item : items)
        texts.append(QLatin1Char('"') + item + QLatin1Char('"'));
    return QLatin1Char('[') + texts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString seconds(double value, int decimals)
{
    return QString::number(value, 'f', decimals) + QLatin1Char('s');
}

double since(const QElapsedTimer& clock)
{
    return double(clock.elapsed()) / 1000;
}

void pictureOnly(QTextBrowser& view)
{
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

Run::Run(MainWindowController& main, QString dir, QProcessEnvironment environment)
    : main(main), dir(std::move(dir)), environment(std::move(environment))
{
}

bool Run::has(const char* name) const
{
    return environment.contains(QString::fromLatin1(name));
}

QString Run::value(const char* name) const
{
    return environment.value(QString::fromLatin1(name));
}

std::optional<std::int64_t> Run::integer(const char* name) const
{
    bool ok = false;
    const std::int64_t number = value(name).trimmed().toLongLong(&ok);
    if (!has(name) || !ok)
        return std::nullopt;
    return number;
}

QString Run::path(const QString& name) const
{
    return QDir(dir).filePath(name);
}

void Run::save(QWidget* view, const QString& name) const
{
    Snapshot::save(view, path(name));
}

void Run::saveWindow(const QString& name) const
{
    save(&main, name);
}

void Run::render(const QTextDocument& text, const QString& name) const
{
    constexpr int kRenderWidth = 560;
    constexpr int kRenderStartHeight = 10;
    constexpr int kRenderInsetX = 16;
    constexpr int kRenderInsetY = 14;
    constexpr int kRenderMargin = 40;
    constexpr int kRenderMaxHeight = 900;

    QTextBrowser view;
    pictureOnly(view);
    view.setLayoutDirection(Qt::RightToLeft);
    view.resize(kRenderWidth, kRenderStartHeight);
    QTextDocument* document = text.clone(&view);
    QTextOption option = document->defaultTextOption();
    option.setTextDirection(Qt::RightToLeft);
    document->setDefaultTextOption(option);
    // The frame's own margin would add to the insets.
    document->setDocumentMargin(0);
    RichText::setInsets(*document, kRenderInsetX, kRenderInsetY);
    view.setDocument(document);
    document->setTextWidth(kRenderWidth);
    const double textHeight = document->documentLayout()->documentSize().height() - 2 * kRenderInsetY;
    view.resize(kRenderWidth, std::min(int(std::ceil(textHeight)) + kRenderMargin, kRenderMaxHeight));
    view.show();
    QCoreApplication::processEvents();
    save(&view, name);
}

void Run::dump(QWidget* view, int depth) const
{
    // Views nested this deep or deeper are left out of a dump.
    constexpr int kDumpDepth = 7;

    if (!view || depth >= kDumpDepth)
        return;
    const QRect frame = view->geometry();
    Line() << QString(2 * depth, QLatin1Char(' ')) + QString::fromLatin1(view->metaObject()->className())
           << QStringLiteral("(%1, %2, %3, %4)").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
           << (view->isHidden() ? QStringLiteral("HIDDEN") : QString());
    for (QObject* child : view->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            dump(widget, depth + 1);
}

SearchTabView* Run::lastSearchTab() const
{
    const auto& tabs = main.tabs();
    return tabs.isEmpty() ? nullptr : qobject_cast<SearchTabView*>(tabs.last()->view());
}

AIChatView* Run::lastAssistantTab() const
{
    const auto& tabs = main.tabs();
    return tabs.isEmpty() ? nullptr : qobject_cast<AIChatView*>(tabs.last()->view());
}

SearchTabView* Run::waitForSearch(double limitSeconds, double step) const
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        SearchTabView* tab = lastSearchTab();
        if (tab && tab->isDone())
            return tab;
        if (clock.elapsed() >= limitSeconds * 1000)
            return nullptr;
        Snapshot::wait(step);
    }
}

QuranView* Run::waitForQuran() const
{
    constexpr double kQuranWaitStep = 0.05;
    constexpr int kQuranWaitSteps = 200;

    for (int waited = 0; !main.activeQuran() && waited < kQuranWaitSteps; ++waited)
        Snapshot::wait(kQuranWaitStep);
    return main.activeQuran();
}

namespace {

// The default run's book when none is named: one the sample library holds.
constexpr char kDefaultTitle[] = "موطأ الإمام مالك";
constexpr std::int64_t kDefaultSeq = 10;
constexpr char kDefaultQuery[] = "الصلاة";
constexpr double kSearchLimitSeconds = 60;
constexpr QRect kSearchWindowFrame{0, 0, 1180, 740};

} // namespace

int defaultRun(Run& run)
{
    MainWindowController& main = run.main;
    run.saveWindow(QStringLiteral("01-welcome.png"));

    const QList<Book> books = main.library().books();
    std::optional<std::int64_t> bookId = run.integer("SNAP_BOOK");
    if (!bookId) {
        const auto named = std::ranges::find(books, QString::fromUtf8(kDefaultTitle), &Book::title);
        if (named != books.end())
            bookId = named->id;
        else if (!books.isEmpty())
            bookId = books.first().id;
    }
    if (bookId)
        main.openBook(*bookId, run.integer("SNAP_SEQ").value_or(kDefaultSeq));
    Snapshot::wait(0.6);
    run.saveWindow(QStringLiteral("02-reader.png"));

    SearchQuery query;
    query.andPhrases = {run.has("SNAP_QUERY") ? run.value("SNAP_QUERY") : QString::fromUtf8(kDefaultQuery)};
    main.runSearch(query);
    QElapsedTimer clock;
    clock.start();
    run.waitForSearch(kSearchLimitSeconds);
    const double took = since(clock);
    Snapshot::wait(0.8);
    if (SearchTabView* tab = run.lastSearchTab())
        Line() << "search results:" << tab->resultCount() << "in" << seconds(took, 2);
    run.saveWindow(QStringLiteral("03-search.png"));

    SearchWindowController* window = main.searchWindow();
    window->present(SearchWindowController::Page::books);
    window->setGeometry(kSearchWindowFrame);
    Snapshot::wait(0.5);
    if (run.has("SNAP_DUMP")) {
        run.dump(window);
        // The window's column of parts, each photographed on its own.
        if (auto* column = qobject_cast<QBoxLayout*>(window->layout())) {
            int part = 0;
            for (int i = 0; i < column->count(); ++i)
                if (QWidget* widget = column->itemAt(i)->widget())
                    run.save(widget, QStringLiteral("part-%1.png").arg(part++));
        }
    }
    run.save(window, QStringLiteral("04-searchwin.png"));
    window->present(SearchWindowController::Page::categories);
    Snapshot::wait(0.4);
    run.save(window, QStringLiteral("05-categories.png"));

    if (run.has("SNAP_EXTRA") && Snapshot::extra)
        Snapshot::extra(main, run.dir);
    return 0;
}

} // namespace snapshot

namespace Snapshot {

void wait(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(seconds * 1000);
    // Sleeps between events instead of spinning. The timer wakes the last
    // sleep; it is re-armed for what is left whenever it fired before the
    // clock says the time is up, or that sleep would never end.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    for (qint64 left = limit; left > 0; left = limit - clock.elapsed()) {
        if (!deadline.isActive())
            deadline.start(int(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void save(QWidget* view, const QString& path)
{
    if (!view)
        return;
    if (QLayout* layout = view->layout())
        layout->activate();
    const QPixmap picture = view->grab();
    if (picture.isNull())
        return;
    // Encoded whole first, so that a full disk leaves an earlier picture of
    // the same name as it was and the line says the picture is missing.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.toImage().save(&buffer, "PNG")) {
        snapshot::Line() << "snapshot not written:" << path;
        return;
    }
    if (const std::optional<QString> failed = AtomicFile::replace(path, png)) {
        snapshot::Line() << "snapshot not written:" << path << *failed;
        return;
    }
    snapshot::Line() << "snapshot:" << path;
}

std::optional<QString> refusal(const QProcessEnvironment& environment)
{
    const snapshot::Job* chosen = snapshot::chosenJob(environment);
    if (!chosen || !chosen->writesUserData || !environment.value(QStringLiteral("QUORVEL_USERDB")).isEmpty())
        return std::nullopt;
    return QStringLiteral("%1 refused: this job writes into the user database (notes, bookmarks, the ignored "
                          "books, named sessions). Set QUORVEL_USERDB to a user database of its own, for example "
                          "QUORVEL_USERDB=$(mktemp -d)/u.db")
        .arg(QString::fromLatin1(chosen->variable));
}

int run(MainWindowController& controller, const QString& dir)
{
    constexpr QRect kWindowFrame{0, 0, 1400, 860};
    constexpr double kSettleSeconds = 0.4;

    using namespace snapshot;
    // The start-up asks first; this guards any other caller.
    if (const std::optional<QString> refused = refusal(QProcessEnvironment::systemEnvironment())) {
        std::fputs((*refused + QLatin1Char('\n')).toUtf8().constData(), stderr);
        return refusedStatus;
    }
    QDir().mkpath(dir);
    Run job(controller, dir, QProcessEnvironment::systemEnvironment());
    controller.setGeometry(kWindowFrame);
    controller.show();
    controller.raise();
    wait(kSettleSeconds);

    const Job* chosen = chosenJob(job.environment);
    const int status = chosen ? chosen->run(job) : defaultRun(job);
    std::fflush(stdout);
    return status;
}

} // namespace Snapshot

} // namespace quorvel
