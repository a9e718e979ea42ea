#include "ArabicTestUtil.h"
#include "core/Arabic.h"
#include "core/Library.h"
#include "core/ArabicNormalize.h"
#include "core/Settings.h"
#include "support/CorpusText.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <unicode/uchar.h>

#include <cstring>
#include <random>

using namespace quorvel;
using quorvel::test::quranVerse;

namespace {

// The letter/digit rule written independently of the implementation: age from
// the version string, categories one by one, numeric value instead of type.
bool referenceAlnum(UChar32 c)
{
    UVersionInfo age;
    u_charAge(c, age);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(age, text);
    const int major = std::atoi(text);
    if (age[0] == 0 || major > 13)
        return false;
    switch (u_charType(c)) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER:
        return true;
    default:
        return u_getNumericValue(c) != U_NO_NUMERIC_VALUE;
    }
}

} // namespace

TEST(ArabicAlnum, tableAgreesWithUnicodePropertiesForEveryUnit)
{
    const auto& table = Arabic::alnumTable();
    int mismatches = 0;
    for (UChar32 u = 0; u < 0x10000; ++u) {
        const bool expected = !U16_IS_SURROGATE(u) && referenceAlnum(u);
        if (table[u] != expected && ++mismatches < 10)
            ADD_FAILURE() << "unit " << std::hex << u;
    }
    EXPECT_EQ(mismatches, 0);
    for (UChar32 c = 0x10000; c <= 0x10FFFF; ++c)
        if (Arabic::isAlnumScalar(char32_t(c)) != referenceAlnum(c) && ++mismatches < 10)
            ADD_FAILURE() << "code point " << std::hex << c;
    EXPECT_EQ(mismatches, 0);
}

TEST(ArabicAlnum, ageLimitExcludesNewerCharacters)
{
    EXPECT_TRUE(Arabic::isAlnumScalar(0x08C7));   // Arabic letter, Unicode 13.0
    EXPECT_FALSE(Arabic::isAlnumScalar(0x08C8));  // Arabic letter, Unicode 14.0
    EXPECT_FALSE(Arabic::isAlnumScalar(0x0870));  // Arabic letter, Unicode 14.0
    EXPECT_TRUE(Arabic::isAlnumScalar(0x1FBF9));  // segmented digit nine, 13.0
    EXPECT_FALSE(Arabic::isAlnumScalar(0x1E4F0)); // digit added in 15.0
    EXPECT_TRUE(Arabic::isAlnumScalar(0x00B2));   // superscript two (other number)
    EXPECT_FALSE(Arabic::isAlnumScalar(0x0653));  // maddah above: a mark
    EXPECT_FALSE(Arabic::isAlnumScalar(0x110000));
    EXPECT_FALSE(Arabic::alnumTable()[0xD800]);
    EXPECT_FALSE(Arabic::alnumTable()[0xDFFF]);
}

TEST(ArabicAlnum, surrogatePairJudgesTheEncodedCodePoint)
{
    const QString mathBoldA = QString::fromUcs4(U"\U0001D400");
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(Arabic::surrogatePair(mathBoldA, 0).isPair, true);
    EXPECT_EQ(Arabic::surrogatePair(mathBoldA, 0).alnum, true);
    EXPECT_EQ(Arabic::surrogatePair(emoji, 0).isPair, true);
    EXPECT_EQ(Arabic::surrogatePair(emoji, 0).alnum, false);
    EXPECT_FALSE(Arabic::surrogatePair(mathBoldA, 1).isPair); // low half
    EXPECT_FALSE(Arabic::surrogatePair(test::units({0xD835}), 0).isPair);
    EXPECT_FALSE(Arabic::surrogatePair(mathBoldA, 5).isPair);
}

TEST(ArabicNormalize, foldsLettersDropsMarksAndCollapsesSeparators)
{
    EXPECT_EQ(Arabic::normalize(u"  قَالَ: «الصَّلَاةُ»  "_qs), u"قال الصلاه"_qs);
    EXPECT_EQ(Arabic::normalize(u"إِنَّ"_qs), u"ان"_qs);
    EXPECT_EQ(Arabic::normalize(u"مُوسَى"_qs), u"موسي"_qs);
    EXPECT_EQ(Arabic::normalize(u"ٱلْحَمْدُ"_qs), u"الحمد"_qs);
    EXPECT_EQ(Arabic::normalize(u"كـتـاب"_qs), u"كتاب"_qs);
    EXPECT_EQ(Arabic::normalize(u"ـــــ"_qs), QString());
    EXPECT_EQ(Arabic::normalize(u"ISBN 978-٣"_qs), u"ISBN 978 ٣"_qs);
    EXPECT_EQ(Arabic::normalize(u"ءؤئ"_qs), u"ءؤئ"_qs);
    EXPECT_EQ(Arabic::tokens(u"  ، ؛ .. "_qs), QStringList());
    EXPECT_EQ(Arabic::normalize(QString()), QString());
}

