// A stand-in for the local inference server, for tests and benchmarks. It
// takes exactly the command line the application launches the real server
// with, listens on 127.0.0.1 only, and reads what to do from the "-m" file,
// so that a test's "model" is a script:
//
//   exit <code>          exit at start (after logging the arguments)
//   loading <ms>         GET /health answers 503 for this long, then 200
//   health <status>      GET /health always answers this status
//   silent               GET /health is taken and never answered
//   status <code>        the chat reply's status; with anything but 200 the
//   body <text>          body lines (joined by line feeds, "\n" escapes) follow,
//                        or, when the script has stream steps, those steps
//   delta <json>         a stream line data: {"choices":[{"delta":{"content":<json>}}]}
//   line <text>          a stream line written as given ("\n" escapes allowed)
//   part <text>          stream bytes written as given, with no line break
//   done                 the stream line "data: [DONE]"
//   pause <ms>           waits before the next stream line
//   reset                resets the connection
//   die                  ends the process
//   repeat <n> <step>    the stream step n times
//   quiet                logs neither probes nor requests (for benchmarks)
//
// Beside the script it appends its arguments ("<script>.args", one JSON array
// a line), its process id ("<script>.pids"), its health probes ("<script>.probes", one status a line) and the
// chat request bodies ("<script>.requests", one a line). The script is read
// again for every chat request. GET /stream sends the chat stream without
// logging, for a baseline reader.

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Step {
    std::string kind; // delta, line, done, pause, reset, die
    std::string text;
    int count = 1;
};

struct Script {
    int exitCode = -1;
    int loadingMs = 0;
    int healthStatus = 0; // 0: follow loadingMs
    bool silent = false;
    int status = 200;
    bool quiet = false;
    std::string body;
    std::vector<Step> steps;
};

std::string scriptPath;
Script script;
Clock::time_point started;
std::mutex logMutex;

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool parseStep(const std::string& keyword, const std::string& rest, Step& step)
{
    step.kind = keyword;
    if (keyword == "delta") {
        const auto content = nlohmann::json::parse(rest, nullptr, false);
        if (content.is_discarded())
            return false;
        step.text = "data: " + nlohmann::json{{"choices", {{{"delta", {{"content", content}}}}}}}.dump();
    } else if (keyword == "line" || keyword == "part") {
        step.text = unescape(rest);
    } else if (keyword == "pause") {
        step.text = rest;
    } else if (keyword != "done" && keyword != "reset" && keyword != "die") {
        return false;
    }
    return true;
}

bool readScript(const std::string& path, Script& out)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string lineText;
    while (std::getline(in, lineText)) {
        if (lineText.empty() || lineText[0] == '#')
            continue;
        const size_t space = lineText.find(' ');
        const std::string keyword = lineText.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : lineText.substr(space + 1);
        if (keyword == "exit") {
            out.exitCode = std::stoi(rest);
        } else if (keyword == "loading") {
            out.loadingMs = std::stoi(rest);
        } else if (keyword == "health") {
            out.healthStatus = std::stoi(rest);
        } else if (keyword == "silent") {
            out.silent = true;
        } else if (keyword == "quiet") {
            out.quiet = true;
        } else if (keyword == "status") {
            out.status = std::stoi(rest);
        } else if (keyword == "body") {
            out.body += (out.body.empty() ? "" : "\n") + unescape(rest);
        } else if (keyword == "repeat") {
            const size_t at = rest.find(' ');
            const size_t next = rest.find(' ', at + 1);
            Step step;
            if (at == std::string::npos
                || !parseStep(rest.substr(at + 1, next - at - 1), next == std::string::npos ? "" : rest.substr(next + 1), step))
                return false;
            step.count = std::stoi(rest.substr(0, at));
            out.steps.push_back(step);
        } else {
            Step step;
            if (!parseStep(keyword, rest, step))
                return false;
            out.steps.push_back(step);
        }
    }
    return true;
}

void appendLog(const std::string& suffix, const std::string& text)
{
    std::lock_guard<std::mutex> lock(logMutex);
    std::ofstream(scriptPath + suffix, std::ios::app) << text << '\n';
}

