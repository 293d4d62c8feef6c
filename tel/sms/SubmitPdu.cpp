#include "tel/sms/SubmitPdu.h"

#include "core/Hex.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Pd::Tel
{
namespace
{

constexpr std::uint8_t MessageTypeMask = 0x03;
constexpr std::uint8_t SmsSubmit = 0x01;
constexpr std::uint8_t UserDataHeaderIndicator = 0x40;
constexpr std::size_t MaxAddressDigits = 20;
constexpr std::size_t MaxUserDataOctets = 140;
// The service-centre address after its length octet: the type of address and at most 20 digits as
// semi-octets. A length of 0 asks for the default centre.
constexpr std::size_t MaxServiceCentreOctets = 11;

// Octets of TP-VP by TP-VPF (bits 3-4 of the first octet): none, enhanced, relative, absolute.
constexpr std::size_t ValidityLength[] = {0, 7, 1, 7};

// The octets of even-length hex text; none for anything else.
std::vector<std::uint8_t> Octets(std::string_view hex)
{
    std::vector<std::uint8_t> octets;
    if (hex.size() % 2 != 0)
        return {};
    for (std::size_t at = 0; at < hex.size(); at += 2)
    {
        const int high = Core::HexValue(hex[at]), low = Core::HexValue(hex[at + 1]);
        if (high < 0 || low < 0)
            return {};
        octets.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return octets;
}

// What TP-UDL counts by TP-DCS: septets of the GSM 7-bit alphabet, or octets (8-bit data, UCS2,
// compressed text). A reserved coding, which no sender may use, counts nothing.
enum class UserDataUnit
{
    Septets,
    Octets,
    Reserved,
};

UserDataUnit UnitOf(std::uint8_t dcs)
{
    const std::uint8_t group = dcs >> 4, alphabet = (dcs >> 2) & 0x03;
    const bool compressed = (dcs & 0x20) != 0;
    auto byAlphabet = [&] {
        return alphabet == 3   ? UserDataUnit::Reserved
               : alphabet == 0 ? UserDataUnit::Septets
                               : UserDataUnit::Octets;
    };
    if (group <= 0x07) // general data coding, also marked for automatic deletion
        return compressed && alphabet != 3 ? UserDataUnit::Octets : byAlphabet();
    if (group == 0x09) // with a user data header structure
        return byAlphabet();
    if (group == 0x0C || group == 0x0D) // message waiting, 7-bit
        return UserDataUnit::Septets;
    if (group == 0x0E) // message waiting, UCS2
        return UserDataUnit::Octets;
    if (group == 0x0F) // data coding and message class: bit 2 chooses 8-bit data
        return (dcs & 0x04) == 0 ? UserDataUnit::Septets : UserDataUnit::Octets;
    return UserDataUnit::Reserved;
}

// Whether the user data after TP-UDL holds exactly what TP-UDL and TP-DCS say, within 140
// octets, and a user data header (TP-UDHI) fits in it.
bool UserDataMatches(std::span<const std::uint8_t> userData, std::size_t udl, std::uint8_t dcs, bool header)
{
    const UserDataUnit unit = UnitOf(dcs);
    if (unit == UserDataUnit::Reserved)
        return false;
    const bool septets = unit == UserDataUnit::Septets;
    const std::size_t octets = septets ? (udl * 7 + 7) / 8 : udl;
    if (octets != userData.size() || octets > MaxUserDataOctets)
        return false;
    if (!header)
        return true;
    if (userData.empty())
        return false;
    // The header and its length octet, in septets with the fill bits for 7-bit text.
    const std::size_t headerOctets = std::size_t{1} + userData[0];
    const std::size_t headerLength = septets ? (headerOctets * 8 + 6) / 7 : headerOctets;
    return headerLength <= udl;
}

} // namespace

bool IsWellFormedSubmit(std::string_view hex, std::size_t tpduLength)
{
    const std::vector<std::uint8_t> octets = Octets(hex);
    const std::span<const std::uint8_t> pdu = octets;
    if (pdu.empty() || pdu[0] > MaxServiceCentreOctets || std::size_t{1} + pdu[0] > pdu.size())
        return false;
    std::span<const std::uint8_t> tpdu = pdu.subspan(std::size_t{1} + pdu[0]);
    // First octet, TP-MR and the length of TP-DA in digits.
    if (tpdu.size() != tpduLength || tpdu.size() < 3 || (tpdu[0] & MessageTypeMask) != SmsSubmit)
        return false;
    const std::size_t digits = tpdu[2];
    if (digits > MaxAddressDigits)
        return false;
    // The address type and the digits as semi-octets, TP-PID, TP-DCS, TP-VP and TP-UDL.
    const std::size_t validity = ValidityLength[(tpdu[0] >> 3) & 0x03];
    const std::size_t mandatory = 3 + 1 + (digits + 1) / 2 + 2 + validity + 1;
    if (mandatory > tpdu.size())
        return false;
    const std::uint8_t dcs = tpdu[mandatory - 2 - validity];
    return UserDataMatches(tpdu.subspan(mandatory), tpdu[mandatory - 1], dcs,
                           (tpdu[0] & UserDataHeaderIndicator) != 0);
}

} // namespace Pd::Tel
