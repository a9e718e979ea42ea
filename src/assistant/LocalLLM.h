#pragma once

// The local language model: which GGUF file it is and the catalogue model the
// application offers for download.

#include <QString>

#include <cstdint>
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
class LLMError : public std::runtime_error {
public:
    enum class Kind { server, disk };

    static LLMError server(const QString& message) { return {Kind::server, message}; }
    static LLMError disk(const QString& message) { return {Kind::disk, message}; }

    Kind kind() const { return kind_; }
    const QString& message() const { return message_; }
    QString description() const { return message_; }

private:
    LLMError(Kind kind, const QString& message)
        : std::runtime_error(message.toStdString()), kind_(kind), message_(message) {}

    Kind kind_;
    QString message_;
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

} // namespace quorvel::LocalLLM
