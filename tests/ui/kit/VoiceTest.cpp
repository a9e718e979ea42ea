#include "support/SpeechFakes.h"
#include "ui/WindowTestSupport.h"

#include "core/Characters.h"
#include "ui/kit/Voice.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace quorvel;
using quorvel::test::FakeSynthesizer;

namespace {

// A text of `n` user-perceived characters (Arabic letters with a vowel mark
// count once), with `mark` at 1-based position `at` when it is given.
QString textOf(int n, int at = 0, QChar mark = u'.')
{
    QString s;
    for (int i = 1; i <= n; ++i) {
        if (i == at)
            s += mark;
        else if (i % 7 == 3)
            s += u' ';
        else
            s += QStringLiteral(u"بَ");
    }
    return s;
}

} // namespace

TEST(VoiceSpeakable, dropsReferencesHeadingMarksAndQuotationMarks)
{
    EXPECT_EQ(Voice::speakable(QStringLiteral(u"## كلمة [١٢] «كلمة»")), QStringLiteral(u"كلمة كلمة"));
    EXPECT_EQ(Voice::speakable(QStringLiteral(u"قال [3, 4] ﴿الحمد لله﴾\n### باب *الزكاة*_`")),
              QStringLiteral(u"قال الحمد لله\nباب الزكاة"));
    // A bracket holding a word is not a reference.
    EXPECT_EQ(Voice::speakable(QStringLiteral(u"انظر [الأم]")), QStringLiteral(u"انظر [الأم]"));
    EXPECT_EQ(Voice::speakable(QStringLiteral(u"## [١] «» * _ \n")), QString());
    // Heading marks count only at the start of a line.
    EXPECT_EQ(Voice::speakable(QStringLiteral(u" «» ## باب")), QStringLiteral(u"## باب"));
}

TEST(VoiceSpeakable, cutsLongTextsAtTheLastSentenceEndWithinTheLimit)
{
    const QString stopAt1200 = textOf(2000, 1200);
    const QString cut = Voice::speakable(stopAt1200);
    EXPECT_EQ(Characters::count(cut), 1200);
    EXPECT_TRUE(cut.endsWith(u'.'));

    const QString question = textOf(2000, 900, u'؟');
    EXPECT_EQ(Characters::count(Voice::speakable(question)), 900);

    // A sentence end past the limit does not count: the text is read whole.
    const QString late = textOf(2000, 1500);
    EXPECT_EQ(Voice::speakable(late), late.trimmed());
    const QString none = textOf(2000);
    EXPECT_EQ(Voice::speakable(none), none.trimmed());

    const QString exact = textOf(1400);
    EXPECT_EQ(Voice::speakable(exact), exact);
    const QString over = textOf(1401, 1399);
    EXPECT_EQ(Characters::count(Voice::speakable(over)), 1399);
}

namespace {
class VoiceTest : public test::WindowTest {};
} // namespace

TEST_F(VoiceTest, speakingStopsCurrentSpeechFirstAndReportsTheStateChanges)
{
    auto owned = std::make_unique<FakeSynthesizer>();
    FakeSynthesizer* synth = owned.get();
    Voice voice(std::move(owned));
    QList<bool> states;
    voice.onSpeaking = [&](bool on) { states << on; };

    voice.speak(QStringLiteral(u"# الأولى"));
    EXPECT_EQ(synth->said, QStringList{QStringLiteral(u"الأولى")});
    EXPECT_TRUE(voice.isSpeaking());
    EXPECT_EQ(states, QList<bool>{true});

    voice.speak(QStringLiteral(u"الثانية"));
    EXPECT_EQ(synth->stops, 1);
    EXPECT_EQ(synth->said.size(), 2);
    // True for the new utterance at once; false for the stopped one later.
    EXPECT_EQ(states, (QList<bool>{true, true}));
    QCoreApplication::processEvents();
    EXPECT_EQ(states, (QList<bool>{true, true, false}));

    synth->finishSpeaking();
    QCoreApplication::processEvents();
    EXPECT_EQ(states, (QList<bool>{true, true, false, false}));
}

TEST_F(VoiceTest, emptyCleanedTextStopsSpeechAndSaysNothing)
{
    auto owned = std::make_unique<FakeSynthesizer>();
    FakeSynthesizer* synth = owned.get();
    Voice voice(std::move(owned));
    int calls = 0;
    voice.onSpeaking = [&](bool) { ++calls; };

    voice.stop();  // silent: nothing at all
    QCoreApplication::processEvents();
    EXPECT_EQ(synth->stops, 0);
    EXPECT_EQ(calls, 0);

    voice.speak(QStringLiteral(u"نص"));
    voice.speak(QStringLiteral(u" [١] «» "));
    QCoreApplication::processEvents();
    EXPECT_EQ(synth->said.size(), 1);
    EXPECT_EQ(synth->stops, 1);
    EXPECT_FALSE(voice.isSpeaking());
    EXPECT_EQ(calls, 2);  // true for the first, false when it was stopped
}

TEST_F(VoiceTest, engineThatCannotSpeakIsNeverAskedTo)
{
    auto owned = std::make_unique<FakeSynthesizer>();
    FakeSynthesizer* synth = owned.get();
    synth->why = QStringLiteral(u"لا صوت");
    Voice voice(std::move(owned));
    bool told = false;
    voice.onSpeaking = [&](bool) { told = true; };
    voice.speak(QStringLiteral(u"نص"));
    EXPECT_TRUE(synth->said.isEmpty());
    EXPECT_FALSE(told);
    EXPECT_EQ(voice.unavailable(), QStringLiteral(u"لا صوت"));
}

// The one test that talks to speech-dispatcher; it waits for no audio.
TEST_F(VoiceTest, platformEngineChoosesAnArabicVoice)
{
    std::unique_ptr<SpeechSynthesizer> synth = Voice::platformSynthesizer();
    if (!synth->unavailable().isEmpty())
        GTEST_SKIP() << "speech engine unavailable: " << synth->unavailable().toStdString();
    const QString language = synth->voiceLanguage();
    if (!language.startsWith(QStringLiteral("ar")))
        GTEST_SKIP() << "no Arabic voice installed (voice language: " << language.toStdString() << ")";
    EXPECT_FALSE(synth->isSpeaking());
}
