// The assistant tab's voice: an answer read aloud from its listen link, and
// the microphone that dictates a question into the field and sends it once
// the speaker falls silent.

#include "ui/assistant/AIChatView.h"

#include "core/Theme.h"
#include "ui/assistant/ChatTranscript.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/Listener.h"
#include "ui/kit/Voice.h"
#include "ui/kit/Widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>

namespace quorvel {

void AIChatView::speak(int index)
{
    if (index < 0 || index >= answers_.size())
        return;
    Voice& voice = Voice::shared();
    if (const QString why = voice.unavailable(); !why.isEmpty()) {
        status_->setText(why);
        return;
    }
    if (speakingIndex_ == index && voice.isSpeaking()) {
        voice.stop();
        showReading(std::nullopt);
        return;
    }
    speakingIndex_ = index;
    QPointer<AIChatView> self(this);
    // The end of an utterance this panel started; a stop that only made way
    // for the next one leaves the voice speaking.
    // The stop shows while the engine itself says it is sounding, which may
    // begin a while after the text was handed over.
    voice.onSpeaking = [self, index](bool speaking) {
        if (!self)
            return;
        if (speaking && Voice::shared().isSpeaking() && self->speakingIndex_ == index)
            self->showReading(index);
        else if (!speaking && !Voice::shared().isSpeaking())
            self->showReading(std::nullopt);
    };
    voice.speak(answers_[index].text);
    showReading(voice.isSpeaking() ? std::optional<int>(index) : std::nullopt);
}

void AIChatView::showReading(std::optional<int> index)
{
    ChatTranscript::showReading(transcript_->document(), index);
}

// ---------------------------------------------------------------------------
// The microphone

namespace {

const QString txtMicTip = QStringLiteral(u"تكلم: اضغط وتحدث، ويرسل سؤالك حين تسكت");
const QString txtMicStopTip = QStringLiteral(u"إيقاف الاستماع وإرسال ما قلته");
const QString txtNoDictationTip = QStringLiteral(u"الإملاء العربي غير متاح على هذا النظام: لا يوجد فيه معرِّف للكلام العربي");
const QString txtListening = QStringLiteral(u"أستمع… (الإملاء على جهازك)");

} // namespace

void AIChatView::buildMicButton()
{
    QPointer<AIChatView> self(this);
    micBtn_ = iconButton(QStringLiteral("mic.fill"), txtMicTip, 22, [self] {
        if (self)
            self->toggleMic();
    });
    setListening(false);
}

void AIChatView::setListening(bool on)
{
    if (on) {
        micBtn_->setSymbol(QStringLiteral("stop.circle.fill"), 22, {Theme::title(), Theme::title()});
        micBtn_->setToolTip(txtMicStopTip);
        micBtn_->setEnabled(true);
        status_->setText(txtListening);
    } else {
        // Without a recogniser the microphone could only fail: it stays, greyed, and says why.
        const bool canDictate = Listener::hasRecogniser();
        micBtn_->setSymbol(QStringLiteral("mic.fill"), 22, {Theme::accent(), Theme::gold()});
        micBtn_->setToolTip(canDictate ? txtMicTip : txtNoDictationTip);
        micBtn_->setEnabled(canDictate);
    }
}

namespace {

const QString txtListeningPlaceholder = QStringLiteral(u"أستمع… تكلم، وسأرسل سؤالك حين تسكت");
const QString txtCannotListen = QStringLiteral(u"تعذر الاستماع");

} // namespace

void AIChatView::toggleMic()
{
    if (listener_) {
        listener_->stop();
        return;
    }
    Voice::shared().stop();
    listener_ = makeListener ? makeListener() : std::make_unique<Listener>();
    setListening(true);
    placeholder_ = input_->placeholderText();
    input_->setPlaceholderText(txtListeningPlaceholder);
    QPointer<AIChatView> self(this);
    listener_->onState = [self](const QString& text) {
        if (self)
            self->status_->setText(text);
    };
    listener_->onText = [self](const QString& text) {
        if (self)
            self->input_->setText(text);
    };
    listener_->onEnd = [self](const QString& text) {
        if (self)
            self->listeningEnded(text);
    };
    try {
        listener_->start();
    } catch (const UserError& error) {
        // Hand the listener over to be dropped after its own calls unwind.
        listener_->cancel();
        listener_.release()->deleteLater();
        setListening(false);
        input_->setPlaceholderText(placeholder_);
        refreshStatus();
        Dialogs::alert(txtCannotListen, error.message(), window());
    }
}

void AIChatView::listeningEnded(const QString& text)
{
    if (listener_)
        listener_.release()->deleteLater();
    setListening(false);
    input_->setPlaceholderText(placeholder_);
    refreshStatus();
    const QString t = text.trimmed();
    if (t.isEmpty())
        return;
    input_->setText(t);
    voiceTurn_ = true;
    askNow();
}

} // namespace quorvel
