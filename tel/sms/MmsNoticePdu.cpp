#include "tel/sms/MmsNoticePdu.h"

#include "core/Hex.h"

#include <algorithm>

namespace Pd::Tel
{
namespace
{

constexpr std::uint8_t WspPush = 0x06;
constexpr std::uint8_t MmsContentTypeCode = 0xBE; // well-known short form of the MMS type
constexpr std::uint8_t XWapApplicationId = 0xAF;  // header code, short form
constexpr std::uint8_t MmsUserAgent = 0x84;       // application id of the MMS user agent

constexpr std::uint8_t FirstOctet = 0x44; // SMS-DELIVER, no more messages waiting, header present
constexpr std::uint8_t DataCoding8Bit = 0x04;

// Application port addressing, 16-bit ports: to 2948 (WAP push) from 9200 (WAP connectionless).
constexpr std::uint8_t PortHeader[] = {0x05, 0x04, 0x0B, 0x84, 0x23, 0xF0};
constexpr std::uint8_t ConcatenationTag = 0x00; // concatenated message, 8-bit reference
constexpr std::uint8_t ConcatenationLength = 3;

// WSP's variable-length unsigned integer: 7 bits an octet, most significant first, the top bit
// set on every octet but the last.
void AppendUintvar(std::vector<std::uint8_t>& out, std::size_t value)
{
    std::uint8_t groups[10];
    int count = 0;
    do
    {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count-- > 0)
        out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
}

std::vector<std::uint8_t> ContentTypeHeaders(std::string_view contentType)
{
    if (contentType == MmsContentType)
        return {MmsContentTypeCode, XWapApplicationId, MmsUserAgent};
    // A media type as text ends at its zero octet: anything after a zero in the given text would
    // be read by Android as further headers, so the text stops there.
    contentType = contentType.substr(0, contentType.find('\0'));
    std::vector<std::uint8_t> headers(contentType.begin(), contentType.end());
    headers.push_back(0x00);
    return headers;
}

std::size_t PartCount(std::size_t length)
{
    return length <= SinglePartData ? 1 : (length + ConcatenatedPartData - 1) / ConcatenatedPartData;
}

} // namespace

std::vector<std::uint8_t> BuildWspPush(std::string_view contentType, std::span<const std::uint8_t> body)
{
    std::vector<std::uint8_t> headers = ContentTypeHeaders(contentType);
    std::vector<std::uint8_t> pdu = {0x00, WspPush};
    // The headers length is a uintvar: one octet below 128, more for a long content type.
    AppendUintvar(pdu, headers.size());
    pdu.reserve(pdu.size() + headers.size() + body.size());
    pdu.insert(pdu.end(), headers.begin(), headers.end());
    pdu.insert(pdu.end(), body.begin(), body.end());
    return pdu;
}

std::vector<std::string> BuildMmsNoticePdu(std::string_view originator, const SmsTime& timestamp,
                                           std::string_view contentType, std::span<const std::uint8_t> body,
                                           std::uint8_t reference)
{
    // Refuse an oversized body before building anything from it.
    if (body.size() > MaxParts * ConcatenatedPartData)
        return {};
    std::vector<std::uint8_t> push = BuildWspPush(contentType, body);
    std::size_t parts = PartCount(push.size());
    if (parts > MaxParts)
        return {};
    std::size_t size = parts == 1 ? SinglePartData : ConcatenatedPartData;

    std::string header = "00"; // no service-centre address
    Core::AppendHexByte(header, FirstOctet);
    header += EncodeOriginator(originator);
    Core::AppendHexByte(header, 0x00); // protocol identifier
    Core::AppendHexByte(header, DataCoding8Bit);
    header += EncodeTimestamp(timestamp);

    std::vector<std::string> texts;
    texts.reserve(parts);
    for (std::size_t i = 0; i < parts; ++i)
    {
        std::span<const std::uint8_t> slice =
            std::span(push).subspan(i * size, std::min(size, push.size() - i * size));
        std::vector<std::uint8_t> udh(std::begin(PortHeader), std::end(PortHeader));
        if (parts > 1)
            udh.insert(udh.end(), {ConcatenationTag, ConcatenationLength, reference,
                                   static_cast<std::uint8_t>(parts), static_cast<std::uint8_t>(i + 1)});

        std::string text = header;
        Core::AppendHexByte(text,
                            static_cast<std::uint8_t>(1 + udh.size() + slice.size())); // TP-UDL in octets
        Core::AppendHexByte(text, static_cast<std::uint8_t>(udh.size()));
        Core::AppendHexBytes(text, udh);
        Core::AppendHexBytes(text, slice);
        texts.push_back(std::move(text));
    }
    return texts;
}

} // namespace Pd::Tel
