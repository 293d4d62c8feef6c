#include "core/Json.h"

#include "core/Hex.h"

#include <algorithm>
#include <variant>

namespace Pd::Json
{
namespace
{

bool IsBlank(wchar_t unit)
{
    return unit == L' ' || unit == L'\t' || unit == L'\n' || unit == L'\r';
}

bool IsDigit(wchar_t unit)
{
    return unit >= L'0' && unit <= L'9';
}

bool IsHighSurrogate(std::uint32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(std::uint32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

const Value& NullValue()
{
    static const Value null;
    return null;
}

} // namespace

bool NameOrder::operator()(const std::wstring& a, const std::wstring& b) const noexcept
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(y);
    });
}

Value Value::MakeBool(bool value)
{
    Value result;
    result.kind = Kind::Bool;
    result.flag = value;
    return result;
}

Value Value::MakeNumber(std::uint64_t value)
{
    Value result;
    result.kind = Kind::Number;
    result.text = std::to_wstring(value);
    return result;
}

Value Value::MakeString(std::wstring value)
{
    Value result;
    result.kind = Kind::String;
    result.text = std::move(value);
    return result;
}

Value Value::MakeArray()
{
    Value result;
    result.kind = Kind::Array;
    result.items = std::make_shared<ItemList>();
    return result;
}

Value Value::MakeObject()
{
    Value result;
    result.kind = Kind::Object;
    result.members = std::make_shared<MemberMap>();
    return result;
}

const Value& Value::Member(std::wstring_view name) const
{
    if (kind != Kind::Object || !members)
        return NullValue();
    auto found = members->find(std::wstring(name));
    return found == members->end() ? NullValue() : found->second;
}

const ItemList& Value::Items() const
{
    static const ItemList none;
    return kind == Kind::Array && items ? *items : none;
}

std::optional<std::uint64_t> Value::AsUInt64() const
{
    if (kind != Kind::Number || text.empty())
        return std::nullopt;
    std::uint64_t result = 0;
    for (wchar_t unit : text)
    {
        if (!IsDigit(unit))
            return std::nullopt;
        auto digit = static_cast<std::uint64_t>(unit - L'0');
        if (result > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        result = result * 10 + digit;
    }
    return result;
}

std::optional<bool> Value::AsBool() const
{
    if (kind != Kind::Bool)
        return std::nullopt;
    return flag;
}

Result<std::wstring> Value::RequiredText(std::wstring_view name) const
{
    const Value& member = Member(name);
    if (member.kind != Kind::String)
        return Fail(L"\"" + std::wstring(name) + L"\" (text) is missing");
    return member.text;
}

std::wstring Value::TextOr(std::wstring_view name, std::wstring fallback) const
{
    const Value& member = Member(name);
    return member.kind == Kind::String ? member.text : std::move(fallback);
}

std::unexpected<std::wstring> Parser::Error(std::wstring_view message) const
{
    std::size_t end = std::min(position_, text_.size());
    std::wstring_view before = text_.substr(0, end);
    std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), L'\n'));
    std::size_t lastFeed = before.rfind(L'\n');
    std::size_t column = 1 + (lastFeed == std::wstring_view::npos ? end : end - lastFeed - 1);
    return Fail(L"JSON: " + std::wstring(message) + L" (line " + std::to_wstring(line) + L", column " +
                std::to_wstring(column) + L")");
}

void Parser::SkipBlanks()
{
    while (!AtEnd() && IsBlank(text_[position_]))
        ++position_;
}

Result<Value> Parser::Parse()
{
    position_ = 0;
    auto value = ParseValue(0);
    if (!value)
        return value;
    SkipBlanks();
    if (!AtEnd())
        return Error(L"unexpected text after the value");
    return value;
}

Result<Value> Parser::ParseValue(int depth)
{
    if (depth > MaxDepth)
        return Error(L"nested too deeply");
    SkipBlanks();
    if (AtEnd())
        return Error(L"value expected");
    std::wstring_view rest = text_.substr(position_);
    switch (rest.front())
    {
    case L'{':
        return ParseObject(depth);
    case L'[':
        return ParseArray(depth);
    case L'"':
        return ParseString();
    default:
        break;
    }
    if (rest.starts_with(L"true"))
    {
        position_ += 4;
        return Value::MakeBool(true);
    }
    if (rest.starts_with(L"false"))
    {
        position_ += 5;
        return Value::MakeBool(false);
    }
    if (rest.starts_with(L"null"))
    {
        position_ += 4;
        return Value();
    }
    if (rest.front() == L'-' || IsDigit(rest.front()))
        return ParseNumber();
    return Error(L"value expected");
}

