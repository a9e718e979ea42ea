#include "ui/kit/Listener.h"

#include "ui/kit/GuiJob.h"
#include "ui/kit/Voice.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <unicode/uchar.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quorvel {

namespace {

const QString msgNoMic = QStringLiteral(
    u"تعذر الوصول إلى الميكروفون. تحقق من أن خادم الصوت (PipeWire أو PulseAudio) يعمل، وأن جهاز الإدخال موصول "
    u"ومختار في إعدادات الصوت.");
const QString msgNoFormat = QStringLiteral(
    u"تعذر تهيئة الصوت لهذا الميكروفون. تحقق من خادم الصوت (PipeWire أو PulseAudio) ومن جهاز الإدخال المختار "
    u"في إعدادات الصوت.");
const QString msgUnsupported = QStringLiteral(u"الإملاء العربي على الجهاز غير متاح في هذا الإصدار من النظام.");

// The noise floor never falls below this, and voice must stand this far
// above it (and above an absolute level) to count.
constexpr float kFloorMinimum = 0.0005f;
constexpr float kFloorRise = 1.01f;
constexpr float kFloorStep = 0.0001f;
constexpr float kVoiceFactor = 3.5f;
constexpr float kVoiceMinimum = 0.008f;

class QtAudioCapture : public AudioCapture {
public:
    QtAudioCapture() : device_(QMediaDevices::defaultAudioInput())
    {
        if (!device_.isNull())
            format_ = device_.preferredFormat();
    }
    QAudioFormat format() const override { return format_; }
    QIODevice* start() override
    {
        if (device_.isNull() || format_.sampleRate() <= 0)
            return nullptr;
        source_ = std::make_unique<QAudioSource>(device_, format_);
        source_->setBufferSize(Listener::bufferFrames * format_.bytesPerFrame() * 2);
        return source_->start();
    }
    void stop() override
    {
        if (source_)
            source_->stop();
    }

private:
    QAudioDevice device_;
    QAudioFormat format_;
    std::unique_ptr<QAudioSource> source_;
};

// The first channel of interleaved PCM as floats in -1…1.
std::vector<float> firstChannel(const QByteArray& pcm, const QAudioFormat& format)
{
    const int frameBytes = format.bytesPerFrame();
    const qsizetype frames = frameBytes > 0 ? pcm.size() / frameBytes : 0;
    std::vector<float> out(frames);
    for (qsizetype i = 0; i < frames; ++i)
        out[i] = format.normalizedSampleValue(pcm.constData() + i * frameBytes);
    return out;
}

} // namespace

VoiceError VoiceError::noMic() { return {Kind::noMic, msgNoMic}; }
VoiceError VoiceError::noFormat() { return {Kind::noFormat, msgNoFormat}; }
VoiceError VoiceError::unsupported() { return {Kind::unsupported, msgUnsupported}; }

int UnsupportedTranscriber::sampleRate()
{
    throw VoiceError::unsupported();
}

std::unique_ptr<AudioCapture> defaultAudioCapture()
{
    return std::make_unique<QtAudioCapture>();
}

namespace {

std::unique_ptr<Transcriber> productTranscriber()
{
    return std::make_unique<UnsupportedTranscriber>();
}

} // namespace

bool Listener::hasRecogniser()
{
    try {
        return productTranscriber()->sampleRate() > 0;
    } catch (const VoiceError&) {
        return false;
    }
}

Listener::Listener() : Listener(Setup{}) {}

Listener::Listener(Setup setup, QObject* parent)
    : QObject(parent), setup_(std::move(setup)), lastVoice_(-std::numeric_limits<double>::infinity())
{
    if (!setup_.micAccess)
        setup_.micAccess = &Voice::micAccess;
    if (!setup_.transcriber)
        setup_.transcriber = &productTranscriber;
    if (!setup_.capture)
        setup_.capture = &defaultAudioCapture;
    if (!setup_.clock) {
        auto elapsed = std::make_shared<QElapsedTimer>();
        elapsed->start();
        setup_.clock = [elapsed] { return elapsed->nsecsElapsed() / 1e9; };
    }
    started_ = lastChange_ = now();
}

Listener::~Listener()
{
    if (capture_)
        capture_->stop();
}

void Listener::start()
{
    if (!setup_.micAccess())
        throw VoiceError::noMic();
    transcriber_ = setup_.transcriber();
    outRate_ = transcriber_->sampleRate();
    if (outRate_ <= 0)
        throw VoiceError::noFormat();
    QPointer<Listener> self(this);
    transcriber_->onResult = [self](const Transcriber::Result& result) {
        if (self)
            self->onResult(result);
    };

    capture_ = setup_.capture();
    inFormat_ = capture_->format();
    if (inFormat_.sampleRate() <= 0 || inFormat_.sampleFormat() == QAudioFormat::Unknown
        || inFormat_.channelCount() <= 0)
        throw VoiceError::noFormat();
    device_ = capture_->start();
    if (!device_)
        throw VoiceError::noFormat();
    tapped_ = true;
    connect(device_, &QIODevice::readyRead, this, &Listener::pump);

    {
        std::lock_guard guard(lock_);
        started_ = lastChange_ = now();
    }
    if (setup_.timer) {
        timer_ = new QTimer(this);
        timer_->setInterval(tickMs);
        connect(timer_, &QTimer::timeout, this, &Listener::tick);
        timer_->start();
    }
}

