// The AT command engine's lines: the commands of a line, the PDU after "AT+CMGS=" and the
// unsolicited reports.
#include "tel/at/AtEngine.h"

#include "core/Hex.h"
#include "tel/at/AtText.h"
#include "tel/at/Modem.h"
#include "tel/sms/SubmitPdu.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <optional>

namespace Pd::Tel::AtEngine
{
namespace
{

using Lines = std::vector<std::string>;

const std::string CmsInvalidPdu = "+CMS ERROR: 304";

// The <length> of "+CMGS=": a decimal number from 1 to 255 and nothing else.
std::optional<std::int32_t> SubmitLength(std::string_view text)
{
    if (text.empty() || text.size() > 3 ||
        !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int32_t value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    if (value < 1 || value > 255)
        return std::nullopt;
    return value;
}

// The decimal value of one parameter field: an optional '-', then digits up to the first
// non-digit. No digit, or a value beyond 32 bits, reads as 0.
std::int32_t ParseField(std::string_view field)
{
    bool negative = !field.empty() && field.front() == '-';
    if (negative)
        field.remove_prefix(1);
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (char c : field)
    {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            return 0;
        ++digits;
    }
    if (negative)
        value = -value;
    if (digits == 0 || value > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(value);
}

} // namespace

std::vector<std::int32_t> ParseIntegers(std::string_view command)
{
    std::vector<std::int32_t> values;
    std::size_t equals = FindUnquoted(command, "=");
    if (equals == std::string_view::npos)
        return values;
    std::string_view rest = command.substr(equals + 1);
    while (!rest.empty())
    {
        // A string constant is one field, whatever commas it holds; it reads as 0.
        std::size_t comma = FindUnquoted(rest, ",");
        values.push_back(ParseField(rest.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return values;
}

AtReply HandleLine(AtState& state, std::string_view line)
{
    state.takesMessages = {};
    if (line.size() < 2 || UpperAscii(line[0]) != 'A' || UpperAscii(line[1]) != 'T')
        return {};
    // A string constant that never ends leaves no command whose end is known: none runs.
    if (!QuotesClosed(line))
        return {.lines = {"ERROR"}};
    const std::string commands = WithoutBlanks(line.substr(2));
    std::string_view rest = commands;
    // Nothing is dialled or answered.
    if ((!rest.empty() && UpperAscii(rest[0]) == 'D') || (rest.size() == 1 && UpperAscii(rest[0]) == 'A'))
        return {.lines = {std::string(CmeUnknown)}};
    // "+CMGS=?" and whatever else begins so are no length: the command table answers them.
    if (StartsWithNoCase(rest, "+CMGS=") && !rest.substr(6).starts_with('?'))
    {
        // A length the PDU could never match gets no prompt: the PDU text would follow as lines.
        std::optional<std::int32_t> length = SubmitLength(rest.substr(6));
        if (!length)
            return {.lines = {CmsInvalidPdu}};
        state.pendingLength = *length;
        return {.lines = {}, .awaitPdu = true};
    }
    AtReply reply;
    while (true)
    {
        std::size_t semicolon = FindUnquoted(rest, ";");
        AtResult lines = HandleCommand(state, rest.substr(0, semicolon));
        if (!lines)
        {
            reply.lines.push_back(std::move(lines.error()));
            return reply;
        }
        std::ranges::move(*lines, std::back_inserter(reply.lines));
        if (semicolon == std::string_view::npos)
            break;
        rest.remove_prefix(semicolon + 1);
    }
    reply.lines.push_back("OK");
    return reply;
}

AtReply SubmitPdu(AtState& state, std::string_view text)
{
    std::string pdu;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f')
            pdu.push_back(c);
    // Only an SMS-SUBMIT in hex whose lengths agree with each other and with "+CMGS=" goes to
    // Windows.
    if (state.pendingLength < 1 || state.pendingLength > 255 ||
        !IsWellFormedSubmit(pdu, static_cast<std::size_t>(state.pendingLength)))
        return {.lines = {CmsInvalidPdu}};
    if (!state.modem.SendSms(pdu, static_cast<std::uint8_t>(state.pendingLength)))
        return {.lines = {"+CMS ERROR: 500"}};
    AtReply reply{.lines = {fmt::format("+CMGS: {}", state.messageReference), "OK"}};
    state.messageReference = (state.messageReference + 1) % 256;
    return reply;
}

std::vector<std::string> FormatNewMessage(AtState& state, std::string_view pdu, std::uint32_t index)
{
    std::size_t serviceCentre = 0;
    for (std::size_t i = 0; i < 2 && i < pdu.size() && Core::HexValue(pdu[i]) >= 0; ++i)
        serviceCentre = serviceCentre * 16 + static_cast<std::size_t>(Core::HexValue(pdu[i]));
    std::size_t octets = pdu.size() / 2;
    // The PDU travels as a line of its own: anything but hex digits could end it early.
    bool hex = std::ranges::all_of(pdu, [](char c) { return Core::HexValue(c) >= 0; });
    if (!hex || serviceCentre + 1 >= octets)
    {
        state.modem.NackMessage(index);
        return {};
    }
    state.handed.push_back(index);
    return {fmt::format("+CMT: ,{}", octets - serviceCentre - 1), std::string(pdu)};
}

std::string FormatSignalQuality(const ModemState& snapshot)
{
    constexpr std::int64_t M = 2147483647;
    std::int32_t s = snapshot.signal;
    std::int64_t r = s >= 0 && s <= 31 ? std::clamp<std::int64_t>(140 - 2 * s, 44, 140) : M;
    return fmt::format("+CSQ: {},99,-1,-1,-1,-1,-1,{},{},{},{},{},{},{},{},99,{},{},{},{},{},{}", s, s, r, M,
                       M, M, M, M, s, M, M, M, M, M, M);
}

} // namespace Pd::Tel::AtEngine