Result<Value> Parser::ParseNumber()
{
    std::size_t start = position_;
    auto digits = [this]() -> bool {
        std::size_t first = position_;
        while (!AtEnd() && IsDigit(text_[position_]))
            ++position_;
        return position_ > first;
    };
    if (text_[position_] == L'-')
        ++position_;
    if (!digits())
        return Error(L"digit expected");
    if (!AtEnd() && text_[position_] == L'.')
    {
        ++position_;
        if (!digits())
            return Error(L"digit expected");
    }
    if (!AtEnd() && (text_[position_] == L'e' || text_[position_] == L'E'))
    {
        ++position_;
        if (!AtEnd() && (text_[position_] == L'+' || text_[position_] == L'-'))
            ++position_;
        if (!digits())
            return Error(L"digit expected");
    }
    Value number;
    number.kind = Kind::Number;
    number.text = std::wstring(text_.substr(start, position_ - start));
    return number;
}

Result<Value> Parser::ParseString()
{
    ++position_; // the opening quotation mark
    std::wstring text;
    for (;;)
    {
        if (AtEnd())
            return Error(L"unterminated string");
        // A high surrogate, written or escaped, must be followed directly by a low one: a lone
        // half can become no file name, registry value or UTF-8 text.
        const bool afterHigh = !text.empty() && IsHighSurrogate(text.back());
        wchar_t unit = text_[position_++];
        if (afterHigh && unit != L'\\' && !IsLowSurrogate(unit))
            return Error(L"lone surrogate in a string");
        if (unit == L'"')
            break;
        if (static_cast<std::uint32_t>(unit) < 0x20)
            return Error(L"control character in a string");
        if (unit != L'\\')
        {
            if (IsLowSurrogate(unit) && !afterHigh)
                return Error(L"lone surrogate in a string");
            text.push_back(unit);
            continue;
        }
        if (AtEnd())
            return Error(L"unterminated string");
        wchar_t escape = text_[position_++];
        switch (escape)
        {
        case L'"':
        case L'/':
        case L'\\':
            text.push_back(escape);
            break;
        case L'b':
            text.push_back(L'\b');
            break;
        case L'f':
            text.push_back(L'\f');
            break;
        case L'n':
            text.push_back(L'\n');
            break;
        case L'r':
            text.push_back(L'\r');
            break;
        case L't':
            text.push_back(L'\t');
            break;
        case L'u': {
            if (text_.size() - position_ < 4)
                return Error(L"incomplete \\u escape");
            std::uint32_t code = 0;
            for (int i = 0; i < 4; ++i)
            {
                int digit = Core::HexValue(text_[position_++]);
                if (digit < 0)
                    return Error(L"bad \\u escape");
                code = code * 16 + static_cast<std::uint32_t>(digit);
            }
            if (IsLowSurrogate(code) != afterHigh)
                return Error(L"lone surrogate in a string");
            text.push_back(static_cast<wchar_t>(code));
            continue;
        }
        default:
            return Error(L"bad escape");
        }
        if (afterHigh)
            return Error(L"lone surrogate in a string");
    }
    Value value;
    value.kind = Kind::String;
    value.text = std::move(text);
    return value;
}

Result<Value> Parser::ParseArray(int depth)
{
    ++position_; // "["
    Value array = Value::MakeArray();
    SkipBlanks();
    if (!AtEnd() && text_[position_] == L']')
    {
        ++position_;
        return array;
    }
    for (;;)
    {
        auto item = ParseValue(depth + 1);
        if (!item)
            return item;
        array.items->push_back(*std::move(item));
        SkipBlanks();
        if (AtEnd() || (text_[position_] != L',' && text_[position_] != L']'))
            return Error(L"',' or ']' expected");
        if (text_[position_++] == L']')
            return array;
    }
}

