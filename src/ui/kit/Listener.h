#pragma once

// Dictation of a question: the default audio input is captured in buffers of
// 4,096 frames, converted to the recogniser's format and fed to a
// Transcriber, while a level detector and a 0.25 s timer decide when the
// user has finished (silence, no new words, or a time limit). The final text
// is delivered once. A Listener is single-use: one per dictation.
//
// The recogniser is a seam: Debian carries no on-device Arabic recogniser,
// so the product's transcriber refuses with VoiceError::unsupported and the
// user reads why; tests script one, with a scripted clock and PCM read from
// any QIODevice.

#include "core/UserError.h"

#include <QAudioFormat>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace quorvel {

class VoiceError : public UserError {
public:
    enum class Kind { noMic, noFormat, unsupported };

    static VoiceError noMic();
    static VoiceError noFormat();
    static VoiceError unsupported();

    Kind kind() const { return kind_; }
    QString description() const { return message(); }
    bool operator==(const VoiceError& other) const { return kind_ == other.kind_; }

private:
    VoiceError(Kind kind, const QString& message) : UserError(message), kind_(kind) {}
    Kind kind_;
};

// A recogniser of speech. Called on the GUI thread; it reports on the GUI
// thread too.
class Transcriber {
public:
    struct Result {
        QString text;
        bool isFinal = false;
    };

    virtual ~Transcriber() = default;

    // The sample rate of the mono float PCM it wants, above 0; throws
    // VoiceError when it cannot recognise at all.
    virtual int sampleRate() = 0;
    // Audio in that format.
    virtual void feed(const float* samples, qsizetype frames) = 0;
    // No more audio: the last results follow, then `done` once.
    virtual void finish(std::function<void()> done) = 0;

    // Set by the listener before the first feed.
    std::function<void(const Result&)> onResult;
};

// The transcriber of this build: there is no Arabic recogniser to run.
class UnsupportedTranscriber : public Transcriber {
public:
    int sampleRate() override;
    void feed(const float*, qsizetype) override {}
    void finish(std::function<void()> done) override { done(); }
};

// Where the audio comes from.
class AudioCapture {
public:
    virtual ~AudioCapture() = default;
    // The PCM format delivered (its sample rate 0 when there is none).
    virtual QAudioFormat format() const = 0;
    // Starts capturing; the device the PCM is read from (readyRead announces
    // more), or nullptr when capture cannot start.
    virtual QIODevice* start() = 0;
    virtual void stop() = 0;
};

// The default audio input through Qt Multimedia.
std::unique_ptr<AudioCapture> defaultAudioCapture();

class Listener : public QObject {
    Q_OBJECT
public:
    static constexpr int bufferFrames = 4096;
    static constexpr int tickMs = 250;
    static constexpr double quietStop = 9.0;       // nothing recognised
    static constexpr double unchangedStop = 4.0;   // no new words
    static constexpr double silenceStop = 1.1;     // no voice ...
    static constexpr double settledStop = 1.6;     // ... and no new words
    static constexpr double longestTurn = 45.0;

    // What a dictation runs on; the defaults are the product's.
    struct Setup {
        std::function<bool()> micAccess;                           // Voice::micAccess
        std::function<std::unique_ptr<Transcriber>()> transcriber; // UnsupportedTranscriber
        std::function<std::unique_ptr<AudioCapture>()> capture;    // defaultAudioCapture
        std::function<double()> clock;                              // monotonic seconds
        bool timer = true; // run tick() every 0.25 s (tests call it themselves)
    };

    Listener();
    explicit Listener(Setup setup, QObject* parent = nullptr);
    ~Listener() override;

    std::function<void(const QString&)> onText;  // the text shown so far
    std::function<void(const QString&)> onEnd;   // the final text, once
    std::function<void(const QString&)> onState; // a status for the user

    // Starts listening; returns when audio flows and the timer runs. Throws
    // VoiceError::noMic without an input (nothing is captured),
    // VoiceError::noFormat without a usable format, or the transcriber's own
    // VoiceError. What was set up stays until stop() or cancel().
    void start();
    // Ends listening once; onEnd follows (asynchronously) with the final text.
    void stop();
    // Ends listening without delivering any text.
    void cancel();

    // The end-of-speech rules, run by the timer.
    void tick();
    // Reads every whole buffer the capture device holds.
    void pump();
    // One captured buffer, as the capture delivers it.
    void process(const QByteArray& pcm);

    // Whether the product's transcriber recognises Arabic on this system; the
    // microphone is offered only when it does.
    static bool hasRecogniser();

    // Output frames for a buffer converted between the two rates.
    static qsizetype capacity(qsizetype frames, double inRate, double outRate);
    // `text` without the marks and isolates that steer its direction, trimmed.
    static QString clean(const QString& text);
    // The two texts joined by one space; either alone when the other is empty.
    static QString join(const QString& a, const QString& b);

    // When the level detector last heard voice; negative infinity before.
    double lastVoice() const;

private:
    void level(const float* samples, qsizetype frames);
    void onResult(const Transcriber::Result& result);
    double now() const { return setup_.clock(); }

    Setup setup_;
    std::unique_ptr<Transcriber> transcriber_;
    std::unique_ptr<AudioCapture> capture_;
    QPointer<QIODevice> device_;
    QAudioFormat inFormat_;
    int outRate_ = 0;
    QTimer* timer_ = nullptr;
    bool tapped_ = false;

    mutable std::mutex lock_;
    QString finalText_;
    QString shown_;
    double started_ = 0;
    double lastChange_ = 0;
    double lastVoice_;
    float noise_ = 1.0f;
    bool ended_ = false;
};

} // namespace quorvel