// A hamza or madda written as a mark is the letter written precomposed when
// it sits on a carrier, and a mark like any other when it does not.
TEST(ArabicNormalize, hamzaAndMaddaMarksJoinTheirCarrier)
{
    const auto same = [](std::initializer_list<char16_t> marked, const QString& written) {
        return Arabic::normalize(test::units(marked)) == Arabic::normalize(written);
    };
    EXPECT_TRUE(same({0x0627, 0x0654, 0x062D, 0x0645, 0x062F}, u"أحمد"_qs));
    EXPECT_TRUE(same({0x0627, 0x0655, 0x0646}, u"إن"_qs));
    EXPECT_TRUE(same({0x0633, 0x0648, 0x0654, 0x0627, 0x0644}, u"سؤال"_qs));
    EXPECT_TRUE(same({0x0628, 0x064A, 0x0654, 0x0631}, u"بئر"_qs));
    EXPECT_EQ(Arabic::normalize(test::units({0x062C, 0x0627, 0x0653, 0x0621})), u"جاء"_qs);
    // A vowel of a lower class may stand between the alef and its hamza.
    EXPECT_TRUE(same({0x0627, 0x064E, 0x0654, 0x0645, 0x0631}, u"أمر"_qs));
    // ٱلسَّمَآءِ and بِٱلْـَٔاخِرَةِ as the Quran text writes them.
    EXPECT_EQ(Arabic::normalize(test::units({0x0671, 0x0644, 0x0633, 0x0651, 0x064E, 0x0645, 0x064E, 0x0627,
                                              0x0653, 0x0621, 0x0650})),
              u"السماء"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0x0628, 0x0650, 0x0671, 0x0644, 0x0652, 0x0640, 0x064E, 0x0654,
                                              0x0627, 0x062E, 0x0650, 0x0631, 0x064E, 0x0629, 0x0650})),
              u"بالاخره"_qs);
    // No carrier: a tatweel, ى (which Unicode does not compose), a consonant,
    // or a Quranic sign of class 0 between; the mark goes, the word stays whole.
    EXPECT_EQ(Arabic::normalize(test::units({0x0647, 0x064E, 0x0640, 0x0670, 0x0653, 0x0624, 0x064F, 0x0644,
                                              0x064E, 0x0627, 0x0653, 0x0621, 0x0650})),
              u"هؤلاء"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0x0634, 0x0649, 0x0654, 0x062A})), u"شيت"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0x0633, 0x0654, 0x0644})), u"سل"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0x0628, 0x0648, 0x06E5, 0x0654, 0x0627})), u"بوا"_qs);
    // A mark that separates words is no mark the hamza can pass.
    EXPECT_EQ(Arabic::normalize(test::units({0x0628, 0x0648, 0x0656, 0x0654, 0x0627})), u"بو ا"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0x0654, 0x0653, 0x0655})), QString());
}

// Canonical composition as Unicode defines it, taken from Qt's own
// normalisation: after it, every mark left over is dropped.
TEST(ArabicNormalize, seatMarksComposeAsUnicodeComposesThem)
{
    const QList<char16_t> carriers = {0x0627, 0x0648, 0x064A, 0x0649, 0x0640, 0x0633, 0x06D5, 0x0623, 0x0622};
    const QList<char16_t> marks = {0x064E, 0x0650, 0x0651, 0x0652, 0x0670, 0x0653, 0x0654,
                                   0x0655, 0x06D6, 0x06E5, 0x06DF, 0x08F0, 0x0640};
    std::mt19937 random(97);
    std::uniform_int_distribution<qsizetype> carrier(0, carriers.size() - 1);
    std::uniform_int_distribution<qsizetype> mark(0, marks.size() - 1);
    std::uniform_int_distribution<int> count(1, 4);
    for (int round = 0; round < 20000; ++round) {
        QString text = u"ب"_qs;
        for (int word = 0; word < 3; ++word) {
            text += QChar(carriers[carrier(random)]);
            for (int k = count(random); k > 0; --k)
                text += QChar(marks[mark(random)]);
        }
        QString composed = text.normalized(QString::NormalizationForm_C);
        composed.removeIf([](QChar c) { return Arabic::isSeatMark(c.unicode()); });
        ASSERT_EQ(Arabic::normalize(text), Arabic::normalize(composed)) << text.toStdString();
    }
}

