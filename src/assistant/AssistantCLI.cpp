#include "assistant/AssistantCLI.h"

#include "assistant/AIAssistant.h"
#include "assistant/Intent.h"
#include "assistant/LocalLLM.h"
#include "core/Json.h"
#include "core/Library.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace quorvel::AssistantCLI {

namespace {

int refuse()
{
    std::printf("%s\n", badArguments);
    std::fflush(stdout);
    return 2;
}

// The keys come out sorted: "extractive", "passages", "text", "tier".
Json::Value answerLine(const AIAnswer& answer)
{
    Json::Value extractive = Json::Value::array();
    for (const ExtractedSentence& s : answer.extractive)
        extractive.push_back(Json::Value::array({Json::utf8(s.text), s.n}));
    Json::Value passages = Json::Value::array();
    for (const Passage& p : answer.passages)
        passages.push_back(Json::Value::array({p.n, p.bookId, p.seq}));
    Json::Value line = Json::Value::object();
    line["extractive"] = std::move(extractive);
    line["passages"] = std::move(passages);
    line["text"] = Json::utf8(answer.text);
    line["tier"] = answer.tier;
    return line;
}

} // namespace

int run(int argc, char** argv, const QString& modeName, const QString& question)
{
    // The model's chat runs an event loop of its own while it streams.
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    const std::optional<QString> path = Library::findExistingDatabase();
    std::shared_ptr<Library> lib = path ? Library::open(*path) : nullptr;
    if (!lib)
        return refuse();
    const std::optional<AIMode> mode = AIMode::fromRawValue(modeName);
    if (!mode) {
        lib.reset();
        return refuse();
    }
    Library::setShared(lib);

    // The automatic mode routes the question as the panel does.
    const Intent::Plan plan =
        *mode == AIMode::automatic ? Intent::plan(question, *mode) : Intent::Plan{*mode, question, question};
    const AIAnswer answer = AIAssistant::run(*lib, plan.question, plan.mode, std::nullopt, [](const QString&) {});
    try {
        const std::string text = Json::dump(answerLine(answer), Json::DumpOptions{.escapeSlash = true});
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    } catch (const std::exception&) {
        // Nothing is printed for an answer that cannot be written; the status stays 0.
    }
    LocalLLM::stop();
    return 0;
}

} // namespace quorvel::AssistantCLI
