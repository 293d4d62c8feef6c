// ACL packets from Android through reassembly into the LE signalling channel: whatever arrives,
// a signalling PDU gets at most one answer, a well-formed Command Reject with its identifier.
#include "bt/hci/Acl.h"
#include "bt/l2cap/LeSignalling.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: ACL packets, each one length byte followed by that many bytes (cut at the end).
    AclReassembly state;
    ByteView input(data, size);
    while (!input.empty())
    {
        std::size_t length = std::min<std::size_t>(input[0], input.size() - 1);
        ByteView packet = input.subspan(1, length);
        input = input.subspan(1 + length);

        auto pdu = ReassembleAcl(state, packet);
        if (!pdu || pdu->cid != LeSignallingCid)
            continue;
        auto answer = AnswerLeSignalling(pdu->payload);
        if (!answer)
            continue;
        Check(pdu->payload.size() >= 4);
        Check(*answer == (Bytes{0x01, pdu->payload[1], 0x02, 0x00, 0x00, 0x00}));
        Check(pdu->payload[0] != 0x01);
    }
    return 0;
}
