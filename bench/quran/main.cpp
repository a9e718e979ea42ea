// The Quran tab's three hot paths, each beside a baseline doing the same work
// bare in the same run:
//
// - rendering sura 2 (the longest, one justified paragraph) through
//   QuranRenderer and laying it out, beside a plain QTextDocument holding the
//   same text in the same fonts and paragraphs, laid out at the same width
//   (target: at most 2×);
// - a click's restyle (the old and the new verse) with the relayout it
//   causes, beside laying the plain document out once more (target: at most 1×);
// - a search keystroke over every verse's normal form, beside a bare
//   `contains` loop over the same normal forms (target: at most 1.5×).
//
//   bench_quran [--store library.db] [--width 1100] [--repeat N]

#include "../common/BenchArgs.h"
#include "../common/Medians.h"
#include "../common/SampleStore.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Settings.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranRenderer.h"
#include "ui/shell/AppDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultWidth = 1100;
constexpr int defaultRepeats = 15;
constexpr int sura = 2;

void layOut(QTextDocument& document, int width)
{
    document.setTextWidth(width);
    document.documentLayout()->blockBoundingRect(document.lastBlock());
}

// The same text, block for block and run for run, without the renderer's
// attributes, ranges or highlight.
std::unique_ptr<QTextDocument> plainCopy(const QTextDocument& rendered)
{
    auto copy = std::make_unique<QTextDocument>();
    copy->setDefaultTextOption(rendered.defaultTextOption());
    copy->rootFrame()->setFrameFormat(rendered.rootFrame()->frameFormat());
    QTextCursor cursor(copy.get());
    bool first = true;
    for (QTextBlock block = rendered.begin(); block.isValid(); block = block.next()) {
        if (!first)
            cursor.insertBlock();
        first = false;
        cursor.setBlockFormat(block.blockFormat());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat chars;
            chars.setFont(it.fragment().charFormat().font());
            cursor.insertText(it.fragment().text(), chars);
        }
    }
    return copy;
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
    const std::shared_ptr<const QuranText> q = lib ? QuranText::load(*lib) : nullptr;
    if (!q) {
        std::fprintf(stderr, "quran: the sample library has no Quran\n");
        return 1;
    }
    const QHash<int, QString>& uthmani = QuranText::uthmani();

    QuranRenderer::State state;
    state.q = q.get();
    state.sura = sura;
    state.selected = q->index(sura, 1);
    state.readerSize = Settings::readerSize();
    state.lineSpacing = Settings::lineSpacing();
    state.uthmani = &uthmani;
    QuranRenderer renderer(state);

    // Rendering the sura.
    std::unique_ptr<QTextDocument> shown = renderer.render();
    layOut(*shown, width);
    std::unique_ptr<QTextDocument> plain = plainCopy(*shown);
    const std::vector<double> render = bench::medians(repeats, {
                                                                   [&] {
                                                                       auto d = renderer.render();
                                                                       layOut(*d, width);
                                                                   },
                                                                   [&] {
                                                                       auto d = plainCopy(*shown);
                                                                       layOut(*d, width);
                                                                   },
                                                               });

    // A click: the highlight leaves one verse for the next, and the view
    // lays the text out again. The baseline lays the plain text out anew.
    int at = q->index(sura, 1);
    const std::vector<double> click = bench::medians(repeats, {
                                                                  [&] {
                                                                      const int from = at;
                                                                      at = from + 1 < q->index(sura, 286) ? from + 1 : q->index(sura, 1);
                                                                      renderer.state().selected = at;
                                                                      renderer.restyle(*shown, QList<int>{from, at});
                                                                      layOut(*shown, width);
                                                                  },
                                                                  [&] {
                                                                      plain->markContentsDirty(0, plain->characterCount());
                                                                      layOut(*plain, width);
                                                                  },
                                                              });

    // A keystroke: every verse tested for every word of the field.
    const QStringList terms = Arabic::normalize(QStringLiteral(u"الرحمن الرحيم"), true).split(u' ', Qt::SkipEmptyParts);
    qsizetype found = 0;
    qsizetype bare = 0;
    const std::vector<double> search = bench::medians(repeats * 4, {
                                                                       [&] { found = q->search(terms).size(); },
                                                                       [&] {
                                                                           qsizetype n = 0;
                                                                           for (const Ayah& v : q->ayat)
                                                                               n += v.norm.contains(terms[0]) && v.norm.contains(terms[1]);
                                                                           bare = n;
                                                                       },
                                                                   });

    std::printf("%-34s %12s %12s %8s %8s\n", "operation", "median ms", "baseline ms", "ratio", "target");
    auto row = [](const char* name, const std::vector<double>& m, double target) {
        const double ratio = m[1] > 0 ? m[0] / m[1] : 0;
        std::printf("%-34s %12.3f %12.3f %8.2f %7.1fx%s\n", name, m[0], m[1], ratio, target, ratio <= target ? "" : "  OVER");
    };
    row("render sura 2 and lay out", render, 2.0);
    row("click restyle (2 verses) + layout", click, 1.0);
    row("search keystroke (6,236 verses)", search, 1.5);
    std::printf("sura 2: %lld characters; search found %lld verses (baseline %lld)\n",
                static_cast<long long>(shown->characterCount()), static_cast<long long>(found),
                static_cast<long long>(bare));
    return 0;
}
