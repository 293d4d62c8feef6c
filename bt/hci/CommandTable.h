// The names of all HCI commands with their place in the supported-commands bitmap.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace Pd::Bt::Hci
{

struct CommandRow
{
    std::uint16_t opcode; // OGF in the top 6 bits, OCF in the low 10
    std::uint8_t octet;   // octet (0-63) of the supported-commands bitmap
    std::uint8_t bit;     // bit (0-7) in that octet
    std::string_view name;
};

// Every command of the core specification, in ascending opcode order.
std::span<const CommandRow> CommandTable();

// The first row with the opcode, or null.
const CommandRow* FindCommand(std::uint16_t opcode);

// The name printed for an unsupported command: the table's, else "VENDOR_SPECIFIC" for
// OGF 0x3F, else "?".
std::string_view CommandName(std::uint16_t opcode);

} // namespace Pd::Bt::Hci
