// Any SMP PDUs from Android, with bonding requests between them: each PDU gets at most one
// answer and every PDU sent is well-formed for its code.
#include "bt/smp/SmpResponder.h"
#include "tests/support/FuzzCheck.h"

#include "core/Log.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

using PdTest::Check;

struct ScriptedPairing : DevicePairing
{
    std::uint8_t script = 0;
    Result<bool> IsPaired() override { return (script & 1) != 0; }
    Result<bool> CanPair() override { return script & 2 ? Result<bool>(Fail("0x80004005")) : true; }
    Result<std::int32_t> Pair() override { return script >> 2; }
};

void CheckSent(const Bytes& pdu)
{
    Check(!pdu.empty());
    switch (pdu[0])
    {
    case Smp::PairingResponse:
        return Check(pdu.size() == 7);
    case Smp::PairingConfirm:
    case Smp::PairingRandom:
    case Smp::EncryptionInformation:
        return Check(pdu.size() == 17);
    case Smp::PairingFailed:
        return Check(pdu.size() == 2);
    case Smp::CentralIdentification:
        return Check(pdu.size() == 11);
    default:
        Check(false);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: PDUs, each one length byte and that many bytes; the length byte 0xFF asks for
    // the key distribution and the next byte scripts the Windows pairing.
    Pd::Core::SetLogSink([](std::string_view) {});
    ScriptedPairing windows;
    std::vector<Bytes> sent;
    SmpResponder smp(LinkAddresses{0xC0FFEE, true, 0xBEEF, false}, windows,
                     [&](Bytes pdu) { sent.push_back(std::move(pdu)); });
    ByteView input(data, size);
    while (!input.empty())
    {
        const bool bonding = input[0] == 0xFF;
        std::size_t length = std::min<std::size_t>(bonding ? 1 : input[0], input.size() - 1);
        ByteView pdu = input.subspan(1, length);
        input = input.subspan(1 + length);
        sent.clear();
        if (bonding)
        {
            windows.script = pdu.empty() ? 0 : pdu[0];
            Check(smp.CompleteBonding().has_value());
            Check(sent.empty() || sent.size() == 2);
        }
        else
        {
            Check(smp.HandlePdu(pdu).has_value());
            Check(sent.size() <= 1);
        }
        for (const Bytes& out : sent)
            CheckSent(out);
    }
    return 0;
}
