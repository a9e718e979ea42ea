#include "core/Arabic.h"
#include "support/CorpusText.h"

#include "ArabicTestUtil.h"

#include <gtest/gtest.h>

using namespace quorvel;
using Arabic::Tok;
using Arabic::TokMode;

namespace {

Tok exact(const QString& t, bool variants = true)
{
    return Tok(t, false, false, true, variants);
}

// The rich letters of the one word of `s` whose normal form is `word`.
QList<Arabic::RichLetter> lettersOf(const QString& s, const QString& word)
{
    for (const Arabic::RichWord& w : Arabic::richWords(s))
        if (w.word == word)
            return w.letters;
    ADD_FAILURE() << "no word " << word.toStdString();
    return {};
}

QList<Arabic::RichLetter> letters(const QString& word)
{
    const QList<Arabic::RichWord> words = Arabic::richWords(word);
    return words.isEmpty() ? QList<Arabic::RichLetter>() : words.front().letters;
}

} // namespace

TEST(ArabicTok, digitTokensMatchTheNumberInAnyFamilyUnlessExact)
{
    const Tok loose(u"١٢٣"_qs, false, false, false, true);
    EXPECT_TRUE(loose.digit);
    EXPECT_EQ(loose.mode, TokMode::exact);
    for (const QString& w : {u"123"_qs, u"١٢٣"_qs, u"۱۲۳"_qs})
        EXPECT_TRUE(loose.match(w)) << w.toStdString();
    EXPECT_FALSE(loose.match(u"١٢٣٤"_qs));
    EXPECT_FALSE(loose.match(u"١٢٣ب"_qs));
    EXPECT_FALSE(loose.match(QString()));

    const Tok strict(u"١٢٣"_qs, true, true, true, true);
    EXPECT_TRUE(strict.digit); // digits win over affix and morph
    EXPECT_TRUE(strict.match(u"١٢٣"_qs));
    EXPECT_FALSE(strict.match(u"123"_qs));
}

TEST(ArabicTok, exactTokensIgnoreANumberGluedToThePageWord)
{
    const Tok book = exact(u"كتاب"_qs);
    EXPECT_TRUE(book.match(u"كتاب"_qs));
    EXPECT_TRUE(book.match(u"كتاب١"_qs));
    EXPECT_TRUE(book.match(u"كتاب12"_qs));
    EXPECT_FALSE(book.match(u"كتابه"_qs));
    EXPECT_FALSE(book.match(u"12"_qs));
    // A token with its own digit compares the page word as it stands.
    const Tok withDigit = exact(u"ق2ب"_qs);
    EXPECT_TRUE(withDigit.tHasDigit);
    EXPECT_TRUE(withDigit.match(u"ق2ب"_qs));
    EXPECT_FALSE(withDigit.match(u"ق2ب5"_qs));

    EXPECT_TRUE(exact(u"اسحاق"_qs).match(u"اسحق"_qs));
    EXPECT_FALSE(exact(u"اسحاق"_qs, false).match(u"اسحق"_qs));
}

TEST(ArabicTok, morphAndAffixTokens)
{
    const Tok morph(u"المسلمون"_qs, true, true, true, true);
    EXPECT_EQ(morph.mode, TokMode::morph); // morph wins over affix
    for (const QString& w : {u"مسلمين"_qs, u"والمسلمات"_qs, u"بمسلم"_qs, u"المسلم"_qs})
        EXPECT_TRUE(morph.match(w)) << w.toStdString();
    EXPECT_FALSE(morph.match(u"اسلم"_qs));

    const Tok affix(u"الصلاه"_qs, true, false, true, true);
    EXPECT_EQ(affix.mode, TokMode::affix);
    EXPECT_TRUE(affix.match(u"بالصلاه"_qs));
    EXPECT_TRUE(affix.match(u"للصلاه"_qs));
    EXPECT_FALSE(affix.match(u"صلاه"_qs));

    // Affix forms of every spelling are accepted.
    const Tok names(u"اسحاق"_qs, true, false, true, true);
    EXPECT_TRUE(names.match(u"لاسحق"_qs));
    EXPECT_TRUE(names.match(u"واسحاق"_qs));

    EXPECT_TRUE(exact(u"كتاب"_qs).forms->isEmpty());

    const Tok stem = Tok::stemTok(u"مسلم"_qs);
    EXPECT_EQ(stem.mode, TokMode::morph);
    EXPECT_TRUE(stem.match(u"والمسلمين"_qs));
    EXPECT_FALSE(stem.match(u"اسلام"_qs));
    // The heads are those of the word itself, not of its stem.
    const Tok plural = Tok::stemTok(u"مسلمون"_qs);
    EXPECT_TRUE(plural.match(u"والمسلمون"_qs));
    EXPECT_FALSE(plural.match(u"مسلمين"_qs));
}

