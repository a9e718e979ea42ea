// A book exported to PDF keeps its words whole in the PDF's text, so that a
// search of the PDF finds them: the text pdftotext reads back holds the
// book's distinct words.

#include "ui/WindowTestSupport.h"

#include "core/Library.h"
#include "ui/reader/ReaderTestSupport.h"
#include "ui/shell/BookExport.h"

#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

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
