#pragma once

// The assistant panel over a scripted assistant, shared by its view tests.

#include "support/SpeechFakes.h"
#include "ui/ViewTestSupport.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "assistant/LocalLLMDownloader.h"
#include "assistant/SmallTalk.h"
#include "core/Arabic.h"
#include "core/Json.h"
#include "core/Settings.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Theme.h"
#include "support/LoopbackHttpServer.h"
#include "ui/assistant/AIChatView.h"
#include "ui/assistant/AnswerRenderer.h"
#include "ui/kit/Desktop.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/BarView.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/Listener.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/shell/MainWindowController.h"
#include "support/Wait.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace quorvel::test {

// An assistant the test drives: each question waits on a worker thread for
// the pieces and the answer the test hands over.
class ScriptedAssistant {
public:
    struct Call {
        QString question;
        AIMode mode;
    };

    ScriptedAssistant() : state_(std::make_shared<State>()) {}
    ~ScriptedAssistant() { answer(AIAnswer{}); }  // never leave a worker waiting

    AIChatView::Assistant fn()
    {
        std::shared_ptr<State> state = state_;
        return [state](const QString& question, AIMode mode, const std::function<void(const QString&)>& onDelta) {
            {
                std::lock_guard guard(state->mutex);
                state->calls.push_back({question, mode});
            }
            state->changed.notify_all();
            for (;;) {
                std::unique_lock lock(state->mutex);
                state->changed.wait(lock, [&] { return !state->steps.empty(); });
                Step step = std::move(state->steps.front());
                state->steps.pop_front();
                lock.unlock();
                if (auto* piece = std::get_if<QString>(&step)) {
                    onDelta(*piece);
                    continue;
                }
                AIAnswer a = std::get<AIAnswer>(std::move(step));
                // The late pieces a test asks for come after run returned.
                if (!state->afterReturn.isEmpty()) {
                    auto late = state->afterReturn;
                    std::thread([late, onDelta] {
                        for (const QString& p : late)
                            onDelta(p);
                    }).detach();
                }
                return a;
            }
        };
    }

    void piece(const QString& text) { push(text); }
    void answer(AIAnswer a) { push(std::move(a)); }
    void piecesAfterReturn(QStringList pieces) { state_->afterReturn = std::move(pieces); }

    QList<Call> calls() const
    {
        std::lock_guard guard(state_->mutex);
        return state_->calls;
    }

private:
    using Step = std::variant<QString, AIAnswer>;
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::deque<Step> steps;
        QList<Call> calls;
        QStringList afterReturn;
    };
    void push(Step step)
    {
        {
            std::lock_guard guard(state_->mutex);
            state_->steps.push_back(std::move(step));
        }
        state_->changed.notify_all();
    }

    std::shared_ptr<State> state_;
};

inline AIAnswer answerText(const QString& text, AIMode mode = AIMode::answer)
{
    AIAnswer a{mode, QString(), {}};
    a.text = text;
    return a;
}

// The first trigger phrase of a small-talk kind.
inline QString phraseOf(SmallTalk::Kind kind)
{
    for (const SmallTalk::Entry& e : SmallTalk::table())
        if (e.kind == kind && !e.phrases.isEmpty())
            return e.phrases.first();
    return {};
}

class AIChatViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        preparePanels();
        Preferences::standard().remove(QStringLiteral("aiKind"));
        view = std::make_unique<AIChatView>(sample.lib, assistant.fn());
        view->resize(1000, 700);
        view->setKind(AIMode::answer);
        // The model check runs off the GUI thread; its answer fills the status in.
        ASSERT_EVENTUALLY(!view->status()->text().isEmpty(), 5000);
    }
    void TearDown() override
    {
        // Let a running question end before the view goes.
        assistant.answer(AIAnswer{});
        ASSERT_EVENTUALLY(!view->isBusy(), 5000);
    }

    QString transcript() const { return view->transcriptView()->toPlainText(); }
    // Sends a question and waits until the assistant has it.
    void send(const QString& text)
    {
        const qsizetype before = assistant.calls().size();
        view->ask(text);
        ASSERT_EVENTUALLY(assistant.calls().size() > before, 5000);
    }
    void finish(const AIAnswer& a)
    {
        assistant.answer(a);
        ASSERT_EVENTUALLY(!view->isBusy(), 5000);
    }
    QStringList links() const
    {
        QStringList out;
        const QTextDocument& doc = *view->transcriptView()->document();
        QString last;
        for (int i = 0; i < doc.characterCount(); ++i) {
            const QString h = RichText::hrefAt(doc, i);
            if (!h.isEmpty() && h != last)
                out << h;
            last = h;
        }
        return out;
    }

    SharedFakeVoice voice;
    ScriptedDialogs dialogs;
    SampleLib sample;
    ScriptedAssistant assistant;
    std::unique_ptr<AIChatView> view;
};

} // namespace quorvel::test
