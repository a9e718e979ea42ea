#include "assistant/SmallTalk.h"

#include <gtest/gtest.h>

using namespace quorvel;
using SmallTalk::Kind;

namespace {

struct SplitCase {
    const char* message;
    std::optional<Kind> kind;
    const char* rest;
};

void expectSplit(const SplitCase& c)
{
    const auto got = SmallTalk::split(QString::fromUtf8(c.message));
    SCOPED_TRACE(c.message);
    ASSERT_EQ(got.has_value(), c.kind.has_value());
    if (!got)
        return;
    EXPECT_EQ(got->first, *c.kind);
    EXPECT_EQ(got->second, QString::fromUtf8(c.rest));
}

} // namespace

TEST(SmallTalkSplit, courtesiesAtTheStartAreSeparatedFromTheQuestion)
{
    const SplitCase cases[] = {
        // The four-word salam is tried before its shorter forms.
        {"السلام عليكم ورحمة الله وبركاته", Kind::salam, ""},
        {"السلام عليكم ورحمة الله، ما معنى الغرر؟", Kind::salam, "ما معنى الغرر"},
        // The address and the punctuation go with the courtesy.
        {"السلام عليكم يا شيخ، ما حكم المسح على الخفين؟", Kind::salam, "ما حكم المسح على الخفين"},
        // Words compare in normal form: another alef, diacritics, tatweel.
        {"اهلا", Kind::greet, ""},
        {"أَهْلاً وسهلا بك", Kind::greet, "بك"},
        {"مرحـــبا! كم كتابا في الفقه", Kind::greet, "كم كتابا في الفقه"},
        {"جزاك الله خيرا\nمن هو مالك بن أنس", Kind::thanks, "من هو مالك بن أنس"},
        {"إلى اللقاء", Kind::bye, ""},
    };
    for (const auto& c : cases)
        expectSplit(c);
}

TEST(SmallTalkSplit, questionPhrasesCountOnlyBeforeFewerThanFourWords)
{
    const SplitCase cases[] = {
        {"من أنت", Kind::who, ""},
        // No address is dropped for who.
        {"من أنت يا صديقي العزيز", Kind::who, "يا صديقي العزيز"},
        {"من أنت حتى تجيب عن الأسئلة", std::nullopt, ""},
        {"ساعدني في الزكاة", Kind::help, "في الزكاة"},
        {"ساعدني في فهم باب الزكاة والصيام", std::nullopt, ""},
        // Nor for bye.
        {"مع السلامة يا أخي الكريم", Kind::bye, "يا أخي الكريم"},
    };
    for (const auto& c : cases)
        expectSplit(c);
}

TEST(SmallTalkSplit, onlyTheStartOfAMessageCountsAndNothingIsReadPastTheEnd)
{
    const SplitCase cases[] = {
        {"ما حكم قول شكرا", std::nullopt, ""},
        {"", std::nullopt, ""},
        {" ،،؟ ! : \n", std::nullopt, ""},
        {"شكرا يا", Kind::thanks, ""},
        {"السلام عليكم يا", Kind::salam, ""},
        // "يا" is compared as written: a spelling with a mark is a word of the rest.
        {"شكرا يَا شيخ", Kind::thanks, "يَا شيخ"},
    };
    for (const auto& c : cases)
        expectSplit(c);
}

TEST(SmallTalkReply, eachKindHasItsShortAndLongReply)
{
    const QString w = SmallTalk::reply(Kind::who, false);
    EXPECT_TRUE(w.startsWith(QStringLiteral("أنا مساعد البحث في مكتبة قورفل:")));
    EXPECT_TRUE(w.endsWith(QStringLiteral("بل أعرض ما في الكتب.")));
    EXPECT_EQ(SmallTalk::reply(Kind::who, true), w);
    EXPECT_EQ(SmallTalk::reply(Kind::help, false), w + QStringLiteral("\nأمثلة لما تستطيع سؤاله:"));
    EXPECT_EQ(SmallTalk::reply(Kind::help, true), SmallTalk::reply(Kind::help, false));

    EXPECT_EQ(SmallTalk::reply(Kind::salam, false),
              QStringLiteral("وعليكم السلام ورحمة الله وبركاته. اسألني عما شئت، كتابة أو بصوتك من زر الميكروفون."));
    EXPECT_EQ(SmallTalk::reply(Kind::salam, true), QStringLiteral("وعليكم السلام ورحمة الله."));
    EXPECT_EQ(SmallTalk::reply(Kind::greet, false),
              QStringLiteral("أهلا بك. اسألني عما شئت في كتب المكتبة، كتابة أو بصوتك."));
    EXPECT_EQ(SmallTalk::reply(Kind::greet, true), QStringLiteral("أهلا بك."));
    EXPECT_EQ(SmallTalk::reply(Kind::thanks, false), QStringLiteral("وإياك، بارك الله فيك. هل من سؤال آخر؟"));
    EXPECT_EQ(SmallTalk::reply(Kind::thanks, true), QStringLiteral("وإياك."));
    EXPECT_EQ(SmallTalk::reply(Kind::bye, false), QStringLiteral("في أمان الله."));
    EXPECT_EQ(SmallTalk::reply(Kind::bye, true), QStringLiteral("في أمان الله."));
}

TEST(SmallTalkExamples, sevenLabelledQuestionsInOrder)
{
    const auto& ex = SmallTalk::examples();
    ASSERT_EQ(ex.size(), 7);
    const QStringList labels{QStringLiteral("سؤال مباشر"), QStringLiteral("ترجمة علم"), QStringLiteral("معنى مصطلح"),
                             QStringLiteral("أقوال العلماء"), QStringLiteral("تخريج نص"), QStringLiteral("جدول وأرقام"),
                             QStringLiteral("مقارنة")};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ex[i].first, labels[i]);
    EXPECT_EQ(ex[0].second, QStringLiteral("ما شروط وجوب الزكاة؟"));
    EXPECT_TRUE(ex[1].second.startsWith(QStringLiteral("من هو ")));
    EXPECT_TRUE(ex[1].second.endsWith(QStringLiteral("؟")));
    EXPECT_EQ(ex[2].second, QStringLiteral("ما معنى الغرر؟"));
    EXPECT_EQ(ex[3].second, QStringLiteral("أقوال العلماء في قراءة الفاتحة خلف الإمام"));
    EXPECT_EQ(ex[4].second, QStringLiteral("«إنما الأعمال بالنيات»"));
    EXPECT_EQ(ex[5].second, QStringLiteral("عدد الكتب حسب القرن"));
    EXPECT_EQ(ex[6].second, QStringLiteral("قارن ورود الصلاة والزكاة حسب القرن"));
}
