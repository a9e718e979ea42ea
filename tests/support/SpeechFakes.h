#pragma once

// Stand-ins for the speech engine and the dictation pipeline, so that window
// tests speak and listen without a speech daemon, a microphone or a
// recogniser. Header-only: only the window suites include it.

#include "ui/kit/Listener.h"
#include "ui/kit/Voice.h"

#include <QBuffer>
#include <QStringList>

#include <cmath>
#include <functional>
#include <memory>

namespace quorvel::test {

// Records what it is asked to say; speaking lasts until finishSpeaking().
class FakeSynthesizer : public SpeechSynthesizer {
public:
    void say(const QString& text) override
    {
        said << text;
        speaking = soundsAtOnce;
    }
    void stop() override
    {
        ++stops;
        speaking = false;
        if (finished)
            finished();
    }
    bool isSpeaking() const override { return speaking; }
    QString unavailable() const override { return why; }

    // The engine beginning to sound an utterance it was handed while
    // soundsAtOnce was false.
    void startSpeaking()
    {
        speaking = true;
        if (started)
            started();
    }

    // The engine reaching the end of the utterance.
    void finishSpeaking()
    {
        speaking = false;
        if (finished)
            finished();
    }

    QStringList said;
    int stops = 0;
    bool speaking = false;
    // False: say() leaves the engine silent until startSpeaking(), as a
    // daemon that takes a moment to begin does.
    bool soundsAtOnce = true;
    QString why;
};

// Installs a fake as the shared voice's engine for one scope.
class SharedFakeVoice {
public:
    SharedFakeVoice()
    {
        auto fake = std::make_unique<FakeSynthesizer>();
        synth = fake.get();
        Voice::installShared(std::move(fake));
    }
    ~SharedFakeVoice() { Voice::installShared(std::make_unique<FakeSynthesizer>()); }
    FakeSynthesizer* synth;
};

// A recogniser whose results the test hands over.
class ScriptedTranscriber : public Transcriber {
public:
    explicit ScriptedTranscriber(int rate = 16000) : rate_(rate) {}
    int sampleRate() override { return rate_; }
    void feed(const float* samples, qsizetype frames) override
    {
        ++buffers;
        lastFrames = frames;
        if (onFeed)
            onFeed(samples, frames);
    }
    void finish(std::function<void()> done) override
    {
        finishing = true;
        pendingDone = std::move(done);
        if (finishAtOnce)
            complete();
    }
    void complete()
    {
        if (auto done = std::move(pendingDone))
            done();
    }
    void result(const QString& text, bool isFinal)
    {
        if (onResult)
            onResult({text, isFinal});
    }

    int buffers = 0;
    qsizetype lastFrames = 0;
    bool finishing = false;
    bool finishAtOnce = true;
    std::function<void()> pendingDone;
    std::function<void(const float*, qsizetype)> onFeed;

private:
    int rate_;
};

// PCM from a buffer the test fills.
class BufferCapture : public AudioCapture {
public:
    explicit BufferCapture(QAudioFormat format, QByteArray data = {}) : format_(format)
    {
        buffer_.setData(data);
    }
    QAudioFormat format() const override { return format_; }
    QIODevice* start() override
    {
        ++starts;
        buffer_.open(QIODevice::ReadOnly);
        return &buffer_;
    }
    void stop() override { ++stops; }

    int starts = 0;
    int stops = 0;

private:
    QAudioFormat format_;
    QBuffer buffer_;
};

inline QAudioFormat floatFormat(int rate)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    return format;
}

// One mono float buffer of `frames` samples of a sine of that amplitude.
inline QByteArray tone(qsizetype frames, float amplitude, int rate = 48000)
{
    QByteArray pcm(frames * qsizetype(sizeof(float)), Qt::Uninitialized);
    auto* out = reinterpret_cast<float*>(pcm.data());
    for (qsizetype i = 0; i < frames; ++i)
        out[i] = amplitude * float(std::sin(2 * 3.14159265358979 * 440.0 * double(i) / rate));
    return pcm;
}

} // namespace quorvel::test
