#include "ui/kit/Voice.h"

#include "core/Characters.h"
#include "core/PyRegex.h"
#include "ui/kit/GuiJob.h"

#include <QAudioDevice>
#include <QLocale>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTextToSpeech>
#include <QVoice>

#include <utility>

namespace quorvel {

namespace {

const QString msgEngineDown = QStringLiteral(u"القراءة بالصوت غير متاحة: محرك النطق لا يعمل على هذا الجهاز.");
const QString msgNoVoice = QStringLiteral(u"القراءة بالصوت غير متاحة: لا صوت للنطق مثبت على هذا الجهاز.");
const QString msgNoDevice = QStringLiteral(u"القراءة بالصوت غير متاحة: لا مخرج للصوت (سماعة أو مكبر) على هذا الجهاز.");

// Qt's rate runs from -1 to 1 around the engine's normal pace; the voice
// reads at 95 % of it.
constexpr double kSpeechRate = -0.05;

// speech-dispatcher with espeak-ng, which carries the Arabic voices.
class PlatformSynthesizer : public QObject, public SpeechSynthesizer {
public:
    PlatformSynthesizer() : tts_(new QTextToSpeech(QStringLiteral("speechd"), this))
    {
        connect(tts_, &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
            if (state == QTextToSpeech::Speaking) {
                const bool began = !speaking_;
                speaking_ = true;
                if (began && started)
                    started();
            } else if (speaking_) {
                speaking_ = false;
                if (finished)
                    finished();
            }
        });
        if (tts_->state() != QTextToSpeech::Error)
            chooseArabicVoice();
        tts_->setRate(kSpeechRate);
    }

    void say(const QString& text) override { tts_->say(text); }
    void stop() override
    {
        if (isSpeaking())
            tts_->stop();
    }
    bool isSpeaking() const override { return tts_->state() == QTextToSpeech::Speaking; }
    QString unavailable() const override
    {
        if (tts_->state() == QTextToSpeech::Error)
            return msgEngineDown;
        if (!hasVoice_)
            return msgNoVoice;
        // Without an output the engine would read on into nothing.
        if (QMediaDevices::audioOutputs().isEmpty())
            return msgNoDevice;
        return {};
    }

    QString voiceLanguage() const override { return tts_->voice().locale().bcp47Name(); }

private:
    // The first voice of an Arabic locale in the engine's own order (Qt gives
    // no quality to rank them by), else the voice of "ar-001", else the
    // engine's default voice.
    void chooseArabicVoice()
    {
        const QList<QLocale> locales = tts_->availableLocales();
        hasVoice_ = !locales.isEmpty();
        for (const QLocale& locale : locales) {
            if (locale.language() != QLocale::Arabic)
                continue;
            tts_->setLocale(locale);
            const QList<QVoice> voices = tts_->availableVoices();
            if (!voices.isEmpty()) {
                tts_->setVoice(voices.first());
                return;
            }
        }
        const QLocale world(QLocale::Arabic, QLocale::World);
        if (locales.contains(world))
            tts_->setLocale(world);
    }

    QTextToSpeech* tts_;
    bool speaking_ = false;
    bool hasVoice_ = false;
};

std::unique_ptr<SpeechSynthesizer>& pendingShared()
{
    static std::unique_ptr<SpeechSynthesizer> synth;
    return synth;
}

Voice*& sharedVoice()
{
    static Voice* voice = nullptr;
    return voice;
}

} // namespace

Voice::Voice(std::unique_ptr<SpeechSynthesizer> synth, QObject* parent)
    : QObject(parent), synth_(std::move(synth))
{
    Q_ASSERT(synth_);
    QPointer<Voice> self(this);
    // The engine may report from its own thread: the owner hears it on ours.
    synth_->started = [self] {
        GuiJob::post(self, [](Voice& voice) {
            if (voice.onSpeaking && voice.isSpeaking())
                voice.onSpeaking(true);
        });
    };
    synth_->finished = [self] {
        GuiJob::post(self, [](Voice& voice) {
            if (voice.onSpeaking)
                voice.onSpeaking(false);
        });
    };
}

Voice::~Voice() = default;

