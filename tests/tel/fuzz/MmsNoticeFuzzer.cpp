// An MMS notice from the network (originator, content type, time stamp, body) made into
// SMS-DELIVER parts: each part must read back as a valid PDU, and the parts must reassemble into
// exactly the WSP push they were cut from.
#include "tel/sms/MmsNoticePdu.h"

#include "tests/tel/SmsDeliverReader.h"

#include <cstdlib>

namespace
{

using namespace Pd::Tel;
using namespace Pd::Tel::Testing;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::string_view TakeText(const std::uint8_t*& data, std::size_t& size, std::size_t length)
{
    length = length < size ? length : size;
    std::string_view text(reinterpret_cast<const char*>(data), length);
    data += length;
    size -= length;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: originator length, content type length (0xFF: the MMS type), reference, six time
    // values, the originator, the content type, then the body.
    if (size < 9)
        return 0;
    std::size_t originatorLength = data[0], typeLength = data[1];
    std::uint8_t reference = data[2];
    SmsTime time{data[3] * 20, data[4], data[5], data[6], data[7], data[8]};
    data += 9;
    size -= 9;
    std::string_view originator = TakeText(data, size, originatorLength);
    std::string_view contentType = typeLength == 0xFF ? MmsContentType : TakeText(data, size, typeLength);
    std::span<const std::uint8_t> body(data, size);

    std::vector<std::uint8_t> push = BuildWspPush(contentType, body);
    std::vector<std::string> parts = BuildMmsNoticePdu(originator, time, contentType, body, reference);
    Check(parts.empty() == (push.size() > MaxParts * ConcatenatedPartData));

    std::vector<std::uint8_t> reassembled;
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        ReadResult read = ReadSmsDeliver(parts[i]);
        Check(read.pdu.has_value());
        Check(read.pdu->destinationPort == 2948 && read.pdu->originPort == 9200);
        Check(read.pdu->concatenation.has_value() == (parts.size() > 1));
        if (read.pdu->concatenation)
            Check(read.pdu->concatenation->reference == reference &&
                  read.pdu->concatenation->total == parts.size() &&
                  read.pdu->concatenation->sequence == i + 1);
        for (std::uint8_t octet : read.pdu->timestamp)
            Check((octet & 0x0F) <= 9 && (octet >> 4) <= 9);
        reassembled.insert(reassembled.end(), read.pdu->data.begin(), read.pdu->data.end());
    }
    Check(parts.empty() || reassembled == push);
    return 0;
}
