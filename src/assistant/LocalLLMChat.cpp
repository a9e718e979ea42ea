#include "assistant/LocalLLM.h"
#include "assistant/LocalLLMLoopback.h"

#include "core/Characters.h"
#include "core/DistFetch.h"
#include "core/Json.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace quorvel::LocalLLM {

namespace {

// A slow machine may think for minutes between two tokens; only silence this
// long ends the request.
constexpr int kChatInactivityMs = 900 * 1000;
constexpr double kTemperature = 0.1;
constexpr double kRepeatPenalty = 1.1;
// How much of an error reply's body the user sees.
constexpr qsizetype kErrorBodyChars = 200;

const QString msgReplyTooLong = QStringLiteral("تجاوز ردّ النموذج الحجم المقبول");
const QString msgReplyTooSlow = QStringLiteral("انتهت مهلة ردّ النموذج");

// A trickle of bytes keeps the inactivity limit from ever firing, so a reply
// also has an overall limit; a server that floods gets a bound in bytes.
StreamLimits limits;

const QByteArray dataPrefix = QByteArrayLiteral("data: ");
const QByteArray doneMarker = QByteArrayLiteral("[DONE]");
const QString thinkEnd = QStringLiteral("</think>");

QByteArray requestBody(const QString& system, const QString& user, int maxTokens)
{
    Json::Value messages = Json::Value::array();
    if (!system.isEmpty())
        messages.push_back({{"role", "system"}, {"content", Json::utf8(system)}});
    messages.push_back({{"role", "user"}, {"content", Json::utf8(user)}});
    const Json::Value body = {
        {"messages", messages},
        {"stream", true},
        {"temperature", kTemperature},
        {"repeat_penalty", kRepeatPenalty},
        {"max_tokens", maxTokens},
    };
    return Json::dumpBytes(body);
}

// Finds choices[0].delta.content of one stream line while the parser checks
// the whole line, without building the document: a reply is thousands of such
// lines. Where a member repeats, the last one counts, as in a parsed document.
class DeltaFinder final : public Json::Value::json_sax_t {
public:
    std::optional<std::string> content;

    // Ready for the next line; the buffers keep their room.
    void reset()
    {
        content.reset();
        frames_.clear();
    }

    bool null() override { return scalar(); }
    bool boolean(bool) override { return scalar(); }
    bool number_integer(number_integer_t) override { return scalar(); }
    bool number_unsigned(number_unsigned_t) override { return scalar(); }
    bool number_float(number_float_t, const string_t&) override { return scalar(); }
    bool binary(binary_t&) override { return scalar(); }
    bool string(string_t& value) override
    {
        const bool isContent = !frames_.empty() && frames_.back().role == Role::delta
            && frames_.back().key == "content";
        place(false, false);
        if (isContent)
            content = value;
        return true;
    }
    bool start_object(std::size_t) override
    {
        frames_.push_back({place(true, false), false, -1, {}});
        return true;
    }
    bool key(string_t& name) override
    {
        frames_.back().key = name;
        return true;
    }
    bool end_object() override
    {
        frames_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        frames_.push_back({place(false, true), true, -1, {}});
        return true;
    }
    bool end_array() override
    {
        frames_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    // The containers on the way to the content.
    enum class Role { other, root, choices, choice, delta };
    struct Frame {
        Role role;
        bool array;
        long index = -1;  // position of the current element, in an array
        std::string key;  // the current member's name, in an object
    };

    bool scalar()
    {
        place(false, false);
        return true;
    }

    // Called before every value: the role of a container opened here. A new
    // value for a member on the path replaces what an earlier one found.
    Role place(bool object, bool array)
    {
        if (frames_.empty())
            return object ? Role::root : Role::other;
        Frame& parent = frames_.back();
        if (parent.array)
            ++parent.index;
        switch (parent.role) {
        case Role::root:
            if (parent.key == "choices") {
                content.reset();
                return array ? Role::choices : Role::other;
            }
            break;
        case Role::choices:
            if (parent.index == 0)
                return object ? Role::choice : Role::other;
            break;
        case Role::choice:
            if (parent.key == "delta") {
                content.reset();
                return object ? Role::delta : Role::other;
            }
            break;
        case Role::delta:
            if (parent.key == "content")
                content.reset();
            break;
        case Role::other:
            break;
        }
        return Role::other;
    }

    std::vector<Frame> frames_;
};

// The generated text of one stream line: choices[0].delta.content when every
// step of that path has the expected type; nothing otherwise.
std::optional<QString> deltaContent(QByteArrayView payload, DeltaFinder& finder)
{
    finder.reset();
    const bool parsed = Json::Value::sax_parse(payload.begin(), payload.end(), &finder,
                                               nlohmann::detail::input_format_t::json, true);
    if (!parsed || !finder.content)
        return std::nullopt;
    return QString::fromUtf8(finder.content->data(), qsizetype(finder.content->size()));
}

QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// One streamed reply being read: the request's reply, the lines taken so
// far and why the reading ended. Lives on the calling thread for one chat().
class ChatStream {
public:
    ChatStream(QNetworkReply* reply, const DeltaHandler& onDelta) : reply_(reply), onDelta_(onDelta) {}

