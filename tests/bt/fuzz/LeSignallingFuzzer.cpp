// ACL packets from Android through reassembly into the LE signalling channel: every command gets
// a well-formed Command Reject with its identifier; responses (rejects among them) and short PDUs
// get none.
#include "bt/hci/Acl.h"
#include "bt/l2cap/LeSignalling.h"
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
        if (!pdu || pdu->cid != LeSignallingCid)
            return;
        // Only the responses (Command Reject among them) are taken without an answer.
        const ByteView payload = pdu->payload;
        const bool ignored = payload.size() < 4 || payload[0] == 0x01 || payload[0] == 0x07 ||
                             payload[0] == 0x13 || payload[0] == 0x15 || payload[0] == 0x18 ||
                             payload[0] == 0x1A;
        auto answer = AnswerLeSignalling(payload);
        Check(answer.has_value() != ignored);
        Check(!answer || *answer == (Bytes{0x01, payload[1], 0x02, 0x00, 0x00, 0x00}));
    });
    return 0;
}
