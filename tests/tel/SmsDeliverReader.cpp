#include "tests/tel/SmsDeliverReader.h"

namespace Pd::Tel::Testing
{
namespace
{

int HexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::string Unpack(const Octets& value, std::uint8_t type, std::size_t semiOctets)
{
    std::string text;
    if (type == 0xD0) // GSM 7-bit septets
        for (std::size_t bit = 0; bit + 7 <= 4 * semiOctets; bit += 7)
        {
            unsigned septet = value[bit / 8] >> (bit % 8);
            if (bit % 8 > 1)
                septet |= value[bit / 8 + 1] << (8 - bit % 8);
            text.push_back(static_cast<char>(septet & 0x7F));
        }
    else
        for (std::size_t i = 0; i < semiOctets; ++i)
            text.push_back(static_cast<char>('0' + (i % 2 == 0 ? value[i / 2] & 0x0F : value[i / 2] >> 4)));
    return text;
}

} // namespace

std::optional<Octets> FromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    Octets octets;
    for (std::size_t i = 0; i < hex.size(); i += 2)
    {
        int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        octets.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return octets;
}

std::optional<SmsDeliver> ReadSmsDeliver(std::string_view hex)
{
    auto octets = FromHex(hex);
    std::size_t at = 0;
    auto take = [&](std::size_t count, Octets* out = nullptr) {
        if (!octets || octets->size() - at < count)
            return false;
        if (out)
            out->assign(octets->begin() + static_cast<std::ptrdiff_t>(at),
                        octets->begin() + static_cast<std::ptrdiff_t>(at + count));
        at += count;
        return true;
    };
    auto next = [&] { return at < octets->size() ? (*octets)[at] : -1; };

    // No service-centre address; first octet SMS-DELIVER with a user-data header.
    if (!take(0) || next() != 0x00 || !take(1) || (next() & 0x43) != 0x40 || !take(1))
        return std::nullopt;
    SmsDeliver pdu;
    int semiOctets = next();
    Octets address, protocolAndCoding, header;
    if (semiOctets < 0 || semiOctets > 20 || !take(1) || next() < 0 || !take(1))
        return std::nullopt;
    pdu.addressType = (*octets)[at - 1];
    if (!take((semiOctets + 1) / 2, &address) || !take(2, &protocolAndCoding) || !take(7, &pdu.timestamp))
        return std::nullopt;
    pdu.originator = Unpack(address, pdu.addressType, static_cast<std::size_t>(semiOctets));
    bool oddFilled = semiOctets % 2 == 0 || pdu.addressType == 0xD0 || address.back() >> 4 == 0x0F;
    int userDataLength = next();
    if (!oddFilled || protocolAndCoding != Octets{0x00, 0x04} || userDataLength > 140 || !take(1) ||
        octets->size() - at != static_cast<std::size_t>(userDataLength) || next() < 0 || !take(1))
        return std::nullopt;
    if (!take((*octets)[at - 1], &pdu.header) || !take(octets->size() - at, &pdu.data))
        return std::nullopt;
    return pdu;
}

} // namespace Pd::Tel::Testing
