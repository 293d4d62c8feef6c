// The commands the AT engine knows, each with the forms it has: the action form ("+CSQ"), the
// set form ("+CREG=2"), the read form ("+CREG?") and the test form ("+CREG=?").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel
{

// The answer to a command the engine does not know, or a form of one it does not serve.
inline constexpr std::string_view CmeUnknown = "+CME ERROR: 4";

// The name of every command in the engine's table ("+CNMA", "S0", "E"), in table order.
std::vector<std::string_view> KnownAtCommands();

} // namespace Pd::Tel
