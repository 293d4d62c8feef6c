#include "bt/smp/SmpResponder.h"

#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>

namespace Pd::Bt
{
namespace
{

constexpr std::size_t RequestLength = 7;
constexpr std::size_t ValueLength = 17; // code and a 16-byte value
constexpr std::int32_t Paired = 0;
constexpr std::int32_t AlreadyPaired = 3;

Bytes WithCode(std::uint8_t code, ByteView value)
{
    Bytes pdu(1 + value.size());
    pdu[0] = code;
    std::copy(value.begin(), value.end(), pdu.begin() + 1);
    return pdu;
}

Block ValueOf(ByteView pdu)
{
    Block value;
    std::copy(pdu.begin() + 1, pdu.begin() + ValueLength, value.begin());
    return value;
}

} // namespace

SmpResponder::SmpResponder(const LinkAddresses& addresses, DevicePairing& windows, SmpSend send)
    : addresses_(addresses), windows_(windows), send_(std::move(send))
{
}

Result<> SmpResponder::HandlePdu(ByteView pdu)
{
    if (pdu.empty())
        return {};
    try
    {
        switch (pdu[0])
        {
        case Smp::PairingRequest:
            HandleRequest(pdu);
            break;
        case Smp::PairingConfirm:
            HandleConfirm(pdu);
            break;
        case Smp::PairingRandom:
            HandleRandom(pdu);
            break;
        case Smp::PairingFailed:
            phase_ = Phase::Idle;
            keysRequested_ = false;
            break;
        default:
            break; // nothing else is taken from Android
        }
    }
    catch (const std::exception& error)
    {
        return Fail(error.what());
    }
    return {};
}

void SmpResponder::HandleRequest(ByteView pdu)
{
    if (pdu.size() < RequestLength)
        return SendPairingFailed(Smp::InvalidParameters);
    if (!PairInWindows())
        return SendPairingFailed(Smp::UnspecifiedReason);
    std::copy(pdu.begin(), pdu.begin() + RequestLength, request_.begin());
    // NoInputNoOutput, no OOB data, bonding as asked, 16-byte keys, only the encryption key.
    response_ = {Smp::PairingResponse,
                 0x03,
                 0x00,
                 static_cast<std::uint8_t>(request_[3] & 0x01),
                 0x10,
                 0x00,
                 static_cast<std::uint8_t>(request_[6] & 0x01)};
    keysRequested_ = (request_[6] & 0x01) != 0;
    phase_ = Phase::AwaitingConfirm;
    send_(Bytes(response_.begin(), response_.end()));
}

void SmpResponder::HandleConfirm(ByteView pdu)
{
    if (phase_ == Phase::Idle || pdu.size() < ValueLength)
        return SendPairingFailed(Smp::UnspecifiedReason);
    initiatorConfirm_ = ValueOf(pdu);
    RandomBytes(localRandom_);
    Block confirm = Confirm(localRandom_);
    phase_ = Phase::AwaitingRandom;
    send_(WithCode(Smp::PairingConfirm, confirm));
}

void SmpResponder::HandleRandom(ByteView pdu)
{
    // A random before the confirm exchange would be checked against a stale confirm value.
    if (phase_ != Phase::AwaitingRandom || pdu.size() < ValueLength)
        return SendPairingFailed(Smp::UnspecifiedReason);
    if (Confirm(ValueOf(pdu)) != initiatorConfirm_)
        return SendPairingFailed(Smp::ConfirmValueFailed);
    phase_ = Phase::Confirmed;
    send_(WithCode(Smp::PairingRandom, localRandom_));
}

Result<> SmpResponder::CompleteBonding()
{
    // Keys go only to a peer that proved its confirm value in this pairing.
    if (!keysRequested_ || phase_ != Phase::Confirmed)
        return {};
    phase_ = Phase::Idle;
    keysRequested_ = false;
    std::array<std::uint8_t, 16> key;
    std::array<std::uint8_t, 10> identification; // EDIV (2 bytes), Rand (8 bytes)
    try
    {
        RandomBytes(key);
        RandomBytes(identification);
    }
    catch (const std::exception& error)
    {
        return Fail(error.what());
    }
    send_(WithCode(Smp::EncryptionInformation, key));
    send_(WithCode(Smp::CentralIdentification, identification));
    Core::Log(fmt::format("smp {:012X}: bonded with Android", addresses_.peerAddress));
    return {};
}

bool SmpResponder::PairInWindows()
{
    const std::uint64_t peer = addresses_.peerAddress;
    auto failed = [&](const std::string& error) {
        Core::Log(fmt::format("smp {:012X}: Windows pairing failed: {}", peer, error));
        return false;
    };
    auto paired = windows_.IsPaired();
    if (!paired)
        return failed(paired.error());
    if (*paired)
        return true;
    auto canPair = windows_.CanPair();
    if (!canPair)
        return failed(canPair.error());
    if (!*canPair)
        return true;
    Core::Log(fmt::format("smp {:012X}: pairing in Windows", peer));
    auto result = windows_.Pair();
    if (!result)
        return failed(result.error());
    Core::Log(fmt::format("smp {:012X}: Windows pairing result {}", peer, *result));
    return *result == Paired || *result == AlreadyPaired;
}

void SmpResponder::SendPairingFailed(std::uint8_t reason)
{
    phase_ = Phase::Idle;
    keysRequested_ = false;
    send_(Bytes{Smp::PairingFailed, reason});
}

Block SmpResponder::Confirm(const Block& random) const
{
    return PairingConfirm(Block{}, random, request_, response_, addresses_.localIsRandom ? 1 : 0,
                          addresses_.localAddress, addresses_.peerIsRandom ? 1 : 0, addresses_.peerAddress);
}

} // namespace Pd::Bt
