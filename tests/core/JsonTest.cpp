#include "core/Json.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Pd::Json::Kind;
using Pd::Json::Parser;
using Pd::Json::Value;

Value Read(std::wstring_view text)
{
    auto value = Parser(text).Parse();
    EXPECT_TRUE(value.has_value()) << (value ? std::string()
                                             : std::string(value.error().begin(), value.error().end()));
    return value.value_or(Value());
}

std::wstring Written(const Value& value)
{
    std::wstring out;
    Pd::Json::Write(value, 0, out);
    return out;
}

std::wstring Nested(int depth, std::wstring_view innermost)
{
    return std::wstring(static_cast<std::size_t>(depth), L'[') + std::wstring(innermost) +
           std::wstring(static_cast<std::size_t>(depth), L']');
}

TEST(JsonReader, ReadsEveryKindAndKeepsTheSourceTextOfNumbers)
{
    Value value = Read(L" {\"a\": [true, false, null, -1.5e+3, \"x\", 007], \"b\": {}} ");
    ASSERT_EQ(value.kind, Kind::Object);
    const auto& items = value.Member(L"a").Items();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].AsBool(), true);
    EXPECT_EQ(items[1].AsBool(), false);
    EXPECT_EQ(items[2].kind, Kind::Null);
    EXPECT_EQ(items[3].kind, Kind::Number);
    EXPECT_EQ(items[3].text, L"-1.5e+3");
    EXPECT_EQ(items[4].text, L"x");
    EXPECT_EQ(items[5].text, L"007");
    EXPECT_EQ(items[5].AsUInt64(), 7u);
    ASSERT_NE(value.Member(L"b").members, nullptr);
    EXPECT_TRUE(value.Member(L"b").members->empty());
}

TEST(JsonReader, RefusesBrokenDocumentsWithPositionedErrors)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L"value expected (line 1, column 1)"},
        {L"   ", L"value expected (line 1, column 4)"},
        {L"{\n  \"a\" 1}", L"':' expected (line 2, column 7)"},
        {L"[1,\r\n 2 3]", L"',' or ']' expected (line 2, column 4)"},
        {L"[1,]", L"value expected (line 1, column 4)"},
        {L"{\"a\":1,}", L"member name expected (line 1, column 8)"},
        {L"{\"a\":1", L"',' or '}' expected (line 1, column 7)"},
        {L"truex", L"unexpected text after the value (line 1, column 5)"},
        {L"1 2", L"unexpected text after the value (line 1, column 3)"},
        // Numbers need ASCII digits where the grammar says so.
        {L"-", L"digit expected (line 1, column 2)"},
        {L"1.", L"digit expected (line 1, column 3)"},
        {L"1e+", L"digit expected (line 1, column 4)"},
        {L"+1", L"value expected (line 1, column 1)"},
        {L".5", L"value expected (line 1, column 1)"},
        {L"\u0661", L"value expected (line 1, column 1)"},
        // Strings.
        {L"\"abc", L"unterminated string (line 1, column 5)"},
        {L"\"abc\\", L"unterminated string (line 1, column 6)"},
        {L"\"a\tb\"", L"control character in a string (line 1, column 4)"},
        {L"\"\\x\"", L"bad escape (line 1, column 4)"},
        {L"\"\\u12", L"incomplete \\u escape (line 1, column 4)"},
        {L"\"\\u12\" ", L"bad \\u escape (line 1, column 7)"},
        // 65 nested containers are the most; a value inside them is one level too deep as well.
        {Nested(66, L""), L"nested too deeply (line 1, column 66)"},
        {Nested(65, L"1"), L"nested too deeply (line 1, column 66)"},
    };
    for (const auto& [text, error] : cases)
    {
        auto value = Parser(text).Parse();
        ASSERT_FALSE(value) << std::string(text.begin(), text.end());
        EXPECT_EQ(value.error(), L"JSON: " + error);
    }
    EXPECT_EQ(Read(Nested(65, L"")).kind, Kind::Array);
}

