// A small JSON model: values that keep numbers as their source text, a strict reader with a depth
// limit and positioned error texts, and a pretty-printing writer. Text is UTF-16 throughout;
// callers convert files from and to UTF-8.
#pragma once

#include "core/Result.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Json
{

enum class Kind : std::int32_t
{
    Null = 0,
    Bool = 1,
    Number = 2,
    String = 3,
    Array = 4,
    Object = 5,
};

// Member names ordered unit by unit as unsigned 16-bit numbers.
struct NameOrder
{
    bool operator()(const std::wstring& a, const std::wstring& b) const noexcept;
};

struct Value;
using ItemList = std::vector<Value>;
using MemberMap = std::map<std::wstring, Value, NameOrder>;

// Copies share their items and members.
struct Value
{
    Kind kind = Kind::Null;
    bool flag = false;                  // a Bool's value
    std::wstring text;                  // a String's contents, or a Number's exact source text
    std::shared_ptr<ItemList> items;    // set for an Array
    std::shared_ptr<MemberMap> members; // set for an Object

    static Value MakeBool(bool value);
    static Value MakeNumber(std::uint64_t value);
    static Value MakeString(std::wstring value);
    static Value MakeArray();
    static Value MakeObject();

    // The member's value, or a static Null for an absent member or a value that is no Object.
    const Value& Member(std::wstring_view name) const;
    // The array's items, or an empty list for a value that is no Array.
    const ItemList& Items() const;
    // A Number of the digits 0-9 only that fits in 64 bits.
    std::optional<std::uint64_t> AsUInt64() const;
    std::optional<bool> AsBool() const;
    // The member's text when it is a String, else the error "\"<name>\" (text) is missing".
    Result<std::wstring> RequiredText(std::wstring_view name) const;
    std::wstring TextOr(std::wstring_view name, std::wstring fallback) const;
};

// Reads one JSON document. Never throws for bad input: a failure is "JSON: <message> (line <n>,
// column <n>)", counted in UTF-16 units, and nothing of a partly read document is returned.
class Parser
{
public:
    static constexpr int MaxDepth = 64;

    explicit Parser(std::wstring_view text) : text_(text) {}

    Result<Value> Parse();

private:
    Result<Value> ParseValue(int depth);
    Result<Value> ParseNumber();
    Result<Value> ParseString();
    Result<Value> ParseArray(int depth);
    Result<Value> ParseObject(int depth);
    void SkipBlanks();
    bool AtEnd() const { return position_ >= text_.size(); }
    std::unexpected<std::wstring> Error(std::wstring_view message) const;

    std::wstring_view text_;
    std::size_t position_ = 0;
};

// Reads a UTF-8 document after an optional byte-order mark. Bytes that are not UTF-8 (overlong
// forms and encoded surrogates included) are refused, never replaced: "JSON: invalid UTF-8 (byte
// <n>)", counted from 1 after the mark.
Result<Value> ParseUtf8(std::string_view bytes);

// Appends the value's text: two more spaces of indent per level, members in name order, no line
// end after the top-level value. Numbers are written as unsigned integers ("0" for any other).
void Write(const Value& value, int indent, std::wstring& out);

// Appends the text as a JSON string, quotes included.
void AppendQuoted(std::wstring_view text, std::wstring& out);

} // namespace Pd::Json
