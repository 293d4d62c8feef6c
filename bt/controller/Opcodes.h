// Opcodes the controller answers by name.
#pragma once

#include <cstdint>

namespace Pd::Bt::Op
{

inline constexpr std::uint16_t Inquiry = 0x0401;
inline constexpr std::uint16_t InquiryCancel = 0x0402;
inline constexpr std::uint16_t Disconnect = 0x0406;
inline constexpr std::uint16_t RemoteNameRequest = 0x0419;
inline constexpr std::uint16_t RemoteNameRequestCancel = 0x041A;
inline constexpr std::uint16_t ReadRemoteVersionInformation = 0x041D;
inline constexpr std::uint16_t Reset = 0x0C03;
inline constexpr std::uint16_t ReadLocalSupportedCommands = 0x1002;
inline constexpr std::uint16_t LeCreateConnection = 0x200D;
inline constexpr std::uint16_t LeCreateConnectionCancel = 0x200E;
inline constexpr std::uint16_t LeConnectionUpdate = 0x2013;
inline constexpr std::uint16_t LeReadRemoteFeatures = 0x2016;
inline constexpr std::uint16_t LeEncrypt = 0x2017;
inline constexpr std::uint16_t LeRand = 0x2018;
inline constexpr std::uint16_t LeStartEncryption = 0x2019;

} // namespace Pd::Bt::Op
