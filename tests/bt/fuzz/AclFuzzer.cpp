// A sequence of ACL packets through reassembly: every PDU that comes out must be consistent,
// and fragmenting it again must reassemble to the same PDU.
#include "bt/hci/Acl.h"

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
    // Input: packets, each one length byte followed by that many bytes (cut at the end).
    AclReassembly state;
    ByteView input(data, size);
    while (!input.empty())
    {
        std::size_t length = std::min<std::size_t>(input[0], input.size() - 1);
        ByteView packet = input.subspan(1, length);
        input = input.subspan(1 + length);

        auto pdu = ReassembleAcl(state, packet);
        Check(state.collected.size() <= 0xFFFF + 4 + 0xFFFF);
        if (!pdu)
            continue;
        Check(pdu->handle <= 0x0FFF);
        Check(state.collected.empty() && state.expected == 0);

        AclReassembly again;
        std::optional<L2capPdu> roundTrip;
        auto fragments = FragmentL2cap(pdu->handle, pdu->cid, pdu->payload);
        for (std::size_t i = 0; i < fragments.size(); ++i)
        {
            Check(!roundTrip);
            Check(fragments[i].size() <= 4 + LeAclDataLength);
            roundTrip = ReassembleAcl(again, fragments[i]);
        }
        Check(roundTrip && *roundTrip == *pdu);
    }
    return 0;
}
