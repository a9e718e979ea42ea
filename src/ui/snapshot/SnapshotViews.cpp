#include "ui/snapshot/SnapshotRun.h"

#include "core/Library.h"
#include "core/Preferences.h"
#include "distribution/Updater.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/Dialogs.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranView.h"
#include "ui/reader/ReaderView.h"
#include "ui/search/SearchTabView.h"
#include "ui/shell/MainWindowController.h"
#include "ui/snapshot/Snapshot.h"

#include <QElapsedTimer>
#include <QMessageBox>

#include <array>
#include <cstdio>
#include <memory>
#include <utility>

namespace quorvel::snapshot {

namespace {

// Ends a job whose value cannot be used, saying why on standard error.
int stop(const char* variable, const QString& why)
{
    // The status of a job stopped because its value cannot be used.
    constexpr int kUnusableValue = 2;

    std::fprintf(stderr, "%s: %s\n", variable, why.toUtf8().constData());
    std::fflush(stderr);
    return kUnusableValue;
}

std::optional<std::int64_t> number(const QString& text)
{
    bool ok = false;
    const std::int64_t value = text.trimmed().toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

} // namespace

int updateAlert(Run& run)
{
    Updater::Release release;
    try {
        release = Updater::decodeRelease(run.value("SNAP_UPDATE").toUtf8());
    } catch (const Updater::UpdateError& error) {
        return stop("SNAP_UPDATE", QStringLiteral("not the JSON of a release: ") + error.description());
    }
    const Updater::AlertText text = Updater::makeAlert(release, false);
    // The box the launch check would run, photographed instead of run.
    const std::unique_ptr<QMessageBox> box(Dialogs::messageBox(text.title, text.text, text.buttons));
    box->setAttribute(Qt::WA_DontShowOnScreen);
    box->show();
    Snapshot::wait(0.2);
    run.save(box.get(), QStringLiteral("update.png"));
    return 0;
}

int downloads(Run& run)
{
    constexpr QRect kDownloadsFrame{0, 0, 980, 660};
    constexpr double kDownloadsSettleSeconds = 2.5;

    // The source is the window's stored setting; the developer's own is put
    // back once the picture is taken.
    Preferences& preferences = Preferences::standard();
    const QString key = QString::fromLatin1(DownloadsWindowController::sourceKey);
    const std::optional<QString> stored = preferences.string(key);
    DownloadsWindowController::setSource(run.value("SNAP_DL"));
    DownloadsWindowController* window = DownloadsWindowController::show();
    window->setGeometry(kDownloadsFrame);
    Snapshot::wait(kDownloadsSettleSeconds);
    run.save(window, QStringLiteral("07-downloads.png"));
    if (stored)
        preferences.set(key, *stored);
    else
        preferences.remove(key);
    return 0;
}

int hitNavigation(Run& run)
{
    constexpr int kHitPasses = 6;
    constexpr int kHitStepLimit = 60;
    constexpr double kHitOpenSeconds = 0.5;
    constexpr double kHitStepSeconds = 0.05;
    constexpr double kHitSettleSeconds = 1.0;

    const QStringList parts = run.value("SNAP_HITNAV").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (parts.size() < 3)
        return stop("SNAP_HITNAV", QStringLiteral("expected book:seq:phrase"));
    const std::optional<std::int64_t> bookId = number(parts.at(0));
    const std::optional<std::int64_t> seq = number(parts.at(1));
    if (!bookId || !seq)
        return stop("SNAP_HITNAV", QStringLiteral("the book id and the seq must be numbers"));
    if (!run.main.library().book(*bookId))
        return stop("SNAP_HITNAV", QStringLiteral("no book %1 in the library").arg(*bookId));

    SearchQuery query;
    query.andPhrases = {parts.at(2)};
    run.main.openBook(*bookId, *seq, query.highlightTerms(), query);
    Snapshot::wait(kHitOpenSeconds);

    QList<std::int64_t> seqs;
    for (int pass = 0; pass < kHitPasses; ++pass) {
        // After the first pass, step on until the reader has moved past the
        // last recorded page: several hits may share one page.
        for (int steps = 0; steps < kHitStepLimit; ++steps) {
            ReaderView* reader = run.main.activeReader();
            if (!reader)
                break;
            reader->nextHit(+1);
            Snapshot::wait(kHitStepSeconds);
            if (pass == 0 || reader->seq() > seqs.last())
                break;
        }
        Snapshot::wait(kHitSettleSeconds);
        ReaderView* reader = run.main.activeReader();
        seqs.append(reader ? reader->seq() : 0);
    }
    QStringList texts;
    for (const std::int64_t at : seqs)
        texts.append(QString::number(at));
    Line() << "hitnav:" << texts.join(QLatin1Char(','));
    return 0;
}

int quran(Run& run)
{
    // A verse that is absent or not a number; the view clamps it to the sura's last.
    constexpr int kLastVerse = 255;
    constexpr int kVersePreview = 40;
    constexpr std::array<std::pair<int, int>, 5> kSampleVerses{{{1, 1}, {2, 1}, {9, 1}, {27, 30}, {114, 6}}};
    constexpr double kCitedLimitSeconds = 120;

    const QStringList parts = run.value("SNAP_QURAN").split(QLatin1Char(':'));
    const std::optional<std::int64_t> sura = number(parts.at(0));
    if (!sura)
        return stop("SNAP_QURAN", QStringLiteral("expected sura:verse:search:kind with a sura number"));
    const int verse = parts.size() > 1 ? int(number(parts.at(1)).value_or(kLastVerse)) : kLastVerse;

    QElapsedTimer clock;
    clock.start();
    run.main.openQuran(int(*sura), verse, false);
    QuranView* view = run.waitForQuran();
    Line() << "quran loaded in" << seconds(since(clock), 2) << "ayat:"
           << (view ? view->text().ayat.size() : 0);
    Snapshot::wait(0.6);

    // The counts and verses come from the tab's text; without a tab, from the
    // library's, when it has one.
    std::shared_ptr<const QuranText> loaded;
    const QuranText* text = view ? &view->text() : (loaded = QuranText::load(run.main.library())).get();
    if (!text || text->ayat.isEmpty())
        return stop("SNAP_QURAN", QStringLiteral("the library has no Quran text"));
    Line() << "counts 2/9/26/114:" << text->count(2) << text->count(9) << text->count(26) << text->count(114)
           << "pages:" << text->pagesBook.has_value();
    for (const auto& [s, a] : kSampleVerses) {
        const int at = text->index(s, a);
        const Ayah& ayah = text->ayat.at(at);
        Line() << QStringLiteral("  %1:%2 p%3 juz%4:").arg(s).arg(a).arg(ayah.page.value_or(0)).arg(text->juzOf(at))
               << ayah.text.left(kVersePreview);
    }
    run.saveWindow(QStringLiteral("q1-sura.png"));

    if (parts.size() < 3)
        return 0;
    if (!parts.at(2).isEmpty() && (view = run.main.activeQuran())) {
        view->setSearch(parts.at(2));
        Snapshot::wait(0.4);
        run.saveWindow(QStringLiteral("q2-search.png"));
    }

    if (parts.size() == 3)
        return 0;
    if ((view = run.main.activeQuran())) {
        view->show(int(*sura), verse, false);
        view->searchCited(parts.at(3) == QLatin1String("tafsir"));
        run.waitForSearch(kCitedLimitSeconds);
        Snapshot::wait(0.6);
        if (SearchTabView* tab = run.lastSearchTab()) {
            const SearchQuery& query = tab->query();
            Line() << "cited:" << tab->resultCount() << "hits for" << query.andPhrases << "scope"
                   << (query.scope ? query.scope->size() : 0) << "books";
            run.saveWindow(QStringLiteral("q3-cited.png"));
        }
    }
    return 0;
}

int restore(Run& run)
{
    run.main.restoreSession();
    Snapshot::wait(1.0);
    run.saveWindow(QStringLiteral("00-restored.png"));
    if (ReaderView* reader = run.main.activeReader())
        Line() << "restored:" << reader->book().id << reader->seq()
               << QStringLiteral("y=%1").arg(reader->scrollFraction(), 0, 'f', 2);
    return 0;
}

} // namespace quorvel::snapshot
