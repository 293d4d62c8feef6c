#include "tests/tel/SmsDeliverReader.h"

namespace Pd::Tel::Testing
{
namespace
{

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Bounds-checked cursor over the PDU's octets.
class Cursor
{
public:
    explicit Cursor(const Octets& octets) : octets_(octets) {}

    bool Take(std::size_t count, Octets& out)
    {
        if (octets_.size() - at_ < count)
            return false;
        out.assign(octets_.begin() + static_cast<std::ptrdiff_t>(at_),
                   octets_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
        at_ += count;
        return true;
    }

    bool Take(std::uint8_t& out)
    {
        if (at_ >= octets_.size())
            return false;
        out = octets_[at_++];
        return true;
    }

    std::size_t Left() const { return octets_.size() - at_; }

private:
    const Octets& octets_;
    std::size_t at_ = 0;
};

ReadResult Fail(std::string error)
{
    return {std::nullopt, std::move(error)};
}

std::string Semioctets(const Octets& value, std::size_t digits)
{
    std::string text;
    for (std::size_t i = 0; i < digits; ++i)
    {
        int nibble = i % 2 == 0 ? value[i / 2] & 0x0F : value[i / 2] >> 4;
        text.push_back(static_cast<char>(nibble < 10 ? '0' + nibble : '?'));
    }
    return text;
}

// Reads the information elements of a user-data header; false when one runs past its end.
bool ReadHeader(const Octets& header, SmsDeliver& pdu)
{
    for (std::size_t at = 0; at < header.size();)
    {
        if (header.size() - at < 2 || header.size() - at - 2 < header[at + 1])
            return false;
        std::uint8_t tag = header[at];
        std::uint8_t length = header[at + 1];
        const std::uint8_t* value = header.data() + at + 2;
        if (tag == 0x05 && length == 4)
        {
            pdu.destinationPort = static_cast<std::uint16_t>(value[0] << 8 | value[1]);
            pdu.originPort = static_cast<std::uint16_t>(value[2] << 8 | value[3]);
        }
        else if (tag == 0x00 && length == 3)
            pdu.concatenation = Concatenation{value[0], value[1], value[2]};
        at += 2 + length;
    }
    return true;
}

} // namespace

std::optional<Octets> FromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    Octets octets;
    for (std::size_t i = 0; i < hex.size(); i += 2)
    {
        int high = HexValue(hex[i]);
        int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        octets.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return octets;
}

std::string UnpackSeptets(const Octets& packed, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
    {
        std::size_t bit = 7 * i;
        unsigned value = packed[bit / 8] >> (bit % 8);
        if (bit % 8 > 1 && bit / 8 + 1 < packed.size())
            value |= packed[bit / 8 + 1] << (8 - bit % 8);
        text.push_back(static_cast<char>(value & 0x7F));
    }
    return text;
}

ReadResult ReadSmsDeliver(std::string_view hex)
{
    auto octets = FromHex(hex);
    if (!octets)
        return Fail("not hex");
    Cursor cursor(*octets);
    SmsDeliver pdu;
    std::uint8_t serviceCentreLength = 0;
    Octets skipped;
    if (!cursor.Take(serviceCentreLength) || !cursor.Take(serviceCentreLength, skipped))
        return Fail("service-centre field cut");
    std::uint8_t addressLength = 0;
    if (!cursor.Take(pdu.firstOctet) || !cursor.Take(addressLength) || !cursor.Take(pdu.addressType))
        return Fail("header cut");
    if ((pdu.firstOctet & 0x03) != 0)
        return Fail("not an SMS-DELIVER");
    if (addressLength > 20)
        return Fail("address longer than 20 semi-octets");
    Octets address;
    if (!cursor.Take((addressLength + 1) / 2, address))
        return Fail("address cut");
    if (pdu.addressType == 0xD0)
        pdu.originator = UnpackSeptets(address, addressLength * 4 / 7);
    else
        pdu.originator = Semioctets(address, addressLength);
    if (addressLength % 2 != 0 && pdu.addressType != 0xD0 && (address.back() >> 4) != 0x0F)
        return Fail("odd number not filled with F");

    std::uint8_t udl = 0;
    if (!cursor.Take(pdu.protocolId) || !cursor.Take(pdu.dataCoding) || !cursor.Take(7, pdu.timestamp) ||
        !cursor.Take(udl))
        return Fail("fields cut");
    if (pdu.dataCoding != 0x04)
        return Fail("not 8-bit data");
    pdu.userDataLength = udl;
    if (cursor.Left() != udl)
        return Fail("TP-UDL " + std::to_string(udl) + " but " + std::to_string(cursor.Left()) +
                    " octets follow");
    if (udl > 140)
        return Fail("user data above 140 octets");
    if ((pdu.firstOctet & 0x40) != 0)
    {
        std::uint8_t headerLength = 0;
        Octets header;
        if (!cursor.Take(headerLength) || !cursor.Take(headerLength, header))
            return Fail("user-data header cut");
        if (!ReadHeader(header, pdu))
            return Fail("information element cut");
    }
    cursor.Take(cursor.Left(), pdu.data);
    return {pdu, ""};
}

} // namespace Pd::Tel::Testing
