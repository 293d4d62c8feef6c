// Name resolution through one network interface's own DNS servers (DnsQueryEx, synchronous).
// mingw-w64 does not declare DnsQueryEx, so it is loaded from dnsapi.dll at run time; when it is
// missing the query fails with ERROR_PROC_NOT_FOUND.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Platform
{

// Record types this program asks for.
inline constexpr WORD DnsTypeA = 1;
inline constexpr WORD DnsTypeAaaa = 28;

// The addresses of every record of `type` (A: 4 bytes, AAAA: 16 bytes), in the order the answer
// lists them. Asks the DNS servers of the interface with `interfaceIndex`, no others.
Outcome<std::vector<std::vector<std::uint8_t>>> QueryInterfaceDns(const std::wstring& name, WORD type,
                                                                  std::uint32_t interfaceIndex);

} // namespace Pd::Platform
