// The advanced search window's book picker under a large catalogue: 10,000
// generated books by 2,500 authors. A three-word filter is typed a keystroke
// at a time on the books and authors pages; each keystroke rebuilds the
// page's rows, resets the outline's model, opens the roots when the page
// does, and lays the view out. The baseline is what a picker that normalised
// every title and author per keystroke would pay on top of that: a plain
// Arabic::normalize of all 10,000 titles with their authors.
//
//   bench_picker [--repeat 5]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/GeneratedCatalog.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/LibrarySchema.h"
#include "ui/search/BookPicker.h"
#include "ui/search/PickerModel.h"
#include "ui/shell/AppDelegate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int books = 10000;
constexpr int authors = 2500;
constexpr int categories = 40;
constexpr int defaultRepeats = 5;
const char* const typed = "شرح السنن الكامل";

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppDelegate::prepareApplication();
    const bench::BenchArgs args(app.arguments());
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

    QTemporaryDir dir;
    qputenv("QUORVEL_USERDB", dir.filePath(QStringLiteral("user.db")).toUtf8());
    const QString path = dir.filePath(QStringLiteral("generated.db"));
    {
        auto db = SQLiteDB::open(path, false);
        if (!db || !LibrarySchema::create(*db) || !bench::fillGeneratedCatalog(*db, books, authors, categories)) {
            std::fprintf(stderr, "cannot build the catalogue\n");
            return 1;
        }
    }
    const std::shared_ptr<Library> lib = Library::open(path);
    if (!lib)
        return 1;

    QElapsedTimer prepare;
    prepare.start();
    BookPicker picker(lib);
    const double prepared = bench::elapsedMs(prepare);
    PickerModel model(picker);
    QTreeView view;
    view.setModel(&model);
    view.setUniformRowHeights(true);
    view.setIndentation(16);
    view.header()->hide();
    view.resize(700, 600);
    view.show();
    QCoreApplication::processEvents();

    // The baseline: every title and author normalised once.
    const QList<Book> all = lib->books();
    std::vector<double> baseline;
    for (int i = 0; i < repeats * 4; ++i) {
        QElapsedTimer t;
        t.start();
        qsizetype total = 0;
        for (const Book& book : all)
            total += Arabic::normalize(book.title + QStringLiteral(" ") + lib->authorName(book), true).size();
        baseline.push_back(bench::elapsedMs(t));
        if (total == 0)
            return 1;
    }
    const double base = bench::median(baseline);

    const QString filter = QString::fromUtf8(typed);
    std::printf("%d books by %d authors; filter «%s» typed a keystroke at a time; picker prepared in %.1f ms\n",
                int(all.size()), authors, typed, prepared);
    std::printf("%-26s %10s %10s %10s %10s\n", "page", "median ms", "worst ms", "median ×", "worst ×");
    std::printf("%-26s %10.2f %10s %10s %10s\n", "baseline: normalize all", base, "", "1.00", "");
    for (const auto& [name, page] : {std::pair{"books", BookPicker::Page::books},
                                     std::pair{"authors", BookPicker::Page::authors}}) {
        std::vector<double> times;
        for (int r = 0; r < repeats; ++r) {
            for (qsizetype n = 0; n <= filter.size(); ++n) {
                const QString text = filter.left(n);
                QElapsedTimer t;
                t.start();
                model.setRoots(picker.roots(page, text));
                if (BookPicker::opensRoots(page, model.roots().size(), text))
                    view.expandToDepth(0);
                view.doItemsLayout();
                times.push_back(bench::elapsedMs(t));
            }
        }
        const double med = bench::median(times);
        const double worst = *std::max_element(times.begin(), times.end());
        std::printf("%-26s %10.2f %10.2f %10.2f %10.2f\n", name, med, worst, med / base, worst / base);
    }
    std::printf("targets: median <= 1x, worst <= 3x\n");
    return 0;
}
