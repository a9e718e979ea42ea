// Restoring a session of 14 tabs (eleven books, a search, the Quran and the
// assistant) into the main window on the sample library, offscreen, the way
// start-up does it: the window shown, then the session restored. Timed are
// the moment the window has painted its restored state and the longest gap
// between the ticks of a 10 ms timer on the GUI thread from the start until
// the work that follows has settled (the longest stall a user would feel).
//
// The baseline does the same work eagerly in the same run: every tab's view
// made before the first paint, the Quran text read on the GUI thread, as a
// restore did before its tabs were made on first showing. Two more rows
// select the Quran tab and the assistant tab of a restored window for the
// first time, beside making those views with the same work on the GUI thread.
//
// Targets: shown within 0.5 s, no stall above 100 ms.
//
//   bench_restore [--store library.db] [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "core/Json.h"
#include "core/Library.h"
#include "search/SearchQuery.h"
#include "ui/assistant/AIChatView.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/MainWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultRepeats = 3;
constexpr int probeMs = 10;
constexpr int bookTabs = 11;
constexpr int settleMs = 1500;
constexpr double shownTargetMs = 500;
constexpr double stallTargetMs = 100;

// The longest gap between the ticks of a 10 ms timer while it runs.
class StallProbe {
public:
    StallProbe()
    {
        timer_.setInterval(probeMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, bench::elapsedMs(sinceTick_) - probeMs);
            sinceTick_.restart();
        });
        sinceTick_.start();
        timer_.start();
    }
    // The longest stall so far, counting the one still going on.
    double longest() const { return std::max(longest_, bench::elapsedMs(sinceTick_) - probeMs); }

private:
    QTimer timer_;
    QElapsedTimer sinceTick_;
    double longest_ = 0;
};

// Runs the event loop until `done` holds (or `limitMs` passed), then for
// `settleMs` more, so that late work is counted too.
void pump(const std::function<bool()>& done, int limitMs, int settle)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    t.restart();
    while (t.elapsed() < settle)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Eleven books of the library (not the Quran), a search, the Quran and the
// assistant; the first book active.
QString sessionDocument(Library& lib)
{
    Json::Value tabs = Json::Value::array();
    for (const Book& book : lib.books()) {
        if (int(tabs.size()) == bookTabs)
            break;
        if (book.title.contains(QStringLiteral("القرآن")))
            continue;
        tabs.push_back({{"k", "book"}, {"b", book.id}, {"s", lib.seqRange(book.id).first + 2}, {"y", 0.25}});
    }
    SearchQuery query;
    query.andPhrases = {QStringLiteral("الصلاة")};
    tabs.push_back({{"k", "search"}, {"q", Json::utf8(query.json())}, {"row", 2}});
    tabs.push_back({{"k", "quran"}, {"sura", 2}, {"ayah", 255}});
    tabs.push_back({{"k", "ai"}});
    Json::Value document = Json::Value::object();
    document["tabs"] = std::move(tabs);
    document["active"] = 0;
    return QString::fromUtf8(Json::dumpBytes(document));
}

struct Restore {
    double shown = 0;
    double stall = 0;
    int tabs = 0;
};

// Shows a new window, restores the session into it and paints. `eager`
// makes every tab's view before the paint, with the Quran text read on the
// GUI thread first.
Restore restore(const std::shared_ptr<Library>& lib, const QString& session, bool eager)
{
    Restore run;
    QElapsedTimer clock;
    StallProbe probe;
    clock.start();
    MainWindowController window(lib);
    window.resize(1400, 860);
    window.show();
    if (eager) {
        std::shared_ptr<const QuranText> text = QuranText::load(*lib);
        (void)text;
    }
    window.restoreSession(session);
    if (eager) {
        const int active = window.active();
        for (int i = 0; i < window.tabs().size(); ++i)
            window.select(i);
        window.select(active);
    }
    QCoreApplication::processEvents();
    run.shown = bench::elapsedMs(clock);
    pump([] { return false; }, 0, settleMs);
    run.stall = probe.longest();
    run.tabs = int(window.tabs().size());
    window.hide();
    QThreadPool::globalInstance()->waitForDone();
    return run;
}

struct FirstShow {
    double ready = 0;
    double stall = 0;
};

