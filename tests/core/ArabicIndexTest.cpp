#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "support/CorpusText.h"

#include "ArabicTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace quorvel;
using Arabic::Match;
using Arabic::Range;

namespace {

// The stored-text pieces that the ranges cover.
QStringList covered(const QString& text, const QString& term, Match mode)
{
    QStringList out;
    for (const Range& r : Arabic::ranges(term, Arabic::index(text), mode))
        out.append(text.mid(r.location, r.length));
    return out;
}

// Whether a highlighted page word stands for a query word: the same word, a
// spelling variant of it, or either with a number glued to its end.
bool standsFor(const QString& page, const QString& query)
{
    const QString bare = Arabic::stripTrailingDigits(page).value_or(page);
    const QStringList variants = Arabic::spellings(query);
    return variants.contains(page) || variants.contains(bare);
}

} // namespace

TEST(ArabicIndex, keepsAnOffsetForEveryNormalisedUnit)
{
    const QString text = u"كتابٌ، قال"_qs;
    const Arabic::Index idx = Arabic::index(text);
    EXPECT_EQ(idx.norm, u"كتاب قال"_qs);
    EXPECT_EQ(idx.map, (QList<qsizetype>{0, 1, 2, 3, 5, 7, 8, 9}));
    EXPECT_EQ(idx.origin, text);

    // A trailing separator stays, unlike the normal form.
    EXPECT_EQ(Arabic::index(u"قال: «نعم»."_qs).norm, u"قال نعم "_qs);
    EXPECT_EQ(Arabic::index(u"قال: «نعم»."_qs).norm.trimmed(), Arabic::normalize(u"قال: «نعم»."_qs));

    const QString bold = QString::fromUcs4(U"\U0001D400");
    const Arabic::Index pair = Arabic::index(bold + u" ب"_qs);
    EXPECT_EQ(pair.norm, bold + u" ب"_qs);
    EXPECT_EQ(pair.map, (QList<qsizetype>{0, 1, 2, 3}));
    EXPECT_EQ(covered(bold + u"ـب جـ"_qs, bold, Match::prefix), QStringList{bold + u"ـب"_qs});

    const Arabic::Index empty = Arabic::index(QString());
    EXPECT_TRUE(empty.norm.isEmpty());
    EXPECT_TRUE(empty.map.isEmpty());
    EXPECT_TRUE(Arabic::ranges(u"كتاب"_qs, empty, Match::word).isEmpty());
}

// The index repeats the normal form's rules with offsets alongside, so both
// must agree on every real text, and every offset must point at the stored
// unit its normalised unit came from.
TEST(ArabicIndex, normalFormOfTheIndexMatchesNormalizeOnTheCorpus)
{
    for (const QString& text : test::corpusTexts()) {
        const Arabic::Index idx = Arabic::index(text);
        ASSERT_EQ(idx.norm.size(), idx.map.size());
        QString norm = idx.norm;
        if (norm.endsWith(u' '))
            norm.chop(1);
        ASSERT_EQ(norm, Arabic::normalize(text, false)) << text.toStdString();
        for (qsizetype k = 0; k < idx.map.size(); ++k) {
            ASSERT_TRUE(k == 0 || idx.map[k] > idx.map[k - 1]) << text.toStdString();
            ASSERT_LT(idx.map[k], text.size());
            const char16_t stored = text[idx.map[k]].unicode();
            if (idx.norm[k] == u' ')
                ASSERT_FALSE(Arabic::alnumTable()[stored] || Arabic::mapped(stored)) << text.toStdString();
            else
                ASSERT_EQ(Arabic::mapped(stored).value_or(stored), idx.norm[k].unicode()) << text.toStdString();
        }
    }
}

