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

std::wstring ErrorOf(std::wstring_view text)
{
    auto value = Parser(text).Parse();
    EXPECT_FALSE(value.has_value());
    return value ? std::wstring() : value.error();
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

TEST(JsonReader, ReadsEveryKind)
{
    Value value = Read(L" {\"a\": [true, false, null, -1.5e+3, \"x\"], \"b\": {}} ");
    ASSERT_EQ(value.kind, Kind::Object);
    const auto& items = value.Member(L"a").Items();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].AsBool(), true);
    EXPECT_EQ(items[1].AsBool(), false);
    EXPECT_EQ(items[2].kind, Kind::Null);
    EXPECT_EQ(items[3].kind, Kind::Number);
    EXPECT_EQ(items[3].text, L"-1.5e+3");
    EXPECT_EQ(items[4].text, L"x");
    EXPECT_EQ(value.Member(L"b").kind, Kind::Object);
    ASSERT_NE(value.Member(L"b").members, nullptr);
    EXPECT_TRUE(value.Member(L"b").members->empty());
}

TEST(JsonReader, KeepsTheSourceTextOfNumbers)
{
    Value number = Read(L"1.50");
    EXPECT_EQ(number.text, L"1.50");
    EXPECT_FALSE(number.AsUInt64().has_value());
    EXPECT_EQ(Written(number), L"0");
    EXPECT_EQ(Read(L"007").text, L"007");
    EXPECT_EQ(Read(L"007").AsUInt64(), 7u);
}

TEST(JsonReader, ReportsPositionedErrors)
{
    EXPECT_EQ(ErrorOf(L""), L"JSON: value expected (line 1, column 1)");
    EXPECT_EQ(ErrorOf(L"   "), L"JSON: value expected (line 1, column 4)");
    EXPECT_EQ(ErrorOf(L"{\n  \"a\" 1}"), L"JSON: ':' expected (line 2, column 7)");
    EXPECT_EQ(ErrorOf(L"[1,\r\n 2 3]"), L"JSON: ',' or ']' expected (line 2, column 4)");
    EXPECT_EQ(ErrorOf(L"[1,]"), L"JSON: value expected (line 1, column 4)");
    EXPECT_EQ(ErrorOf(L"{\"a\":1,}"), L"JSON: member name expected (line 1, column 8)");
    EXPECT_EQ(ErrorOf(L"{\"a\":1"), L"JSON: ',' or '}' expected (line 1, column 7)");
    EXPECT_EQ(ErrorOf(L"{"), L"JSON: member name expected (line 1, column 2)");
    EXPECT_EQ(ErrorOf(L"truex"), L"JSON: unexpected text after the value (line 1, column 5)");
    EXPECT_EQ(ErrorOf(L"1 2"), L"JSON: unexpected text after the value (line 1, column 3)");
}

TEST(JsonReader, NumbersNeedDigitsWhereTheGrammarSaysSo)
{
    EXPECT_EQ(ErrorOf(L"-"), L"JSON: digit expected (line 1, column 2)");
    EXPECT_EQ(ErrorOf(L"1."), L"JSON: digit expected (line 1, column 3)");
    EXPECT_EQ(ErrorOf(L"1e+"), L"JSON: digit expected (line 1, column 4)");
    EXPECT_EQ(ErrorOf(L"+1"), L"JSON: value expected (line 1, column 1)");
    EXPECT_EQ(ErrorOf(L".5"), L"JSON: value expected (line 1, column 1)");
    // Digits of other scripts are no JSON digits.
    EXPECT_EQ(ErrorOf(L"\u0661"), L"JSON: value expected (line 1, column 1)");
}

TEST(JsonReader, DepthLimitAllows65NestedArraysButNot66)
{
    Value deep = Read(Nested(65, L""));
    EXPECT_EQ(deep.kind, Kind::Array);
    EXPECT_EQ(ErrorOf(Nested(66, L"")), L"JSON: nested too deeply (line 1, column 66)");
    // A value inside 65 containers is one level too deep as well.
    EXPECT_EQ(ErrorOf(Nested(65, L"1")), L"JSON: nested too deeply (line 1, column 66)");
}

TEST(JsonReader, TheLastOfRepeatedMemberNamesWins)
{
    Value value = Read(L"{\"a\": 1, \"b\": 3, \"a\": 2}");
    ASSERT_EQ(value.members->size(), 2u);
    EXPECT_EQ(value.Member(L"a").text, L"2");
}

TEST(JsonReader, DecodesEscapes)
{
    EXPECT_EQ(Read(L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"").text, L"\"\\/\b\f\n\r\t");
    EXPECT_EQ(Read(L"\"\\u00e9\"").text, std::wstring(1, wchar_t(0xE9)));
    EXPECT_EQ(Read(L"\"\\u00E9\"").text, std::wstring(1, wchar_t(0xE9)));
    // Surrogates are neither combined nor checked; the escape of 0 gives a zero unit.
    std::wstring pair = Read(L"\"\\ud83d\\ude00\\ud800\\u0000\"").text;
    ASSERT_EQ(pair.size(), 4u);
    EXPECT_EQ(pair[0], wchar_t(0xD83D));
    EXPECT_EQ(pair[1], wchar_t(0xDE00));
    EXPECT_EQ(pair[2], wchar_t(0xD800));
    EXPECT_EQ(pair[3], wchar_t(0));
}