Result<Value> Parser::ParseObject(int depth)
{
    ++position_; // "{"
    Value object = Value::MakeObject();
    SkipBlanks();
    if (!AtEnd() && text_[position_] == L'}')
    {
        ++position_;
        return object;
    }
    for (;;)
    {
        SkipBlanks();
        if (AtEnd() || text_[position_] != L'"')
            return Error(L"member name expected");
        auto name = ParseString();
        if (!name)
            return name;
        SkipBlanks();
        if (AtEnd() || text_[position_] != L':')
            return Error(L"':' expected");
        ++position_;
        auto value = ParseValue(depth + 1);
        if (!value)
            return value;
        // The last of repeated names wins.
        (*object.members)[std::move(name->text)] = *std::move(value);
        SkipBlanks();
        if (AtEnd() || (text_[position_] != L',' && text_[position_] != L'}'))
            return Error(L"',' or '}' expected");
        if (text_[position_++] == L'}')
            return object;
    }
}

void AppendQuoted(std::wstring_view text, std::wstring& out)
{
    out.push_back(L'"');
    for (wchar_t unit : text)
    {
        switch (unit)
        {
        case L'\t':
            out += L"\\t";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'"':
            out += L"\\\"";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        default:
            if (static_cast<std::uint32_t>(unit) < 0x20)
            {
                out += L"\\u00";
                out.push_back(static_cast<wchar_t>(Core::LowerHexDigits[(unit >> 4) & 0x0F]));
                out.push_back(static_cast<wchar_t>(Core::LowerHexDigits[unit & 0x0F]));
            }
            else
            {
                out.push_back(unit);
            }
        }
    }
    out.push_back(L'"');
}

namespace
{

// UTF-16 units of strict UTF-8, or the 0-based offset of the first byte that is not.
std::variant<std::wstring, std::size_t> DecodeUtf8(std::string_view bytes)
{
    std::wstring text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size())
    {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80)
        {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        // The length, the bits of the lead byte and the lowest value that needs this length.
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t lowest = 0;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, code = lead & 0x1Fu, lowest = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, code = lead & 0x0Fu, lowest = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, code = lead & 0x07u, lowest = 0x10000;
        else
            return i;
        for (std::size_t k = 1; k < length; ++k)
        {
            if (i + k >= bytes.size() || (static_cast<std::uint8_t>(bytes[i + k]) & 0xC0) != 0x80)
                return i;
            code = code << 6 | (static_cast<std::uint8_t>(bytes[i + k]) & 0x3Fu);
        }
        if (code < lowest || code > 0x10FFFF || IsHighSurrogate(code) || IsLowSurrogate(code))
            return i;
        if (code >= 0x10000)
        {
            text.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
        else
            text.push_back(static_cast<wchar_t>(code));
        i += length;
    }
    return text;
}

} // namespace

Result<Value> ParseUtf8(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    auto decoded = DecodeUtf8(bytes);
    if (const std::size_t* offset = std::get_if<std::size_t>(&decoded))
        return Fail(L"JSON: invalid UTF-8 (byte " + std::to_wstring(*offset + 1) + L")");
    return Parser(std::get<std::wstring>(decoded)).Parse();
}

void Write(const Value& value, int indent, std::wstring& out)
{
    const std::wstring inner(static_cast<std::size_t>(indent) + 2, L' ');
    switch (value.kind)
    {
    case Kind::Null:
        out += L"null";
        return;
    case Kind::Bool:
        out += value.flag ? L"true" : L"false";
        return;
    case Kind::Number:
        out += std::to_wstring(value.AsUInt64().value_or(0));
        return;
    case Kind::String:
        AppendQuoted(value.text, out);
        return;
    case Kind::Array: {
        const ItemList& items = value.Items();
        if (items.empty())
        {
            out += L"[]";
            return;
        }
        out += L"[\n";
        for (std::size_t i = 0; i < items.size(); ++i)
        {
            out += inner;
            Write(items[i], indent + 2, out);
            out += i + 1 < items.size() ? L",\n" : L"\n";
        }
        out.append(static_cast<std::size_t>(indent), L' ');
        out += L"]";
        return;
    }
    case Kind::Object: {
        if (!value.members || value.members->empty())
        {
            out += L"{}";
            return;
        }
        std::size_t left = value.members->size();
        out += L"{\n";
        for (const auto& [name, member] : *value.members)
        {
            out += inner;
            AppendQuoted(name, out);
            out += L": ";
            Write(member, indent + 2, out);
            out += --left > 0 ? L",\n" : L"\n";
        }
        out.append(static_cast<std::size_t>(indent), L' ');
        out += L"}";
        return;
    }
    }
}

} // namespace Pd::Json
