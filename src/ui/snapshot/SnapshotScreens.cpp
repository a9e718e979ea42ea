#include "ui/snapshot/SnapshotRun.h"

#include "core/Build.h"
#include "core/Library.h"
#include "core/Notifier.h"
#include "core/Settings.h"
#include "ui/downloads/DownloadsWindowController.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/WindowPlacement.h"
#include "ui/reader/ReaderView.h"
#include "ui/reader/SmartPopover.h"
#include "ui/search/SearchTabView.h"
#include "ui/search/SearchWindowController.h"
#include "ui/shell/AboutWindow.h"
#include "ui/shell/MainWindowController.h"
#include "ui/shell/SettingsWindowController.h"
#include "ui/shell/TabItem.h"
#include "ui/snapshot/LayoutAudit.h"
#include "ui/snapshot/Snapshot.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>

#include <memory>

namespace quorvel::snapshot {

namespace {

QString rect(const QRect& r)
{
    return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// One line per window: its frame, its minimum and the screen's free area, in
// the windows' own units; a line for each view cut or covered in it; then its
// picture.
void measure(Run& run, QWidget* window, const QString& name, const QString& phase)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QSize minimum = window->minimumSize();
    Line() << "window:" << name << phase << rect(window->frameGeometry())
           << QStringLiteral("%1,%2").arg(minimum.width()).arg(minimum.height()) << rect(room);
    for (const QString& fault : layoutFaults(window))
        Line() << "fault:" << name << phase << fault;
    for (const QString& area : scrolledViews(window))
        Line() << "scrolls:" << name << phase << area;
    run.save(window, QStringLiteral("screen-%1-%2.png").arg(name, phase));
}

// The screen as a reader sees it: the panels' strips, the free area, and each
// window's picture where it stands inside its frame (drawn dark, outlined),
// later windows over earlier ones.
void saveDesk(Run& run, const QList<QWidget*>& windows, const QString& phase)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect whole = screen->geometry();
    QImage desk(whole.size() * screen->devicePixelRatio(), QImage::Format_ARGB32);
    desk.setDevicePixelRatio(screen->devicePixelRatio());
    desk.fill(QColor(0x4a, 0x4f, 0x57));
    QPainter painter(&desk);
    painter.translate(-whole.topLeft());
    painter.fillRect(screen->availableGeometry(), QColor(0x8a, 0x99, 0xa8));
    for (QWidget* window : windows) {
        if (!window || !window->isVisible())
            continue;
        const QRect frame = window->frameGeometry();
        painter.fillRect(frame, QColor(0x2b, 0x2b, 0x2b));
        painter.drawPixmap(window->geometry().topLeft(), window->grab());
        painter.setPen(QColor(0xd0, 0x20, 0x20));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
    }
    painter.end();
    const QString name = QStringLiteral("screen-desk-%1.png").arg(phase);
    if (desk.save(run.path(name), "PNG"))
        Line() << "snapshot:" << run.path(name);
}

} // namespace

int screens(Run& run)
{
    constexpr double kSettleSeconds = 0.6;
    constexpr std::int64_t kSeq = 10;
    constexpr double kBuildStep = 0.05;
    constexpr int kBuildSteps = 400;

    MainWindowController& main = run.main;
    // Placed as at start-up: the harness's frame is the window's first size.
    centreOnScreen(&main, QGuiApplication::primaryScreen());
    const QList<Book> books = main.library().books();
    if (!books.isEmpty())
        main.openBook(books.first().id, kSeq);

    SearchWindowController* search = main.searchWindow();
    search->present(SearchWindowController::Page::books);
    DownloadsWindowController* downloads = DownloadsWindowController::show();
    SettingsWindowController::show(Library::shared());
    SettingsWindowController* settings = SettingsWindowController::shared();
    const std::unique_ptr<QMessageBox> about(
        Dialogs::messageBox(QString::fromUtf8(displayName), AboutWindow::text(main.library(), QStringLiteral("1.0"))));
    about->show();
    const std::unique_ptr<QFileDialog> save(Dialogs::saveDialog(QStringLiteral("تصدير الكتاب إلى PDF"),
                                                                QStringLiteral("كتاب.pdf"), QStringLiteral("PDF (*.pdf)")));
    save->show();
    std::shared_ptr<SmartPopover> panel;
    if (ReaderView* reader = main.activeReader()) {
        reader->showReuse();
        panel = SmartPopover::current();
    }

    for (int waited = 0; panel && !panel->isBuilt() && waited < kBuildSteps; ++waited)
        Snapshot::wait(kBuildStep);
    const bool night = Settings::nightReading();
    for (const bool dark : {false, true}) {
        Settings::setNightReading(dark);
        Notifier::postReaderSettingsChanged();
        Snapshot::wait(kSettleSeconds);
        const QString phase = dark ? QStringLiteral("night") : QStringLiteral("day");
        measure(run, &main, QStringLiteral("main"), phase);
        measure(run, search, QStringLiteral("search"), phase);
        measure(run, downloads, QStringLiteral("downloads"), phase);
        measure(run, settings, QStringLiteral("settings"), phase);
        measure(run, about.get(), QStringLiteral("about"), phase);
        measure(run, save.get(), QStringLiteral("save"), phase);
        if (panel && panel->frame())
            measure(run, panel->frame(), QStringLiteral("panel"), phase);
        saveDesk(run, {&main, search, downloads, settings, about.get(), save.get()}, phase);
    }
    Settings::setNightReading(night);
    Notifier::postReaderSettingsChanged();

    // A results tab: its table, its bar and the reader above must all stay
    // reachable however small the screen is in the window's units.
    constexpr double kSearchSeconds = 20;
    SearchQuery query;
    query.andPhrases = {QStringLiteral("رسول"), QStringLiteral("الله")};
    main.runSearch(query);
    const SearchTabView* results = run.waitForSearch(kSearchSeconds);
    for (int waited = 0; results && !results->currentReader() && waited < kBuildSteps; ++waited)
        Snapshot::wait(kBuildStep);
    Snapshot::wait(kSettleSeconds);
    measure(run, &main, QStringLiteral("main"), QStringLiteral("results"));
    saveDesk(run, {&main}, QStringLiteral("results"));
    return 0;
}

} // namespace quorvel::snapshot
