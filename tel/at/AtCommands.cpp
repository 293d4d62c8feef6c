// The AT engine's command table: one command of a line in, its answer lines out. A command's name
// is matched whole, and a form the command does not have, or a set form with a value that is not a
// number in its range, is refused before anything of it runs.
#include "tel/at/AtEngine.h"

#include "core/Log.h"
#include "core/LogEscape.h"
#include "tel/at/AtText.h"
#include "tel/at/Modem.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>

namespace Pd::Tel::AtEngine
{
namespace
{

using Lines = std::vector<std::string>;

const std::string CmeNoSim = "+CME ERROR: 10";

enum Form : std::uint8_t
{
    Malformed = 0, // "+CPIN?X": no form at all
    Action = 1,    // "+CSQ", "E0"
    Set = 2,       // "+CREG=2", "S0=0"
    Read = 4,      // "+CREG?"
    Test = 8,      // "+CREG=?"
};
constexpr std::uint8_t SetReadTest = Set | Read | Test;

struct Command
{
    std::string_view name; // as the table spells it once found
    Form form = Malformed;
    std::string_view text; // the whole command, for its parameters
};

AtResult Fail(std::string_view line)
{
    return std::unexpected(std::string(line));
}

AtResult Unsupported(std::string_view command)
{
    Core::Log(fmt::format("modem: unsupported AT{}", Core::EscapeForLog(command, 40)));
    return Fail(CmeUnknown);
}

std::int32_t FirstOr0(const std::vector<std::int32_t>& values)
{
    return values.empty() ? 0 : values.front();
}

// A command that serves one form with no answer lines; its other forms are not supported here.
template <Form Served> AtResult NoLines(AtState&, const Command& command)
{
    return command.form == Served ? Lines{} : Unsupported(command.text);
}

// The fixed location area code and cell id follow the status when the mode asks for them.
std::string RegistrationExtension(const ModemState& snapshot, std::int32_t mode)
{
    if (mode != 2 || !IsRegistered(snapshot.registration))
        return {};
    return fmt::format(",\"0001\",\"00000001\",{}", snapshot.accessTechnology);
}

// "+CREG", "+CGREG", "+CEREG": the set form takes the mode, the read form answers with it.
template <std::int32_t AtState::*Mode> AtResult Registration(AtState& state, const Command& command)
{
    std::int32_t& mode = state.*Mode;
    if (command.form == Set)
    {
        mode = FirstOr0(ParseIntegers(command.text));
        return Lines{};
    }
    ModemState snapshot = state.modem.ReadState();
    return Lines{fmt::format("{}: {},{}", command.name, mode, snapshot.registration) +
                 RegistrationExtension(snapshot, mode)};
}

// "+CMGF": only PDU mode.
AtResult MessageFormat(AtState&, const Command& command)
{
    if (command.form == Set && command.text.substr(command.text.find('=') + 1) == "0")
        return Lines{};
    return Unsupported(command.text);
}

AtResult RadioPower(AtState& state, const Command& command)
{
    if (command.form == Read)
        return Lines{fmt::format("+CFUN: {}", state.radioOn ? 1 : 0)};
    state.radioOn = FirstOr0(ParseIntegers(command.text)) != 0;
    return Lines{};
}

AtResult Mute(AtState&, const Command& command)
{
    return command.form == Read ? Lines{"+CMUT: 0"} : Lines{};
}

AtResult ServiceCentre(AtState& state, const Command& command)
{
    if (command.form == Set)
        return Lines{};
    ModemState snapshot = state.modem.ReadState();
    if (snapshot.serviceCentre.empty())
        return Fail("+CMS ERROR: 330");
    return Lines{fmt::format("+CSCA: \"{}\",{}", LineField(snapshot.serviceCentre, true),
                             snapshot.serviceCentre.starts_with('+') ? 145 : 129)};
}

AtResult Pin(AtState& state, const Command& command)
{
    if (command.form != Read)
        return Unsupported(command.text); // no PIN is entered
    return state.modem.ReadState().simReady ? Lines{"+CPIN: READY"} : Fail(CmeNoSim);
}

AtResult Imsi(AtState& state, const Command&)
{
    ModemState snapshot = state.modem.ReadState();
    return snapshot.simReady ? Lines{LineField(snapshot.imsi)} : Fail(CmeNoSim);
}

AtResult Iccid(AtState& state, const Command&)
{
    ModemState snapshot = state.modem.ReadState();
    return snapshot.simReady ? Lines{LineField(snapshot.iccid)} : Fail(CmeNoSim);
}

AtResult SerialNumber(AtState& state, const Command& command)
{
    if (command.form != Action)
        return Unsupported(command.text); // no other kind of serial number
    return Lines{LineField(state.modem.ReadState().imei)};
}

AtResult SignalQuality(AtState& state, const Command&)
{
    return Lines{FormatSignalQuality(state.modem.ReadState())};
}

AtResult SimRead(AtState& state, const Command& command)
{
    ModemState snapshot = state.modem.ReadState();
    if (!snapshot.simReady)
        return Fail(CmeNoSim);
    auto values = ParseIntegers(command.text);
    if (values.size() < 5)
        return Fail(CmeUnknown);
    if (!state.simPrepared)
    {
        state.sim = Modem::PrepareSimFiles(snapshot.iccid, snapshot.providerId.size() == 6 ? 3 : 2);
        state.simPrepared = true;
    }
    return Lines{Modem::AnswerSimRead(state.sim, values[0], values[1], values[2])};
}

// "+CLCK": only whether the SIM PIN and the fixed dialling numbers are locked.
AtResult FacilityLock(AtState&, const Command& command)
{
    if (StartsWithNoCase(command.text, "+CLCK=\"SC\",2") || StartsWithNoCase(command.text, "+CLCK=\"FD\",2"))
        return Lines{"+CLCK: 0"};
    return Unsupported(command.text);
}

AtResult Operator(AtState& state, const Command& command)
{
    ModemState snapshot = state.modem.ReadState();
    bool registered = IsRegistered(snapshot.registration);
    std::string name = LineField(snapshot.providerName, true);
    std::string id = LineField(snapshot.providerId, true);
    if (command.form == Read)
    {
        if (!registered || !state.radioOn)
            return Lines{"+COPS: 0"};
        return Lines{fmt::format("+COPS: 0,{},\"{}\",{}", state.copsFormat, state.copsFormat == 2 ? id : name,
                                 snapshot.accessTechnology)};
    }
    if (command.form == Test)
    {
        if (!registered)
            return Lines{"+COPS: "};
        return Lines{
            fmt::format("+COPS: (2,\"{}\",\"{}\",\"{}\",{})", name, name, id, snapshot.accessTechnology)};
    }
    auto values = ParseIntegers(command.text);
    if (FirstOr0(values) == 1)
        return Fail(CmeUnknown); // no manual operator selection
    if (values.size() >= 2 && values[0] == 3)
        state.copsFormat = values[1];
    return Lines{};
}

// "+CNMA": answers the oldest "+CMT" not yet acknowledged, as Android acknowledges in order.
AtResult Acknowledge(AtState& state, const Command& command)
{
    if (state.handed.empty())
        return Lines{};
    std::uint32_t id = state.handed.front();
    state.handed.pop_front();
    if (FirstOr0(ParseIntegers(command.text)) == 2)
        state.modem.NackMessage(id);
    else
        state.modem.AckMessage(id);
    return Lines{};
}

AtResult ToolkitProfile(AtState&, const Command& command)
{
    return command.form == Read ? Lines{"+CUSATD: 0,0"} : Unsupported(command.text);
}

// "Q0" and "V1", verbose result codes that are sent, are what this engine does anyway.
AtResult ResultCodeSetting(AtState&, const Command& command)
{
    std::string_view value = command.text.substr(1);
    bool quiet = UpperAscii(command.text.front()) == 'Q';
    if (quiet ? value.empty() || value == "0" : value == "1")
        return Lines{};
    return Unsupported(command.text);
}

// The numbers one parameter of a set command may take; a string, or a parameter whose values this
// engine does not know, is not checked (high below low).
struct Range
{
    std::int32_t low = 0;
    std::int32_t high = -1;
};

constexpr Range UpTo(std::int32_t high)
{
    return {0, high};
}

constexpr Range Text{};
constexpr Range Bit = UpTo(1);
constexpr Range Octet = UpTo(255);
constexpr Range Number = UpTo(std::numeric_limits<std::int32_t>::max());
constexpr Range ContextId = UpTo(255);

// The parameters of a set command, in order; those after them are not checked, so that a value a
// later standard or a maker adds does not make a known command fail.
using Parameters = std::array<Range, 6>;

struct Entry
{
    std::string_view name;
    std::uint8_t forms; // the forms the command has; any other is a syntax error
    AtResult (*run)(AtState&, const Command&);
    Parameters parameters = {};
    std::string_view badValue = "ERROR"; // the answer to a parameter out of its range
    bool answersTest = false;            // the handler answers the test form; otherwise it has no lines
    // The forms that tell Android takes messages from now on: those waiting follow.
    std::uint8_t takesMessages = 0;
};

// Every command the engine knows, each registered once.
constexpr std::array Table = {
    // Basic commands; the number of "E0" is the action's value.
    Entry{"E", Action, &NoLines<Action>},
    Entry{"H", Action, &NoLines<Action>},
    Entry{"Q", Action, &ResultCodeSetting},
    Entry{"V", Action, &ResultCodeSetting},
    Entry{"S0", SetReadTest, &NoLines<Set>, {Octet}},
    // Settings that change nothing here.
    Entry{"+CMEE", SetReadTest, &NoLines<Set>, {UpTo(2)}},
    Entry{"+CCWA", SetReadTest, &NoLines<Set>, {Bit, UpTo(2), Range{1, 255}}},
    Entry{"+CMOD", SetReadTest, &NoLines<Set>, {UpTo(3)}},
    Entry{"+CSSN", SetReadTest, &NoLines<Set>, {Bit, Bit}},
    Entry{"+COLP", SetReadTest, &NoLines<Set>, {Bit}},
    Entry{"+CSCS", SetReadTest, &NoLines<Set>},
    Entry{"+CUSD", SetReadTest, &NoLines<Set>, {UpTo(2), Text, Octet}},
    Entry{"+CGEREP", SetReadTest, &NoLines<Set>, {UpTo(2), Bit}},
    Entry{.name = "+CNMI",
          .forms = SetReadTest,
          .run = &NoLines<Set>,
          .parameters = {UpTo(3), UpTo(3), UpTo(3), UpTo(2), Bit},
          .takesMessages = Set},
    Entry{"+CSMS", SetReadTest, &NoLines<Set>, {Octet}},
    Entry{"+CSCB", SetReadTest, &NoLines<Set>, {Bit}},
    Entry{"+CLIR", SetReadTest, &NoLines<Set>, {UpTo(2)}},
    // Context, precedence, delay, reliability, peak and mean throughput classes.
    Entry{"+CGQREQ", SetReadTest, &NoLines<Set>, {ContextId, UpTo(3), UpTo(4), UpTo(5), UpTo(9), UpTo(31)}},
    Entry{"+CGQMIN", SetReadTest, &NoLines<Set>, {ContextId, UpTo(3), UpTo(4), UpTo(5), UpTo(9), UpTo(31)}},
    Entry{"%CPI", Set | Test, &NoLines<Set>, {Number}},
    Entry{"%CSTAT", Set | Test, &NoLines<Set>, {Number}},
    Entry{"%CTZV", Set | Test, &NoLines<Set>, {Number}},
    Entry{"%CPHS", Set | Test, &NoLines<Set>, {Number}},
    Entry{"+WSOS", Set | Test, &NoLines<Set>, {Number}},
    Entry{"+CMGF", SetReadTest, &MessageFormat, {Bit}},
    Entry{"+CMUT", SetReadTest, &Mute, {Bit}},
    Entry{"+CSCA", SetReadTest, &ServiceCentre, {Text, Octet}},
    Entry{"+CREG", SetReadTest, &Registration<&AtState::cregMode>, {UpTo(3)}},
    Entry{"+CGREG", SetReadTest, &Registration<&AtState::cgregMode>, {UpTo(4)}},
    Entry{"+CEREG", SetReadTest, &Registration<&AtState::ceregMode>, {UpTo(5)}},
    Entry{"+CFUN", SetReadTest, &RadioPower, {UpTo(127), Bit}},
    // "+CMGS=" is served only right behind "AT", where its PDU can follow.
    Entry{"+CMGS", Set | Test, &NoLines<Test>},
    Entry{"+CNMA", Action | Set | Test, &Acknowledge, {UpTo(2), Octet}},
    Entry{"+CPIN", SetReadTest, &Pin},
    Entry{.name = "+CIMI", .forms = Action | Test, .run = &Imsi, .takesMessages = Action},
    Entry{"+CICCID", Action | Test, &Iccid},
    Entry{"+CGSN", Action | Set | Test, &SerialNumber, {UpTo(3)}},
    // Command, file id, P1, P2, P3; the data and path that may follow are hex text.
    Entry{"+CRSM", Set | Test, &SimRead, {Octet, UpTo(65535), Octet, Octet, Octet}, CmeUnknown},
    Entry{"+CLCK", Set | Test, &FacilityLock, {Text, UpTo(2), Text, Range{1, 255}}},
    Entry{.name = "+COPS",
          .forms = SetReadTest,
          .run = &Operator,
          .parameters = {UpTo(4), UpTo(2), Text, Octet},
          .answersTest = true},
    Entry{"+CSQ", Action | Test, &SignalQuality},
    Entry{"+CLCC", Action | Test, &NoLines<Action>},
    Entry{"+CNUM", Action | Test, &NoLines<Action>},
    Entry{"+CGACT", SetReadTest, &NoLines<Read>, {Bit, ContextId}},
    Entry{"+CGDCONT", SetReadTest, &NoLines<Read>, {ContextId, Text, Text, Text, UpTo(3), UpTo(4)}},
    Entry{"+CUSATD", SetReadTest, &ToolkitProfile, {Bit, Bit}},
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The form of an extended command, from all the text after its name.
Form ExtendedForm(std::string_view rest)
{
    if (rest.empty())
        return Action;
    if (rest == "?")
        return Read;
    if (rest == "=?")
        return Test;
    // "=?1" is neither the test form nor a value to set: it must not run as "=1" would.
    if (rest.starts_with("=?"))
        return Malformed;
    return rest.starts_with('=') ? Set : Malformed;
}

// The form of a basic command, from the text after its name and number, and how much of the text
// the form takes, so that the next basic command can follow ("E0Q0V1", "S0=0E0").
std::pair<Form, std::size_t> BasicForm(std::string_view rest)
{
    if (rest.starts_with("=?"))
        return {Test, 2};
    if (rest.starts_with('?'))
        return {Read, 1};
    if (!rest.starts_with('='))
        return {Action, 0};
    std::size_t end = 1;
    while (end < rest.size() && IsDigit(rest[end]))
        ++end;
    return {Set, end};
}

// A decimal number and nothing else: no sign, no blank, no more digits than 32 bits hold after
// its leading zeros.
std::optional<std::int64_t> DecimalValue(std::string_view field)
{
    if (field.empty() || !std::ranges::all_of(field, IsDigit))
        return std::nullopt;
    field.remove_prefix(std::min(field.find_first_not_of('0'), field.size() - 1));
    if (field.size() > 10)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : field)
        value = value * 10 + (c - '0');
    return value;
}

// Whether every parameter of a set command that is given is a number in its range; an omitted one
// ("+CNMI=2,,0") keeps its default.
bool ParametersInRange(const Parameters& parameters, std::string_view command)
{
    std::string_view rest = command.substr(FindUnquoted(command, "=") + 1);
    for (const Range& range : parameters)
    {
        std::size_t comma = FindUnquoted(rest, ",");
        std::string_view field = rest.substr(0, comma);
        if (range.low <= range.high && !field.empty())
        {
            std::optional<std::int64_t> value = DecimalValue(field);
            if (!value || *value < range.low || *value > range.high)
                return false;
        }
        if (comma == std::string_view::npos)
            return true;
        rest.remove_prefix(comma + 1);
    }
    return true;
}

AtResult Run(AtState& state, Command command)
{
    auto entry = std::ranges::find_if(Table, [&](const Entry& known) {
        return known.name.size() == command.name.size() && StartsWithNoCase(command.name, known.name);
    });
    if (entry == Table.end())
        return Unsupported(command.text);
    if ((entry->forms & command.form) == 0)
    {
        // A form the command does not have is a syntax error: it runs nothing.
        Core::Log(fmt::format("modem: no such form AT{}", Core::EscapeForLog(command.text, 40)));
        return Fail("ERROR");
    }
    if (command.form == Set && !ParametersInRange(entry->parameters, command.text))
    {
        Core::Log(fmt::format("modem: value out of range AT{}", Core::EscapeForLog(command.text, 40)));
        return Fail(entry->badValue);
    }
    command.name = entry->name;
    if ((entry->takesMessages & command.form) != 0)
        state.takesMessages = entry->name;
    if (command.form == Test && !entry->answersTest)
        return Lines{};
    return entry->run(state, command);
}

// A run of basic commands ("E0Q0V1", "H", "S0=0"), each a letter and its number, or an
// S-parameter and its form.
AtResult RunBasic(AtState& state, std::string_view commands)
{
    Lines lines;
    while (!commands.empty())
    {
        // "&F" is one name; an S-parameter's number belongs to its name.
        std::size_t nameEnd = commands[0] == '&' && commands.size() > 1 ? 2 : 1, end = nameEnd;
        while (end < commands.size() && IsDigit(commands[end]))
            ++end;
        if (UpperAscii(commands[0]) == 'S')
            nameEnd = end;
        auto [form, length] = BasicForm(commands.substr(end));
        end += length;
        AtResult result = Run(state, {commands.substr(0, nameEnd), form, commands.substr(0, end)});
        if (!result)
            return result;
        std::ranges::move(*result, std::back_inserter(lines));
        commands.remove_prefix(end);
    }
    return lines;
}

} // namespace

std::vector<std::string_view> KnownCommands()
{
    std::vector<std::string_view> names;
    for (const Entry& entry : Table)
        names.push_back(entry.name);
    return names;
}

AtResult HandleCommand(AtState& state, std::string_view command)
{
    if (command.empty())
        return Lines{};
    if (command[0] != '+' && command[0] != '%')
        return RunBasic(state, command);
    std::size_t nameEnd = std::min(command.find_first_of("=?"), command.size());
    return Run(state, {command.substr(0, nameEnd), ExtendedForm(command.substr(nameEnd)), command});
}

void FormatRegistration(const ModemState& snapshot, std::string_view prefix, std::int32_t mode,
                        std::vector<std::string>& lines)
{
    if (mode == 0)
        return;
    lines.push_back(fmt::format("{} {}", prefix, snapshot.registration) +
                    RegistrationExtension(snapshot, mode));
}

} // namespace Pd::Tel::AtEngine