TEST(JsonReader, RefusesBrokenStrings)
{
    EXPECT_EQ(ErrorOf(L"\"abc"), L"JSON: unterminated string (line 1, column 5)");
    EXPECT_EQ(ErrorOf(L"\"abc\\"), L"JSON: unterminated string (line 1, column 6)");
    EXPECT_EQ(ErrorOf(L"\"a\tb\""), L"JSON: control character in a string (line 1, column 4)");
    EXPECT_EQ(Read(L"\"a\\tb\"").text, L"a\tb");
    EXPECT_EQ(ErrorOf(L"\"\\x\""), L"JSON: bad escape (line 1, column 4)");
    // Only two hex digits: incomplete only when the text ends within the four units.
    EXPECT_EQ(ErrorOf(L"\"\\u12"), L"JSON: incomplete \\u escape (line 1, column 4)");
    EXPECT_EQ(ErrorOf(L"\"\\u12\" "), L"JSON: bad \\u escape (line 1, column 7)");
}

TEST(JsonValue, AsUInt64AcceptsExactlyTheUnsigned64BitRange)
{
    EXPECT_EQ(Read(L"18446744073709551615").AsUInt64(), 18446744073709551615ull);
    EXPECT_FALSE(Read(L"18446744073709551616").AsUInt64().has_value());
    EXPECT_FALSE(Read(L"99999999999999999999").AsUInt64().has_value());
    EXPECT_FALSE(Read(L"-1").AsUInt64().has_value());
    EXPECT_FALSE(Read(L"1e3").AsUInt64().has_value());
    EXPECT_FALSE(Read(L"\"12\"").AsUInt64().has_value());
    EXPECT_EQ(Read(L"0").AsUInt64(), 0u);
}

TEST(JsonValue, LookupsWorkOnEveryKind)
{
    Value object = Read(L"{\"name\": \"x\", \"size\": 5, \"Name\": \"y\"}");
    EXPECT_EQ(object.RequiredText(L"name"), L"x");
    EXPECT_EQ(object.RequiredText(L"size").error(), L"\"size\" (text) is missing");
    EXPECT_EQ(object.RequiredText(L"other").error(), L"\"other\" (text) is missing");
    EXPECT_EQ(object.TextOr(L"NAME", L"fallback"), L"fallback");
    EXPECT_EQ(object.TextOr(L"size", L"fallback"), L"fallback");

    Value array = Read(L"[1]");
    EXPECT_EQ(array.Member(L"name").kind, Kind::Null);
    EXPECT_TRUE(object.Items().empty());
    EXPECT_EQ(array.Items().size(), 1u);
    EXPECT_FALSE(Read(L"1").AsBool().has_value());
}

TEST(JsonValue, CopiesShareTheirContainers)
{
    Value array = Pd::Json::Value::MakeArray();
    Value copy = array;
    array.items->push_back(Value::MakeNumber(1));
    EXPECT_EQ(copy.Items().size(), 1u);
}

TEST(JsonWriter, WritesIndentedWithMembersInNameOrder)
{
    Value root = Value::MakeObject();
    (*root.members)[L"b"] = Value::MakeNumber(2);
    Value list = Value::MakeArray();
    list.items->push_back(Value::MakeString(L"x"));
    list.items->push_back(Value::MakeBool(true));
    list.items->push_back(Value::MakeArray());
    list.items->push_back(Value::MakeObject());
    list.items->push_back(Value());
    (*root.members)[L"a"] = list;
    EXPECT_EQ(Written(root), L"{\n"
                             L"  \"a\": [\n"
                             L"    \"x\",\n"
                             L"    true,\n"
                             L"    [],\n"
                             L"    {},\n"
                             L"    null\n"
                             L"  ],\n"
                             L"  \"b\": 2\n"
                             L"}");
}

TEST(JsonWriter, OrdersNamesByUnsignedUnits)
{
    Value root = Value::MakeObject();
    (*root.members)[std::wstring(1, wchar_t(0xE9))] = Value::MakeNumber(1);
    (*root.members)[L"Z"] = Value::MakeNumber(2);
    (*root.members)[L"a"] = Value::MakeNumber(3);
    std::vector<std::wstring> names;
    for (const auto& [name, value] : *root.members)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Z", L"a", std::wstring(1, wchar_t(0xE9))}));
}

TEST(JsonWriter, QuotesControlCharactersQuotesAndBackslashes)
{
    std::wstring out;
    Pd::Json::AppendQuoted(std::wstring(L"a\"b\\c/d\t\n\r") + wchar_t(0x08) + wchar_t(0x1F) + wchar_t(0x7F),
                           out);
    EXPECT_EQ(out, std::wstring(L"\"a\\\"b\\\\c/d\\t\\n\\r\\u0008\\u001f") + wchar_t(0x7F) + L"\"");
}

TEST(JsonWriter, WrittenDocumentsReadBackTheSame)
{
    std::wstring source = L"{\"list\": [1, \"two\\n\", {\"x\": null}], \"flag\": false, \"n\": 42}";
    Value first = Read(source);
    std::wstring once = Written(first);
    Value second = Read(once);
    EXPECT_EQ(Written(second), once);
    EXPECT_EQ(second.Member(L"list").Items()[1].text, L"two\n");
}

} // namespace