void Listener::pump()
{
    if (!device_ || !tapped_)
        return;
    const qint64 bytes = qint64(bufferFrames) * inFormat_.bytesPerFrame();
    while (tapped_ && device_ && device_->bytesAvailable() >= bytes)
        process(device_->read(bytes));
}

void Listener::process(const QByteArray& pcm)
{
    const std::vector<float> in = firstChannel(pcm, inFormat_);
    if (in.empty())
        return;
    level(in.data(), qsizetype(in.size()));
    if (!transcriber_)
        return;
    const qsizetype cap = capacity(qsizetype(in.size()), inFormat_.sampleRate(), outRate_);
    // Linear interpolation between the input samples at the output rate.
    const double step = double(inFormat_.sampleRate()) / outRate_;
    std::vector<float> out;
    out.reserve(cap);
    for (qsizetype i = 0; i < cap; ++i) {
        const double at = i * step;
        const qsizetype k = qsizetype(at);
        if (k >= qsizetype(in.size()))
            break;
        const float next = k + 1 < qsizetype(in.size()) ? in[k + 1] : in[k];
        out.push_back(float(in[k] + (next - in[k]) * (at - k)));
    }
    if (!out.empty())
        transcriber_->feed(out.data(), qsizetype(out.size()));
}

void Listener::level(const float* samples, qsizetype frames)
{
    if (frames <= 0)
        return;
    double sum = 0;
    for (qsizetype i = 0; i < frames; ++i)
        sum += double(samples[i]) * samples[i];
    const float rms = float(std::sqrt(sum / frames));
    std::lock_guard guard(lock_);
    noise_ = std::min(std::max(rms, kFloorMinimum), noise_ * kFloorRise + kFloorStep);
    if (rms > std::max(kVoiceFactor * noise_, kVoiceMinimum))
        lastVoice_ = now();
}

void Listener::onResult(const Transcriber::Result& result)
{
    const QString text = clean(result.text);
    QString copy;
    {
        std::lock_guard guard(lock_);
        const QString joined = join(finalText_, text);
        if (result.isFinal)
            finalText_ = joined;
        shown_ = joined;
        lastChange_ = now();
        copy = shown_;
    }
    if (onText)
        onText(copy);
}

void Listener::tick()
{
    QString shown;
    double sinceChange, sinceVoice, sinceStart;
    {
        std::lock_guard guard(lock_);
        if (ended_)
            return;
        const double t = now();
        shown = shown_;
        sinceChange = t - lastChange_;
        sinceVoice = t - lastVoice_;
        sinceStart = t - started_;
    }
    const bool done = shown.isEmpty()
        ? sinceStart > quietStop
        : sinceChange > unchangedStop || (sinceVoice > silenceStop && sinceChange > settledStop)
            || sinceStart > longestTurn;
    if (done)
        stop();
}

void Listener::stop()
{
    {
        std::lock_guard guard(lock_);
        if (ended_)
            return;
        ended_ = true;
    }
    if (timer_)
        timer_->stop();
    if (tapped_) {
        tapped_ = false;
        if (device_)
            disconnect(device_, nullptr, this, nullptr);
    }
    if (capture_)
        capture_->stop();
    QPointer<Listener> self(this);
    auto deliver = [self] {
        GuiJob::post(self, [](Listener& listener) {
            QString text;
            {
                std::lock_guard guard(listener.lock_);
                text = listener.finalText_.isEmpty() ? listener.shown_ : listener.finalText_;
            }
            if (listener.onEnd)
                listener.onEnd(text);
        });
    };
    if (transcriber_)
        transcriber_->finish(deliver);
    else
        deliver();
}

void Listener::cancel()
{
    onEnd = nullptr;
    stop();
}

qsizetype Listener::capacity(qsizetype frames, double inRate, double outRate)
{
    constexpr qsizetype kCapacitySlack = 64;

    return qsizetype(double(frames) * outRate / inRate) + kCapacitySlack;
}

QString Listener::clean(const QString& text)
{
    QString t = text;
    t.removeIf([](QChar c) { return u_hasBinaryProperty(UChar32(c.unicode()), UCHAR_BIDI_CONTROL); });
    return t.trimmed();
}

QString Listener::join(const QString& a, const QString& b)
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    return a + u' ' + b;
}

double Listener::lastVoice() const
{
    std::lock_guard guard(lock_);
    return lastVoice_;
}

} // namespace quorvel
