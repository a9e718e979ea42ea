#pragma once

// The assistant tab: the user picks an answer mode, types (or says) a
// question, and reads the question, the streamed reply and then the rendered
// answer in a transcript. Greetings and other small talk are answered here
// without the assistant. The top bar carries the local-model menu and its
// download progress; the bottom bar the microphone, the field, the send and
// the export buttons.
//
// The question runs on the thread pool. Its streamed pieces and its answer
// come back through one ordered queued channel tagged with the question's
// number, so a piece that arrives late never overwrites a finished answer.

#include "assistant/AIAnswer.h"
#include "assistant/AIMode.h"
#include "assistant/Intent.h"
#include "assistant/LocalLLM.h"
#include "assistant/LocalLLMDownloader.h"
#include "ui/assistant/AnswerExport.h"
#include "ui/kit/TabContent.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace quorvel {

class HoverButton;
class Library;
class Listener;
class RichTextBuilder;

class AIChatView : public TabContent {
    Q_OBJECT
public:
    static constexpr const char* sessionKind = "ai";
    static constexpr char tabTitle[] = "البحث الذكي";
    static constexpr const char* tabSymbol = "sparkles";

    // How a question is answered: called on a worker thread with the text
    // and mode; `onDelta` takes each streamed piece of the reply (from any
    // thread); returns the answer. Never throws.
    using Assistant = std::function<AIAnswer(const QString& question, AIMode mode,
                                             const std::function<void(const QString&)>& onDelta)>;

    // How one question will be answered.
    using Plan = Intent::Plan;

    // The assistant of the application: the library's research assistant.
    static Assistant libraryAssistant(std::shared_ptr<Library> lib);

    // `lib` is the library pages open from; `assistant` answers questions.
    AIChatView(std::shared_ptr<Library> lib, Assistant assistant, QWidget* parent = nullptr);
    ~AIChatView() override;

    // A page link was followed: book id, page sequence and the words the
    // citation quotes (empty when it names none).
    std::function<void(std::int64_t, std::int64_t, const QString&)> onOpen;

    void focus();
    // Puts the text into the field and asks it, as Return would.
    void ask(const QString& text);
    AIMode kind() const;
    void setKind(AIMode mode);
    QTextBrowser* transcriptView() const { return transcript_; }
    bool isBusy() const { return busy_; }
    const QList<AIAnswer>& answers() const { return answers_; }

    static Plan plan(const QString& text, AIMode kind, const std::optional<QString>& lastTopic,
                     const std::optional<AIMode>& lastMode);
    static QString askLink(const QString& question);

    // A clicked link: true when the panel handled it.
    bool followLink(const QString& href);

    // The export menu (its items export the last answer); nothing before the
    // first answer.
    QMenu* exportMenu();
    // The local-model menu.
    QMenu* modelMenu();
    // Starts downloading a catalogue model.
    void download(const LocalLLM::ModelInfo& info);
    // The running download, if any.
    LocalLLM::Downloader* downloader() const { return downloader_; }
    // Stops the answer being written: its reply breaks off and the answer
    // keeps what of it was verified. Nothing while no reply streams. Escape
    // and the stop button beside the field run it.
    void stopAnswer();
    // The microphone button's action.
    void toggleMic();
    bool isListening() const { return listener_ != nullptr; }

    // Parts, for the tests and the main window.
    QLineEdit* input() const { return input_; }
    QLabel* status() const;
    QComboBox* kindPopup() const { return kindPopup_; }
    QProgressBar* progress() const { return progress_; }
    HoverButton* micButton() const { return micBtn_; }
    QPushButton* modelButton() const { return modelBtn_; }
    QPushButton* exportButton() const { return exportBtn_; }
    HoverButton* sendButton() const { return sendBtn_; }
    QPushButton* stopButton() const { return stopBtn_; }

    // Renders an answer for export exactly as the transcript shows it.
    static AnswerExport::Render exportRenderer();
    // Writes `answer` to `path` in `format` without asking anyone; throws
    // AnswerExport::ExportError.
    static void exportAnswer(const AIAnswer& answer, const QString& path, AnswerExport::ExportFormat format);

