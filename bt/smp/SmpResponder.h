// The responder side of LE legacy pairing with Android, Just Works with a temporary key of
// zero: answers the Pairing Request (after pairing the real device in Windows), exchanges and
// checks the confirm values, and after Android started encryption hands it a fresh long-term
// key. Runs on the link's worker only.
#pragma once

#include "bt/controller/LeLink.h"
#include "bt/crypto/SecurityFunctions.h"
#include "bt/smp/DevicePairing.h"

#include <array>
#include <functional>

namespace Pd::Bt
{

namespace Smp
{
inline constexpr std::uint8_t PairingRequest = 0x01;
inline constexpr std::uint8_t PairingResponse = 0x02;
inline constexpr std::uint8_t PairingConfirm = 0x03;
inline constexpr std::uint8_t PairingRandom = 0x04;
inline constexpr std::uint8_t PairingFailed = 0x05;
inline constexpr std::uint8_t EncryptionInformation = 0x06;
inline constexpr std::uint8_t CentralIdentification = 0x07;

inline constexpr std::uint8_t ConfirmValueFailed = 0x04;
inline constexpr std::uint8_t UnspecifiedReason = 0x08;
inline constexpr std::uint8_t InvalidParameters = 0x0A;
} // namespace Smp

// Sends one SMP PDU to Android (L2CAP CID 6).
using SmpSend = std::function<void(Bytes pdu)>;

class SmpResponder
{
public:
    // The device's pairing must outlive the responder.
    SmpResponder(const LinkAddresses& addresses, DevicePairing& windows, SmpSend send);

    // Handles one SMP PDU from Android. A PDU shorter than its code's fixed part is answered
    // with Pairing Failed. The error ("AES-128 unavailable", "BCryptGenRandom failed") means
    // nothing was answered.
    Result<> HandlePdu(ByteView pdu);

    // After Android started encryption: sends a fresh long-term key with its EDIV and Rand
    // when Android asked for them in a pairing whose confirm values matched.
    Result<> CompleteBonding();

private:
    enum class Phase
    {
        Idle,
        AwaitingConfirm, // Pairing Response sent
        AwaitingRandom,  // confirm values exchanged
        Confirmed,       // Android's random matched its confirm
    };

    void HandleRequest(ByteView pdu);
    void HandleConfirm(ByteView pdu);
    void HandleRandom(ByteView pdu);
    bool PairInWindows();
    void SendPairingFailed(std::uint8_t reason);
    Block Confirm(const Block& random) const;

    LinkAddresses addresses_;
    DevicePairing& windows_;
    SmpSend send_;

    Phase phase_ = Phase::Idle;
    bool keysRequested_ = false;
    std::array<std::uint8_t, 7> request_{};
    std::array<std::uint8_t, 7> response_{};
    Block initiatorConfirm_{};
    Block localRandom_{};
};

} // namespace Pd::Bt