// The seat tables are written out for speed; Unicode's decompositions are
// what they must say.
TEST(ArabicNormalize, seatTablesAreUnicodesDecompositions)
{
    for (char32_t c = 0; c < 0x10000; ++c) {
        const QChar letter{char16_t(c)};
        const QString parts = letter.decomposition();
        const bool seat = letter.decompositionTag() == QChar::Canonical && parts.size() == 2
            && Arabic::isSeatMark(parts[1].unicode());
        if (c >= 0x0621 && c <= 0x064A)
            ASSERT_EQ(Arabic::hamzaCarrier(c), seat ? parts[0].unicode() : 0) << std::hex << unsigned(c);
        else
            ASSERT_EQ(Arabic::hamzaCarrier(c), 0) << std::hex << unsigned(c);
        ASSERT_EQ(Arabic::isHamzaAlef(c), seat && parts[0].unicode() == 0x0627) << std::hex << unsigned(c);
        for (const char16_t m : {char16_t(0x0653), char16_t(0x0654), char16_t(0x0655)}) {
            const QString pair = QString(letter) + QChar(m);
            const QString nfc = pair.normalized(QString::NormalizationForm_C);
            ASSERT_EQ(Arabic::composeSeat(char16_t(c), m), nfc.size() == 1 ? nfc[0].unicode() : 0)
                << std::hex << unsigned(c) << " " << unsigned(m);
        }
    }
}

TEST(ArabicNormalize, rasmFoldsTheEightWawSpellingsUnderListedPrefixes)
{
    EXPECT_EQ(Arabic::normalize(u"الصلوة"_qs), Arabic::normalize(u"الصلاة"_qs));
    EXPECT_NE(Arabic::normalize(u"الصلوة"_qs, false), Arabic::normalize(u"الصلاة"_qs, false));
    EXPECT_EQ(Arabic::normalize(u"ربوا دعوا"_qs), u"ربا دعوا"_qs);
    EXPECT_EQ(Arabic::rasmWord(u"فالصلوه"_qs), u"فالصلاه"_qs);
    EXPECT_EQ(Arabic::rasmWord(u"كالصلوه"_qs), u"كالصلاه"_qs);
    EXPECT_EQ(Arabic::rasmWord(u"للربوا"_qs), u"للربا"_qs);
    EXPECT_EQ(Arabic::rasmWord(u"سالصلوه"_qs), u"سالصلوه"_qs);
    EXPECT_EQ(Arabic::rasmWord(u"وه"_qs), u"وه"_qs);
    EXPECT_EQ(Arabic::normalize(u"والزكوة الحيوة"_qs), u"والزكاه الحياه"_qs);
}

TEST(ArabicNormalize, supplementaryLettersStayAndSymbolsSeparate)
{
    const QString bold = QString::fromUcs4(U"\U0001D400\U0001D401");
    EXPECT_EQ(Arabic::normalize(bold + u"كتاب"_qs), bold + u"كتاب"_qs);
    EXPECT_EQ(Arabic::normalize(u"كتاب"_qs + QString::fromUcs4(U"\U0001F600") + u"قلم"_qs),
              u"كتاب قلم"_qs);
}

TEST(ArabicNormalize, malformedAndDegenerateTextHasADefinedForm)
{
    // A lone surrogate is a separator wherever it stands.
    EXPECT_EQ(Arabic::normalize(u"كتب"_qs + test::units({0xD800}) + u"باب"_qs), u"كتب باب"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0xDC00}) + u"باب"_qs + test::units({0xD83D})), u"باب"_qs);
    EXPECT_EQ(Arabic::normalize(test::units({0xDC00, 0xD800})), QString());
    // NUL and other controls separate words; they never end the text.
    EXPECT_EQ(Arabic::normalize(u"قال"_qs + QChar(u'\0') + u"الشيخ"_qs), u"قال الشيخ"_qs);
    EXPECT_EQ(Arabic::normalize(QString(3, QChar(u'\0'))), QString());
    // Marks with no letter vanish, separators or not around them.
    EXPECT_EQ(Arabic::normalize(test::units({0x064E, 0x0651, 0x06DE, 0x06E9, 0x08F0})), QString());
    EXPECT_EQ(Arabic::normalize(u" ً ْ "_qs), QString());
    EXPECT_TRUE(Arabic::tokens(test::units({0x0670, 0x0640, 0x06D6})).isEmpty());
}