    // Reads the reply until "[DONE]", its end, a failure, a stop or the
    // overall limit.
    void read()
    {
        const Reading reading(this);
        QObject::connect(reply_, &QNetworkReply::readyRead, &loop_, [this] { drain(false); });
        QObject::connect(reply_, &QNetworkReply::finished, &loop_, &QEventLoop::quit);
        QTimer overall;
        overall.setSingleShot(true);
        QObject::connect(&overall, &QTimer::timeout, &loop_, [this] { giveUp(msgReplyTooSlow); });
        overall.start(limits.overallMs);
        if (!reply_->isFinished())
            loop_.exec(QEventLoop::ExcludeUserInputEvents);
        overall.stop();
        if (!ended_ && !failure_)
            drain(true);
    }

    // The reply as chat() returns it, or what it throws.
    QString result()
    {
        const std::unique_ptr<QNetworkReply> owned(reply_);
        if (failure_)
            std::rethrow_exception(failure_);
        if (status().isValid() && status().toInt() != 200) {
            QString joined = QString::fromUtf8(errorBody_);
            joined.remove(u'\r').remove(u'\n');
            joined.truncate(Characters::endOfFirst(joined, kErrorBodyChars));
            throw LLMError::server(QString::number(status().toInt()) + u' ' + joined);
        }
        if (!ended_ && reply_->error() != QNetworkReply::NoError)
            throw Dist::PlatformError(reply_->errorString());
        return replyOf(std::move(text_));
    }

    // On the reading thread, from stopReply().
    void stop()
    {
        if (ended_ || failure_ || !reply_->isOpen())
            return;
        countStop();
        giveUp(msgReplyStopped);
    }

private:
    // Makes this the stream stopReply() reaches while it is read, the
    // latest begun of those still read: one that ends leaves the others.
    class Reading {
    public:
        explicit Reading(ChatStream* stream) : stream_(stream)
        {
            std::lock_guard lock(mutex);
            readings.push_back(stream);
        }
        ~Reading()
        {
            std::lock_guard lock(mutex);
            readings.erase(std::find(readings.begin(), readings.end(), stream_));
        }
        static inline std::mutex mutex;
        static inline std::vector<ChatStream*> readings;

    private:
        ChatStream* stream_;
    };
    friend void quorvel::LocalLLM::stopReply();

    QVariant status() const { return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute); }

    void takeLine(QByteArrayView line)
    {
        if (!line.startsWith(dataPrefix))
            return;
        const QByteArrayView payload = line.sliced(dataPrefix.size());
        if (payload == doneMarker) {
            ended_ = true;
            return;
        }
        const std::optional<QString> piece = deltaContent(payload, finder_);
        if (!piece || piece->isEmpty())
            return;
        text_ += *piece;
        if (onDelta_)
            onDelta_(*piece);
    }

