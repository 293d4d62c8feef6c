// modem: the PC's modem as Android sees it through the emulated modem: the messages in its store
// and the emulated modem's answers to a few probe lines. Changes nothing.
#include "cli/ModemCommand.h"
#include "cli/Commands.h"

#include "core/Strings.h"
#include "tel/at/AtEngine.h"
#include "tel/at/AtText.h"
#include "tel/modem/WindowsModem.h"

#include <fmt/format.h>

#include <array>

namespace Pd::Cli
{
namespace
{

constexpr std::array<const char*, 4> StatusNames = {"unread", "read", "draft", "sent"};
constexpr std::uint32_t MmsPort = 2948;

constexpr std::array<std::string_view, 9> Probes = {"AT+CPIN?",
                                                    "AT+COPS=3,0;+COPS?;+COPS=3,2;+COPS?",
                                                    "AT+CREG=2",
                                                    "AT+CREG?",
                                                    "AT+CSQ",
                                                    "AT+CSCA?",
                                                    "AT+CRSM=192,28589,0,0,15",
                                                    "AT+CRSM=176,28589,0,0,4",
                                                    "ATD123;"};

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Two characters at a time: a pair of digits gives its value, a pair whose first character is
// no digit 0, one whose second is no digit the first alone. A trailing single character is
// dropped.
std::vector<std::uint8_t> Octets(std::string_view hex)
{
    std::vector<std::uint8_t> octets;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    {
        int high = DigitValue(hex[i]);
        int low = DigitValue(hex[i + 1]);
        octets.push_back(static_cast<std::uint8_t>(high < 0 ? 0 : low < 0 ? high : high * 16 + low));
    }
    return octets;
}

// A semi-octet pair of the time stamp: the high nibble holds the units.
int SwappedDecimal(std::uint8_t octet)
{
    return (octet & 0x0F) * 10 + (octet >> 4);
}

std::string ShownText(const std::string& text)
{
    return Tel::LineField(text);
}

} // namespace

PduSummary DescribeSmsPdu(std::string_view pduHex)
{
    const std::vector<std::uint8_t> octets = Octets(pduHex);
    auto at = [&](std::size_t index) -> std::optional<std::uint8_t> {
        if (index < octets.size())
            return octets[index];
        return std::nullopt;
    };
    const std::size_t first = at(0) ? std::size_t{*at(0)} + 1 : 1;
    const std::uint8_t firstOctet = at(first).value_or(0);
    if ((firstOctet & 0x03) != 0 || !at(first))
        return {};
    auto digits = at(first + 1);
    if (!digits)
        return {};
    // First octet, address length, type of address, the address, PID, DCS, then the time stamp.
    const std::size_t stamp = first + 3 + (std::size_t{*digits} + 1) / 2 + 2;
    const std::size_t userDataLength = stamp + 7;
    if (!at(userDataLength))
        return {};
    PduSummary summary;
    summary.timestamp = fmt::format("20{:02}-{:02}-{:02} {:02}:{:02}:{:02}", SwappedDecimal(octets[stamp]),
                                    SwappedDecimal(octets[stamp + 1]), SwappedDecimal(octets[stamp + 2]),
                                    SwappedDecimal(octets[stamp + 3]), SwappedDecimal(octets[stamp + 4]),
                                    SwappedDecimal(octets[stamp + 5]));
    summary.kind = "text";
    const std::size_t header = userDataLength + 1;
    if ((firstOctet & 0x40) != 0 && at(header))
    {
        const std::size_t headerLength = *at(header);
        const std::size_t end = std::min(header + 1 + headerLength, octets.size());
        std::string part;
        if (headerLength >= 2)
            for (std::size_t element = header + 1; element + 1 < end;
                 element += std::size_t{octets[element + 1]} + 2)
            {
                const std::uint8_t identifier = octets[element];
                auto data = [&](std::size_t n) { return at(element + 1 + n).value_or(0); };
                if (identifier == 0)
                    part = fmt::format(" part {}/{}", data(3), data(2));
                else if (identifier == 8)
                    part = fmt::format(" part {}/{}", data(4), data(3));
                else if (identifier == 5)
                {
                    const std::uint32_t port = data(1) * 256u + data(2);
                    summary.kind = port == MmsPort ? "MMS notice" : fmt::format("port {}", port);
                }
                else if (identifier == 4)
                    summary.kind = fmt::format("port {}", data(1));
            }
        summary.kind += part;
    }
    return summary;
}

ExitCode Modem(Console& console, const Args&)
{
    auto write = [&](const std::string& line) { console.Write(Stream::Output, Core::FromUtf8(line + "\n")); };
    std::unique_ptr<Tel::WindowsModem> modem = Tel::WindowsModem::OpenFirst();
    if (!modem)
    {
        write("Modem  none (no mobile broadband modem on this PC): Android shows no SIM");
        return ExitCode::Unavailable;
    }
    modem->SetMessageHandler({});
    if (auto store = modem->ReadStore())
    {
        write(fmt::format("Messages in the modem  {}", store->size()));
        for (const Tel::StoredMessage& message : *store)
        {
            PduSummary summary = DescribeSmsPdu(message.pdu);
            write(fmt::format("  #{:<3} {:<7} {:<19}  {:>3} octets  {}", message.index,
                              StatusNames[std::min<std::size_t>(message.status, 3)],
                              summary.timestamp.empty() ? "-" : summary.timestamp, message.pdu.size() / 2,
                              summary.kind));
        }
    }
    else
        write("Messages in the modem  no answer from the message store");
    modem->DisconnectSinks();

    Tel::AtState state(*modem);
    for (std::string_view probe : Probes)
    {
        std::string answer;
        for (const std::string& line : Tel::AtEngine::HandleLine(state, probe).lines)
            answer += (answer.empty() ? "" : " | ") + ShownText(line);
        write(fmt::format("{:<40} {}", probe, answer));
    }
    modem->Close();
    return ExitCode::Ok;
}

} // namespace Pd::Cli
