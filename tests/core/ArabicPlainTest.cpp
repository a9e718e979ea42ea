#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/Library.h"

#include "ArabicTestUtil.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>

using namespace quorvel;

// The books quote the Quran in the plain spelling: each Uthmani writing is
// searched by the normal form of that spelling.
TEST(ArabicPlain, theUthmaniScriptIsSearchedInThePlainSpelling)
{
    const struct {
        const char16_t* uthmani;
        const char16_t* plain;
    } cases[] = {
        // A vocative joined to its noun, the alif of ءا, the silent alif.
        {u"يَـٰٓأَيُّهَا ٱلَّذِينَ ءَامَنُوا۟ كُتِبَ عَلَيْكُمُ ٱلصِّيَامُ", u"يا ايها الذين امنوا كتب عليكم الصيام"},
        {u"يَـٰٓـَٔادَمُ ٱسْكُنْ", u"يا ادم اسكن"},
        {u"هَـٰٓأَنتُمْ هَـٰٓؤُلَآءِ", u"ها انتم هؤلاء"},
        // The superscript alef written out, except where the plain spelling
        // leaves it unwritten too.
        {u"ذَٰلِكَ ٱلْكِتَـٰبُ لَا رَيْبَ ۛ فِيهِ", u"ذلك الكتاب لا ريب فيه"},
        {u"ٱللَّهُ لَآ إِلَـٰهَ إِلَّا هُوَ ٱلْحَىُّ ٱلْقَيُّومُ", u"الله لا اله الا هو الحي القيوم"},
        {u"بِسْمِ ٱللَّهِ ٱلرَّحْمَـٰنِ ٱلرَّحِيمِ", u"بسم الله الرحمن الرحيم"},
        {u"أُو۟لَـٰٓئِكَ عَلَىٰ هُدًى", u"اولئك علي هدي"},
        {u"وَأَقِيمُوا۟ ٱلصَّلَوٰةَ وَءَاتُوا۟ ٱلزَّكَوٰةَ", u"واقيموا الصلاه واتوا الزكاه"},
        {u"فَـَٔاتَىٰهُمُ ٱللَّهُ", u"فاتاهم الله"},
        // The hamza on a tatweel takes its seat; the small yeh of a letter is
        // written, that of a pronoun's vowel is not.
        {u"يَسْـَٔلُونَكَ عَنِ ٱلسَّيِّـَٔاتِ", u"يسالونك عن السيئات"},
        {u"وَلَا يَـُٔودُهُۥ وَلَلْـَٔاخِرَةُ", u"ولا يؤوده وللاخره"},
        {u"إِبْرَٰهِـۧمَ بِهِۦ يُحْىِۦ", u"ابراهيم به يحيي"},
        // A text already plain is left as it is.
        {u"يا أيها الذين آمنوا", u"يا ايها الذين امنوا"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Arabic::normalize(Arabic::plainSpelling(QString::fromUtf16(c.uthmani)), true), QString::fromUtf16(c.plain))
            << QString::fromUtf16(c.uthmani).toStdString();
}

namespace {

// The hand-written rows of tests/data/quran/plain-words.tsv.
struct PlainRow {
    QString uthmani, plain;
    bool held = false;
    int occurrences = 0;
};

QList<PlainRow> plainRows()
{
    QFile file(QStringLiteral(QUORVEL_TEST_DATA "/quran/plain-words.tsv"));
    QList<PlainRow> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList cells = line.split(u'\t');
        if (line.startsWith(u'#') || cells.size() != 4)
            continue;
        rows.append({cells[1], cells[2], cells[3] == QLatin1String("held"), cells[0].toInt()});
    }
    return rows;
}

} // namespace

// The commonest Uthmani words whose plain spelling the normal form alone
// misses, tuned and held-out rows alike.
TEST(ArabicPlain, theCommonestUthmaniWordsTakeTheirPlainSpelling)
{
    const QList<PlainRow> rows = plainRows();
    ASSERT_EQ(rows.size(), 200);
    // Words and occurrences: the tuned rows, then the held-out ones.
    int words[2] = {}, wordsRight[2] = {}, seen[2] = {}, seenRight[2] = {};
    for (const PlainRow& row : rows) {
        const bool right = Arabic::normalize(Arabic::plainSpelling(row.uthmani), true) == Arabic::normalize(row.plain, true);
        words[row.held] += 1;
        wordsRight[row.held] += right ? 1 : 0;
        seen[row.held] += row.occurrences;
        seenRight[row.held] += right ? row.occurrences : 0;
        EXPECT_TRUE(right) << row.uthmani.toStdString() << " -> " << Arabic::plainSpelling(row.uthmani).toStdString()
                           << (row.held ? " (held out)" : "");
    }
    std::printf("plain spelling: tuned %d/%d words (%d/%d occurrences), held out %d/%d words (%d/%d occurrences)\n",
                wordsRight[0], words[0], seenRight[0], seen[0], wordsRight[1], words[1], seenRight[1], seen[1]);
}

// A search reads the lines in the mushaf's spelling also in the plain one,
// each section of a page on its own; any other text as it is.
TEST(ArabicPlain, searchesReadTheMushafSpellingAlsoInThePlainOne)
{
    const QString book = QStringLiteral(u"قال: جاء جزءا من القرآن\nولا شيء");
    EXPECT_EQ(Arabic::searchedText(book), book);
    EXPECT_EQ(Library::searchedContent(book), book);
    // A book's own vowelled هٰذا holds a mushaf sign but reads no otherwise.
    const QString vowelled = QStringLiteral(u"قال هٰذا\nثم ذٰلك");
    EXPECT_FALSE(Arabic::hasPlainLines(book) || Arabic::hasPlainLines(vowelled));

    const QString verse = QStringLiteral(u"2|183|يَـٰٓأَيُّهَا ٱلَّذِينَ ءَامَنُوا۟ كُتِبَ");
    const QString page = QStringLiteral(u"2 سورة البقرة\n") + verse;
    // Found on the second line, past a first line in the book's spelling.
    EXPECT_TRUE(Arabic::hasPlainLines(page));
    EXPECT_EQ(Arabic::normalize(Arabic::searchedText(page)),
              QStringLiteral(u"2 سوره البقره 2 183 يايها الذين ءامنوا كتب 2 183 يا ايها الذين امنوا كتب"));

    // A verse quoted in a footnote is read in both spellings in the footnotes.
    const QString notes = QStringLiteral(u"شرح الآية\n__________\n(1) ﴿ذَٰلِكَ ٱلْكِتَـٰبُ﴾");
    const auto [main, footnotes] = Library::splitFootnotes(Library::searchedContent(notes));
    EXPECT_EQ(main, QStringLiteral(u"شرح الآية"));
    ASSERT_TRUE(footnotes);
    EXPECT_EQ(Arabic::normalize(*footnotes), QStringLiteral(u"1 ذلك الكتب 1 ذلك الكتاب"));
}
