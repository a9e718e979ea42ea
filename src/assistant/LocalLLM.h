#pragma once

// The local language model: which GGUF file it is, the catalogue model the
// application offers for download, the inference server that loads it (a
// child process on the loopback address) and the streamed chat request that
// is the only way the application talks to it.
//
// The server functions and `chat` block their thread and are meant for a
// worker thread (the GUI thread stays free while a model loads). They keep one
// child server for the whole process and take no lock of their own: callers
// ask one question at a time, as the assistant panel and "--ai" do.

#include "core/UserError.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace quorvel::LocalLLM {

// A model the application can download.
struct ModelInfo {
    QString file;         // file name inside the models folder
    QString url;          // absolute download address; empty when none is configured
    QString title;        // Arabic title shown in the model menu
    std::int64_t bytes = 0; // exact size of the file
    QString sha256;       // 64 lowercase hexadecimal digits
};

// A failure of the local model that reaches the user; its description is the
// Arabic message itself.
class LLMError : public UserError {
public:
    enum class Kind { server, disk };

    static LLMError server(const QString& message) { return {Kind::server, message}; }
    static LLMError disk(const QString& message) { return {Kind::disk, message}; }

    Kind kind() const { return kind_; }
    QString description() const { return message(); }

private:
    LLMError(Kind kind, const QString& message) : UserError(message), kind_(kind) {}

    Kind kind_;
};

// Added to a model's size when checking free space before a download.
inline constexpr std::int64_t safetyMargin = 2'000'000'000;

// The model menu's line when this build has no download address for the model.
extern const QString msgNoDownloadSource;

// The models the application offers: one entry. Its address comes from the
// build setting QUORVEL_MODEL_URL and is empty by default, so a default build
// never contacts a host of its own choosing.
const std::vector<ModelInfo>& catalog();

// True when this build has an address to download the catalogue model from.
bool downloadConfigured();

// The "models" folder of the per-user support folder, with no trailing "/".
// Computed once per process and created then; a creation failure is ignored.
QString modelsDir();

// The model file to load, read afresh on every call: none when
// QUORVEL_NO_MODEL is in the environment (whatever its value); else the
// "localModelPath" preference when it names a regular, readable file; else the
// downloaded catalogue model when it is such a file; else none.
std::optional<QString> modelPath();
bool hasModel();

// Lowercase hexadecimal SHA-256 of a file, read in 8 MiB blocks; none when the
// file cannot be opened. A read error ends the digest at what was read.
std::optional<QString> sha256(const QString& filePath);

// Bytes available to the user on the volume of the home folder; 0 when unknown.
std::int64_t freeDiskBytes();

// ---------------------------------------------------------------------------
// The inference server (one child process for the whole process).

// The server executable: the resources' "llama/llama-server" when executable,
// else "llama-server" found on PATH; none otherwise.
std::optional<QString> serverBinary();

// How long a launched server has to answer its health probe.
inline constexpr int startupLimitMs = 60'000;

// What chat() throws, and the assistant says, when no server could be started.
extern const QString msgServerFailed;

// Makes sure a healthy server for the current model runs, launching one when
// needed (a running, healthy server for the same model is reused). Blocks up
// to startupLimitMs while a model loads, probes included; false when there is
// no model, no executable, no free port, the launch fails, the child exits,
// or it does not answer its health probe in that time (then it is stopped).
bool ensureServer();

// False at once when there is no model; otherwise ensureServer().
bool ready();

// Why the last start of a server came to nothing, as the status line says
// it ("لم يُجب خلال ٦٠ ثانية"); empty when the last start succeeded or none
// was tried. Any thread.
QString lastStartFailure();

// True while a server is being started, from its launch until it answers or
// the start fails. Any thread.
bool isStarting();

// Asks the running child to terminate (SIGTERM) and forgets it; returns
// without waiting. The child is still reaped when it exits. Safe to call when
// nothing runs, from any thread.
void stop();

// How many times stop() ended a running child or stopReply() broke off a
// reply, so that a chat broken off can tell a stop the user asked for from a
// failure.
std::uint64_t stopCount();

// The status line and the answer note when a model is chosen but no server
// executable can run it.
extern const QString msgNoServer;

// The port of the most recently launched server; 0 when none was launched.
int port();

// True when the server on port() answers GET /health with status 200 within
// 2 seconds.
bool healthy();

// ---------------------------------------------------------------------------
// Streamed chat.

using DeltaHandler = std::function<void(const QString& piece)>;

// Sends one prompt to the server as a streamed chat-completions request and
// returns the whole reply: the text after the first "</think>" when there is
// one, trimmed of white space and line breaks. `onDelta` receives every
// non-empty piece as it arrives, on the calling thread, before the next line
// is read. Throws LLMError::server when no server can be started or the
// server answers with a status other than 200, a line, the reply or an error
// body passes its bound (StreamLimits) or the reply is not over within its
// overall limit, and Dist::PlatformError with the network's own description
// when the connection fails, is reset or stays silent for 900 seconds.
QString chat(const QString& system, const QString& user, int maxTokens = 1500,
             const DeltaHandler& onDelta = {});

// What chat() throws, as LLMError::server, for a reply stopReply() broke off.
extern const QString msgReplyStopped;

// Breaks off the reply chat() is reading, as a stop the user asked for: the
// server runs on, chat() throws, and stopCount() counts it. Does nothing while
// no reply is being read. Any thread.
void stopReply();

// A reply as chat() returns it from its streamed text: what follows the
// first "</think>" when there is one, trimmed.
QString replyOf(QString streamed);

// What one chat reply may take before it is given up as a failed reply.
struct StreamLimits {
    qsizetype lineBytes = 256 * 1024;        // one stream line
    qsizetype replyBytes = 8 * 1024 * 1024;  // the whole streamed body
    qsizetype errorBytes = 64 * 1024;        // the body of a status other than 200
    int overallMs = 20 * 60 * 1000;          // from the request to the end of the reply
};

// Hooks for tests.
namespace Testing {
// Replaces the limits of later chats; nothing restores the defaults but
// passing StreamLimits{}.
void setStreamLimits(const StreamLimits& limits);
// Replaces the executable search: a path is used as the executable, an empty
// text means no executable; nothing restores the real search.
void setServerBinary(const std::optional<QString>& path);
// Replaces the executable search with `search`, called where the search would
// run; an empty function gives the real search back.
void setServerSearch(std::function<std::optional<QString>()> search);
// Replaces startupLimitMs for later launches; nothing restores it but
// passing startupLimitMs.
void setStartupLimit(int ms);
} // namespace Testing

} // namespace quorvel::LocalLLM