TEST(ArabicTok, wildcardPatternsAndGlobs)
{
    const Tok wild(u"كت*"_qs, true, true, true, true);
    EXPECT_EQ(wild.mode, TokMode::wild);
    EXPECT_TRUE(wild.match(u"كتاب"_qs));
    EXPECT_FALSE(wild.match(u"مكتب"_qs));

    EXPECT_TRUE(Arabic::globMatch(u"ك?ب", u"كتب"));
    EXPECT_FALSE(Arabic::globMatch(u"ك?ب", u"كتاب"));
    for (const char16_t* w : {u"كب", u"كتب", u"كتاب"})
        EXPECT_TRUE(Arabic::globMatch(u"ك*ب", w));
    EXPECT_FALSE(Arabic::globMatch(u"ك*ب", u"كتابه"));
    EXPECT_TRUE(Arabic::globMatch(u"*ت*ب", u"مكتوب"));
    EXPECT_TRUE(Arabic::globMatch(u"**", u""));
    EXPECT_FALSE(Arabic::globMatch(u"ك*", u""));

    EXPECT_EQ(Arabic::pattern(u"كت*"_qs), u"كت*"_qs);
    EXPECT_EQ(Arabic::pattern(u"**كت**اب"_qs), u"*كت*اب"_qs);
    EXPECT_EQ(Arabic::pattern(u"أحم?د"_qs), u"احم?د"_qs);
    EXPECT_EQ(Arabic::pattern(u"الصَّلَوٰة*"_qs), u"الصلاه*"_qs);
    EXPECT_EQ(Arabic::pattern(u"*ً?**"_qs), std::nullopt); // a mark is no letter
}

TEST(ArabicQueryWords, questionMarksAndWildcardPieces)
{
    const auto plain = Arabic::queryWords(u"كتب؟"_qs, true);
    EXPECT_EQ(plain.words, QStringList{u"كتب"_qs});
    ASSERT_TRUE(plain.rich.has_value());
    EXPECT_EQ(plain.rich->size(), 1);

    const auto mixed = Arabic::queryWords(u"الصلاة  كت* **كت**اب ؟ *?"_qs, true);
    EXPECT_EQ(mixed.words, (QStringList{u"الصلاه"_qs, u"كت*"_qs, u"*كت*اب"_qs}));
    ASSERT_TRUE(mixed.rich.has_value());
    ASSERT_EQ(mixed.rich->size(), 3);
    EXPECT_EQ(mixed.rich->at(0).letters.size(), 6);
    EXPECT_EQ(mixed.rich->at(1).word, u"كت*"_qs);
    // The letters before a wildcard are compared as a whole word's are.
    EXPECT_EQ(mixed.rich->at(1).letters.size(), 2);
    EXPECT_TRUE(mixed.rich->at(2).letters.isEmpty());
    const auto seat = [](const QString& prefix, const QString& page) {
        return Arabic::rawOK(Arabic::queryWords(prefix, true).rich->first().letters,
                             Arabic::richWords(page).first().letters, true, false);
    };
    EXPECT_TRUE(seat(u"أخ*"_qs, u"وأخذ"_qs));
    EXPECT_FALSE(seat(u"أخ*"_qs, u"إخوة"_qs));
    EXPECT_FALSE(seat(u"آخ*"_qs, u"أخذ"_qs));
    EXPECT_TRUE(seat(u"إخ*"_qs, u"إخوة"_qs));

    EXPECT_FALSE(Arabic::queryWords(u"كت*"_qs, false).rich.has_value());
    // A question mark inside a word is a wildcard; the Arabic one as well.
    EXPECT_EQ(Arabic::queryWords(u"ك؟ب"_qs, false).words, QStringList{u"ك?ب"_qs});
    // A piece without wildcards may still split into several words.
    EXPECT_EQ(Arabic::queryWords(u"كت* قال:الشيخ"_qs, false).words,
              (QStringList{u"كت*"_qs, u"قال"_qs, u"الشيخ"_qs}));
}

