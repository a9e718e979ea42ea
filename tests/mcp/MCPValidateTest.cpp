#include "mcp/MCPServer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using quorvel::MCPServer;
using Value = MCPServer::Value;

namespace {

const Value& schemaOf(const std::string& name)
{
    for (const MCPServer::Tool& tool : MCPServer::tools()) {
        if (tool.name == name)
            return tool.schema;
    }
    static const Value none;
    ADD_FAILURE() << "no tool " << name;
    return none;
}

std::string check(const std::string& tool, const std::string& args)
{
    const std::optional<QString> message =
        MCPServer::validate(*quorvel::Json::parse(args), schemaOf(tool));
    return message ? message->toStdString() : std::string("OK");
}

} // namespace

TEST(MCPServerValidate, requiredArgumentsInListOrder)
{
    EXPECT_EQ(check("search_library", "{}"), "الوسيط «query» مطلوب.");
    EXPECT_EQ(check("search_library", R"({"query":null})"), "الوسيط «query» مطلوب.");
    EXPECT_EQ(check("search_library", R"({"query":"   "})"), "«query» فارغ.");
    EXPECT_EQ(check("cite", R"({"book_id":1})"), "الوسيط «seq» مطلوب.");
    EXPECT_EQ(check("cite", R"({"seq":1})"), "الوسيط «book_id» مطلوب.");
    // A missing required argument is reported before any faulty one.
    EXPECT_EQ(check("cite", R"({"around":5})"), "الوسيط «book_id» مطلوب.");
}

TEST(MCPServerValidate, integersAreIntegralNumbersNotTextsOrBooleans)
{
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":0})"), "«limit» يجب ألا يقل عن 1.");
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":101})"), "«limit» يجب ألا يزيد على 100.");
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":20.0})"), "OK");
    const std::string wrongType = "«limit» من نوع غير صحيح (المتوقع: integer).";
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":2.5})"), wrongType);
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":"20"})"), wrongType);
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":true})"), wrongType);
    EXPECT_EQ(check("search_library", R"({"query":"الصلاة","limit":1e300})"), wrongType);
    EXPECT_EQ(check("search_library", R"({"query":"x","category_id":-1})"), "OK");
    EXPECT_EQ(check("search_library", R"({"query":"x","category_id":-2})"), "«category_id» يجب ألا يقل عن -1.");
    EXPECT_EQ(check("list_books", R"({"death_before":-500,"death_after":2000})"), "OK");
    EXPECT_EQ(check("list_books", R"({"death_before":-501})"), "«death_before» يجب ألا يقل عن -500.");
    EXPECT_EQ(check("list_books", R"({"death_after":2001})"), "«death_after» يجب ألا يزيد على 2000.");
}

TEST(MCPServerValidate, booleansArraysAndUnknownMembers)
{
    EXPECT_EQ(check("search_library", R"({"query":"x","affix":1})"), "«affix» من نوع غير صحيح (المتوقع: boolean).");
    EXPECT_EQ(check("search_library", R"({"query":"x","affix":true})"), "OK");
    EXPECT_EQ(check("search_library", R"({"query":"x","book_ids":[0]})"), "«book_ids[]» يجب ألا يقل عن 1.");
    EXPECT_EQ(check("search_library", R"({"query":"x","all_of":["a","b","c","d","e","f","g","h","i","j","k"]})"),
              "«all_of» أكثر من 10 عناصر.");
    EXPECT_EQ(check("search_library", R"({"query":"x","all_of":[""]})"), "«all_of[]» فارغ.");
    EXPECT_EQ(check("search_library", R"({"query":"x","all_of":[3]})"),
              "«all_of[]» من نوع غير صحيح (المتوقع: string).");
    EXPECT_EQ(check("search_library", R"({"query":"x","foo":1,"bar":2})"),
              "وسيط غير معروف «bar». المتاح: affix، all_of، any_of، book_ids، category_id، "
              "in_footnotes، limit، morph، none_of، query.");
    EXPECT_EQ(check("search_library", R"({"query":"x","foo":null})"), "OK");
    EXPECT_EQ(check("list_categories", R"({"x":1})"), "وسيط غير معروف «x». المتاح: لا شيء.");

    std::string ids = "[";
    for (int i = 1; i <= 1001; ++i)
        ids += std::to_string(i) + (i < 1001 ? "," : "]");
    EXPECT_EQ(check("search_library", R"({"query":"x","book_ids":)" + ids + "}"),
              "«book_ids» أكثر من 1000 عنصر.");
}

TEST(MCPServerValidate, textOrIntegerUnion)
{
    EXPECT_EQ(check("read_page", R"({"book_id":1,"volume":"2"})"), "OK");
    EXPECT_EQ(check("read_page", R"({"book_id":1,"volume":2})"), "OK");
    EXPECT_EQ(check("read_page", R"({"book_id":1,"volume":-3})"), "OK");
    EXPECT_EQ(check("read_page", R"({"book_id":1,"volume":""})"), "«volume» فارغ.");
    EXPECT_EQ(check("read_page", R"({"book_id":1,"volume":true})"),
              "«volume» من نوع غير صحيح (المتوقع: string أو integer).");
}

TEST(MCPServerValidate, lengthsCountCharactersWithTheirMarks)
{
    // Each letter carries a diacritic: two UTF-16 units, one character.
    QString letters;
    for (int i = 0; i < 200; ++i)
        letters += QStringLiteral("بَ");
    const std::string ok = R"({"query":")" + letters.toStdString() + "\"}";
    EXPECT_EQ(check("search_library", ok), "OK");
    letters += QStringLiteral("بَ");
    EXPECT_EQ(check("search_library", R"({"query":")" + letters.toStdString() + "\"}"),
              "«query» أطول من 200 حرف.");

    // A very long text is refused without being measured whole.
    const std::string huge(10 * 1024 * 1024, 'a');
    EXPECT_EQ(check("search_library", R"({"query":")" + huge + "\"}"), "«query» أطول من 200 حرف.");
}

TEST(MCPServerArgs, typedReads)
{
    MCPServer::Args args;
    args.d = *quorvel::Json::parse(
        R"({"list":["  a ","",5,"b"],"nums":[3,true,2.0,2.5,"4"],"n":7,"s":" 7 ","flag":1,"yes":true,"blank":" "})");
    EXPECT_EQ(args.strs("list"), QStringList({"a", "b"}));
    EXPECT_EQ(args.ints("nums"), QList<std::int64_t>({3, 2}));
    EXPECT_EQ(args.text("n"), QStringLiteral("7"));
    EXPECT_EQ(args.text("s"), QStringLiteral("7"));
    EXPECT_EQ(args.str("n"), std::nullopt);
    EXPECT_EQ(args.str("blank"), std::nullopt);
    EXPECT_EQ(args.boolean("flag"), std::nullopt);
    EXPECT_EQ(args.boolean("yes"), true);
    EXPECT_EQ(args.integer("missing"), std::nullopt);
    EXPECT_TRUE(args.strs("n").isEmpty());

    EXPECT_EQ(MCPServer::intValue(Value(9e15)), std::nullopt);
    EXPECT_EQ(MCPServer::intValue(Value(8999999999999999.0)), 8999999999999999LL);
    EXPECT_EQ(MCPServer::intValue(Value(-8999999999999998LL)), -8999999999999998LL);
    EXPECT_EQ(MCPServer::intValue(Value(9000000000000000ULL)), std::nullopt);
    EXPECT_EQ(MCPServer::intValue(Value(false)), std::nullopt);
}