// Selects the tab of `kind` in a restored window for the first time and
// waits for its view. The baseline makes the same view with the same work on
// the GUI thread.
FirstShow firstShow(const std::shared_ptr<Library>& lib, const QString& session, const char* kind, bool eager)
{
    MainWindowController window(lib);
    window.resize(1400, 860);
    window.show();
    window.restoreSession(session);
    pump([] { return false; }, 0, 300);
    int index = -1;
    for (int i = 0; i < window.tabs().size(); ++i)
        if (QString::fromUtf8(Json::dumpBytes(window.tabs()[i]->content()->sessionJSON())).contains(
                QStringLiteral("\"k\":\"%1\"").arg(QLatin1String(kind))))
            index = i;
    FirstShow run;
    if (index < 0)
        return run;
    const auto made = [&] {
        TabContent* content = window.tabs()[index]->content();
        return qobject_cast<QuranView*>(content) || qobject_cast<AIChatView*>(content);
    };
    QElapsedTimer clock;
    StallProbe probe;
    clock.start();
    if (eager) {
        const std::shared_ptr<const QuranText> text =
            QLatin1String(kind) == QLatin1String(QuranView::sessionKind) ? QuranText::load(*lib) : nullptr;
        std::unique_ptr<TabContent> view;
        if (text) {
            auto quran = std::make_unique<QuranView>(lib, text);
            quran->show(2, 255, true);
            view = std::move(quran);
        } else {
            view = std::make_unique<AIChatView>(lib, AIChatView::libraryAssistant(lib));
        }
        view->resize(1400, 780);
        view->QWidget::show();
        QCoreApplication::processEvents();
        run.ready = bench::elapsedMs(clock);
        run.stall = probe.longest();
        return run;
    }
    window.select(index);
    pump(made, 10000, 0);
    run.ready = bench::elapsedMs(clock);
    pump([] { return false; }, 0, 300);
    run.stall = probe.longest();
    window.hide();
    QThreadPool::globalInstance()->waitForDone();
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppDelegate::prepareApplication();
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

    QTemporaryDir scratch;
    qputenv("QUORVEL_USERDB", scratch.filePath(QStringLiteral("user.db")).toUtf8());
    const QString storePath = args.text(QStringLiteral("--store"), scratch.filePath(QStringLiteral("library.db")));
    const auto store = bench::sampleStore(storePath, 1);
    if (!store)
        return 1;
    const std::shared_ptr<Library> lib = Library::open(store->dbPath);
    if (!lib) {
        std::fprintf(stderr, "restore: could not open %s\n", qPrintable(store->dbPath));
        return 1;
    }
    Library::setShared(lib);
    const QString session = sessionDocument(*lib);

    // One untimed pass of each warms the fonts, the caches and the file.
    restore(lib, session, true);
    restore(lib, session, false);
    std::vector<double> lazyShown, lazyStall, eagerShown, eagerStall;
    int tabs = 0;
    for (int i = 0; i < repeats; ++i) {
        // Taking turns, so that a slow moment of the machine falls on both.
        const Restore lazy = restore(lib, session, false);
        const Restore eager = restore(lib, session, true);
        lazyShown.push_back(lazy.shown);
        lazyStall.push_back(lazy.stall);
        eagerShown.push_back(eager.shown);
        eagerStall.push_back(eager.stall);
        tabs = lazy.tabs;
    }
    std::vector<double> quranLazy, quranEager, aiLazy, aiEager;
    std::vector<double> quranReady, aiReady;
    for (int i = 0; i < repeats; ++i) {
        const FirstShow quran = firstShow(lib, session, QuranView::sessionKind, false);
        quranLazy.push_back(quran.stall);
        quranReady.push_back(quran.ready);
        quranEager.push_back(firstShow(lib, session, QuranView::sessionKind, true).stall);
        const FirstShow ai = firstShow(lib, session, AIChatView::sessionKind, false);
        aiLazy.push_back(ai.stall);
        aiReady.push_back(ai.ready);
        aiEager.push_back(firstShow(lib, session, AIChatView::sessionKind, true).stall);
    }

    std::printf("restore of %d tabs, median of %d runs (ms)\n", tabs, repeats);
    std::printf("%-44s %10s %10s %8s\n", "", "restore", "eager", "target");
    std::printf("%-44s %10.0f %10.0f %8.0f\n", "window shown with the restored tabs", bench::median(lazyShown),
                bench::median(eagerShown), shownTargetMs);
    std::printf("%-44s %10.0f %10.0f %8.0f\n", "longest GUI stall while restoring", bench::median(lazyStall),
                bench::median(eagerStall), stallTargetMs);
    std::printf("%-44s %10.0f %10.0f %8.0f\n", "longest GUI stall, Quran tab first shown", bench::median(quranLazy),
                bench::median(quranEager), stallTargetMs);
    std::printf("%-44s %10.0f %10s\n", "  its view ready after", bench::median(quranReady), "");
    std::printf("%-44s %10.0f %10.0f %8.0f\n", "longest GUI stall, assistant tab first shown", bench::median(aiLazy),
                bench::median(aiEager), stallTargetMs);
    std::printf("%-44s %10.0f %10s\n", "  its view ready after", bench::median(aiReady), "");
    const bool met = bench::median(lazyShown) <= shownTargetMs && bench::median(lazyStall) <= stallTargetMs &&
                     bench::median(quranLazy) <= stallTargetMs && bench::median(aiLazy) <= stallTargetMs;
    std::printf("targets %s\n", met ? "met" : "missed");
    return 0;
}