TEST(ArabicRichWords, wordsEqualTokensOnTheWholeCorpus)
{
    QStringList texts;
    for (const auto& v : test::quranVerses())
        texts.append(v.text);
    texts += test::bookPages(QStringLiteral("books/003.json"));
    // Lone halves of a pair separate words as a symbol pair does; a letter
    // pair stays inside its word.
    for (const char16_t half : {0xD800, 0xDBFF, 0xDC00, 0xDFFF})
        texts += {test::units({0x0643, half, 0x0628}), test::units({0x0643, half}), test::units({half, 0x0628})};
    texts += {test::units({0x0643, 0xD835, 0xDC00, 0x0628}), test::units({0x0643, 0xD83D, 0xDE00, 0x0628})};
    for (const QString& text : texts) {
        const QList<Arabic::RichWord> rich = Arabic::richWords(text);
        const QStringList plain = Arabic::normalize(text, false).split(u' ', Qt::SkipEmptyParts);
        QStringList words;
        for (qsizetype i = 0; i < rich.size(); ++i) {
            words.append(rich[i].word);
            ASSERT_LT(i, plain.size());
            ASSERT_EQ(rich[i].letters.size(), plain[i].size()) << text.toStdString();
            for (qsizetype k = 0; k < plain[i].size(); ++k)
                ASSERT_EQ(rich[i].letters[k].norm, plain[i][k].unicode());
        }
        ASSERT_EQ(words, Arabic::tokens(text)) << text.toStdString();
    }
}

TEST(ArabicRichWords, lettersKeepAlefFormsAndMarks)
{
    // Rasm folds the word but not its letters.
    const auto riba = Arabic::richWords(u"ٱلرِّبَوٰا۟"_qs);
    ASSERT_EQ(riba.size(), 1);
    EXPECT_EQ(riba[0].word, u"الربا"_qs);
    EXPECT_EQ(riba[0].letters.size(), 6);

    // إِلَـٰهَ: the tatweel vanishes, the superscript alef sits on the lam.
    const auto god = lettersOf(test::quranVerse(2, 255), u"اله"_qs);
    ASSERT_EQ(god.size(), 3);
    EXPECT_EQ(god[0].alif, char16_t(0x0625));
    EXPECT_EQ(god[0].m1, std::uint64_t(1) << 5); // kasra
    EXPECT_EQ(god[1].m1, (std::uint64_t(1) << 3) | (std::uint64_t(1) << 8));
    EXPECT_EQ(god[2].alif, 0);

    // A hamza or madda mark on its carrier is the written form the
    // hamza-respecting search compares: ا + U+0654 is أ, و + U+0654 is ؤ;
    // on a tatweel it leaves the letters as they are.
    const auto marked = Arabic::richWords(test::units({0x0627, 0x064E, 0x0654, 0x062D, 0x0020, 0x0633, 0x0648,
                                                       0x0654, 0x0627, 0x0644, 0x0020, 0x0628, 0x0640, 0x064E,
                                                       0x0654, 0x0627, 0x064A}));
    ASSERT_EQ(marked.size(), 3);
    EXPECT_EQ(marked[0].letters[0].alif, char16_t(0x0623));
    EXPECT_EQ(marked[0].letters[0].m1, std::uint64_t(1) << 3); // the fatha stays its mark
    EXPECT_EQ(marked[1].word, u"سؤال"_qs);
    EXPECT_EQ(marked[2].word, u"باي"_qs);
    EXPECT_EQ(marked[2].letters[1].alif, char16_t(0x0627));
    EXPECT_EQ(Arabic::richWords(test::units({0x0627, 0x0653, 0x0645, 0x0646}))[0].letters,
              Arabic::richWords(u"آمن"_qs)[0].letters);

    // The highest bits need 64-bit shifts; non-marks change nothing.
    Arabic::RichLetter l;
    for (const char16_t u : {u'\u06ED', u'\u08FF', u'\u0640', u'\u0653', u'\u0627'})
        Arabic::addMark(l, u);
    EXPECT_EQ(l.m1, 1ull << 32);
    EXPECT_EQ(l.m2, 1ull << 44);
}

