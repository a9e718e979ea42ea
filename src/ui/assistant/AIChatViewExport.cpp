// The assistant tab's exports: the button and menu that export the last
// answer, and the renderer that writes an answer for export as the
// transcript shows it.

#include "ui/assistant/AIChatView.h"

#include "assistant/LocalLLM.h"
#include "core/Library.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Widgets.h"

#include <QMenu>
#include <QPushButton>

namespace quorvel {

namespace {

const QString txtExport = QStringLiteral(u"تصدير…");
const QString txtExportTip = QStringLiteral(u"تصدير آخر تقرير: وورد، أو PDF، أو صفحة ويب");

} // namespace

void AIChatView::buildExportButton()
{
    QPointer<AIChatView> self(this);
    exportBtn_ = textButton(txtExport, QStringLiteral("square.and.arrow.up"), [self] {
        if (!self)
            return;
        if (QMenu* menu = self->exportMenu()) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(self->exportBtn_->mapToGlobal(QPoint(0, self->exportBtn_->height() + 4)));
        }
    });
    exportBtn_->setToolTip(txtExportTip);
    exportBtn_->setEnabled(false);
}

AnswerExport::Render AIChatView::exportRenderer()
{
    return [](RichTextBuilder& out, const AIAnswer& answer, bool docxMarkers, bool exporting) {
        AnswerRenderer::Options options;
        options.docxMarkers = docxMarkers;
        options.exporting = exporting;
        options.hasModel = LocalLLM::hasModel();
        options.canDownloadModel = LocalLLM::downloadConfigured();
        // The sources read as in the panel, told apart by the same catalogue.
        if (const std::shared_ptr<Library> lib = Library::shared())
            options.catalog = lib->catalog();
        AnswerRenderer::render(out, answer, options);
    };
}

void AIChatView::exportAnswer(const AIAnswer& answer, const QString& path, AnswerExport::ExportFormat format)
{
    AnswerExport::exportAnswer(answer, path, format, exportRenderer());
}

namespace {

const QString txtExportDocx = QStringLiteral(u"مستند وورد (docx)…");
const QString txtExportPdf = QStringLiteral(u"ملف PDF…");
const QString txtExportHtml = QStringLiteral(u"صفحة ويب (HTML)…");
const QString txtExportCsv = QStringLiteral(u"جدول بيانات لإكسل (CSV)…");

} // namespace

QMenu* AIChatView::exportMenu()
{
    if (answers_.isEmpty())
        return nullptr;
    auto* menu = new QMenu(this);
    QPointer<AIChatView> self(this);
    auto item = [&](const QString& title, const char* format) {
        const QString name = QString::fromLatin1(format);
        QAction* action = menuItem(
            title, QString(),
            [self, name] {
                if (self && self->exportLast)
                    self->exportLast(name);
            },
            menu);
        action->setEnabled(bool(exportLast));
        menu->addAction(action);
    };
    item(txtExportDocx, "docx");
    item(txtExportPdf, "pdf");
    item(txtExportHtml, "html");
    if (!answers_.last().tables.isEmpty())
        item(txtExportCsv, "csv");
    return menu;
}

} // namespace quorvel