// Real lines, their normal forms checked by hand letter by letter.
TEST(ArabicNormalize, goldenCorpusLines)
{
    // Pause marks, a rub el hizb sign, small high letters, tatweel with
    // superscript alef, and U+0653 on a yeh, which it cannot sit on: يضيٓء.
    const QString light = quranVerse(24, 35);
    ASSERT_FALSE(light.isEmpty());
    EXPECT_TRUE(Arabic::normalize(light).startsWith(
        u"الله نور السموت والارض مثل نوره كمشكاه فيها مصباح المصباح في زجاجه"_qs));
    EXPECT_TRUE(Arabic::normalize(light).contains(u" يكاد زيتها يضيء ولو لم تمسسه نار"_qs));
    EXPECT_TRUE(Arabic::normalize(light, false).contains(u"كمشكوه"_qs));

    EXPECT_EQ(Arabic::normalize(quranVerse(1, 1)), u"بسم الله الرحمن الرحيم"_qs);
    EXPECT_EQ(Arabic::normalize(quranVerse(2, 3)),
              u"الذين يؤمنون بالغيب ويقيمون الصلاه ومما رزقنهم ينفقون"_qs);
    EXPECT_EQ(Arabic::normalize(quranVerse(2, 3), false),
              u"الذين يؤمنون بالغيب ويقيمون الصلوه ومما رزقنهم ينفقون"_qs);
    EXPECT_EQ(Arabic::normalize(quranVerse(2, 43)),
              u"واقيموا الصلاه وءاتوا الزكاه واركعوا مع الركعين"_qs);
    // The sajdah sign at the end leaves no trailing space.
    EXPECT_EQ(Arabic::normalize(quranVerse(7, 206)),
              u"ان الذين عند ربك لا يستكبرون عن عبادته ويسبحونه وله يسجدون"_qs);
    EXPECT_EQ(Arabic::normalize(quranVerse(2, 10)),
              u"في قلوبهم مرض فزادهم الله مرضا ولهم عذاب اليم بما كانوا يكذبون"_qs);
    // Tatweel carrying fatha and a hamza above, which vanishes: بِـَٔايَـٰتِى.
    EXPECT_TRUE(Arabic::normalize(quranVerse(2, 41)).contains(u"ولا تشتروا بايتي ثمنا"_qs));

    // A chain of narrators, with its numbering and the text's own asterisk.
    const QStringList pages = test::bookPages(QStringLiteral("books/002.json"));
    ASSERT_GT(pages.size(), 5);
    const QString chain = pages[5].section(u'\n', 0, 0);
    EXPECT_EQ(Arabic::normalize(chain),
              u"14 حدثنا ابو مروان محمد بن عثمان العثماني ثنا ابراهيم بن سعد بن ابراهيم بن عبد "
              u"الرحمن بن عوف عن ابيه عن القاسم بن محمد عن عائشه ان رسول الله صلي الله عليه وسلم "
              u"قال من احدث في امرنا هذا ما ليس منه فهو رد 14"_qs);
}

TEST(ArabicNormalize, invariantsHoldOnTheWholeCorpus)
{
    const QStringList& texts = test::corpusTexts();
    ASSERT_GT(texts.size(), 6000);
    for (const QString& text : texts) {
        for (const bool rasm : {true, false}) {
            const QString n = Arabic::normalize(text, rasm);
            ASSERT_EQ(Arabic::normalize(n, rasm), n) << text.toStdString();
            ASSERT_FALSE(n.startsWith(u' ') || n.endsWith(u' ') || n.contains(u"  "_qs));
            for (const QChar c : n) {
                ASSERT_FALSE(Arabic::isDrop(c.unicode()) || Arabic::mapped(c.unicode()))
                    << text.toStdString();
                ASSERT_TRUE(c == u' ' || c.isSurrogate() || Arabic::alnumTable()[c.unicode()]);
            }
        }
        ASSERT_EQ(Arabic::tokens(text).join(u' '), Arabic::normalize(text));
    }
}

