// HCI event packets as the controller sends them (without the H4 type byte).
#pragma once

#include "bt/hci/Bytes.h"

namespace Pd::Bt::Hci
{

namespace Event
{
inline constexpr std::uint8_t InquiryComplete = 0x01;
inline constexpr std::uint8_t DisconnectionComplete = 0x05;
inline constexpr std::uint8_t RemoteNameRequestComplete = 0x07;
inline constexpr std::uint8_t EncryptionChange = 0x08;
inline constexpr std::uint8_t ReadRemoteVersionComplete = 0x0C;
inline constexpr std::uint8_t CommandComplete = 0x0E;
inline constexpr std::uint8_t CommandStatus = 0x0F;
inline constexpr std::uint8_t NumberOfCompletedPackets = 0x13;
inline constexpr std::uint8_t LeMeta = 0x3E;
} // namespace Event

namespace LeSubevent
{
inline constexpr std::uint8_t ConnectionComplete = 0x01;
inline constexpr std::uint8_t AdvertisingReport = 0x02;
inline constexpr std::uint8_t ConnectionUpdateComplete = 0x03;
inline constexpr std::uint8_t ReadRemoteFeaturesComplete = 0x04;
} // namespace LeSubevent

// Status codes the controller answers with.
namespace Status
{
inline constexpr std::uint8_t Success = 0x00;
inline constexpr std::uint8_t UnknownCommand = 0x01;
inline constexpr std::uint8_t UnknownConnection = 0x02;
inline constexpr std::uint8_t HardwareFailure = 0x03;
inline constexpr std::uint8_t PageTimeout = 0x04;
inline constexpr std::uint8_t ConnectionTimeout = 0x08;
inline constexpr std::uint8_t CommandDisallowed = 0x0C;
inline constexpr std::uint8_t InvalidParameters = 0x12;
inline constexpr std::uint8_t TerminatedByLocalHost = 0x16;
inline constexpr std::uint8_t ConnectionFailed = 0x3E;
} // namespace Status

// Command Complete granting one further command; return parameters only with status 0x00.
Bytes CommandCompleteEvent(std::uint16_t opcode, std::uint8_t status, ByteView returnParameters);

// Command Status granting one further command.
Bytes CommandStatusEvent(std::uint16_t opcode, std::uint8_t status);

// Any event: code, parameter count, parameters. Parameters beyond 255 bytes cannot be sent
// and are cut; no event of this controller comes near that.
Bytes EventPacket(std::uint8_t code, ByteView parameters);

// LE Meta event: 0x3E, count, subevent code, parameters.
Bytes LeMetaEvent(std::uint8_t subevent, ByteView parameters);

// A connection handle as events carry it: low byte, then bits 8-11.
inline void AppendHandle(Bytes& out, std::uint16_t handle)
{
    AppendLe16(out, handle & 0x0FFF);
}

// The parameters of the events about one connection: status 0x00, the handle, the rest.
inline Bytes ConnectionEventParameters(std::uint16_t handle, ByteView rest)
{
    Bytes parameters{Status::Success};
    AppendHandle(parameters, handle);
    Append(parameters, rest);
    return parameters;
}

} // namespace Pd::Bt::Hci
