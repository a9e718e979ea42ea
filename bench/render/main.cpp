// Page rendering time. PageRenderer::render over every page of the sample
// release, laid out at the reader's width, without marks and with two marked
// terms, beside a plain QTextDocument holding the same text in the reading
// font, laid out at the same width: the renderer's own price (styles,
// headings, verses, hit ranges) is the ratio. A render runs on every
// keystroke of the find-in-page field, so the median is what matters.
//
//   bench_render [--store library.db] [--width 900] [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/SampleStore.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/reader/PageRenderer.h"
#include "ui/shell/AppDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvel;

namespace {

constexpr int defaultWidth = 900;
constexpr int defaultRepeats = 3;

// Lays a document out whole at a width, as the reader's view does.
void layOut(QTextDocument& document, int width)
{
    document.setTextWidth(width);
    document.documentLayout()->blockBoundingRect(document.lastBlock());
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

// Milliseconds of the fastest of `repeats` runs of `work`.
template <typename F>
double fastest(int repeats, F work)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppDelegate::prepareApplication();
    const bench::BenchArgs args(app.arguments());
    const int width = args.number(QStringLiteral("--width"), defaultWidth, 100);
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

    QTemporaryDir scratch;
    const QString storePath = args.text(QStringLiteral("--store"), scratch.filePath(QStringLiteral("library.db")));
    const auto store = bench::sampleStore(storePath, 1);
    if (!store)
        return 1;
    const std::shared_ptr<Library> lib = Library::open(store->dbPath);
    if (!lib) {
        std::fprintf(stderr, "render: the library does not open\n");
        return 1;
    }

    std::vector<double> plain, bare, marked;
    std::int64_t pages = 0;
    for (const Book& book : lib->books()) {
        const QList<TocNodePtr> roots = lib->toc(book.id);
        const auto [first, last] = lib->seqRange(book.id);
        for (std::int64_t seq = first; seq <= last; ++seq) {
            const std::optional<Page> page = lib->page(book.id, seq);
            if (!page)
                continue;
            ++pages;
            PageRenderer::State state;
            state.page = page;
            state.seq = seq;
            state.roots = roots;
            bare.push_back(fastest(repeats, [&] {
                PageRenderer::Result r = PageRenderer::render(state);
                layOut(*r.document, width);
            }));

            // Two terms of the page itself, so that it has hits to mark.
            const QStringList words = Arabic::tokens(page->content);
            if (!words.isEmpty()) {
                state.highlight = {{words[words.size() / 2], Arabic::Match::word},
                                   {words[words.size() / 3], Arabic::Match::affix}};
            }
            QString text;
            marked.push_back(fastest(repeats, [&] {
                PageRenderer::Result r = PageRenderer::render(state);
                layOut(*r.document, width);
                text = r.document->toPlainText();
            }));

            plain.push_back(fastest(repeats, [&] {
                QTextDocument document;
                document.setDefaultFont(Theme::reader(Settings::readerSize()));
                QTextOption option = document.defaultTextOption();
                option.setTextDirection(Qt::RightToLeft);
                document.setDefaultTextOption(option);
                document.setPlainText(text);
                layOut(document, width);
            }));
        }
    }

    const double plainMedian = percentile(plain, 0.5);
    std::printf("render benchmark: %lld pages of the sample release, laid out at %d px, best of %d\n",
                static_cast<long long>(pages), width, repeats);
    std::printf("%-32s %12s %12s %12s\n", "operation", "median ms", "p95 ms", "ratio");
    auto row = [&](const char* name, const std::vector<double>& times) {
        const double median = percentile(times, 0.5);
        std::printf("%-32s %12.3f %12.3f %11.2fx\n", name, median, percentile(times, 0.95),
                    plainMedian > 0 ? median / plainMedian : 0.0);
    };
    row("plain QTextDocument (baseline)", plain);
    row("PageRenderer, no terms", bare);
    row("PageRenderer, two marked terms", marked);
    return 0;
}