// The library stores text in this form: a change to any rule that alters the
// corpus's stored form (its normal form, or what a search reads beside the
// text) must come with a new normVersion (which has every store brought to
// it) and the new digests pinned under it.
TEST(ArabicNormalize, normalFormOfTheCorpusIsPinnedToItsVersion)
{
    struct Pin {
        int version;
        const char* withRasm;
        const char* withoutRasm;
    };
    static constexpr Pin pins[] = {
        {1, "64b6033158a3b7d49636b67ac1377e012d21bdbec0d0175e20fd1167ec95db5a",
         "a8b0ff4739be2aaab767dc2785b563264e3125c17bebd6207bb7c6437f3fdb3a"},
        // Hamza and madda marks join their carrier or vanish.
        {2, "7f8146e5c40c293d918cad59e0f714cb21434fd7fc5ab934898170e6d7e2cf27",
         "d0c020740b60d16480a11773e34bf8b7519d20dab2de656ba12b7a54852d5d86"},
        // A text in the mushaf's spelling is stored also in the plain one.
        {3, "b5061e01b449b202039b5be9209f2d43e88d956523f0a73bf25baa7436fa6f57",
         "e1aaa4fc2e6ef0871c5b9ff4ad676193a13bfdddf3a0174794966972ee366216"},
    };
    const Pin& latest = pins[std::size(pins) - 1];
    ASSERT_EQ(Arabic::normVersion, latest.version);
    QStringList withRasm;
    QStringList withoutRasm;
    // As stored: what a search reads of each text, in the normal form.
    for (const QString& text : test::corpusTexts()) {
        withRasm.append(Arabic::normalize(Library::searchedContent(text), true));
        withoutRasm.append(Arabic::normalize(Library::searchedContent(text), false));
    }
    const auto digest = [](const QStringList& lines) {
        return QCryptographicHash::hash(lines.join(u'\n').toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    };
    EXPECT_EQ(digest(withRasm), latest.withRasm);
    EXPECT_EQ(digest(withoutRasm), latest.withoutRasm);
}

namespace {

// The normal form unit by unit, straight from the header's rules and the
// public unit classes, with the rasm folding applied to every word: what the
// normaliser's block path and table path must both reproduce.
QString referenceNormalize(const QString& s, bool rasm)
{
    QStringList words;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty())
            words.append(rasm ? Arabic::rasmWord(word) : word);
        word.clear();
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        const Arabic::SurrogatePair pair = Arabic::surrogatePair(s, i);
        if (pair.isPair) {
            if (pair.alnum)
                word.append(s.mid(i, 2));
            else
                flush();
            ++i;
        } else if (QChar::isSurrogate(u)) {
            flush();
        } else if (Arabic::isSeatMark(u)) {
            if (const char16_t seat = Arabic::seatAt(s, i))
                word.back() = QChar(Arabic::mapped(seat).value_or(seat));
        } else if (Arabic::isDrop(u)) {
        } else if (const auto folded = Arabic::mapped(u)) {
            word.append(QChar(*folded));
        } else if (Arabic::alnumTable()[u]) {
            word.append(QChar(u));
        } else {
            flush();
        }
    }
    flush();
    return words.join(u' ');
}

} // namespace