    // Where exports of the last answer go; set by whoever provides them.
    std::function<void(const QString& format)> exportLast;
    // Makes the listener of a dictation (the product's by default).
    std::function<std::unique_ptr<Listener>()> makeListener;
    // Prepares each model downloader before it starts (tests set its free
    // space source).
    std::function<void(LocalLLM::Downloader&)> prepareDownloader;

    QString title() const override;
    QString symbol() const override;
    Json::Value sessionJSON() const override;
    bool restore(const Json::Value& entry) override;

private:
    // The panel, bar by bar; the model, export and microphone controls are
    // made beside the code that drives them.
    void build();
    QWidget* buildTopBar();
    void buildKindPopup();
    void buildModelControls();
    void buildTranscript();
    QWidget* buildBottomBar();
    void buildExportButton();
    void buildMicButton();
    void askNow();
    void kindChanged();
    // The status line and the model button for the model and speech engine
    // in place. The model check reads the disk and searches PATH, so the
    // first one runs off the GUI thread; until it returns this does nothing.
    void refreshStatus();
    // What the model check found: a model file, the server program, a
    // download source.
    struct ModelCheck {
        bool hasModel = false;
        bool hasServer = false;
        bool canDownload = false;
    };
    static ModelCheck checkModel();
    void showStatus(const ModelCheck& check);
    // On the engine's change notice: the status follows it, unless the line
    // speaks for the microphone or a download.
    void engineChanged();
    void welcome();
    // Recolours the bars' title and the transcript's page for the appearance in force.
    void applyColors();
    // On the reading-settings notice: the colours, and the whole transcript
    // written again in the colours and fonts now in force.
    void applyAppearance();
    void rewrite();
    void appendQuestion(const QString& question);
    void appendReply(const QString& text, bool examples, bool speak);
    void writeQuestion(const QString& question);
    void writeReply(const QString& text, bool examples);
    // Answer `index` with its sender line; its text alone, after a sender
    // line already written.
    void writeAnswer(int index);
    void writeAnswerText(RichTextBuilder& out, int index);
    void writeLive();
    void scrollToEnd();
    void removeLive();
    void receivePiece(std::uint64_t id, const QString& piece);
    void flushPieces();
    void finishQuestion(std::uint64_t id, AIAnswer answer, const Plan& plan, bool fromVoice);
    void speak(int index);
    // The listen link of answer `index` reads as a stop, every other one as
    // a listen link.
    void showReading(std::optional<int> index);
    void setListening(bool on);
    void listeningEnded(const QString& text);
    void chooseModelFile();
    void stopDownload();

    std::shared_ptr<Library> lib_;
    Assistant assistant_;
    QLabel* status_ = nullptr;
    QLabel* sparkle_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QComboBox* kindPopup_ = nullptr;
    QPushButton* modelBtn_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTextBrowser* transcript_ = nullptr;
    QLineEdit* input_ = nullptr;
    HoverButton* sendBtn_ = nullptr;
    QPushButton* stopBtn_ = nullptr;  // shown while a reply streams
    QPushButton* exportBtn_ = nullptr;
    HoverButton* micBtn_ = nullptr;

    QList<AIAnswer> answers_;
    // What the transcript holds after the welcome, in order, so that it can
    // be written again when the appearance changes.
    struct Entry {
        enum class Kind { question, reply, answer } kind;
        QString text;        // the question or the reply
        bool examples = false;
        int answer = -1;     // index into answers_
    };
    QList<Entry> entries_;
    QString live_;           // pieces of the running answer already shown
    std::optional<QString> lastTopic_;
    std::optional<AIMode> lastMode_;
    bool busy_ = false;
    std::unique_ptr<Listener> listener_;
    QString placeholder_;     // the field's placeholder while listening
    bool voiceTurn_ = false;
    std::optional<int> speakingIndex_;
    bool modelChecked_ = false; // the first model check has returned
    bool engineStopped_ = false; // stopped from the model menu since the last question
    int liveStart_ = 0;       // document position where the live reply begins
    QPointer<LocalLLM::Downloader> downloader_;

    std::uint64_t question_ = 0;  // number of the running (or last) question
    std::uint64_t completed_ = 0; // number of the last question shown
    QString pending_;             // pieces received, not yet in the transcript
    bool flushQueued_ = false;
    bool waitingLine_ = false;    // the live region still shows the waiting line
};

} // namespace quorvel
