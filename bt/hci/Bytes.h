// Byte vectors and views, and the bounds-checked little-endian reads every HCI parser uses.
// Everything here comes from the Android guest: a read past the end throws PacketTooShort rather
// than reading out of bounds. The controller's command handlers check the length before they read
// and answer a short command with "Invalid HCI Command Parameters".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace Pd::Bt
{

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The out-of-range error of every parser that meets fewer bytes than it needs.
class PacketTooShort : public std::out_of_range
{
public:
    PacketTooShort() : std::out_of_range("HCI packet too short") {}
};

// Throws PacketTooShort unless the view holds at least count bytes.
inline void Need(ByteView bytes, std::size_t count)
{
    if (bytes.size() < count)
        throw PacketTooShort();
}

inline std::uint16_t ReadLe16(ByteView bytes, std::size_t at)
{
    Need(bytes, at + 2);
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// A Bluetooth address: six bytes, least significant first.
inline std::uint64_t ReadAddress(ByteView bytes, std::size_t at)
{
    Need(bytes, at + 6);
    std::uint64_t address = 0;
    for (std::size_t i = 0; i < 6; ++i)
        address |= std::uint64_t{bytes[at + i]} << (8 * i);
    return address;
}

inline void AppendLe16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void AppendAddress(Bytes& out, std::uint64_t address)
{
    for (int i = 0; i < 6; ++i)
        out.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
}

inline void Append(Bytes& out, ByteView bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

} // namespace Pd::Bt