TEST(ArabicRanges, wholeWordsWithTheirMarks)
{
    const QString text = u"الصَّلَاةُ خيرٌ"_qs;
    const QList<Range> r = Arabic::ranges(u"الصلاه"_qs, Arabic::index(text), Match::word);
    ASSERT_EQ(r.size(), 1);
    EXPECT_EQ(r[0], (Range{0, 10}));

    EXPECT_EQ(covered(u"قرأت كتابهم والتائب"_qs, u"كتا"_qs, Match::prefix), QStringList{u"كتابهم"_qs});
    EXPECT_EQ(covered(u"قرأت كتابهم والتائب"_qs, u"تاب"_qs, Match::anywhere), QStringList{u"كتابهم"_qs});
    EXPECT_TRUE(covered(u"قرأت كتابهم"_qs, u"تاب"_qs, Match::prefix).isEmpty());
}

TEST(ArabicRanges, phrasesSpanTheStoredPunctuationBetweenWords)
{
    const QString text = u"قال رسولُ اللهِ، ثم قال رسول الله."_qs;
    EXPECT_EQ(covered(text, u"رسول الله"_qs, Match::word),
              (QStringList{u"رسولُ اللهِ"_qs, u"رسول الله"_qs}));
}

TEST(ArabicRanges, wordModesUseVariantsAffixesAndStems)
{
    EXPECT_EQ(covered(u"عن اسحق بن ابراهيم"_qs, u"اسحاق"_qs, Match::word), QStringList{u"اسحق"_qs});
    EXPECT_EQ(covered(u"جاء بكتابهم"_qs, u"كتاب"_qs, Match::affix), QStringList{u"بكتابهم"_qs});
    EXPECT_TRUE(covered(u"جاء بكتابهم"_qs, u"كتاب"_qs, Match::word).isEmpty());
    EXPECT_EQ(covered(u"من المسلمين والمسلمين"_qs, u"مسلم"_qs, Match::stem),
              (QStringList{u"المسلمين"_qs, u"والمسلمين"_qs}));
    EXPECT_EQ(covered(u"كتاب كتابه كتب مكتوب"_qs, u"ك*ب"_qs, Match::stem),
              (QStringList{u"كتاب"_qs, u"كتب"_qs}));
    // Digits are exact here: the family counts.
    EXPECT_EQ(covered(u"باب ١٢ وباب 12"_qs, u"١٢"_qs, Match::word), QStringList{u"١٢"_qs});
    // Nor does the stem mode widen a number into a word beginning.
    EXPECT_EQ(covered(u"باب ١٢٣ و١٢ ١٢"_qs, u"١٢"_qs, Match::stem), QStringList{u"١٢"_qs});
    // A number glued to a word is highlighted with it.
    EXPECT_EQ(covered(u"العلم٣ نور"_qs, u"العلم"_qs, Match::word), QStringList{u"العلم٣"_qs});
}

TEST(ArabicRanges, emptyAndOversizedTermsGiveNothing)
{
    const Arabic::Index idx = Arabic::index(u"قال الشيخ"_qs);
    for (const Match m : {Match::word, Match::affix, Match::stem, Match::prefix, Match::anywhere})
        EXPECT_TRUE(Arabic::ranges(QString(), idx, m).isEmpty());
    for (const Match m : {Match::word, Match::affix, Match::stem})
        EXPECT_TRUE(Arabic::ranges(u"   "_qs, idx, m).isEmpty());
    EXPECT_TRUE(Arabic::ranges(u"قال الشيخ رحمه"_qs, idx, Match::word).isEmpty());
}

TEST(ArabicRanges, uthmaniVersesLandOnTheVocalisedWords)
{
    // The verse's own space-separated pieces, as stored.
    const auto stored = [](const QString& verse, qsizetype from, qsizetype count) {
        return QStringList{verse.split(u' ').mid(from, count).join(u' ')};
    };
    // The stored Uthmani spelling is found by the standard one in every word mode.
    const QString verse = test::quranVerse(2, 43); // وَأَقِيمُوا۟ ٱلصَّلَوٰةَ وَءَاتُوا۟ ٱلزَّكَوٰةَ …
    for (const Match m : {Match::word, Match::affix, Match::stem})
        EXPECT_EQ(covered(verse, u"الصلاه"_qs, m), stored(verse, 1, 1));
    EXPECT_EQ(covered(verse, u"الزكاه"_qs, Match::word), stored(verse, 3, 1));

    // A tatweel carrying a superscript alef inside the word: ٱلرَّحْمَـٰنِ.
    const QString opening = test::quranVerse(1, 1);
    EXPECT_EQ(covered(opening, u"الرحمن الرحيم"_qs, Match::word), stored(opening, 2, 2));
    // A prefixed Uthmani spelling (كَمِشْكَوٰةٍ), and a pause mark between words.
    const QString light = test::quranVerse(24, 35);
    EXPECT_EQ(covered(light, u"مشكاه"_qs, Match::affix), stored(light, 8, 1));
    EXPECT_EQ(covered(light, u"والارض مثل"_qs, Match::word), stored(light, 4, 3));
}

