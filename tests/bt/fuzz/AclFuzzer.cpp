// A sequence of ACL packets through reassembly: every PDU that comes out must be consistent,
// and fragmenting it again must reassemble to the same PDU.
#include "bt/hci/Acl.h"
#include "tests/bt/fuzz/AclPackets.h"
#include "tests/support/FuzzCheck.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

using PdTest::Check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    AclReassembly state;
    PdTest::ForEachAclPacket(ByteView(data, size), [&](ByteView packet) {
        auto pdu = ReassembleAcl(state, packet);
        Check(state.collected.size() <= 0xFFFF + 4 + 0xFFFF);
        if (!pdu)
            return;
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
    });
    return 0;
}
