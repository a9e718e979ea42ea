// A book exported to PDF keeps its words whole in the PDF's text, so that a
// search of the PDF finds them: the text pdftotext reads back holds the
// book's distinct words.

#include "ui/WindowTestSupport.h"

#include "core/Library.h"
#include "core/Theme.h"
#include "ui/kit/PdfWriter.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/shell/BookExport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// The share of a book's distinct words the PDF must give back whole.
constexpr double kWholeWords = 0.995;

// The Arabic words of a text: runs of letters, their marks and the tatweel
// left out, so that a word reads the same whatever marks it carries.
QSet<QString> wordsOf(const QString& text)
{
    QSet<QString> words;
    QString word;
    auto end = [&] {
        if (word.size() > 1)
            words.insert(word);
        word.clear();
    };
    for (const QChar c : text) {
        if (c.category() == QChar::Mark_NonSpacing || c.unicode() == 0x0640)
            continue;
        if (c.isLetter() && c.script() == QChar::Script_Arabic)
            word += c;
        else
            end();
    }
    end();
    return words;
}

// The text pdftotext reads from a PDF file, without the direction marks it
// sets around runs; empty when the tool failed.
QString textOf(const QString& pdftotext, const QString& file)
{
    QProcess text;
    text.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), file, QStringLiteral("-")});
    if (!text.waitForFinished(120000) || text.exitCode() != 0)
        return {};
    return QString::fromUtf8(text.readAllStandardOutput())
        .remove(QRegularExpression(QStringLiteral("[\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
}

// The Arabic words of a text with their marks, in order: runs of Arabic
// letters, tatweel and the marks on them; punctuation, digits and spaces
// part them.
QStringList markedWordsOf(const QString& text)
{
    QStringList words;
    QString word;
    for (const QChar c : text) {
        const bool mark = c.category() == QChar::Mark_NonSpacing || c.unicode() == 0x0640;
        if (mark || (c.isLetter() && c.script() == QChar::Script_Arabic)) {
            word += c;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

class PdfWordsTest : public test::WindowTest {};

} // namespace

TEST_F(PdfWordsTest, anExportedBookGivesBackItsWordsWhole)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    const Library& lib = *sample.lib;
    std::optional<Book> book;
    for (const Book& b : lib.books())
        if (b.title.contains(QStringLiteral("الطحاوية")))
            book = b;
    ASSERT_TRUE(book);

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("book.pdf"));
    const QList<Page> rows = lib.bookPages(book->id);
    QString error;
    ASSERT_TRUE(BookExport::writePDF(*book, lib.authorName(*book), rows, target, &error)) << error.toStdString();

    QProcess text;
    text.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), target, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(120000));
    ASSERT_EQ(text.exitCode(), 0) << text.readAllStandardError().toStdString();
    const QSet<QString> found = wordsOf(QString::fromUtf8(text.readAllStandardOutput()));

    QString all = book->title + u'\n' + lib.authorName(*book);
    for (const Page& row : rows)
        all += u'\n' + row.content;
    const QSet<QString> wanted = wordsOf(all);
    ASSERT_GT(wanted.size(), 500);
    QStringList broken;
    for (const QString& word : wanted)
        if (!found.contains(word))
            broken << word;
    const double whole = 1.0 - double(broken.size()) / double(wanted.size());
    EXPECT_GE(whole, kWholeWords) << broken.size() << " of " << wanted.size() << " words broken, e.g. "
                                  << broken.mid(0, 30).join(u' ').toStdString();
}

TEST_F(PdfWordsTest, aMarkedWordComesBackWithItsMarksInTheirPlaces)
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // A stop notice in the body face, and the Throne Verse in the Quran's
    // spelling and face, as an answer quotes it.
    const QString notice = QStringLiteral(u"أوقفتَ الكتابة، فحُذف ما لم يُطابَق بعدُ بمصدره.");
    const QString verse = QStringLiteral(
        u"ٱللَّهُ لَآ إِلَـٰهَ إِلَّا هُوَ ٱلْحَىُّ ٱلْقَيُّومُ ۚ لَا تَأْخُذُهُۥ سِنَةٌ وَلَا نَوْمٌ ۚ لَّهُۥ مَا فِى "
        u"ٱلسَّمَـٰوَٰتِ وَمَا فِى ٱلْأَرْضِ ۗ مَن ذَا ٱلَّذِى يَشْفَعُ عِندَهُۥٓ إِلَّا بِإِذْنِهِۦ ۚ يَعْلَمُ مَا بَيْنَ "
        u"أَيْدِيهِمْ وَمَا خَلْفَهُمْ ۖ وَلَا يُحِيطُونَ بِشَىْءٍ مِّنْ عِلْمِهِۦٓ إِلَّا بِمَا شَآءَ ۚ وَسِعَ كُرْسِيُّهُ "
        u"ٱلسَّمَـٰوَٰتِ وَٱلْأَرْضَ ۖ وَلَا يَـُٔودُهُۥ حِفْظُهُمَا ۚ وَهُوَ ٱلْعَلِىُّ ٱلْعَظِيمُ");
    RichTextBuilder text;
    const QTextBlockFormat right = RichText::paragraph(RichText::right);
    text.append(notice + u'\n', RichText::chars(Theme::reader(15), QColor(Qt::black)), right);
    text.append(verse + u'\n', RichText::chars(Theme::quran(15), QColor(Qt::black)), right);
    const std::unique_ptr<QTextDocument> document = text.take();

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("marked.pdf"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_GT(file.write(PdfWriter::pdf(*document, notice)), 0);
    file.close();
    // Kept beside the tests for a person to open.
    const QString kept = QCoreApplication::applicationDirPath() + QStringLiteral("/marked-words.pdf");
    QFile::remove(kept);
    QFile::copy(target, kept);

    // Every word in its place, each mark after its letter: the words of
    // the file are the words written, in order.
    const QStringList written = markedWordsOf(notice + u' ' + verse);
    const QStringList read = markedWordsOf(textOf(pdftotext, target));
    EXPECT_EQ(read, written) << read.join(u' ').toStdString();
}