bool sendAll(int fd, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

std::string reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool sendPlain(int fd, int status, const std::string& body, const std::string& type)
{
    return sendAll(fd, "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\nContent-Type: " + type
                           + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

bool sendChunk(int fd, const std::string& data)
{
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return sendAll(fd, size + data + "\r\n");
}

void resetConnection(int fd)
{
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// Streams the script's steps; false when the connection is over.
bool sendStream(int fd, const Script& script)
{
    if (!sendAll(fd, "HTTP/1.1 " + std::to_string(script.status) + " " + reason(script.status)
                         + "\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n"))
        return false;
    std::string pending;
    auto flush = [&] {
        const bool ok = pending.empty() || sendChunk(fd, pending);
        pending.clear();
        return ok;
    };
    for (const Step& step : script.steps) {
        for (int i = 0; i < step.count; ++i) {
            if (step.kind == "pause") {
                if (!flush())
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.text)));
            } else if (step.kind == "reset") {
                // Cut inside a chunk, the way a dying server leaves a stream.
                flush();
                sendAll(fd, "40\r\ndata: {\"choices\":");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                resetConnection(fd);
                return false;
            } else if (step.kind == "die") {
                flush();
                std::_Exit(0);
            } else {
                pending += step.kind == "done" ? std::string("data: [DONE]\n")
                         : step.kind == "part" ? step.text
                                               : step.text + "\n";
                if (pending.size() >= 16 * 1024 && !flush())
                    return false;
            }
        }
    }
    return flush() && sendAll(fd, "0\r\n\r\n");
}

int healthStatus()
{
    if (script.healthStatus)
        return script.healthStatus;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    return elapsed < script.loadingMs ? 503 : 200;
}

void serve(int fd)
{
    std::string buffer;
    char chunk[65536];
    for (;;) {
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            buffer.append(chunk, size_t(n));
        }
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd + 4);
        std::istringstream request(head);
        std::string method, target;
        request >> method >> target;
        size_t length = 0;
        bool closeAfter = false;
        std::string headerLine;
        std::getline(request, headerLine);
        while (std::getline(request, headerLine)) {
            std::string lower = headerLine;
            for (char& c : lower)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower.rfind("content-length:", 0) == 0)
                length = std::stoul(lower.substr(15));
            if (lower.rfind("connection:", 0) == 0 && lower.find("close") != std::string::npos)
                closeAfter = true;
        }
        while (buffer.size() < length) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ::close(fd);
                return;
            }
            buffer.append(chunk, size_t(n));
        }
        const std::string body = buffer.substr(0, length);
        buffer.erase(0, length);

        bool open = true;
        if (method == "GET" && target == "/health" && script.silent) {
            // Holds the connection, reading and dropping, until the client goes.
            while (::recv(fd, chunk, sizeof chunk, 0) > 0) {
            }
            ::close(fd);
            return;
        }
        if (method == "GET" && target == "/health") {
            const int status = healthStatus();
            if (!script.quiet)
                appendLog(".probes", std::to_string(status));
            open = sendPlain(fd, status, status == 200 ? R"({"status":"ok"})" : R"({"error":"loading"})",
                             "application/json");
        } else if ((method == "POST" && target == "/v1/chat/completions") || (method == "GET" && target == "/stream")) {
            // The reply follows the script as it is now, so a test may change
            // it between two questions to one running server.
            Script current;
            if (!readScript(scriptPath, current))
                current = script;
            if (target != "/stream" && !current.quiet)
                appendLog(".requests", body);
            open = current.status == 200 || !current.steps.empty() ? sendStream(fd, current)
                                         : sendPlain(fd, current.status, current.body, "text/plain");
        } else {
            open = sendPlain(fd, 404, "not found", "text/plain");
        }
        if (!open)
            return;
        if (closeAfter) {
            ::close(fd);
            return;
        }
    }
}

bool isPort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

} // namespace

int main(int argc, char** argv)
{
    started = Clock::now();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::vector<std::string> fixedAt = {"-m", "", "--host", "127.0.0.1", "--port", "", "-c", "8192",
                                               "-ngl", "99", "--no-webui"};
    if (args.size() >= 2 && args[0] == "-m") {
        scriptPath = args[1];
        appendLog(".args", nlohmann::json(args).dump());
        appendLog(".pids", std::to_string(::getpid()));
    }
    bool accepted = args.size() == fixedAt.size() && isPort(args[5]);
    for (size_t i = 0; accepted && i < args.size(); ++i)
        accepted = fixedAt[i].empty() || args[i] == fixedAt[i];
    if (!accepted) {
        std::cerr << "fake-llama-server: unexpected arguments\n";
        return 2;
    }
    if (!readScript(scriptPath, script)) {
        std::cerr << "fake-llama-server: cannot read the script " << scriptPath << "\n";
        return 3;
    }
    if (script.exitCode >= 0)
        return script.exitCode;

    std::signal(SIGPIPE, SIG_IGN);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::stoi(args[5])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 64) != 0) {
        std::perror("fake-llama-server: bind");
        return 1;
    }
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread(serve, fd).detach();
    }
}
