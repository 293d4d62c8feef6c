// An MMS notice from the network (originator, content type, time stamp, body) made into
// SMS-DELIVER parts: each part must read back as a valid PDU, and the parts must reassemble into
// exactly the WSP push they were cut from.
#include "tel/sms/MmsNoticePdu.h"

#include "tests/support/FuzzCheck.h"
#include "tests/tel/SmsDeliverReader.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace Pd::Tel;
    using PdTest::Check;
    // Input: originator length, content type length (0xFF: the MMS type), reference, six time
    // values, the originator, the content type, then the body.
    if (size < 9)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view originator = input.substr(9, data[0]);
    std::string_view contentType =
        data[1] == 0xFF ? MmsContentType : input.substr(9 + originator.size(), data[1]);
    std::size_t bodyAt = 9 + originator.size() + (data[1] == 0xFF ? 0 : contentType.size());
    std::span<const std::uint8_t> body(data + bodyAt, size - bodyAt);
    SmsTime time{data[3] * 20, data[4], data[5], data[6], data[7], data[8]};

    std::vector<std::uint8_t> push = BuildWspPush(contentType, body);
    std::vector<std::string> parts = BuildMmsNoticePdu(originator, time, contentType, body, data[2]);
    Check(parts.empty() == (push.size() > MaxParts * ConcatenatedPartData));
    std::vector<std::uint8_t> reassembled;
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        auto pdu = Testing::ReadSmsDeliver(parts[i]);
        Check(pdu && pdu->header.size() == (parts.size() > 1 ? 11 : 6));
        Check(std::ranges::all_of(pdu->timestamp,
                                  [](std::uint8_t o) { return (o & 0x0F) <= 9 && o >> 4 <= 9; }));
        if (parts.size() > 1)
            Check(pdu->header[8] == data[2] && pdu->header[9] == parts.size() && pdu->header[10] == i + 1);
        reassembled.insert(reassembled.end(), pdu->data.begin(), pdu->data.end());
    }
    Check(parts.empty() || reassembled == push);
    return 0;
}
