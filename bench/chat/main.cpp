// Streaming into the assistant panel. A scripted assistant streams 5,000
// pieces making 25,000 characters of sample text as fast as it can, then
// answers; beside it the same question whose reply arrives as one piece
// (the text inserted once). A 10 ms probe timer measures the longest stall
// of the GUI thread while the pieces arrive. Offscreen, on the panel itself.
//
//   bench_chat [--pieces 5000] [--chars 25000] [--repeat 3]

#include "../common/BenchArgs.h"
#include "core/Json.h"
#include "core/Library.h"
#include "ui/assistant/AIChatView.h"
#include "ui/kit/Voice.h"
#include "ui/shell/AppDelegate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextBrowser>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace quorvel;

namespace {

constexpr int defaultPieces = 5000;
constexpr int defaultChars = 25000;
constexpr int defaultRepeats = 3;
constexpr int probeMs = 10;

// Classical text from the sample books, at least `chars` long.
QString sampleText(int chars)
{
    QString text;
    for (int book = 1; book <= 17 && text.size() < chars; ++book) {
        QFile file(QStringLiteral(QUORVEL_SOURCE_DIR "/samples/books/%1.json").arg(book, 3, 10, QChar(u'0')));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const std::optional<Json::Value> doc = Json::parse(file.readAll());
        if (!doc || !doc->is_object() || !doc->contains("pages"))
            continue;
        for (const Json::Value& page : (*doc)["pages"]) {
            text += QString::fromStdString(page.value("content", std::string())) + u' ';
            if (text.size() >= chars)
                break;
        }
    }
    return text.left(chars);
}

class NoSpeech : public SpeechSynthesizer {
public:
    void say(const QString&) override {}
    void stop() override {}
    bool isSpeaking() const override { return false; }
    QString unavailable() const override { return {}; }
};

struct Run {
    double totalMs = 0;
    double longestStallMs = 0; // while the pieces arrive
    double answerMs = 0;       // the last stretch: the answer replacing the pieces
};

// One question whose reply streams as `pieces`; the answer's text is the
// whole reply.
Run ask(const std::shared_ptr<Library>& lib, const QStringList& pieces, const QString& whole)
{
    AIChatView::Assistant assistant = [pieces, whole](const QString&, AIMode mode,
                                                      const std::function<void(const QString&)>& onDelta) {
        for (const QString& p : pieces)
            onDelta(p);
        AIAnswer a{mode, QString(), {}};
        a.text = whole;
        a.tier = 1;
        return a;
    };
    AIChatView view(lib, assistant);
    view.resize(1100, 760);
    view.show();
    QApplication::processEvents();

    Run run;
    QElapsedTimer probe;
    QTimer timer;
    timer.setInterval(probeMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, double(probe.nsecsElapsed()) / 1e6 - probeMs);
        probe.restart();
    });
    QElapsedTimer total;
    total.start();
    probe.start();
    timer.start();
    view.ask(QStringLiteral(u"ما شروط وجوب الزكاة؟"));
    while (view.isBusy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    run.totalMs = double(total.nsecsElapsed()) / 1e6;
    // The stretch since the last probe holds the rendering of the answer.
    run.answerMs = double(probe.nsecsElapsed()) / 1e6;
    timer.stop();
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUORVEL_NO_MODEL", "1");
    QApplication app(argc, argv);
    AppDelegate::prepareApplication();
    Voice::installShared(std::make_unique<NoSpeech>());
    const bench::BenchArgs args(app.arguments());
    const int pieceCount = args.number(QStringLiteral("--pieces"), defaultPieces, 1);
    const int chars = args.number(QStringLiteral("--chars"), defaultChars, 100);
    const int repeats = args.number(QStringLiteral("--repeat"), defaultRepeats, 1);

    const QString text = sampleText(chars);
    if (text.size() < chars) {
        std::fprintf(stderr, "chat: the sample books hold too little text\n");
        return 1;
    }
    QStringList pieces;
    const int size = std::max(1, int(text.size() / pieceCount));
    for (int at = 0; at < text.size(); at += size)
        pieces << text.mid(at, size);

    std::shared_ptr<Library> lib;  // the scripted assistant reads no library
    // Fonts and shaping caches warm up on a first question, not measured.
    ask(lib, {text}, text);
    // Best total of the repeats; the longest stall of them all.
    Run once{1e300, 0, 0}, streamed{1e300, 0, 0};
    auto keep = [](Run& into, const Run& r) {
        into.totalMs = std::min(into.totalMs, r.totalMs);
        into.longestStallMs = std::max(into.longestStallMs, r.longestStallMs);
        into.answerMs = std::max(into.answerMs, r.answerMs);
    };
    for (int i = 0; i < repeats; ++i) {
        keep(once, ask(lib, {text}, text));
        keep(streamed, ask(lib, pieces, text));
    }
    std::printf("chat benchmark: %lld pieces making %lld characters of sample text, best of %d\n",
                static_cast<long long>(pieces.size()), static_cast<long long>(text.size()), repeats);
    std::printf("%-36s %10s %20s %16s %8s\n", "operation", "total ms", "stall streaming ms", "answer shown ms",
                "ratio");
    auto row = [&](const char* name, const Run& r) {
        std::printf("%-36s %10.1f %20.1f %16.1f %7.2fx\n", name, r.totalMs, r.longestStallMs, r.answerMs,
                    once.totalMs > 0 ? r.totalMs / once.totalMs : 0.0);
    };
    row("one piece, inserted once (baseline)", once);
    row("streamed pieces", streamed);
    return 0;
}
