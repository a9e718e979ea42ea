// The reader's services for the page shown: its short reference and
// citation, copying with the citation, the book card, the page note, the
// favourite star and the error report.

#include "ui/reader/ReaderView.h"

#include "core/Arabic.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "core/Theme.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/WriteFailure.h"

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
constexpr char kNoteNotSaved[] = "لم يُحفظ التعليق: %1. نصه باقٍ هنا، فاحفظه ثانية أو ألغِه.";

constexpr char kReportTitle[] = "الإبلاغ عن خطأ";
constexpr char kReportAsk[] = "\nصِف الخطأ (تصحيف، سقط، ترقيم…)";
constexpr char kReportKind[] = "خطأ نصّي";
constexpr char kReportThanks[] = "شكراً لك";
constexpr char kReportKept[] = "حُفظ البلاغ في سجلّ التصحيحات.";
constexpr char kReportNotKept[] = "لم يُحفظ البلاغ في سجلّ التصحيحات.";

constexpr char kStarSymbol[] = "star";
constexpr char kStarFilledSymbol[] = "star.fill";
constexpr double kStarSize = 16;

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
        ref = QString::fromUtf8(kRefVolume) + Arabic::digits(*page_->vol) + QLatin1Char(' ');
    return ref + QString::fromUtf8(kRefPage) + Arabic::num(shownNumber(page_, seq_));
}

QString ReaderView::citation() const
{
    const QString separator = QString::fromUtf8(kCitationSeparator);
    QString text = QLatin1Char('[') + shownTitle();
    if (const std::optional<Author> author = lib_->author(book_))
        text += separator + author->name;
    if (page_ && page_->vol)
        text += separator + QString::fromUtf8(kCitationVolume) + Arabic::digits(*page_->vol);
    // The volume's number stands beside the next separator.
    text += (page_ && page_->vol && !page_->vol->isEmpty() ? QString::fromUtf8(CountedNoun::separator) : separator) + QString::fromUtf8(kCitationPage) + Arabic::num(shownNumber(page_, seq_));
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
    lines << QString::fromUtf8(kCardAuthor) + (author ? author->display() : QString::fromUtf8(kCardUnknownAuthor));
    if (book_.categoryId) {
        const auto categories = lib_->categoryById();
        const auto it = categories.constFind(*book_.categoryId);
        if (it != categories.constEnd())
            lines << QString::fromUtf8(kCardCategory) + it->name;
    }
    auto optionalLine = [&lines](const char* caption, const std::optional<QString>& value) {
        if (value && !value->isEmpty())
            lines << QString::fromUtf8(caption) + *value;
    };
    // The edition's year in the reader's digits, as the page count below.
    optionalLine(kCardEdition, book_.edition ? std::optional<QString>(Arabic::digits(*book_.edition)) : std::nullopt);
    optionalLine(kCardPublisher, book_.publisher);
    lines << QString::fromUtf8(kCardPages) + Arabic::num(lib_->pageCount(book_.id));
    const qsizetype volumes = lib_->volumes(book_.id).size();
    if (volumes >= 2)
        lines << QString::fromUtf8(kCardVolumes) + Arabic::num(volumes);
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
    // The page the editor opened on, whatever the reader shows when it closes.
    const std::int64_t book = book_.id;
    const std::int64_t seq = seq_;
    const QString where = shownTitle() + QString::fromUtf8(kCitationSeparator) + pageRef();
    std::optional<Note> note = lib_->note(book, seq);
    QString info = where;
    QString typed = note ? note->text : QString();
    for (;;) {
        const std::optional<QString> text =
            Dialogs::prompt(QString::fromUtf8(kNoteTitle), info, typed, QString::fromUtf8(Dialogs::saveTitle), true);
        if (!text)
            return;
        // Saved over the note the editor opened on, so that what an import
        // added to the page while the editor was open stays.
        SQLFailure why;
        if (lib_->saveNote(book, seq, *text, note ? note->text : QString(), &why))
            break;
        // Not saved: the editor opens again on what was typed, saying why.
        typed = *text;
        info = where + u'\n' + QString::fromUtf8(kNoteNotSaved).arg(WriteFailure::reason(why));
    }
    // The page again, to show the note and the button's new symbol, with no
    // history entry.
    go(seq_, false);
}

void ReaderView::updateFav()
{
    const bool favourite = lib_->isFavorite(book_.id);
    // Kept as the button's symbol, so that a new appearance paints this one again.
    favBtn_->setSymbol(QString::fromLatin1(favourite ? kStarFilledSymbol : kStarSymbol), kStarSize, {Theme::goldInk()});
}

void ReaderView::toggleFavorite()
{
    lib_->setFavorite(book_.id, !lib_->isFavorite(book_.id));
    updateFav();
}

void ReaderView::reportError()
{
    const std::optional<QString> text = Dialogs::prompt(
        QString::fromUtf8(kReportTitle), shownTitle() + QString::fromUtf8(kCitationSeparator) + pageRef() + QString::fromUtf8(kReportAsk), QString(),
        QString::fromUtf8(Dialogs::saveTitle), true);
    // The text is kept as typed: a report of spaces still says something
    // was wrong on this page.
    if (!text || text->isEmpty())
        return;
    if (lib_->addCorrection(book_.id, seq_, QString::fromUtf8(kReportKind), *text))
        Dialogs::alert(QString::fromUtf8(kReportThanks), QString::fromUtf8(kReportKept), window());
    else
        Dialogs::alert(QString::fromUtf8(Dialogs::saveFailedTitle), QString::fromUtf8(kReportNotKept), window());
}

} // namespace quorvel