// Plain letters and spaces are normalised eight units at a time, other
// blocks through the unit table (with byte shuffles where the processor has
// them), surrogates unit by unit: every mix of these, at every offset, must
// give the unit-by-unit form, on both code paths.
TEST(ArabicNormalize, fastPathsAgreeWithTheUnitRule)
{
    const auto agree = [](const QString& text, bool rasm) {
        const QString expected = referenceNormalize(text, rasm);
        return Arabic::normalize(text, rasm) == expected
            && Arabic::detail::normalizePortable(text, rasm) == expected;
    };
    int folded = 0;
    for (const QString& text : test::corpusTexts()) {
        for (const bool rasm : {true, false})
            ASSERT_TRUE(agree(text, rasm)) << text.toStdString() << " rasm " << rasm;
        folded += Arabic::normalize(text, true) != Arabic::normalize(text, false);
    }
    EXPECT_GT(folded, 0); // the corpus exercises the rasm folding

    // Every unit value alone, inside a block of letters, and after spaces.
    for (char32_t u = 0; u < 0x10000; ++u) {
        const QString unit{QChar(char16_t(u))};
        for (const QString& text :
             {unit, u"كتاب"_qs + unit + u"قلم"_qs, u"ابتثجحخد ه "_qs + unit + u" بيت الصلوه"_qs})
            ASSERT_TRUE(agree(text, true)) << std::hex << unsigned(u);
    }

    // Random mixes of the units and words that have rules of their own.
    const QStringList pieces = {
        u"ب"_qs, u"ت"_qs, u"ك"_qs, u"ل"_qs, u"م"_qs, u"ه"_qs, u"و"_qs, u"ي"_qs, u"ا"_qs, u"ء"_qs,
        u"ؤ"_qs, u"ئ"_qs, u"آ"_qs, u"أ"_qs, u"إ"_qs, u"ٱ"_qs, u"ة"_qs, u"ى"_qs, u"ػ"_qs, u"ـ"_qs,
        u" "_qs, u" "_qs, u" "_qs, u"\n"_qs, u"\t"_qs, u"،"_qs, u"."_qs, u":"_qs, u"«"_qs,
        u"1"_qs, u"٣"_qs, u"۵"_qs, u"a"_qs, u"Z"_qs, u"é"_qs,
        test::units({0x064E}), test::units({0x0651}), test::units({0x0652}), test::units({0x0670}),
        test::units({0x0653}), test::units({0x0654}), test::units({0x06D6}), test::units({0x06E9}),
        test::units({0x08F0}), test::units({0x0000}), test::units({0x001F}), test::units({0xFEFF}),
        test::units({0xD800}), test::units({0xDC00}), test::units({0xD835, 0xDC00}),
        test::units({0xD83D, 0xDE00}), test::units({0xDBFF, 0xDFFF}),
        u"الصلوة"_qs, u"ربوا"_qs, u"كانوا"_qs, u"زكوه"_qs, u"للربوا"_qs, u"وه"_qs, u"منوة"_qs,
        u"مشكوٰة"_qs, u"الحيـوة"_qs, u"فالنجوه"_qs, u"سالصلوه"_qs, u"غدوا"_qs, u"بيت المال"_qs,
    };
    std::mt19937 random(19);
    std::uniform_int_distribution<qsizetype> piece(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 60);
    // Plain stretches of every length make the blocks start at every offset.
    std::uniform_int_distribution<int> plainRun(0, 11);
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int count = length(random);
        for (int k = 0; k < count; ++k) {
            if (k % 7 == 0)
                text += QStringView(u"بسم الله الرحمن").left(plainRun(random));
            text += pieces[piece(random)];
        }
        for (const bool rasm : {true, false})
            ASSERT_TRUE(agree(text, rasm)) << text.toStdString() << " rasm " << rasm;
    }
}

TEST(ArabicStripMarks, removesMarksAndTatweelOnly)
{
    EXPECT_EQ(Arabic::stripMarks(u"سُورَةُ ٱلْفَاتِحَةِ"_qs), u"سورة ٱلفاتحة"_qs);
    EXPECT_EQ(Arabic::stripMarks(u"كـتـابٌ، آ"_qs), u"كتاب، آ"_qs);
    // U+0653..U+065F are marks here, as they are to normalize.
    EXPECT_EQ(Arabic::stripMarks(test::units({0x0645, 0x0627, 0x0653, 0x0621})), test::units({0x0645, 0x0627, 0x0621}));
}

TEST(ArabicForCopy, appliesTheCopyPreferences)
{
    const QString text = u"قال (١٢) الشيخ: العلم٣ نورٌ"_qs;
    Settings::setCopyNoFootnoteRefs(false);
    Settings::setCopyNoTashkeel(false);
    EXPECT_EQ(Arabic::forCopy(text), text);

    Settings::setCopyNoFootnoteRefs(true);
    EXPECT_EQ(Arabic::forCopy(text), u"قال الشيخ: العلم نورٌ"_qs);
    EXPECT_EQ(Arabic::forCopy(u"انظر [3] و«45» وسنة 1420"_qs), u"انظر و وسنة 1420"_qs);

    Settings::setCopyNoTashkeel(true);
    EXPECT_EQ(Arabic::forCopy(text), u"قال الشيخ: العلم نور"_qs);

    Settings::setCopyNoFootnoteRefs(false);
    EXPECT_EQ(Arabic::forCopy(text), u"قال (١٢) الشيخ: العلم٣ نور"_qs);
    Settings::setCopyNoTashkeel(false);
}
