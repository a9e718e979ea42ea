#pragma once

// Saving an assistant answer: a Word document, a PDF, a web page or a CSV
// table. Every paged format starts from one export document (the rendered
// answer under a title and the question, with a dated footer, stripped of
// what only a screen can use). Everything runs on the GUI thread; failures
// are thrown as ExportError for the panel to show.

#include "assistant/AIAnswer.h"
#include "assistant/DataTable.h"
#include "core/UserError.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTextDocument;
class QWidget;

namespace quorvel {

class RichTextBuilder;

namespace AnswerExport {

enum class ExportFormat { docx, pdf, html, csv };

// "docx", "pdf", "html", "csv": also the file extension.
QString rawValue(ExportFormat format);
std::optional<ExportFormat> formatFrom(const QString& rawValue);
// The save panel's filter for the format.
QString filter(ExportFormat format);

// A failed export. `domain` and `code` name a tool's failure ("docx" and its
// exit status); other failures carry only their sentence.
class ExportError : public UserError {
public:
    explicit ExportError(const QString& message, QString domain = {}, int code = 0)
        : UserError(message), domain_(std::move(domain)), code_(code) {}
    const QString& domain() const { return domain_; }
    int code() const { return code_; }

private:
    QString domain_;
    int code_;
};

// The alert's title for every failed export.
QString failureTitle();

// Appends the rendered answer: the panel's renderer with its two export
// switches (tables as markers for Word; no hint about exporting).
using Render = std::function<void(RichTextBuilder& out, const AIAnswer& answer, bool docxMarkers, bool exporting)>;

// The name the save panel proposes: the mode's title, " - ", the first 40
// characters of the question (a "/", NUL or control character made a
// space) and the extension.
QString proposedName(const AIAnswer& answer, ExportFormat format);

// The export document: title line, question, the rendered answer without
// links, quotation backgrounds and tooltips and with reading-colour text in
// black, and the footer dated `today`.
std::unique_ptr<QTextDocument> document(const AIAnswer& answer, const Render& render, bool docxMarkers = false,
                                        bool exporting = false, const QDate& today = QDate::currentDate());

// `today` as an Arabic long date ("٧ ديسمبر ٢٠٢٦").
QString longDate(const QDate& today);

// The web page: the export document's lines as headings and paragraphs,
// then each table with its chart. `today` dates the footer.
QString html(const AIAnswer& answer, const Render& render, const QDate& today = QDate::currentDate());
// "&", "<" and ">" as entities; in attribute values the double quote too.
QString escapeText(const QString& text);
QString escapeAttribute(const QString& text);

// A byte-order mark and the tables as CSV.
QByteArray csv(const QList<DataTable>& tables);

// The copy of `document` that is printed: pictures no wider than 470
// points, laid out 495 points wide on pages 742 high. Document units are
// points.
std::unique_ptr<QTextDocument> printCopy(const QTextDocument& document);
// Writes `document` as an A4 PDF with margins of 50 points, in the faces it
// asks for and with its text searchable; throws when no PDF could be made or
// written.
void writePdf(const QTextDocument& document, const QString& path);

// The folder the zip tools are taken from ("/usr/bin"); returns the old one.
QString setToolFolder(const QString& folder);
// A Word package rewritten to open alike everywhere: fonts named for Arabic
// or Latin text, right-to-left runs marked, bold kept for Arabic, and each
// table's marker paragraph replaced by the table and its chart.
QByteArray portableDocx(const QByteArray& docx, const QList<DataTable>& tables);
// Puts the tables and chart pictures into the unpacked package at `folder`.
void injectTables(const QList<DataTable>& tables, const QString& folder);

// Writes `answer` to `path` in `format`; throws ExportError.
void exportAnswer(const AIAnswer& answer, const QString& path, ExportFormat format, const Render& render);

// The export button's action: nothing without an answer; else the save
// panel for the last answer, the export, and then the written file shown
// (Desktop::showWritten), or the failure said on `window`. Returns the path
// written.
std::optional<QString> exportLast(const QList<AIAnswer>& answers, ExportFormat format, const Render& render,
                                  QWidget* window = nullptr);

} // namespace AnswerExport
} // namespace quorvel
