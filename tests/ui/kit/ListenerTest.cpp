#include "support/SpeechFakes.h"
#include "ui/WindowTestSupport.h"

#include "ui/kit/Listener.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int inputRate = 48000;

// A listener on scripted parts: a clock the test moves, a transcriber whose
// results it hands over, a capture it feeds. No timer: the test ticks.
class ListenerTest : public WindowTest {
protected:
    Listener::Setup setup()
    {
        Listener::Setup s;
        s.micAccess = [this] { return hasMic; };
        s.transcriber = [this] {
            auto t = std::make_unique<ScriptedTranscriber>();
            transcriber = t.get();
            return t;
        };
        s.capture = [this] {
            auto c = std::make_unique<BufferCapture>(floatFormat(inputRate));
            capture = c.get();
            return c;
        };
        s.clock = [this] { return now; };
        s.timer = false;
        return s;
    }

    void make()
    {
        listener = std::make_unique<Listener>(setup());
        listener->onText = [this](const QString& t) { texts << t; };
        listener->onEnd = [this](const QString& t) { ends << t; };
        listener->start();
    }

    // Ticks at every quarter second up to `until`, as the timer would.
    void tickUntil(double until)
    {
        while (now + 0.25 <= until + 1e-9) {
            now += 0.25;
            listener->tick();
        }
    }

    void settle() { QCoreApplication::processEvents(); }

    bool hasMic = true;
    double now = 100.0;
    ScriptedTranscriber* transcriber = nullptr;
    BufferCapture* capture = nullptr;
    std::unique_ptr<Listener> listener;
    QStringList texts;
    QStringList ends;
};

} // namespace

TEST(ListenerText, cleaningDropsWhatSteersDirectionAndKeepsTheJoiners)
{
    // The marks (LRM, RLM, ALM) and the isolates go; the non-joiner shapes
    // the letters and stays.
    const QString heard = QStringLiteral(u"\u200F \u2067\u0644\u200C\u0627\u2069\u061C \u200E");
    EXPECT_EQ(Listener::clean(heard), QStringLiteral(u"\u0644\u200C\u0627"));
}

TEST_F(ListenerTest, nothingRecognisedEndsAfterNineSecondsWithEmptyText)
{
    make();
    tickUntil(109.0);
    settle();
    EXPECT_TRUE(ends.isEmpty());  // strictly more than nine seconds
    tickUntil(109.25);
    settle();
    EXPECT_EQ(ends, QStringList{QString()});
    EXPECT_EQ(capture->stops, 1);
}

TEST_F(ListenerTest, textUnchangedForFourSecondsEndsEvenWhileNoiseGoesOn)
{
    make();
    now = 101.0;
    transcriber->result(QStringLiteral(u"ما حكم"), false);
    // Loud audio at every tick keeps the voice detector busy.
    for (int i = 0; i < 16; ++i) {
        listener->process(tone(Listener::bufferFrames, i % 2 ? 0.001f : 0.5f));
        now += 0.25;
        listener->tick();
    }
    settle();
    EXPECT_TRUE(ends.isEmpty()) << "ended at " << now;  // now == 105.0: exactly four seconds
    listener->process(tone(Listener::bufferFrames, 0.5f));
    tickUntil(105.25);
    settle();
    EXPECT_EQ(ends, QStringList{QStringLiteral(u"ما حكم")});
}

TEST_F(ListenerTest, silenceAfterTextEndsOnceTheTextHasSettled)
{
    make();
    listener->process(tone(Listener::bufferFrames, 0.001f));  // the floor drops to the room
    now = 101.0;
    listener->process(tone(Listener::bufferFrames, 0.3f));
    EXPECT_EQ(listener->lastVoice(), 101.0);
    transcriber->result(QStringLiteral(u"الزكاة"), false);
    // 1.5 s later: silence long enough, but the text changed only 1.5 s ago.
    tickUntil(102.5);
    settle();
    EXPECT_TRUE(ends.isEmpty());
    tickUntil(102.75);
    settle();
    EXPECT_EQ(ends, QStringList{QStringLiteral(u"الزكاة")});
}