TEST(JsonReader, DecodesEscapesWithoutCombiningSurrogatesAndLetsTheLastRepeatedNameWin)
{
    EXPECT_EQ(Read(L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\u00E9\"").text,
              std::wstring(L"\"\\/\b\f\n\r\t") + wchar_t(0xE9) + wchar_t(0xE9));
    std::wstring units = Read(L"\"\\ud83d\\ude00\\ud800\\u0000\"").text;
    EXPECT_EQ(units, (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00), wchar_t(0xD800), wchar_t(0)}));

    Value value = Read(L"{\"a\": 1, \"b\": 3, \"a\": 2}");
    ASSERT_EQ(value.members->size(), 2u);
    EXPECT_EQ(value.Member(L"a").text, L"2");
}

TEST(JsonValue, AsUInt64AcceptsExactlyTheUnsigned64BitRange)
{
    EXPECT_EQ(Read(L"18446744073709551615").AsUInt64(), 18446744073709551615ull);
    EXPECT_EQ(Read(L"0").AsUInt64(), 0u);
    for (const wchar_t* text :
         {L"18446744073709551616", L"99999999999999999999", L"-1", L"1e3", L"1.50", L"\"12\""})
        EXPECT_FALSE(Read(text).AsUInt64().has_value()) << text;
}

TEST(JsonValue, LookupsOfTheWrongKindGiveTheFallback)
{
    Value object = Read(L"{\"name\": \"x\", \"size\": 5, \"Name\": \"y\"}");
    EXPECT_EQ(object.RequiredText(L"name"), L"x");
    EXPECT_EQ(object.RequiredText(L"size").error(), L"\"size\" (text) is missing");
    EXPECT_EQ(object.RequiredText(L"other").error(), L"\"other\" (text) is missing");
    EXPECT_EQ(object.TextOr(L"NAME", L"fallback"), L"fallback");
    EXPECT_EQ(object.TextOr(L"size", L"fallback"), L"fallback");
    EXPECT_EQ(Read(L"[1]").Member(L"name").kind, Kind::Null);
    EXPECT_TRUE(object.Items().empty());
    EXPECT_FALSE(Read(L"1").AsBool().has_value());
}

TEST(JsonWriter, WritesIndentedWithMembersInUnsignedUnitOrder)
{
    Value root = Value::MakeObject();
    (*root.members)[std::wstring(1, wchar_t(0xE9))] = Value::MakeNumber(2);
    (*root.members)[L"Z"] = Value::MakeNumber(1);
    Value list = Value::MakeArray();
    list.items->push_back(Value::MakeString(L"x"));
    list.items->push_back(Value::MakeBool(true));
    list.items->push_back(Value::MakeArray());
    list.items->push_back(Value::MakeObject());
    list.items->push_back(Value());
    list.items->push_back(Read(L"1.50")); // not a whole number: written as 0
    (*root.members)[L"a"] = list;
    EXPECT_EQ(Written(root), std::wstring(L"{\n"
                                          L"  \"Z\": 1,\n"
                                          L"  \"a\": [\n"
                                          L"    \"x\",\n"
                                          L"    true,\n"
                                          L"    [],\n"
                                          L"    {},\n"
                                          L"    null,\n"
                                          L"    0\n"
                                          L"  ],\n"
                                          L"  \"") +
                                 wchar_t(0xE9) + L"\": 2\n}");
}

TEST(JsonWriter, QuotesControlCharactersQuotesAndBackslashes)
{
    std::wstring out;
    Pd::Json::AppendQuoted(std::wstring(L"a\"b\\c/d\t\n\r") + wchar_t(0x08) + wchar_t(0x1F) + wchar_t(0x7F),
                           out);
    EXPECT_EQ(out, std::wstring(L"\"a\\\"b\\\\c/d\\t\\n\\r\\u0008\\u001f") + wchar_t(0x7F) + L"\"");
}

} // namespace