// A verse in the mushaf's spelling is marked where a reader's plain
// spelling of it matches, on the words as shown; the book's own spelling
// around it is untouched.
TEST(ArabicRanges, theMushafSpellingIsMarkedByThePlainOne)
{
    const QString verse = test::quranVerse(2, 183); // يَـٰٓأَيُّهَا ٱلَّذِينَ ءَامَنُوا۟ كُتِبَ …
    const QString text = u"قال تعالى: ﴿"_qs + verse + u"﴾ وقوله يا أيها الناس"_qs;
    const QStringList words = verse.split(u' ');
    EXPECT_EQ(covered(text, u"يا ايها الذين امنوا"_qs, Match::word), QStringList{words.mid(0, 3).join(u' ')});
    EXPECT_EQ(covered(text, u"امنوا"_qs, Match::word), QStringList{words[2]});
    // The vocative written apart in the book's text, and joined in the verse.
    EXPECT_EQ(covered(text, u"ايها"_qs, Match::word), (QStringList{words[0], u"أيها"_qs}));
    // As written, still, and once only where both spellings match.
    EXPECT_EQ(covered(text, u"ءامنوا"_qs, Match::word), QStringList{words[2]});
    EXPECT_EQ(covered(text, u"الصيام"_qs, Match::word), QStringList{words[5]});
    EXPECT_EQ(covered(text, u"كت"_qs, Match::prefix), (QStringList{words[3], words[7]}));
    // Text without the mushaf's signs is read only as written.
    EXPECT_TRUE(covered(u"جاء جزءا"_qs, u"جزاي"_qs, Match::word).isEmpty());
    EXPECT_FALSE(Arabic::index(u"جاء جزءا"_qs).plain);
}

// A hamza or madda written as a mark belongs to its word: the highlight of
// the word found by its plain spelling covers it.
TEST(ArabicRanges, hamzaAndMaddaMarksStayInsideTheirWord)
{
    const QString sky = test::units({0x0671, 0x0644, 0x0633, 0x0651, 0x064E, 0x0645, 0x064E, 0x0627, 0x0653,
                                     0x0621, 0x0650});
    const QString hereafter = test::units({0x0628, 0x0650, 0x0671, 0x0644, 0x0652, 0x0640, 0x064E, 0x0654,
                                           0x0627, 0x062E, 0x0650, 0x0631, 0x064E, 0x0629, 0x0650});
    const QString come = test::units({0x062C, 0x064E, 0x0627, 0x0653});
    const QString text = sky + u"، "_qs + hereafter + u" "_qs + come;
    EXPECT_EQ(covered(text, Arabic::normalize(u"السماء"_qs), Match::word), QStringList{sky});
    EXPECT_EQ(covered(text, Arabic::normalize(u"الآخرة"_qs), Match::affix), QStringList{hereafter});
    EXPECT_EQ(covered(text, Arabic::normalize(u"جا"_qs), Match::word), QStringList{come});
    EXPECT_EQ(Arabic::index(text).norm, Arabic::normalize(text, false));
}