TEST(ArabicRawOK, hamzaFormsOnVocalisedVerses)
{
    const auto sent = lettersOf(test::quranVerse(2, 41), u"انزلت"_qs); // أَنزَلْتُ
    EXPECT_TRUE(Arabic::rawOK(letters(u"أنزل"_qs), sent, true, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"انزل"_qs), sent, true, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"إنزل"_qs), sent, true, false));
    EXPECT_TRUE(Arabic::rawOK(letters(u"انزل"_qs), sent, false, false));

    const auto everLiving = lettersOf(test::quranVerse(2, 255), u"القيوم"_qs); // ٱلْقَيُّومُ
    EXPECT_TRUE(Arabic::rawOK(letters(u"القيوم"_qs), everLiving, true, false));
    const auto first = lettersOf(test::quranVerse(2, 41), u"اول"_qs); // أَوَّلَ
    EXPECT_TRUE(Arabic::rawOK(letters(u"أول"_qs), first, true, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"اول"_qs), first, true, false));
    // A query letter that is not an alef form accepts any same letter.
    EXPECT_TRUE(Arabic::rawOK(letters(u"قيوم"_qs), everLiving, true, false));
}

TEST(ArabicRawOK, marksOnVocalisedVerses)
{
    const auto prayer = lettersOf(test::quranVerse(2, 3), u"الصلاه"_qs); // ٱلصَّلَوٰةَ
    EXPECT_TRUE(Arabic::rawOK(letters(u"الصَّلوة"_qs), prayer, false, true));
    EXPECT_FALSE(Arabic::rawOK(letters(u"الصُّلوة"_qs), prayer, false, true));
    EXPECT_FALSE(Arabic::rawOK(letters(u"الصُّلوة"_qs), prayer, true, true));
    EXPECT_TRUE(Arabic::rawOK(letters(u"الصُّلوة"_qs), prayer, true, false));

    // A page letter may carry more marks than asked; fewer fails.
    const auto verily = lettersOf(test::quranVerse(7, 206), u"ان"_qs); // إِنَّ
    EXPECT_TRUE(Arabic::rawOK(letters(u"إنّ"_qs), verily, true, true));
    EXPECT_FALSE(Arabic::rawOK(letters(u"إنّ"_qs), letters(u"إن"_qs), true, true));
}

TEST(ArabicRawOK, leadingLettersArticleAndLastLetter)
{
    EXPECT_TRUE(Arabic::rawOK(letters(u"الكتاب"_qs), letters(u"وبالكتاب"_qs), false, false));
    EXPECT_TRUE(Arabic::rawOK(letters(u"الكتاب"_qs), letters(u"كتاب"_qs), false, false));
    // At most four leading page letters are skipped.
    EXPECT_TRUE(Arabic::rawOK(letters(u"كتب"_qs), letters(u"فسيكتب"_qs), false, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"كتب"_qs), letters(u"فسنستكتب"_qs), false, false));
    EXPECT_TRUE(Arabic::rawOK(letters(u"مسلمة"_qs), letters(u"مسلمي"_qs), false, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"مسلمة"_qs), letters(u"مسكمة"_qs), false, false));
    EXPECT_FALSE(Arabic::rawOK(letters(u"كتاب"_qs), {}, false, false));
    EXPECT_TRUE(Arabic::rawOK({}, letters(u"كتاب"_qs), true, true));
}

TEST(ArabicRawOK, onlyAPlainAlefBeginsAnArticle)
{
    // With the hamza option: a query that begins with أ, إ or آ keeps its
    // first two letters; the article of الكتاب (or ٱلكتاب) may still be absent.
    struct Case {
        const char16_t* query;
        const char16_t* page;
        bool accepted;
    };
    const Case cases[] = {
        {u"ألا", u"ألا", true},        {u"ألا", u"وألا", true},
        {u"ألا", u"إلا", false},       {u"ألا", u"الا", false},
        {u"ألا", u"لا", false},        {u"ألا", u"قال", false},
        {u"إله", u"إله", true},        {u"إله", u"اله", false},
        {u"إله", u"وإلهكم", true},     {u"إلى", u"الي", false},
        {u"إلى", u"إلى", true},        {u"آلة", u"الة", false},
        {u"الكتاب", u"كتاب", true},    {u"الكتاب", u"وبالكتاب", true},
        {u"الكتاب", u"الكتاب", true},  {u"ٱلكتاب", u"كتاب", true},
        {u"ٱلكتاب", u"وبالكتاب", true}, {u"ٱلكتاب", u"الكتاب", true},
        // The seats ؤ and ئ are letters of their own, never folded.
        {u"سؤال", u"سوال", false},     {u"رئيس", u"ريس", false},
    };
    for (const Case& c : cases) {
        const QString query = QString::fromUtf16(c.query);
        const QString page = QString::fromUtf16(c.page);
        EXPECT_EQ(Arabic::rawOK(Arabic::richWords(query).front().letters,
                                Arabic::richWords(page).front().letters, true, false),
                  c.accepted)
            << query.toStdString() << " against " << page.toStdString();
    }
}
