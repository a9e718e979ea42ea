// The reader's services for the page shown: its short reference and
// citation, copying with the citation, the book card, the page note, the
// favourite star and the error report.

#include "reader/ReaderView.h"

#include "app/kit/Dialogs.h"
#include "app/kit/HoverButton.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/Theme.h"

#include <QApplication>
#include <QClipboard>

namespace quorvel {

namespace {

constexpr char kRefVolume[] = "ج";
constexpr char kRefPage[] = "ص";
constexpr char kCitationSeparator[] = " · ";
constexpr char kCitationVolume[] = "الجزء: ";
constexpr char kCitationPage[] = "الصفحة: ";

constexpr char kCardAuthor[] = "المؤلّف: ";
constexpr char kCardUnknownAuthor[] = "غير معروف";
constexpr char kCardCategory[] = "القسم: ";
constexpr char kCardEdition[] = "الطبعة: ";
constexpr char kCardPublisher[] = "الناشر: ";
constexpr char kCardPages[] = "عدد الصفحات: ";
constexpr char kCardVolumes[] = "عدد الأجزاء: ";
constexpr char kCardSource[] = "المصدر: ";
constexpr char kCardLicense[] = "الرخصة: ";

constexpr char kNoteTitle[] = "تعليق على الصفحة";

constexpr char kReportTitle[] = "الإبلاغ عن خطأ";
constexpr char kReportAsk[] = "\nصِف الخطأ (تصحيف، سقط، ترقيم…)";
constexpr char kReportKind[] = "خطأ نصّي";
constexpr char kReportThanks[] = "شكراً لك";
constexpr char kReportKept[] = "حُفظ البلاغ في سجلّ التصحيحات.";
constexpr char kReportFailed[] = "تعذر الحفظ";
constexpr char kReportNotKept[] = "لم يُحفظ البلاغ في سجلّ التصحيحات.";

constexpr char kStarSymbol[] = "star";
constexpr char kStarFilledSymbol[] = "star.fill";
constexpr double kStarSize = 16;

QString u8(const char* text)
{
    return QString::fromUtf8(text);
}

// The page's printed number, or the seq where it has none.
std::int64_t shownNumber(const std::optional<Page>& page, std::int64_t seq)
{
    return page && page->num ? *page->num : seq;
}

} // namespace

QString ReaderView::pageRef() const
{
    QString ref;
    if (page_ && page_->vol)
        ref = u8(kRefVolume) + Arabic::digits(*page_->vol) + QLatin1Char(' ');
    return ref + u8(kRefPage) + Arabic::num(shownNumber(page_, seq_));
}

QString ReaderView::citation() const
{
    const QString separator = u8(kCitationSeparator);
    QString text = QLatin1Char('[') + book_.title;
    if (const std::optional<Author> author = lib_->author(book_))
        text += separator + author->name;
    if (page_ && page_->vol)
        text += separator + u8(kCitationVolume) + Arabic::digits(*page_->vol);
    text += separator + u8(kCitationPage) + Arabic::num(shownNumber(page_, seq_));
    return text + QLatin1Char(']');
}

void ReaderView::copyCited()
{
    QString text;
    const QTextCursor cursor = textView_->textCursor();
    if (cursor.hasSelection()) {
        text = cursor.selectedText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    } else if (page_) {
        // The page's own text, not the rendered one: no footnotes, label or note.
        text = Library::splitFootnotes(page_->content).first;
        if (!tashkeel_)
            text = Arabic::stripMarks(text);
    }
    QApplication::clipboard()->setText(Arabic::forCopy(text).trimmed() + QLatin1Char('\n') + citation());
}

QString ReaderView::bookCard() const
{
    QStringList lines;
    const std::optional<Author> author = lib_->author(book_);
    lines << u8(kCardAuthor) + (author ? author->display() : u8(kCardUnknownAuthor));
    if (book_.categoryId) {
        const auto categories = lib_->categoryById();
        const auto it = categories.constFind(*book_.categoryId);
        if (it != categories.constEnd())
            lines << u8(kCardCategory) + it->name;
    }
    auto optionalLine = [&lines](const char* caption, const std::optional<QString>& value) {
        if (value && !value->isEmpty())
            lines << u8(caption) + *value;
    };
    optionalLine(kCardEdition, book_.edition);
    optionalLine(kCardPublisher, book_.publisher);
    const std::int64_t pages =
        lib_->main().scalarInt(QStringLiteral("SELECT COUNT(*) FROM pages WHERE book_id=?"), {book_.id}).value_or(0);
    lines << u8(kCardPages) + Arabic::num(pages);
    const qsizetype volumes = lib_->volumes(book_.id).size();
    if (volumes >= 2)
        lines << u8(kCardVolumes) + Arabic::num(volumes);
    optionalLine(kCardSource, book_.source);
    optionalLine(kCardLicense, book_.license);
    return lines.join(QLatin1Char('\n'));
}

void ReaderView::showBookCard()
{
    Dialogs::alert(book_.title, bookCard(), window());
}

void ReaderView::editNote()
{
    const std::optional<Note> note = lib_->note(book_.id, seq_);
    const std::optional<QString> text =
        Dialogs::prompt(u8(kNoteTitle), book_.title + u8(kCitationSeparator) + pageRef(), note ? note->text : QString(),
                        QString::fromUtf8(Dialogs::saveTitle), true);
    if (!text)
        return;
    lib_->saveNote(book_.id, seq_, *text);
    // The page again, to show the note and the button's new symbol, with no
    // history entry.
    go(seq_, false);
}

void ReaderView::updateFav()
{
    const bool favourite = lib_->isFavorite(book_.id);
    favBtn_->setIcon(
        Theme::symbol(QString::fromLatin1(favourite ? kStarFilledSymbol : kStarSymbol), kStarSize, {Theme::gold()}));
}

void ReaderView::toggleFavorite()
{
    lib_->setFavorite(book_.id, !lib_->isFavorite(book_.id));
    updateFav();
}

void ReaderView::reportError()
{
    const std::optional<QString> text = Dialogs::prompt(
        u8(kReportTitle), book_.title + u8(kCitationSeparator) + pageRef() + u8(kReportAsk), QString(),
        QString::fromUtf8(Dialogs::saveTitle), true);
    // The text is kept as typed: a report of spaces still says something
    // was wrong on this page.
    if (!text || text->isEmpty())
        return;
    if (lib_->addCorrection(book_.id, seq_, u8(kReportKind), *text))
        Dialogs::alert(u8(kReportThanks), u8(kReportKept), window());
    else
        Dialogs::alert(u8(kReportFailed), u8(kReportNotKept), window());
}

} // namespace quorvel