    void giveUp(const QString& message)
    {
        failure_ = std::make_exception_ptr(LLMError::server(message));
        if (!reply_->isFinished())
            reply_->abort();
        loop_.quit();
    }

    // Only the start of an error body is shown; the rest is not waited for.
    void keepErrorBody()
    {
        errorBody_ += reply_->read(limits.errorBytes - errorBody_.size());
        if (errorBody_.size() >= limits.errorBytes && !reply_->isFinished()) {
            reply_->abort();
            loop_.quit();
        }
    }

    void drain(bool atEnd)
    {
        if (!reply_->isOpen())
            return; // given up
        if (status().isValid() && status().toInt() != 200)
            return keepErrorBody();
        // Whatever has arrived is taken at once and cut into lines here, so
        // a reply of thousands of lines costs no allocation per line.
        const QByteArray arrived = reply_->read(limits.replyBytes - received_ + 1);
        received_ += arrived.size();
        if (received_ > limits.replyBytes)
            return giveUp(msgReplyTooLong);
        pending_ += arrived;
        qsizetype start = 0;
        try {
            for (qsizetype end; !ended_ && (end = pending_.indexOf('\n', start)) >= 0; start = end + 1)
                takeLine(withoutCarriageReturn(QByteArrayView(pending_).sliced(start, end - start)));
            // A stream closed without a final line break still ends a line.
            if (atEnd && !ended_ && start < pending_.size()) {
                takeLine(withoutCarriageReturn(QByteArrayView(pending_).sliced(start)));
                start = pending_.size();
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
        pending_.remove(0, start);
        if (!ended_ && !failure_ && pending_.size() > limits.lineBytes)
            return giveUp(msgReplyTooLong);
        if ((ended_ || failure_) && !reply_->isFinished()) {
            reply_->abort();
            loop_.quit();
        }
    }

    QNetworkReply* reply_;
    const DeltaHandler& onDelta_;
    QString text_;
    bool ended_ = false;          // "[DONE]" was read
    std::exception_ptr failure_;  // a limit passed, or thrown by onDelta
    QByteArray errorBody_;
    QByteArray pending_;          // received bytes not yet taken as lines
    qsizetype received_ = 0;
    DeltaFinder finder_;
    QEventLoop loop_;
};

} // namespace

const QString msgServerFailed = QStringLiteral("تعذّر تشغيل المحرّك المحلي");
const QString msgReplyStopped = QStringLiteral("أوقفتَ الكتابة");

QString chat(const QString& system, const QString& user, int maxTokens, const DeltaHandler& onDelta)
{
    // One manager for the health probe and the request: the request then
    // reuses the probe's connection.
    const std::unique_ptr<QNetworkAccessManager> manager = loopbackManager();
    if (!ensureServer(*manager))
        throw LLMError::server(msgServerFailed);

    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/chat/completions").arg(port())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(kChatInactivityMs);
    ChatStream stream(manager->post(request, requestBody(system, user, maxTokens)), onDelta);
    stream.read();
    return stream.result();
}

void stopReply()
{
    std::lock_guard lock(ChatStream::Reading::mutex);
    if (ChatStream::Reading::readings.empty())
        return;
    ChatStream* stream = ChatStream::Reading::readings.back();
    // Run on the reading thread by its event loop; dropped with the reply
    // when the reading ended first.
    QMetaObject::invokeMethod(
        stream->reply_, [stream] { stream->stop(); }, Qt::QueuedConnection);
}

QString replyOf(QString streamed)
{
    const qsizetype think = streamed.indexOf(thinkEnd);
    if (think >= 0)
        streamed = streamed.mid(think + thinkEnd.size());
    return streamed.trimmed();
}

namespace Testing {
void setStreamLimits(const StreamLimits& streamLimits)
{
    limits = streamLimits;
}
} // namespace Testing

} // namespace quorvel::LocalLLM
