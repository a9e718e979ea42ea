#include "mcp/MCPServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <streambuf>
#include <string>
#include <vector>

using quorvel::MCPServer;
using Value = MCPServer::Value;

namespace {

Value parse(const std::string& text)
{
    return *quorvel::Json::parse(text);
}

// Replies written by handleLine(), parsed, one per line.
class Captured : public ::testing::Test {
protected:
    void SetUp() override
    {
        MCPServer::setLibrary(nullptr);
        saved = MCPServer::output();
        MCPServer::output() = [this](const std::string& line) { lines.push_back(line); };
    }
    void TearDown() override { MCPServer::output() = saved; }

    std::vector<Value> feed(const std::string& line)
    {
        lines.clear();
        MCPServer::handleLine(line);
        std::vector<Value> replies;
        for (const std::string& l : lines) {
            EXPECT_EQ(l.back(), '\n');
            EXPECT_EQ(l.find('\n'), l.size() - 1) << "one reply per line";
            replies.push_back(parse(l));
        }
        return replies;
    }

    std::vector<std::string> lines;
    std::function<void(const std::string&)> saved;
};

void expectError(const Value& reply, int code, const std::string& message, const Value& id)
{
    EXPECT_EQ(reply.at("jsonrpc"), "2.0");
    EXPECT_EQ(reply.at("id"), id);
    EXPECT_EQ(reply.at("error").at("code"), code);
    EXPECT_EQ(reply.at("error").at("message"), message);
}

std::string toolText(const Value& reply)
{
    const Value& content = reply.at("result").at("content");
    EXPECT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0].at("type"), "text");
    return content[0].at("text").get<std::string>();
}

// An input stream that makes its text as it is read: a head, `fill` bytes
// of one character, then a tail, without ever holding the whole of it.
class GeneratedInput : public std::streambuf {
public:
    GeneratedInput(std::string head, size_t fill, std::string tail)
        : head_(std::move(head)), fill_(fill), tail_(std::move(tail))
    {
    }

protected:
    int_type underflow() override
    {
        size_t n = 0;
        while (n < sizeof(chunk_) && (pos_ < head_.size() + fill_ + tail_.size())) {
            if (pos_ < head_.size())
                chunk_[n] = head_[pos_];
            else if (pos_ < head_.size() + fill_)
                chunk_[n] = 'a';
            else
                chunk_[n] = tail_[pos_ - head_.size() - fill_];
            ++n;
            ++pos_;
        }
        if (n == 0)
            return traits_type::eof();
        setg(chunk_, chunk_, chunk_ + n);
        return traits_type::to_int_type(chunk_[0]);
    }

private:
    std::string head_;
    size_t fill_;
    std::string tail_;
    size_t pos_ = 0;
    char chunk_[1 << 16];
};

} // namespace

TEST_F(Captured, framingErrorsCarryNullIds)
{
    struct Case {
        std::string line;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"[]", -32600, "Invalid Request"},
        {"42", -32600, "Invalid Request"},
        {"{", -32700, "Parse error"},
        {"1, 2", -32700, "Parse error"},
        // Invalid UTF-8 inside a string is not JSON.
        {"{\"id\":1,\"method\":\"\xff\xfe\"}", -32700, "Parse error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto replies = feed(c.line);
        ASSERT_EQ(replies.size(), 1u);
        expectError(replies[0], c.code, c.message, nullptr);
    }
}

TEST_F(Captured, deepNestingIsRefusedWithoutExhaustingTheStack)
{
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    auto replies = feed(deep);
    ASSERT_EQ(replies.size(), 1u);
    expectError(replies[0], -32700, "Parse error", nullptr);

    // Brackets inside strings do not count as nesting.
    replies = feed("{\"id\":\"" + std::string(5000, '[') + "\",\"method\":\"ping\"}");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].at("id"), std::string(5000, '['));
}

TEST_F(Captured, batchesAnswerTheirRequestsInOrderOnOneLine)
{
    EXPECT_TRUE(feed(R"([{"method":"ping"},{"method":"notifications/initialized"}])").empty());

    auto replies = feed(R"([{"id":1,"method":"ping"},{"method":"ping"},{"id":2,"method":"ping"}])");
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_TRUE(replies[0].is_array());
    ASSERT_EQ(replies[0].size(), 2u);
    EXPECT_EQ(replies[0][0].at("id"), 1);
    EXPECT_EQ(replies[0][1].at("id"), 2);

    replies = feed(R"([5, {"id":3}])");
    ASSERT_EQ(replies.size(), 1u);
    expectError(replies[0][0], -32600, "Invalid Request", nullptr);
    expectError(replies[0][1], -32600, "Invalid Request", 3);
}

