#include "tel/mms/MmsRequest.h"

#include <array>
#include <limits>

namespace Pd::Tel
{
namespace
{

constexpr std::size_t FieldCount = 7;

// C0 controls, DEL, and C1 controls as UTF-8 (C2 80 to C2 9F).
bool HasControlCharacter(std::string_view text)
{
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == 0x7F)
            return true;
        if (byte == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[at + 1]) <= 0x9F)
            return true;
    }
    return false;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Optional "-", then digits up to the first other byte; -1 without digits or outside int32.
std::int32_t ReadAuthentication(std::string_view field)
{
    bool negative = !field.empty() && field.front() == '-';
    if (negative)
        field.remove_prefix(1);
    std::int64_t value = 0;
    bool digits = false;
    for (char c : field)
    {
        if (!IsDigit(c))
            break;
        digits = true;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            return -1;
    }
    if (!digits)
        return -1;
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(value);
}

// Digits up to the first other byte (so a trailing carriage return is ignored); 1 to 65535.
std::optional<std::uint16_t> ReadPort(std::string_view field)
{
    std::uint32_t value = 0;
    bool digits = false;
    for (char c : field)
    {
        if (!IsDigit(c))
            break;
        digits = true;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535)
            return std::nullopt;
    }
    if (!digits || value == 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::optional<MmsRequest> ParseMmsRequest(std::string_view line)
{
    if (line.size() > MmsRequestLineLimit)
        return std::nullopt;
    std::array<std::string_view, FieldCount> fields;
    std::size_t count = 0;
    while (true)
    {
        std::size_t tab = line.find('\t');
        if (count == FieldCount)
            return std::nullopt;
        fields[count++] = line.substr(0, tab);
        if (tab == std::string_view::npos)
            break;
        line.remove_prefix(tab + 1);
    }
    if (count != FieldCount || fields[0] != "MMS" || fields[1].empty() || fields[5].empty())
        return std::nullopt;
    if (HasControlCharacter(fields[1]) || HasControlCharacter(fields[3]) || HasControlCharacter(fields[5]))
        return std::nullopt;
    std::optional<std::uint16_t> port = ReadPort(fields[6]);
    if (!port)
        return std::nullopt;
    return MmsRequest{std::string(fields[1]), ReadAuthentication(fields[2]), std::string(fields[3]),
                      std::string(fields[4]), std::string(fields[5]),        *port};
}

MmsRequestLineReader::State MmsRequestLineReader::Add(char byte)
{
    if (state_ != State::Reading)
        return state_;
    if (byte == '\n')
        state_ = State::Complete;
    else if (line_.size() == MmsRequestLineLimit)
        state_ = State::TooLong;
    else
        line_.push_back(byte);
    return state_;
}

} // namespace Pd::Tel