TEST_F(ListenerTest, recentVoiceKeepsListeningUntilTheTextStopsChanging)
{
    make();
    listener->process(tone(Listener::bufferFrames, 0.001f));
    transcriber->result(QStringLiteral(u"الصلاة"), false);
    now = 101.5;
    listener->process(tone(Listener::bufferFrames, 0.3f));  // voice 1.5 s after the text
    tickUntil(102.5);  // 2.5 s since the text, only 1.0 s since the voice
    settle();
    EXPECT_TRUE(ends.isEmpty());
    tickUntil(102.75);
    settle();
    EXPECT_EQ(ends.size(), 1);
}

TEST_F(ListenerTest, speechWithoutPauseEndsAfterFortyFiveSeconds)
{
    make();
    int word = 0;
    while (ends.isEmpty() && now < 200) {
        listener->process(tone(Listener::bufferFrames, word % 2 ? 0.001f : 0.4f));
        if (int(now * 4) % 4 == 0)
            transcriber->result(QStringLiteral(u"كلمة%1").arg(++word), false);
        now += 0.25;
        listener->tick();
        settle();
    }
    EXPECT_DOUBLE_EQ(now, 145.25);
}

TEST_F(ListenerTest, finalResultsAccumulateAndPartialsFollowThem)
{
    make();
    transcriber->result(QStringLiteral(u"f1"), true);
    transcriber->result(QStringLiteral(u"\u200Ff2\u200E "), true);
    transcriber->result(QStringLiteral(u"p"), false);
    EXPECT_EQ(texts, (QStringList{QStringLiteral("f1"), QStringLiteral("f1 f2"), QStringLiteral("f1 f2 p")}));
    listener->stop();
    settle();
    // The final text prefers what the recogniser marked final.
    EXPECT_EQ(ends, QStringList{QStringLiteral("f1 f2")});
}

TEST_F(ListenerTest, stopRunsOnceAndCancelDeliversNothing)
{
    make();
    transcriber->result(QStringLiteral(u"نص"), false);
    listener->stop();
    listener->stop();
    tickUntil(150);
    settle();
    EXPECT_EQ(ends, QStringList{QStringLiteral(u"نص")});
    EXPECT_EQ(capture->stops, 1);

    ends.clear();
    make();
    transcriber->result(QStringLiteral(u"نص"), false);
    listener->cancel();
    settle();
    EXPECT_TRUE(ends.isEmpty());
    EXPECT_TRUE(transcriber->finishing);
}

TEST_F(ListenerTest, resultsWhileFinishingStillCountAndTheEndComesAfterThem)
{
    make();
    transcriber->finishAtOnce = false;
    transcriber->result(QStringLiteral(u"ما"), false);
    listener->stop();
    settle();
    EXPECT_TRUE(ends.isEmpty());
    transcriber->result(QStringLiteral(u"ما حكم الوتر"), true);
    EXPECT_EQ(texts.last(), QStringLiteral(u"ما حكم الوتر"));
    transcriber->complete();
    settle();
    EXPECT_EQ(ends, QStringList{QStringLiteral(u"ما حكم الوتر")});
}

TEST_F(ListenerTest, firstBufferIsNeverVoiceAndBuffersAreConvertedToTheRecognisersRate)
{
    make();
    listener->process(tone(Listener::bufferFrames, 0.9f));
    EXPECT_TRUE(std::isinf(listener->lastVoice()));
    EXPECT_EQ(Listener::capacity(4096, 48000, 16000), 1429);
    ASSERT_EQ(transcriber->buffers, 1);
    EXPECT_GT(transcriber->lastFrames, 1300);
    EXPECT_LE(transcriber->lastFrames, 1429);
}

TEST_F(ListenerTest, capturedAudioIsReadInWholeBuffers)
{
    Listener::Setup s = setup();
    s.capture = [this] {
        QByteArray pcm = tone(Listener::bufferFrames * 3 + 100, 0.2f);
        auto c = std::make_unique<BufferCapture>(floatFormat(inputRate), pcm);
        capture = c.get();
        return c;
    };
    listener = std::make_unique<Listener>(s);
    listener->start();
    listener->pump();
    EXPECT_EQ(transcriber->buffers, 3);
    listener->stop();
    listener->pump();
    EXPECT_EQ(transcriber->buffers, 3);
}

