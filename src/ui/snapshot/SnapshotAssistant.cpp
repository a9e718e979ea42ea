#include "ui/snapshot/Snapshot.h"
#include "ui/snapshot/SnapshotRun.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "scholar/PanelText.h"
#include "search/SharedMeaningIndex.h"
#include "ui/assistant/AIChatView.h"
#include "ui/assistant/AnswerExport.h"
#include "ui/kit/GuiJob.h"
#include "ui/reader/SmartPopover.h"
#include "ui/shell/MainWindowController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextBrowser>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace quorvel::snapshot {

namespace {

// The first `count` user-perceived characters.
QString firstCharacters(const QString& text, int count)
{
    return text.left(Characters::endOfFirst(text, count));
}

// Splits at the first separator, empty pieces left out and not counted, the
// rest kept whole: "|a|b|c" gives "a" and "b|c".
QStringList splitOnce(const QString& text, QChar separator)
{
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size() && parts.isEmpty(); ++i) {
        if (text[i] != separator)
            continue;
        if (i > start)
            parts.append(text.mid(start, i - start));
        start = i + 1;
    }
    if (start < text.size())
        parts.append(text.mid(start));
    return parts;
}

// The answer of one background run. Filled on the GUI thread, so the job,
// which reads it only between pumps, never races the worker.
struct Box {
    std::optional<AIAnswer> a;
};

std::shared_ptr<Box> answerInBackground(Library& lib, const QString& question, AIMode mode)
{
    auto box = std::make_shared<Box>();
    GuiJob::run(
        QCoreApplication::instance(), [&lib, question, mode] { return AIAssistant::run(lib, question, mode); },
        [box](QCoreApplication&, AIAnswer answer) { box->a = std::move(answer); });
    return box;
}

// A whole transcript can be very long; its picture stops here.
constexpr int kTranscriptMaxHeight = 8000;

// The whole transcript, not only its visible part, at the panel's width.
void saveTranscript(const Run& run, QTextBrowser* transcript, const QString& name)
{
    QTextBrowser page;
    pictureOnly(page);
    page.setLayoutDirection(transcript->layoutDirection());
    page.setPalette(transcript->palette());
    page.setFont(transcript->font());
    QTextDocument* document = transcript->document()->clone(&page);
    page.setDocument(document);
    const int width = std::max(transcript->viewport()->width(), 200);
    page.resize(width, 10);
    document->setTextWidth(width);
    const int height = int(std::ceil(document->size().height()));
    page.resize(width, std::clamp(height, 10, kTranscriptMaxHeight));
    page.show();
    QCoreApplication::processEvents();
    run.save(&page, name);
}

constexpr int kRawCharacters = 500;
constexpr int kTextCharacters = 900;
constexpr int kTableRows = 6;

void printAnswer(const QString& mode, const QString& question, double took, const AIAnswer& answer)
{
    Line() << QStringLiteral("== %1 «%2» %3 passages:%4 tier:%5")
                  .arg(mode, question, seconds(took, 1))
                  .arg(answer.passages.size())
                  .arg(answer.tier);
    if (!answer.rawText.isEmpty())
        Line() << QStringLiteral("[raw model output]\n%1\n[quotes ok %2, failed %3] note: %4")
                      .arg(firstCharacters(answer.rawText, kRawCharacters))
                      .arg(answer.quoteCount)
                      .arg(answer.failedQuotes)
                      .arg(answer.note.value_or(QStringLiteral("-")));
    Line() << firstCharacters(answer.text, kTextCharacters);
    for (const DataTable& table : answer.tables) {
        QString head = QStringLiteral("  [%1] cols: %2 · rows: %3 · chart: %4")
                           .arg(table.title, table.columns.join(QStringLiteral(" | ")))
                           .arg(table.rows.size())
                           .arg(table.chart.size());
        if (table.note)
            head += QStringLiteral(" · ") + *table.note;
        Line() << head;
        for (const QStringList& row : table.rows.mid(0, kTableRows))
            Line() << QStringLiteral("    ") + row.join(QStringLiteral(" | "));
    }
    Line();
}

void exportAnswer(const Run& run, const QString& mode, const AIAnswer& answer)
{
    using AnswerExport::ExportFormat;
    QList<ExportFormat> formats{ExportFormat::docx, ExportFormat::html, ExportFormat::pdf};
    if (!answer.tables.isEmpty())
        formats.append(ExportFormat::csv);
    for (const ExportFormat format : formats) {
        const QString extension = AnswerExport::rawValue(format);
        try {
            AIChatView::exportAnswer(answer, run.path(mode + QLatin1Char('.') + extension), format);
        } catch (const UserError& error) {
            Line() << "export" << extension << error.message();
        }
    }
}

// The panels' sample ids come from the development library; with another
// library the steps that need them are skipped or show empty panels.
constexpr std::int64_t kDefaultPage = 197597;
constexpr std::int64_t kEditionsBook = 568;
constexpr std::int64_t kEditionsPage = 142009;
constexpr std::int64_t kCollateBook = 401;
constexpr char kPanelWord[] = "الصلاة";
constexpr char kPanelPhrase[] = "بيع الغرر";

} // namespace

