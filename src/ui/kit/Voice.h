#pragma once

// Reading text aloud in Arabic. One shared Voice speaks for the whole
// application (the assistant panel reads answers with it); it cleans the text
// of reference numbers and marks first and cuts a long text at a sentence end.
// The platform engine sits behind SpeechSynthesizer, so tests install a fake
// and never start a speech daemon.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace quorvel {

// What Voice needs of a speech engine. Lives on the GUI thread.
class SpeechSynthesizer {
public:
    virtual ~SpeechSynthesizer() = default;

    // Starts speaking `text`; speech already running has been stopped.
    virtual void say(const QString& text) = 0;
    // Stops at once (not at the end of a word); nothing when silent.
    virtual void stop() = 0;
    virtual bool isSpeaking() const = 0;
    // Why nothing can be spoken (engine in error, no voice at all), in one
    // Arabic sentence for the user; empty when speech works.
    virtual QString unavailable() const = 0;
    // The language of the voice in use (BCP 47), empty when unknown.
    virtual QString voiceLanguage() const { return {}; }

    // Set by Voice: told when the engine begins to sound an utterance (which
    // may be a while after say()), and when one finished or was stopped.
    std::function<void()> started;
    std::function<void()> finished;
};

class Voice : public QObject {
    Q_OBJECT
public:
    // The most user-perceived characters read at once.
    static constexpr int maxSpoken = 1400;

    explicit Voice(std::unique_ptr<SpeechSynthesizer> synth, QObject* parent = nullptr);
    ~Voice() override;

    // The application's voice, made on first use on the platform engine
    // (or on the synthesizer given to installShared).
    static Voice& shared();
    // Replaces the shared voice's synthesizer; tests call it before any
    // speech so that no daemon is started.
    static void installShared(std::unique_ptr<SpeechSynthesizer> synth);
    // The platform engine: speech-dispatcher with its Arabic voice (or what
    // the factory a test installed makes).
    static std::unique_ptr<SpeechSynthesizer> platformSynthesizer();
    using Factory = std::function<std::unique_ptr<SpeechSynthesizer>()>;
    // Replaces what platformSynthesizer() makes (an empty one restores the
    // platform engine); returns the previous factory.
    static Factory setPlatformFactory(Factory factory);

    // Whether shared() is at hand without starting an engine: made already,
    // or a synthesizer installed for it.
    static bool isReady();
    // Starts the shared voice's platform engine on a worker thread (its start
    // talks to the speech daemon, which may take a second) and calls `ready`
    // on the GUI thread once shared() is at hand, unless `receiver` is gone by
    // then; at once when it already is. GUI thread only.
    static void warmUp(QObject* receiver, std::function<void()> ready);

    // Stops current speech, then speaks speakable(text); an empty cleaned
    // text speaks nothing and calls no callback.
    void speak(const QString& text);
    // Stops at once; when silent, nothing (no callback).
    void stop();
    bool isSpeaking() const;
    // See SpeechSynthesizer::unavailable.
    QString unavailable() const;

    // Told true when an utterance is handed to the engine and again (later,
    // on the GUI thread) when the engine begins to sound it; false (later, on
    // the GUI thread) when one finished or was stopped.
    std::function<void(bool)> onSpeaking;

    // The text as it is read: bracketed reference numbers, heading marks,
    // guillemets, ornate parentheses, "*", "_" and "`" removed, runs of spaces
    // and tabs made one space, trimmed; past maxSpoken characters it ends at
    // the last sentence end within them (kept whole when there is none).
    static QString speakable(const QString& text);

    // Whether dictation runs on this system: the listening pipeline always
    // does; whether it can recognise speech is the transcriber's answer.
    static constexpr bool onDevice = true;
    // Whether the microphone may be used: Linux asks no permission, so it
    // is whether an audio input exists.
    static bool micAccess();

private:
    std::unique_ptr<SpeechSynthesizer> synth_;
};

} // namespace quorvel
