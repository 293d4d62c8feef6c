// The AT command engine: one line from Android's radio interface in, the answer lines out.
#include "core/Hex.h"
#include "core/Log.h"
#include "core/LogEscape.h"
#include "tel/at/AtText.h"
#include "tel/at/Modem.h"
#include "tel/sms/SubmitPdu.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <optional>

namespace Pd::Tel
{
namespace
{

using Lines = std::vector<std::string>;

const std::string CmeUnknown = "+CME ERROR: 4";
const std::string CmeNoSim = "+CME ERROR: 10";
const std::string CmsInvalidPdu = "+CMS ERROR: 304";

// Set commands that change nothing here and are answered "OK", tried in this order.
constexpr std::array<std::string_view, 28> AcceptedSetCommands = {
    "E",      "S0=",      "H",        "+CMEE=", "+CCWA=", "+CMOD=", "+CMUT=",  "+CSSN=",  "+COLP=", "+CSCS=",
    "+CUSD=", "+CGEREP=", "+CMGF=0",  "+CNMI=", "+CSMS=", "+CSCB=", "%CPI=",   "%CSTAT=", "%CTZV=", "%CPHS=",
    "+CLIR=", "+CGQREQ=", "+CGQMIN=", "+WSOS=", "+CSCA=", "+CREG=", "+CGREG=", "+CEREG=",
};

// Commands, besides the accepted set commands, whose test form "=?" is answered with plain OK.
constexpr std::array<std::string_view, 20> TestedCommands = {
    "+CMGS",  "+CRSM", "+CFUN", "+CPIN", "+CIMI", "+CICCID", "+CGSN",  "+CLCK",    "+CREG", "+CGREG",
    "+CEREG", "+CSQ",  "+CSCA", "+CNMA", "+CMUT", "+CLCC",   "+CGACT", "+CGDCONT", "+CNUM", "+CUSATD",
};

bool IsTestForm(std::string_view command)
{
    return command.ends_with("=?");
}

// Whether the engine knows the command of this name (without its "=?").
bool Recognised(std::string_view name)
{
    auto same = [name](std::string_view known) {
        return known.size() == name.size() && StartsWithNoCase(name, known);
    };
    return std::ranges::any_of(TestedCommands, same) ||
           std::ranges::any_of(AcceptedSetCommands, [&](std::string_view prefix) {
               return same(prefix.substr(0, prefix.find('=')));
           });
}

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

std::int32_t FirstOr0(const std::vector<std::int32_t>& values)
{
    return values.empty() ? 0 : values.front();
}

AtResult Fail(const std::string& line)
{
    return std::unexpected(line);
}

AtResult Unsupported(std::string_view command)
{
    Core::Log(fmt::format("modem: unsupported AT{}", Core::EscapeForLog(command, 40)));
    return Fail(CmeUnknown);
}

// The fixed location area code and cell id follow the status when the mode asks for them.
std::string RegistrationExtension(const ModemState& snapshot, std::int32_t mode)
{
    if (mode != 2 || !IsRegistered(snapshot.registration))
        return {};
    return fmt::format(",\"0001\",\"00000001\",{}", snapshot.accessTechnology);
}

std::string SolicitedRegistration(const ModemState& snapshot, std::string_view prefix, std::int32_t mode)
{
    return fmt::format("{} {},{}", prefix, mode, snapshot.registration) +
           RegistrationExtension(snapshot, mode);
}

AtResult Operator(AtState& state, const ModemState& snapshot, std::string_view command)
{
    bool registered = IsRegistered(snapshot.registration);
    std::string name = LineField(snapshot.providerName, true);
    std::string id = LineField(snapshot.providerId, true);
    if (StartsWithNoCase(command, "+COPS?"))
    {
        if (!registered || !state.radioOn)
            return Lines{"+COPS: 0"};
        return Lines{fmt::format("+COPS: 0,{},\"{}\",{}", state.copsFormat, state.copsFormat == 2 ? id : name,
                                 snapshot.accessTechnology)};
    }
    if (StartsWithNoCase(command, "+COPS=?"))
    {
        if (!registered)
            return Lines{"+COPS: "};
        return Lines{
            fmt::format("+COPS: (2,\"{}\",\"{}\",\"{}\",{})", name, name, id, snapshot.accessTechnology)};
    }
    auto values = ParseIntegers(command);
    if (FirstOr0(values) == 1)
        return Fail(CmeUnknown); // no manual operator selection
    if (values.size() >= 2 && values[0] == 3)
        state.copsFormat = values[1];
    return Lines{};
}

AtResult SimRead(AtState& state, const ModemState& snapshot, std::string_view command)
{
    if (!snapshot.simReady)
        return Fail(CmeNoSim);
    auto values = ParseIntegers(command);
    if (values.size() < 5)
        return Fail(CmeUnknown);
    if (!state.simPrepared)
    {
        state.sim = Modem::PrepareSimFiles(snapshot.iccid, snapshot.providerId.size() == 6 ? 3 : 2);
        state.simPrepared = true;
    }
    return Lines{Modem::AnswerSimRead(state.sim, values[0], values[1], values[2])};
}

// "+CNMA": answers the oldest "+CMT" not yet acknowledged, as Android acknowledges in order.
void Acknowledge(AtState& state, std::string_view command)
{
    if (state.handed.empty())
        return;
    std::uint32_t id = state.handed.front();
    state.handed.pop_front();
    if (FirstOr0(ParseIntegers(command)) == 2)
        state.modem.NackMessage(id);
    else
        state.modem.AckMessage(id);
}

AtResult WithModemState(AtState& state, std::string_view command)
{
    ModemState snapshot = state.modem.ReadState();
    auto is = [&](std::string_view prefix) { return StartsWithNoCase(command, prefix); };
    if (is("+CPIN?"))
        return snapshot.simReady ? Lines{"+CPIN: READY"} : Fail(CmeNoSim);
    if (is("+CIMI"))
        return snapshot.simReady ? Lines{LineField(snapshot.imsi)} : Fail(CmeNoSim);
    if (is("+CICCID"))
        return snapshot.simReady ? Lines{LineField(snapshot.iccid)} : Fail(CmeNoSim);
    if (is("+CGSN"))
        return Lines{LineField(snapshot.imei)};
    if (is("+CRSM="))
        return SimRead(state, snapshot, command);
    if (is("+CLCK=\"SC\",2") || is("+CLCK=\"FD\",2"))
        return Lines{"+CLCK: 0"};
    if (is("+COPS?") || is("+COPS=?") || is("+COPS="))
        return Operator(state, snapshot, command);
    if (is("+CREG?"))
        return Lines{SolicitedRegistration(snapshot, "+CREG:", state.cregMode)};
    if (is("+CGREG?"))
        return Lines{SolicitedRegistration(snapshot, "+CGREG:", state.cgregMode)};
    if (is("+CEREG?"))
        return Lines{SolicitedRegistration(snapshot, "+CEREG:", state.ceregMode)};
    if (is("+CSQ"))
        return Lines{Modem::FormatSignalQuality(snapshot)};
    if (is("+CSCA?"))
    {
        if (snapshot.serviceCentre.empty())
            return Fail("+CMS ERROR: 330");
        return Lines{fmt::format("+CSCA: \"{}\",{}", LineField(snapshot.serviceCentre, true),
                                 snapshot.serviceCentre.starts_with('+') ? 145 : 129)};
    }
    if (is("+CNMA"))
    {
        Acknowledge(state, command);
        return Lines{};
    }
    if (is("+CMUT?"))
        return Lines{"+CMUT: 0"};
    if (is("+CLCC") || is("+CGACT?") || is("+CGDCONT?") || is("+CNUM"))
        return Lines{};
    if (is("+CUSATD?"))
        return Lines{"+CUSATD: 0,0"};
    return Unsupported(command);
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

AtReply Modem::HandleLine(AtState& state, std::string_view line)
{
    if (line.size() < 2 || UpperAscii(line[0]) != 'A' || UpperAscii(line[1]) != 'T')
        return {};
    // A string constant that never ends leaves no command whose end is known: none runs.
    if (!QuotesClosed(line))
        return {.lines = {"ERROR"}};
    // Nothing is dialled or answered.
    if ((line.size() > 2 && UpperAscii(line[2]) == 'D') || (line.size() == 3 && UpperAscii(line[2]) == 'A'))
        return {.lines = {CmeUnknown}};
    std::string_view rest = line.substr(2);
    if (StartsWithNoCase(rest, "+CMGS=") && !IsTestForm(rest.substr(0, FindUnquoted(rest, ";"))))
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

AtResult Modem::HandleCommand(AtState& state, std::string_view command)
{
    // The test form asks whether the command exists: it changes nothing. "+COPS=?" lists the
    // operators, so it is answered below.
    if (IsTestForm(command) && !StartsWithNoCase(command, "+COPS=?"))
    {
        if (Recognised(command.substr(0, command.size() - 2)))
            return Lines{};
        return Unsupported(command);
    }
    for (std::string_view prefix : AcceptedSetCommands)
    {
        if (!StartsWithNoCase(command, prefix))
            continue;
        std::int32_t mode = FirstOr0(ParseIntegers(command));
        if (prefix == "+CREG=")
            state.cregMode = mode;
        else if (prefix == "+CGREG=")
            state.cgregMode = mode;
        else if (prefix == "+CEREG=")
            state.ceregMode = mode;
        return Lines{};
    }
    if (command.empty())
        return Lines{};
    if (StartsWithNoCase(command, "+CFUN?"))
        return Lines{fmt::format("+CFUN: {}", state.radioOn ? 1 : 0)};
    if (StartsWithNoCase(command, "+CFUN="))
    {
        state.radioOn = FirstOr0(ParseIntegers(command)) != 0;
        return Lines{};
    }
    return WithModemState(state, command);
}

AtReply Modem::SubmitPdu(AtState& state, std::string_view text)
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

std::vector<std::string> Modem::FormatNewMessage(AtState& state, std::string_view pdu, std::uint32_t index)
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

void Modem::FormatRegistration(const ModemState& snapshot, std::string_view prefix, std::int32_t mode,
                               std::vector<std::string>& lines)
{
    if (mode == 0)
        return;
    lines.push_back(fmt::format("{} {}", prefix, snapshot.registration) +
                    RegistrationExtension(snapshot, mode));
}

std::string Modem::FormatSignalQuality(const ModemState& snapshot)
{
    constexpr std::int64_t M = 2147483647;
    std::int32_t s = snapshot.signal;
    std::int64_t r = s >= 0 && s <= 31 ? std::clamp<std::int64_t>(140 - 2 * s, 44, 140) : M;
    return fmt::format("+CSQ: {},99,-1,-1,-1,-1,-1,{},{},{},{},{},{},{},{},99,{},{},{},{},{},{}", s, s, r, M,
                       M, M, M, M, s, M, M, M, M, M, M);
}

} // namespace Pd::Tel