TEST_F(ListenerTest, withoutAnInputNothingIsCaptured)
{
    hasMic = false;
    listener = std::make_unique<Listener>(setup());
    try {
        listener->start();
        FAIL() << "start() did not throw";
    } catch (const VoiceError& error) {
        EXPECT_EQ(error.kind(), VoiceError::Kind::noMic);
        EXPECT_TRUE(error.description().contains(QStringLiteral(u"الميكروفون")));
    }
    EXPECT_EQ(capture, nullptr);
}

TEST_F(ListenerTest, productTranscriberRefusesWithTheReason)
{
    Listener::Setup s = setup();
    s.transcriber = {};
    listener = std::make_unique<Listener>(s);
    try {
        listener->start();
        FAIL() << "start() did not throw";
    } catch (const VoiceError& error) {
        EXPECT_EQ(error, VoiceError::unsupported());
        EXPECT_EQ(error.description(), QStringLiteral(u"الإملاء العربي على الجهاز غير متاح في هذا الإصدار من النظام."));
    }
    EXPECT_EQ(capture, nullptr);
}

namespace {

// The 16-bit mono samples and the rate of a RIFF WAVE file.
bool readWav(const QByteArray& wav, QByteArray& pcm, int& rate)
{
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return false;
    qsizetype at = 12;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        quint32 size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt ") {
            rate = int(qFromLittleEndian<quint32>(wav.constData() + body + 4));
            if (qFromLittleEndian<quint16>(wav.constData() + body + 14) != 16)
                return false;
        } else if (id == "data") {
            pcm = wav.mid(body, qMin<qsizetype>(size, wav.size() - body));
            return rate > 0;
        }
        at = body + size + (size & 1);
    }
    return false;
}

} // namespace

// Real speech: espeak-ng reads an Arabic sentence, six seconds of silence
// follow, and a recogniser "hears" a word in every buffer that carries sound.
TEST_F(ListenerTest, realSpeechFollowedBySilenceEndsSoonAfterTheSpeech)
{
    const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    if (espeak.isEmpty())
        GTEST_SKIP() << "espeak-ng is not installed";
    QTemporaryDir dir;
    const QString wavPath = dir.filePath(QStringLiteral("speech.wav"));
    QProcess p;
    p.start(espeak, {QStringLiteral("-v"), QStringLiteral("ar"), QStringLiteral("-w"), wavPath,
                     QStringLiteral(u"ما شروط وجوب الزكاة في المال")});
    ASSERT_TRUE(p.waitForFinished(30000));
    QFile file(wavPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray pcm;
    int rate = 0;
    ASSERT_TRUE(readWav(file.readAll(), pcm, rate));
    const double speechSeconds = double(pcm.size() / 2) / rate;
    ASSERT_GT(speechSeconds, 0.5);
    pcm.append(QByteArray(qsizetype(rate) * 6 * 2, '\0'));

    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    Listener::Setup s = setup();
    s.capture = [&] {
        auto c = std::make_unique<BufferCapture>(format, pcm);
        capture = c.get();
        return c;
    };
    listener = std::make_unique<Listener>(s);
    listener->onEnd = [this](const QString& t) { ends << t; };
    listener->start();
    const double start = now;
    int words = 0;
    transcriber->onFeed = [&](const float* samples, qsizetype frames) {
        double sum = 0;
        for (qsizetype i = 0; i < frames; ++i)
            sum += samples[i] * samples[i];
        if (std::sqrt(sum / frames) > 0.01)
            transcriber->result(QStringLiteral(u"كلمة%1").arg(++words), false);
    };

    // Feed the audio buffer by buffer, moving the clock by each buffer's
    // length and ticking every quarter second, as capture and timer would.
    const qsizetype bytes = qsizetype(Listener::bufferFrames) * 2;
    double nextTick = start + 0.25;
    for (qsizetype at = 0; ends.isEmpty() && at + bytes <= pcm.size(); at += bytes) {
        listener->process(pcm.mid(at, bytes));
        now += double(Listener::bufferFrames) / rate;
        while (now >= nextTick) {
            listener->tick();
            nextTick += 0.25;
        }
        settle();
    }
    ASSERT_EQ(ends.size(), 1) << "listening never ended";
    ASSERT_GT(words, 0);
    const double after = now - (start + speechSeconds);
    EXPECT_GE(after, 1.1);
    EXPECT_LE(after, 4.25);
}