int smartPanels(Run& run)
{
    SharedMeaningIndex::index();
    Library& lib = run.main.library();
    const std::int64_t pageId = run.integer("SNAP_PAGE").value_or(kDefaultPage);
    auto render = [&run](const PanelText::Text& text, const char* name) {
        run.render(*SmartPopover::document(text), QString::fromLatin1(name));
    };

    render(PanelText::word(lib, QString::fromUtf8(kPanelWord)), "s1-word.png");
    render(PanelText::reuse(lib, pageId), "s2-reuse.png");
    if (const std::optional<Page> page = lib.page(pageId))
        render(PanelText::isnad(lib, *page), "s3-isnad.png");
    if (const std::optional<Book> book = lib.book(kEditionsBook))
        render(PanelText::editions(lib, *book, kEditionsPage), "s4-editions.png");
    render(PanelText::genealogy(lib, QString::fromUtf8(kPanelPhrase)), "s5-genealogy.png");
    render(PanelText::collate(lib, kEditionsPage, kCollateBook), "s6-collate.png");
    return 0;
}

int assistant(Run& run)
{
    constexpr double kAskBudgetSeconds = 240;

    SharedMeaningIndex::index();
    const QStringList questions = run.value("SNAP_AI").split(QStringLiteral("||"));
    QElapsedTimer clock;
    clock.start();
    run.main.openAI(questions.first());
    for (qsizetype i = 0; i < questions.size(); ++i) {
        if (i > 0)
            if (AIChatView* panel = run.lastAssistantTab())
                panel->ask(questions[i]);
        Snapshot::wait(1.0);
        // One budget for all the questions together.
        while (since(clock) < kAskBudgetSeconds) {
            if (const AIChatView* panel = run.lastAssistantTab(); panel && !panel->isBusy())
                break;
            Snapshot::wait(0.5);
        }
    }
    Snapshot::wait(0.5);
    Line() << "ai answered in" << seconds(since(clock), 1);
    run.saveWindow(QStringLiteral("06-ai.png"));
    if (AIChatView* panel = run.lastAssistantTab())
        saveTranscript(run, panel->transcriptView(), QStringLiteral("06-ai-full.png"));
    return 0;
}

int routing(Run& run)
{
    for (const QString& question : run.value("SNAP_ROUTE").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const auto [mode, topic] = Intent::route(question);
        // Separate items, each joined to the next by a space like every result line.
        Line line;
        line << question << "  →  " << mode.rawValue() << " «" << topic << "»";
        if (const std::optional<QString> continued = Intent::followUp(question))
            line << "  [متابعة: " << *continued << "]";
    }
    return 0;
}

int reports(Run& run)
{
    constexpr double kAnswerLimitSeconds = 300;

    SharedMeaningIndex::index();
    Library& lib = run.main.library();
    std::optional<std::pair<AIMode, QString>> lastAnswered;

    for (const QString& item : run.value("SNAP_REPORT").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = splitOnce(item, QLatin1Char('|'));
        if (parts.size() != 2)
            continue;
        const std::optional<AIMode> mode = AIMode::fromRawValue(parts[0]);
        if (!mode)
            continue;
        const QString& question = parts[1];

        QElapsedTimer clock;
        clock.start();
        const AIChatView::Plan plan = AIChatView::plan(question, *mode, std::nullopt, std::nullopt);
        if (*mode == AIMode::automatic)
            Line() << "-> routed:" << plan.mode.rawValue()
                   << QStringLiteral("topic «%1» question «%2»").arg(plan.topic, plan.question);

        // A run that times out is left to finish on its own.
        const std::shared_ptr<Box> box = answerInBackground(lib, plan.question, plan.mode);
        while (!box->a && since(clock) < kAnswerLimitSeconds)
            Snapshot::wait(0.1);
        if (!box->a) {
            Line() << "timeout" << mode->rawValue();
            continue;
        }
        printAnswer(mode->rawValue(), question, since(clock), *box->a);
        exportAnswer(run, mode->rawValue(), *box->a);
        lastAnswered.emplace(*mode, question);
    }

    if (!lastAnswered)
        return 0;
    const auto& [mode, question] = *lastAnswered;
    run.main.openAI();
    Snapshot::wait(0.3);
    if (QPointer<AIChatView> panel = run.lastAssistantTab()) {
        panel->setKind(mode);
        panel->ask(question);
        Snapshot::wait(0.5);
        QElapsedTimer clock;
        clock.start();
        while (panel && panel->isBusy() && since(clock) < kAnswerLimitSeconds)
            Snapshot::wait(0.2);
    }
    Snapshot::wait(0.5);
    run.saveWindow(QStringLiteral("r-") + mode.rawValue() + QStringLiteral(".png"));
    return 0;
}

} // namespace quorvel::snapshot