TEST(ArabicRanges, bookPageWithFootnoteNumbers)
{
    const QStringList pages = test::bookPages(QStringLiteral("books/003.json"));
    ASSERT_GT(pages.size(), 2);
    const QString page = pages[2];
    const Arabic::Index idx = Arabic::index(page);
    const qsizetype marker = page.indexOf(u"ومحبيه) (1) باب"_qs);
    ASSERT_GE(marker, 0);

    const QList<Range> names = Arabic::ranges(u"ومحبيه"_qs, idx, Match::word);
    ASSERT_EQ(names.size(), 1);
    EXPECT_EQ(names[0], (Range{marker, 6}));
    const QList<Range> chapter = Arabic::ranges(u"1 باب"_qs, idx, Match::word);
    ASSERT_FALSE(chapter.isEmpty());
    EXPECT_EQ(page.mid(chapter[0].location, chapter[0].length), u"1) باب"_qs);
    EXPECT_EQ(chapter[0].location, marker + 9);

    EXPECT_EQ(covered(page, u"سنه رسول الله"_qs, Match::word).value(0), u"سنة رسول الله"_qs);
}

// Sampled phrases of real text: every range lies inside the text, starts on
// a word, ends after the marks of its last letter, and normalises back to
// the term it was found for.
TEST(ArabicRanges, rangesOfRandomRealPhrasesNormaliseToTheirTerms)
{
    const QStringList& texts = test::corpusTexts();
    std::mt19937 random(20240607);
    int checked = 0;
    for (int sample = 0; sample < 400; ++sample) {
        const QString text = texts[std::uniform_int_distribution<qsizetype>(0, texts.size() - 1)(random)];
        const QStringList words = Arabic::tokens(text);
        if (words.isEmpty())
            continue;
        const qsizetype start = std::uniform_int_distribution<qsizetype>(0, words.size() - 1)(random);
        const qsizetype count = std::min<qsizetype>(words.size() - start,
                                                    std::uniform_int_distribution<int>(1, 3)(random));
        const QStringList termWords = words.mid(start, count);
        if (Arabic::hasDigit(termWords.join(QString())))
            continue;
        const QString term = termWords.join(u' ');
        const Arabic::Index idx = Arabic::index(text);
        const QList<Range> found = Arabic::ranges(term, idx, Match::word);
        ASSERT_FALSE(found.isEmpty()) << term.toStdString();
        qsizetype previousEnd = 0;
        for (const Range& r : found) {
            ASSERT_GE(r.location, previousEnd);
            ASSERT_GT(r.length, 0);
            ASSERT_LE(r.location + r.length, text.size());
            previousEnd = r.location + r.length;
            const QString piece = text.mid(r.location, r.length);
            // Words in the mushaf's spelling stand for the term as written or
            // in the plain spelling.
            const auto standsForTerm = [&](const QString& written) {
                const QStringList pieceWords = Arabic::tokens(written);
                if (pieceWords.size() != termWords.size())
                    return false;
                for (qsizetype k = 0; k < termWords.size(); ++k)
                    if (!standsFor(pieceWords[k], termWords[k]))
                        return false;
                return true;
            };
            ASSERT_TRUE(standsForTerm(piece) || standsForTerm(Arabic::plainSpelling(piece))) << piece.toStdString();
            const qsizetype k = idx.map.indexOf(r.location);
            ASSERT_GE(k, 0);
            ASSERT_TRUE(k == 0 || idx.norm[k - 1] == u' ') << piece.toStdString();
            if (previousEnd < text.size()) {
                ASSERT_FALSE(Arabic::isDrop(text[previousEnd].unicode()));
            }
        }
        // The same word, as a prefix and as a substring, widens to whole words.
        const QString head = Arabic::normalize(termWords.front(), false).left(2);
        for (const Match m : {Match::prefix, Match::anywhere}) {
            for (const Range& r : Arabic::ranges(head, idx, m)) {
                const QString n = Arabic::normalize(text.mid(r.location, r.length), false);
                const QStringList plain =
                    Arabic::normalize(Arabic::plainSpelling(text.mid(r.location, r.length)), false).split(u' ');
                ASSERT_FALSE(n.contains(u' '));
                const auto holds = [&](const QString& w) { return m == Match::prefix ? w.startsWith(head) : w.contains(head); };
                const bool plainHolds = std::any_of(plain.begin(), plain.end(), holds);
                ASSERT_TRUE(holds(n) || plainHolds) << n.toStdString() << " / " << head.toStdString();
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 300);
}
