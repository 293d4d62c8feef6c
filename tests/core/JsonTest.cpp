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
        // A surrogate half, escaped or not, must come with its other half.
        {L"\"\\ud800\"", L"lone surrogate in a string (line 1, column 9)"},
        {L"\"\\ud800\\n\"", L"lone surrogate in a string (line 1, column 10)"},
        {L"\"\\ud800\\u0041\"", L"lone surrogate in a string (line 1, column 14)"},
        {L"\"a\\udc00\"", L"lone surrogate in a string (line 1, column 9)"},
        {std::wstring(L"\"") + wchar_t(0xDC00) + L"\"", L"lone surrogate in a string (line 1, column 3)"},
        {std::wstring(L"\"") + wchar_t(0xD800) + L"x\"", L"lone surrogate in a string (line 1, column 4)"},
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
    std::wstring units = Read(L"\"\\ud83d\\ude00\\u0000\"").text;
    EXPECT_EQ(units, (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00), wchar_t(0)}));
    EXPECT_EQ(Read(std::wstring(L"[\"") + wchar_t(0xD83D) + L"\\ude00\"]").Items().at(0).text.size(), 2u);

    Value value = Read(L"{\"a\": 1, \"b\": 3, \"a\": 2}");
    ASSERT_EQ(value.members->size(), 2u);
    EXPECT_EQ(value.Member(L"a").text, L"2");
}

TEST(JsonReader, Utf8IsDecodedStrictlyAndBadBytesAreRefusedByPosition)
{
    auto text = Pd::Json::ParseUtf8("\xEF\xBB\xBF\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"");
    ASSERT_TRUE(text) << std::string(text.error().begin(), text.error().end());
    EXPECT_EQ(text->text, (std::wstring{wchar_t(0xE9), wchar_t(0x20AC), wchar_t(0xD83D), wchar_t(0xDE00)}));
    const std::pair<std::string, std::size_t> cases[] = {
        {"\"\xFF\"", 2},
        {"\"a\xC3\"", 3},
        {"\"\xC0\xAF\"", 2},         // overlong
        {"\"\xED\xA0\x80\"", 2},     // an encoded surrogate
        {"\"\xF4\x90\x80\x80\"", 2}, // beyond U+10FFFF
        {"\"\xE2\x82\"", 2},
        {"\xEF\xBB", 1},
    };
    for (const auto& [bytes, position] : cases)
    {
        auto value = Pd::Json::ParseUtf8(bytes);
        ASSERT_FALSE(value) << bytes;
        EXPECT_EQ(value.error(), L"JSON: invalid UTF-8 (byte " + std::to_wstring(position) + L")");
    }
}

TEST(JsonReader, MebibyteStringsReadInOnePass)
{
    const std::string long2Byte = "\"" + std::string(1 << 20, 'x') + "\xC3\xA9\"";
    EXPECT_EQ(Pd::Json::ParseUtf8(long2Byte).value_or(Value()).text.size(), (1u << 20) + 1);
    std::wstring escapes = L"\"";
    for (int i = 0; i < (1 << 20) / 12; ++i)
        escapes += L"\\ud83d\\ude00";
    EXPECT_EQ(Read(escapes + L"\"").text.size(), static_cast<std::size_t>((1 << 20) / 12 * 2));
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