TEST_F(Captured, anOverlongLineIsRefusedAndTheNextLineAnswered)
{
    // A well-formed request of 100 MB: refused unread, then the next line served.
    GeneratedInput source("{\"id\":1,\"method\":\"ping\",\"pad\":\"", 100u << 20,
                          "\"}\r\n{\"id\":2,\"method\":\"ping\"}");
    std::istream in(&source);
    lines.clear();
    MCPServer::serve(in);
    ASSERT_EQ(lines.size(), 2u);
    expectError(parse(lines[0]), -32600, "Invalid Request", nullptr);
    EXPECT_EQ(parse(lines[1]), parse(R"({"jsonrpc":"2.0","id":2,"result":{}})"));

    // A line just within the bound is read as usual.
    const std::string head = "{\"id\":3,\"method\":\"ping\",\"pad\":\"";
    GeneratedInput fits(head, MCPServer::maxLineBytes - head.size() - 2, "\"}\n");
    std::istream fitting(&fits);
    lines.clear();
    MCPServer::serve(fitting);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(parse(lines[0]).at("id"), 3);
}

TEST_F(Captured, anOversizedBatchGetsOneErrorAndNoneOfItsReplies)
{
    const auto batchOf = [](size_t n) {
        std::string line = "[";
        for (size_t i = 0; i < n; ++i)
            line += (i ? "," : "") + std::string("{\"id\":") + std::to_string(i) + ",\"method\":\"ping\"}";
        return line + "]";
    };
    auto replies = feed(batchOf(1000));
    ASSERT_EQ(replies.size(), 1u);
    expectError(replies[0], -32600, "Invalid Request", nullptr);

    replies = feed(batchOf(MCPServer::maxBatch));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), MCPServer::maxBatch);
}