Voice& Voice::shared()
{
    Voice*& voice = sharedVoice();
    if (!voice) {
        std::unique_ptr<SpeechSynthesizer> synth = std::move(pendingShared());
        voice = new Voice(synth ? std::move(synth) : platformSynthesizer());
    }
    return *voice;
}

void Voice::installShared(std::unique_ptr<SpeechSynthesizer> synth)
{
    Voice*& voice = sharedVoice();
    if (voice) {
        voice->stop();
        delete voice;
        voice = nullptr;
    }
    pendingShared() = std::move(synth);
}

namespace {

Voice::Factory& platformFactory()
{
    static Voice::Factory factory;
    return factory;
}

// The callers waiting for a warm-up under way; GUI thread only.
struct Waiter {
    QPointer<QObject> receiver;
    std::function<void()> ready;
};
QList<Waiter>& warmUpWaiters()
{
    static QList<Waiter> waiters;
    return waiters;
}
bool warming = false;

} // namespace

std::unique_ptr<SpeechSynthesizer> Voice::platformSynthesizer()
{
    if (platformFactory())
        return platformFactory()();
    return std::make_unique<PlatformSynthesizer>();
}

Voice::Factory Voice::setPlatformFactory(Factory factory)
{
    return std::exchange(platformFactory(), std::move(factory));
}

bool Voice::isReady()
{
    return sharedVoice() != nullptr || pendingShared() != nullptr;
}

void Voice::warmUp(QObject* receiver, std::function<void()> ready)
{
    if (isReady()) {
        ready();
        return;
    }
    warmUpWaiters().append({QPointer<QObject>(receiver), std::move(ready)});
    if (warming)
        return;
    warming = true;
    QThread* gui = QCoreApplication::instance()->thread();
    QThreadPool::globalInstance()->start([gui] {
        auto made = std::make_shared<std::unique_ptr<SpeechSynthesizer>>(platformSynthesizer());
        // Made here, it lives on the GUI thread like every other engine.
        if (auto* object = dynamic_cast<QObject*>(made->get()))
            object->moveToThread(gui);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [made] {
                warming = false;
                // A voice made or installed meanwhile wins; this engine goes.
                if (!isReady())
                    pendingShared() = std::move(*made);
                made->reset();
                const QList<Waiter> waiters = std::exchange(warmUpWaiters(), {});
                for (const Waiter& waiter : waiters)
                    if (waiter.receiver && waiter.ready)
                        waiter.ready();
            },
            Qt::QueuedConnection);
    });
}

void Voice::speak(const QString& text)
{
    stop();
    const QString t = speakable(text);
    if (t.isEmpty() || !synth_->unavailable().isEmpty())
        return;
    synth_->say(t);
    if (onSpeaking)
        onSpeaking(true);
}

void Voice::stop()
{
    if (synth_->isSpeaking())
        synth_->stop();
}

bool Voice::isSpeaking() const
{
    return synth_->isSpeaking();
}

QString Voice::unavailable() const
{
    return synth_->unavailable();
}

QString Voice::speakable(const QString& text)
{
    static const PyRegex::Regex references = PyRegex::compile(QStringLiteral(u"\\[[0-9٠-٩،, ]+\\]"));
    static const PyRegex::Regex headings = PyRegex::compile(QStringLiteral(u"^#+\\s*"), PyRegex::Anchors::lines);
    static const PyRegex::Regex marks = PyRegex::compile(QStringLiteral(u"[«»﴿﴾*_`]"));
    static const PyRegex::Regex blanks = PyRegex::compile(QStringLiteral(u"[ \\t]+"));

    QString t = PyRegex::sub(references, {}, text);
    t = PyRegex::sub(headings, {}, t);
    t = PyRegex::sub(marks, {}, t);
    t = PyRegex::sub(blanks, QStringLiteral(" "), t);
    t = t.trimmed();
    if (Characters::count(t, maxSpoken) <= maxSpoken)
        return t;
    const qsizetype end = Characters::endOfFirst(t, maxSpoken);
    for (qsizetype i = end - 1; i >= 0; --i) {
        const QChar c = t[i];
        if (c == u'.' || c == u'؟' || c == u'!' || c == u'\n')
            return t.left(i + 1);
    }
    return t;
}

bool Voice::micAccess()
{
    return !QMediaDevices::audioInputs().isEmpty();
}

} // namespace quorvel
