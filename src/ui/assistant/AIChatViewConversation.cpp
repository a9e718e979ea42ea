// The assistant tab's conversation: a question asked (small talk answered
// at once), the reply streamed into the transcript piece by piece, the
// finished answer in its place, the transcript written again, and the
// links an answer carries.

#include "ui/assistant/AIChatView.h"

#include "assistant/Intent.h"
#include "assistant/LocalLLM.h"
#include "assistant/SmallTalk.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/assistant/ChatTranscript.h"
#include "ui/kit/GuiJob.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/kit/Voice.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>

namespace quorvel {

void AIChatView::scrollToEnd()
{
    QScrollBar* bar = transcript_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void AIChatView::rewrite()
{
    // Colours are baked into the document's runs (and a chart's picture), so
    // the conversation is written again rather than repainted.
    QScrollBar* bar = transcript_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int scrolled = bar->value();
    welcome();
    for (const Entry& entry : std::as_const(entries_)) {
        switch (entry.kind) {
        case Entry::Kind::question:
            writeQuestion(entry.text);
            break;
        case Entry::Kind::reply:
            writeReply(entry.text, entry.examples);
            break;
        case Entry::Kind::answer:
            writeAnswer(entry.answer);
            break;
        }
    }
    if (busy_)
        writeLive();
    if (speakingIndex_ && Voice::shared().isSpeaking())
        showReading(speakingIndex_);
    if (atEnd)
        scrollToEnd();
    else
        bar->setValue(scrolled);
}

void AIChatView::writeAnswer(int index)
{
    RichTextBuilder out(transcript_->document());
    ChatTranscript::sender(out);
    writeAnswerText(out, index);
}

void AIChatView::writeAnswerText(RichTextBuilder& out, int index)
{
    ChatTranscript::answer(out, answers_[index], index, lib_ ? lib_->catalog() : nullptr);
}

void AIChatView::writeLive()
{
    liveStart_ = ChatTranscript::live(transcript_->document(), waitingLine_, live_);
}

void AIChatView::welcome()
{
    ChatTranscript::welcome(transcript_->document());
}

QString AIChatView::askLink(const QString& question)
{
    return AnswerRenderer::askLink(question);
}

void AIChatView::appendQuestion(const QString& question)
{
    entries_.append({Entry::Kind::question, question});
    writeQuestion(question);
    scrollToEnd();
}

void AIChatView::writeQuestion(const QString& question)
{
    constexpr double kBubbleFallbackWidth = 1100;

    const double viewport = transcript_->viewport()->width();
    const double width = viewport > 200 ? viewport : (window() && window() != this ? window()->width() : kBubbleFallbackWidth);
    ChatTranscript::question(transcript_->document(), question, width);
}

void AIChatView::appendReply(const QString& text, bool examples, bool speakIt)
{
    entries_.append({Entry::Kind::reply, text, examples});
    writeReply(text, examples);
    scrollToEnd();
    if (speakIt)
        Voice::shared().speak(text);
}

void AIChatView::writeReply(const QString& text, bool examples)
{
    ChatTranscript::reply(transcript_->document(), text, examples);
}

AIChatView::Plan AIChatView::plan(const QString& text, AIMode kind, const std::optional<QString>& lastTopic,
                                  const std::optional<AIMode>& lastMode)
{
    return Intent::plan(text, kind, lastTopic, lastMode);
}

void AIChatView::askNow()
{
    const QString text = input_->text().trimmed();
    if (text.isEmpty() || busy_)
        return;
    Voice::shared().stop();
    showReading(std::nullopt);
    const bool fromVoice = voiceTurn_;
    voiceTurn_ = false;
    input_->clear();

    QString question = text;
    if (const auto smallTalk = SmallTalk::split(text)) {
        const auto& [talk, rest] = *smallTalk;
        const bool hasQuestion
            = kind() == AIMode::data ? !rest.isEmpty() : Characters::count(rest, 3) >= 3;
        appendQuestion(text);
        appendReply(SmallTalk::reply(talk, hasQuestion),
                    talk == SmallTalk::Kind::help || talk == SmallTalk::Kind::who, fromVoice && !hasQuestion);
        if (!hasQuestion) {
            focus();
            return;
        }
        if (fromVoice)
            Voice::shared().speak(SmallTalk::reply(talk, true));
        question = rest;
    } else {
        appendQuestion(text);
    }

    busy_ = true;
    sendBtn_->setEnabled(false);
    // A question the model answers starts the engine again.
    engineStopped_ = false;
    engineChanged();
    const Plan p = plan(question, kind(), lastTopic_, lastMode_);

    waitingLine_ = true;
    live_.clear();
    writeLive();
    pending_.clear();
    scrollToEnd();

    const std::uint64_t id = ++question_;
    QPointer<AIChatView> self(this);
    Assistant assistant = assistant_;
    // The pieces and the answer are all sent from the worker, so they arrive
    // in the order they were sent, the answer last; the panel may close
    // meanwhile.
    GuiJob::run(
        this,
        [self, assistant, p, id] {
            auto onDelta = [self, id](const QString& piece) {
                GuiJob::post(self, [id, piece](AIChatView& view) { view.receivePiece(id, piece); });
            };
            return assistant(p.question, p.mode, onDelta);
        },
        [id, p, fromVoice](AIChatView& view, AIAnswer answer) {
            view.finishQuestion(id, std::move(answer), p, fromVoice);
        });
}

void AIChatView::removeLive()
{
    ChatTranscript::removeFrom(transcript_->document(), liveStart_);
}

void AIChatView::receivePiece(std::uint64_t id, const QString& piece)
{
    // A piece of an answer already shown (or of an older question) is late.
    if (id != question_ || id <= completed_ || piece.isEmpty())
        return;
    pending_ += piece;
    if (flushQueued_)
        return;
    flushQueued_ = true;
    // Pieces that arrive in one turn of the event loop are shown together.
    QMetaObject::invokeMethod(this, &AIChatView::flushPieces, Qt::QueuedConnection);
}

void AIChatView::flushPieces()
{
    flushQueued_ = false;
    if (pending_.isEmpty() || !busy_)
        return;
    if (waitingLine_) {
        removeLive();
        waitingLine_ = false;
        stopBtn_->setEnabled(true);
        stopBtn_->show();
    }
    ChatTranscript::livePiece(transcript_->document(), pending_);
    live_ += pending_;
    pending_.clear();
    scrollToEnd();
}

void AIChatView::finishQuestion(std::uint64_t id, AIAnswer a, const Plan& p, bool fromVoice)
{
    if (id != question_ || id <= completed_)
        return;
    completed_ = id;
    pending_.clear();
    waitingLine_ = false;
    a.routed = p.routed;
    a.topic = p.topic;
    a.followUp = p.follow;
    const int index = int(answers_.size());

    removeLive();
    live_.clear();
    answers_.append(a);
    entries_.append({Entry::Kind::answer, QString(), false, index});
    {
        // The answer follows the sender line the live region began with.
        RichTextBuilder out(transcript_->document());
        writeAnswerText(out, index);
    }
    scrollToEnd();

    if (fromVoice)
        speak(index);
    lastTopic_ = p.topic;
    lastMode_ = p.mode;
    busy_ = false;
    stopBtn_->hide();
    sendBtn_->setEnabled(true);
    exportBtn_->setEnabled(true);
    refreshStatus();
    focus();
}

void AIChatView::stopAnswer()
{
    if (!busy_ || stopBtn_->isHidden() || !stopBtn_->isEnabled())
        return;
    stopBtn_->setEnabled(false);
    LocalLLM::stopReply();
}

bool AIChatView::followLink(const QString& href)
{
    const QString speakPrefix = QString::fromLatin1(AnswerRenderer::speakLinkPrefix);
    const QString askPrefix = QString::fromLatin1(AnswerRenderer::askLinkPrefix);
    if (href.startsWith(speakPrefix)) {
        bool ok = false;
        const int n = href.mid(speakPrefix.size()).toInt(&ok, 10);
        if (ok)
            speak(n);
        return true;
    }
    if (href.startsWith(askPrefix)) {
        if (busy_)
            return true;
        const std::optional<QString> question = AnswerRenderer::percentDecoded(href.mid(askPrefix.size()));
        if (!question)
            return true;
        setKind(AIMode::automatic);
        input_->setText(*question);
        askNow();
        return true;
    }
    QString rest = href;
    rest.remove(QString::fromLatin1(AnswerRenderer::pageLinkPrefix));
    // The words the citation quotes follow the page, after a hash.
    const qsizetype hash = rest.indexOf(u'#');
    const std::optional<QString> words =
        hash < 0 ? std::optional<QString>(QString()) : AnswerRenderer::percentDecoded(rest.mid(hash + 1));
    if (hash >= 0)
        rest.truncate(hash);
    QList<long long> numbers;
    for (const QString& piece : rest.split(u'/', Qt::SkipEmptyParts)) {
        bool ok = false;
        const long long n = piece.toLongLong(&ok, 10);
        if (ok)
            numbers.append(n);
    }
    if (numbers.size() != 2 || !words)
        return false;
    if (onOpen)
        onOpen(numbers[0], numbers[1], *words);
    return true;
}

} // namespace quorvel