TEST(MCPServerHandle, idsAreEchoedAndNotificationsAndResponsesIgnored)
{
    MCPServer::setLibrary(nullptr);
    auto reply = MCPServer::handle(parse(R"({"id":null,"method":"ping"})"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, parse(R"({"jsonrpc":"2.0","id":null,"result":{}})"));

    reply = MCPServer::handle(parse(R"({"id":"abc-1","method":"ping"})"));
    EXPECT_EQ(reply->at("id"), "abc-1");
    reply = MCPServer::handle(parse(R"({"id":9007199254740993,"method":"ping"})"));
    EXPECT_EQ(reply->at("id").get<std::int64_t>(), 9007199254740993LL);

    EXPECT_FALSE(MCPServer::handle(parse(R"({"method":"ping"})")));
    EXPECT_FALSE(MCPServer::handle(parse(R"({"method":"unknown/notification"})")));
    EXPECT_FALSE(MCPServer::handle(parse(R"({"id":3,"result":{}})")));
    EXPECT_FALSE(MCPServer::handle(parse(R"({"id":3,"error":{}})")));

    reply = MCPServer::handle(parse(R"({"id":3})"));
    expectError(*reply, -32600, "Invalid Request", 3);
    reply = MCPServer::handle(parse(R"({"id":3,"method":5})"));
    expectError(*reply, -32600, "Invalid Request", 3);
    reply = MCPServer::handle(parse(R"({"id":7,"method":"x"})"));
    expectError(*reply, -32601, "Method not found: x", 7);
    reply = MCPServer::handle(parse(R"("text")"));
    expectError(*reply, -32600, "Invalid Request", nullptr);

    // Ids other than texts, integers and null are refused, never echoed;
    // a client's response carrying one still gets no reply.
    for (const char* id : {R"({"a":1})", "[1]", "1.5", "2.0", "true", "false"}) {
        SCOPED_TRACE(id);
        reply = MCPServer::handle(parse(std::string(R"({"method":"ping","id":)") + id + "}"));
        ASSERT_TRUE(reply);
        expectError(*reply, -32600, "Invalid Request", nullptr);
        reply = MCPServer::handle(parse(std::string(R"({"method":"tools/call","params":{"name":"x"},"id":)") + id + "}"));
        expectError(*reply, -32600, "Invalid Request", nullptr);
        reply = MCPServer::handle(parse(std::string(R"({"id":)") + id + "}"));
        expectError(*reply, -32600, "Invalid Request", nullptr);
        EXPECT_FALSE(MCPServer::handle(parse(std::string(R"({"result":{},"id":)") + id + "}")));
    }
    reply = MCPServer::handle(parse(R"({"id":-4,"method":"ping"})"));
    EXPECT_EQ(reply->at("id"), -4);
}

TEST(MCPServerHandle, initializeAgreesOnAVersionAndDescribesAnEmptyServer)
{
    MCPServer::setLibrary(nullptr);
    for (const char* version : {"2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25"}) {
        const auto reply = MCPServer::handle(
            Value{{"id", 1}, {"method", "initialize"}, {"params", {{"protocolVersion", version}}}});
        EXPECT_EQ(reply->at("result").at("protocolVersion"), version);
    }
    for (const Value& params : {Value{{"protocolVersion", "2099-01-01"}}, Value::object(),
                                Value{{"protocolVersion", 20250618}}}) {
        const auto reply =
            MCPServer::handle(Value{{"id", 1}, {"method", "initialize"}, {"params", params}});
        EXPECT_EQ(reply->at("result").at("protocolVersion"), "2025-06-18");
    }
    // params that are not an object count as empty.
    const auto reply = MCPServer::handle(parse(R"({"id":1,"method":"initialize","params":[1]})"));
    const Value& result = reply->at("result");
    EXPECT_EQ(result.at("protocolVersion"), "2025-06-18");
    EXPECT_EQ(result.at("capabilities"), parse(R"({"tools":{}})"));
    EXPECT_EQ(result.at("serverInfo").at("name"), "quorvel-library");
    EXPECT_EQ(result.at("serverInfo").at("title"), "مكتبة قورفل");
    const std::string instructions = result.at("instructions");
    EXPECT_EQ(instructions.rfind("مكتبة قورفل: مكتبة تراثية عربية محلية على هذا الجهاز تضم 0 كتاب في 0 قسم (", 0), 0u);
    EXPECT_EQ(instructions.substr(instructions.size() - std::string("all_of.").size()), "all_of.");
    EXPECT_NE(instructions.find("\n\nقواعد ملزمة:\n1. "), std::string::npos);
}

TEST(MCPServerHandle, toolsListDescribesEightReadOnlyTools)
{
    const auto reply = MCPServer::handle(parse(R"({"id":1,"method":"tools/list","params":{"cursor":"x"}})"));
    const Value& tools = reply->at("result").at("tools");
    ASSERT_EQ(tools.size(), 8u);
    const char* names[] = {"search_library", "read_page", "get_book", "list_books",
                           "list_categories", "find_author", "library_data", "cite"};
    for (size_t i = 0; i < 8; ++i) {
        const Value& tool = tools[i];
        EXPECT_EQ(tool.at("name"), names[i]);
        EXPECT_EQ(tool.at("annotations"),
                  (Value{{"title", tool.at("title")}, {"readOnlyHint", true}, {"destructiveHint", false},
                         {"idempotentHint", true}, {"openWorldHint", false}}));
        EXPECT_EQ(tool.at("inputSchema").at("additionalProperties"), false);
        EXPECT_EQ(tool.at("inputSchema").at("type"), "object");
        EXPECT_TRUE(tool.at("inputSchema").at("properties").is_object());
    }
    EXPECT_EQ(tools[4].at("inputSchema"),
              parse(R"({"type":"object","properties":{},"additionalProperties":false})"));
    EXPECT_EQ(tools[7].at("inputSchema").at("required"), parse(R"(["book_id","seq"])"));
    EXPECT_EQ(tools[3].at("inputSchema").count("required"), 0u);
    const Value& search = tools[0].at("inputSchema").at("properties");
    EXPECT_EQ(search.at("limit"),
              parse(R"({"type":"integer","description":"أقصى عدد للنتائج","minimum":1,"maximum":100,"default":20})"));
    EXPECT_EQ(search.at("category_id").count("maximum"), 0u);
    EXPECT_EQ(search.at("book_ids").at("items"), parse(R"({"type":"integer","minimum":1})"));
    EXPECT_EQ(tools[1].at("inputSchema").at("properties").at("volume").at("type"),
              parse(R"(["string","integer"])"));
    EXPECT_NE(tools[2].at("description").get<std::string>().find("(300 عنوان"), std::string::npos);
}

TEST(MCPServerHandle, toolCallFramingErrors)
{
    MCPServer::setLibrary(nullptr);
    auto reply = MCPServer::handle(parse(R"({"id":1,"method":"tools/call","params":{"name":5}})"));
    expectError(*reply, -32602, "Invalid params: missing tool name", 1);
    reply = MCPServer::handle(parse(R"({"id":1,"method":"tools/call"})"));
    expectError(*reply, -32602, "Invalid params: missing tool name", 1);
    reply = MCPServer::handle(parse(R"({"id":1,"method":"tools/call","params":{"name":"nope"}})"));
    expectError(*reply, -32602, "Unknown tool: nope", 1);

    reply = MCPServer::handle(parse(R"({"id":2,"method":"tools/call","params":{"name":"list_categories","arguments":[1]}})"));
    EXPECT_EQ(reply->at("result").at("isError"), true);
    EXPECT_EQ(toolText(*reply), "arguments يجب أن تكون كائن JSON.");

    // Argument checks come before the library: without one, a valid call
    // (null arguments count as none) gets the missing-library message.
    reply = MCPServer::handle(parse(R"({"id":3,"method":"tools/call","params":{"name":"list_categories","arguments":null}})"));
    EXPECT_EQ(reply->at("result").at("isError"), true);
    EXPECT_EQ(toolText(*reply).rfind("لم يُعثر على قاعدة المكتبة quorvel.db ولا على كتب في ", 0), 0u);
    EXPECT_NE(toolText(*reply).find("QuorvelLibrary أو عيّن QUORVEL_DB."), std::string::npos);
    reply = MCPServer::handle(parse(R"({"id":4,"method":"tools/call","params":{"name":"list_categories","arguments":{"x":1}}})"));
    EXPECT_EQ(toolText(*reply), "وسيط غير معروف «x». المتاح: لا شيء.");
}

TEST(MCPServerReplies, unwritableValues)
{
    const Value nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(MCPServer::writable(Value{{"a", Value::array({1, nan})}}));
    EXPECT_EQ(MCPServer::compact(Value{{"x", nan}}), "{}");
    EXPECT_EQ(MCPServer::compact(Value{{"b", "a/b"}, {"a", "ع"}}), "{\"a\":\"ع\",\"b\":\"a/b\"}");

    Value deep = 1;
    for (int i = 0; i < MCPServer::maxDepth + 1; ++i)
        deep = Value::array({deep});
    EXPECT_FALSE(MCPServer::writable(deep));
    // Such an id is never echoed into a reply that could not be written.
    const auto reply = MCPServer::handle(Value{{"id", deep}, {"method", "ping"}});
    expectError(*reply, -32600, "Invalid Request", nullptr);
    EXPECT_TRUE(MCPServer::writable(*reply));
}

TEST(MCPServerTimeout, onlyFiniteNumbersWrittenInFull)
{
    EXPECT_EQ(MCPServer::parseTimeout(nullptr), 10);
    EXPECT_EQ(MCPServer::parseTimeout("2.5"), 2.5);
    EXPECT_EQ(MCPServer::parseTimeout("+4"), 4);
    EXPECT_EQ(MCPServer::parseTimeout("0"), 0);
    EXPECT_EQ(MCPServer::parseTimeout("-1"), -1);
    EXPECT_EQ(MCPServer::parseTimeout("1e-3"), 0.001);
    EXPECT_EQ(MCPServer::parseTimeout(".5"), 0.5);
    // The C syntax of a floating-point number includes hexadecimal forms.
    EXPECT_EQ(MCPServer::parseTimeout("0x10"), 16);
    for (const char* bad : {"abc", " 3", "\t3", "3 ", "3\n", "", "nan", "NaN", "inf", "-inf", "infinity",
                            "1e999", "2,5", "+-1", "++1", "0x"})
        EXPECT_EQ(MCPServer::parseTimeout(bad), 10) << bad;
}
